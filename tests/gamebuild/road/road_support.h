// Helpers of the build road tests: the programs built beside them, files
// with chosen times, and the lines of a task's log.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/task.h"

// A program built beside the test executable (its file name given).
inline std::string beside_test(std::string_view file_name) { return path_join({path_dir(exe_path()), file_name}); }

// Writes `text` to `path` (making its folder) and, when `mtime_s` is not 0,
// sets its modification time to that many seconds after 2020-01-01.
inline bool put(const std::string& path, std::string_view text, int64_t mtime_s = 0) {
    fs_make_dirs(path_dir(path));
    if (!fs_write(path, text)) return false;
    return mtime_s == 0 || fs_set_mtime(path, (1577836800LL + mtime_s) * 1000000000LL);
}

inline std::vector<std::string> log_of(Task& t) { return task_view(t).log; }

inline bool has_line(const std::vector<std::string>& log, std::string_view line) {
    for (const std::string& l : log)
        if (l == line) return true;
    return false;
}

inline size_t count_prefix(const std::vector<std::string>& log, std::string_view prefix) {
    size_t n = 0;
    for (const std::string& l : log)
        if (l.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}
