#include "launcher/core/paths.h"

#include <mutex>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

static std::string g_data_dir;
static std::mutex g_exe_dir_lock;
static std::string g_exe_dir_override;

void paths_init() {
    const std::string base = env_local_app_data();
    g_data_dir = path_join({base.empty() ? std::string_view(".") : std::string_view(base), "efsg-launcher"});
    fs_make_dirs(g_data_dir);
}

const std::string& data_dir() { return g_data_dir; }

std::string data_path(std::initializer_list<std::string_view> parts) {
    std::string joined = g_data_dir;
    for (std::string_view p : parts) {
        if (p.empty()) continue;
        if (!joined.empty()) joined.push_back(path_separator);
        joined.append(p);
    }
    return path_clean(joined);
}

std::string exe_dir() {
    {
        std::lock_guard<std::mutex> guard(g_exe_dir_lock);
        if (!g_exe_dir_override.empty()) return g_exe_dir_override;
    }
    std::string exe = exe_path();
    std::string dir = path_dir(exe);
    if (exe.empty() || dir.empty()) return data_path({"game"});
    return dir;
}

bool file_exists(std::string_view path) {
    File_Info info;
    if (!fs_stat(path, info) || !info.exists) return false;
    if (info.is_link) return !fs_is_dir(path);
    return !info.is_dir;
}

void paths_set_exe_dir(std::string_view dir) {
    std::lock_guard<std::mutex> guard(g_exe_dir_lock);
    g_exe_dir_override = std::string(dir);
}
