#include "launcher/gamebuild/dlss.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/downloads.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"

const Dlss_File dlss_files[8] = {
    {"LICENSE.txt", "d4216e39ebef5f9b50a6712ebb37beeb5379862a67733a9999c651f21592aaf0", 26620},
    {"include/nvsdk_ngx_vk.h", "2d364ce7132881eb669e9498fd570d74cba563b1fbebc82c235f8e1ad2dd8b6d", 38382},
    {"include/nvsdk_ngx_defs.h", "ea23f33497cd274860d1c25a97644fce807dcb0037c594547203343103fad03e", 44313},
    {"include/nvsdk_ngx_defs_vk.h", "0a24d0861ace7d6b9362a67b7f08bea1b33ea123c5ce730b19133de8a891d031", 3196},
    {"include/nvsdk_ngx_params.h", "943bc8cc5cdae03b6303016fbad3183636f2335ae27a2d18776798c3b4efabbc", 7744},
    {"include/nvsdk_ngx_helpers_vk.h", "c192bff72138f12f770db48e12c1d8f712dfc81ea0e8e055ebb27d8dd1b31623", 19720},
    {"lib/Windows_x86_64/x64/nvsdk_ngx_s.lib", "7b9a5239c1145af5f645ab472aa066f9ea79db36ac819562312aae69d65f3765",
     3782490},
    {"lib/Windows_x86_64/rel/nvngx_dlss.dll", "d00b5b0ab29c3ca101b70c3a5ecb3a01b7ef33766a3383a28a18623083e6123e",
     58956912},
};

static std::vector<Dlss_File> g_test_table;

std::span<const Dlss_File> dlss_table() {
    if (!g_test_table.empty()) return g_test_table;
    return dlss_files;
}

void dlss_set_table_for_tests(std::vector<Dlss_File> table) { g_test_table = std::move(table); }

std::string dlss_dir() { return data_path({"dlss", dlss_version}); }

bool dlss_check(std::string_view path, const Dlss_File& row) { return file_matches(path, row.size, row.sha256); }

std::vector<std::string> dlss_compile_flags() { return {"-DZQR_DLSS", "-I", path_join({dlss_dir(), "include"})}; }

std::vector<std::string> dlss_link_flags() {
    std::vector<std::string> flags = {path_join({dlss_dir(), "lib/Windows_x86_64/x64/nvsdk_ngx_s.lib"}), "-fuse-ld=lld"};
    for (const char* lib : {"libcpmt", "OLDNAMES", "LIBCMT", "msvcprt", "MSVCRT"})
        flags.push_back(fmt("-Wl,-Xlink=-nodefaultlib:%s", lib));
    return flags;
}

void dlss_feature(Task& task, std::string_view game_folder) {
    std::string bytes;
    if (!fs_read(path_join({dlss_dir(), dlss_runtime}), bytes)) {
        logf(task, "DLSS: cannot read %s.", dlss_runtime);
        return;
    }
    std::string dest = path_join({game_folder, "nvngx_dlss.dll"});
    File_Info info;
    if (fs_stat(dest, info) && info.exists && !fs_is_dir(dest)) {
        std::string old;
        // Compared by length only: the runtime is large and rarely changes.
        if (fs_read(dest, old) && old.size() == bytes.size()) return;
    }
    if (!fs_write(dest, bytes)) logf(task, "DLSS: cannot write %s.", dest);
}

static bool dlss_download_missing(Task& task) {
    std::string dir = dlss_dir();
    std::string curl;
    bool looked = false;
    for (const Dlss_File& row : dlss_table()) {
        std::string local = path_join({dir, row.path});
        if (dlss_check(local, row)) continue;
        if (!looked) {
            looked = true;
            curl = find_curl();
            if (curl.empty()) {
                logf(task, "DLSS: no curl on this computer to download NVIDIA's files with%s.", "");
                return false;
            }
            set_status(task, 0.02f, "Downloading NVIDIA DLSS");
            logf(task, "DLSS: downloading NVIDIA's DLSS %s files (about %d MB, once) from %s/%s -- NVIDIA's license: %s",
                 dlss_version, 63, upscaler_site(), dlss_repository, path_join({dir, "LICENSE.txt"}));
        }
        std::string url = upscaler_site() + "/" + std::string(dlss_root) + std::string(row.path);
        if (!download_reported(task, download_checked(task, curl, url, local, row.size, row.sha256), "DLSS", row.path, local))
            return false;
    }
    return true;
}

bool dlss_fetch(Task& task, bool cross, bool have_lld) {
    if (cross) return false;
    if (!have_lld) {
        logf(task, "DLSS: not in this build: %s (TAA instead).",
             "it needs LLVM's linker (lld) beside Clang, and there is none");
        return false;
    }
    if (!dlss_download_missing(task)) {
        log_line(task, "DLSS: not in this build (TAA instead): NVIDIA's files could not be fetched -- Build again to retry.");
        return false;
    }
    logf(task, "DLSS: NVIDIA DLSS %s in this build (NVIDIA's license: %s)", dlss_version,
         path_join({dlss_dir(), "LICENSE.txt"}));
    return true;
}
