// Small file helpers of the mod tests.
#pragma once
#include <string>

#include "engine/kt_system/fs.h"

// The whole file, "" when it cannot be read.
inline std::string read(const std::string& path) {
    std::string text;
    fs_read(path, text);
    return text;
}

// Something (a file, folder or link) is at the path.
inline bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info);
}
