// A folder of its own for a fuzz target that goes through files: in
// /dev/shm when there is one (the many small writes stay in memory), else
// below the current folder. Removed when the process ends normally.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/random.h"

inline std::string& fuzz_folder_path() {
    static std::string path;
    return path;
}

inline const std::string& fuzz_folder(const char* name) {
    std::string& path = fuzz_folder_path();
    if (!path.empty()) return path;
    uint64_t id = 0;
    os_random(&id, sizeof id);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(id));
    std::string root = fs_is_dir("/dev/shm") ? "/dev/shm" : ".";
    path = path_join({root, std::string("qm-") + name + "-" + suffix});
    if (!fs_make_dirs(path)) {
        std::fprintf(stderr, "cannot make the work folder %s\n", path.c_str());
        std::abort();
    }
    std::atexit([] { fs_remove_tree(fuzz_folder_path()); });
    return path;
}
