#include "launcher/gamebuild/fsr4.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/downloads.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"

const Fsr4_File fsr4_files[3] = {
    {"docs/license.md", "license.md", "32357259b965d6a8001e9e508ba60eda6034027c5923a7d226ffbaff813c2bfb", 65770},
    {"signedbin/amd_fidelityfx_loader_vk.dll", "amd_fidelityfx_loader_vk.dll",
     "38a56a01fb3565c0757d9f5c1e4e69de4b65e5f2e5769b323b200dc1f142bab9", 39184},
    {"signedbin/amd_fidelityfx_upscaler_vk.dll", "amd_fidelityfx_upscaler_vk.dll",
     "4a7e895af6e0b615d40a84d59eb8c2b1054ad91cdd0c739567940270d51bdab7", 36135696},
};

static std::vector<Fsr4_File> g_test_table;

std::span<const Fsr4_File> fsr4_table() {
    if (!g_test_table.empty()) return g_test_table;
    return fsr4_files;
}

void fsr4_set_table_for_tests(std::vector<Fsr4_File> table) { g_test_table = std::move(table); }

std::string fsr4_dir() { return data_path({"fsr4", fsr4_version}); }

bool fsr4_check(std::string_view path, const Fsr4_File& row) { return file_matches(path, row.size, row.sha256); }

bool fsr4_present() {
    std::string dir = fsr4_dir();
    for (const Fsr4_File& row : fsr4_table()) {
        File_Info info;
        if (!fs_stat(path_join({dir, row.name}), info) || !info.exists || info.is_dir) return false;
        if (int64_t(info.size) != row.size) return false;
    }
    return true;
}

bool fsr4_fetch(Task& task) {
    std::string dir = fsr4_dir();
    std::string curl;
    for (const Fsr4_File& row : fsr4_table()) {
        std::string local = path_join({dir, row.name});
        if (fsr4_check(local, row)) continue;
        if (curl.empty()) {
            curl = find_curl();
            if (curl.empty()) {
                log_line(task, "FSR 4: no curl on this computer to download AMD's files with.");
                return false;
            }
            set_status(task, 0.02f, "Downloading AMD FSR 4");
            logf(task, "FSR 4: downloading AMD's FidelityFX SDK %s Vulkan DLLs (about 36 MB, once) from %s/%s -- AMD's license: %s",
                 fsr4_version, upscaler_site(), fsr4_repository, path_join({dir, "license.md"}));
        }
        std::string url = upscaler_site() + "/" + std::string(fsr4_root) + std::string(row.remote);
        if (!download_reported(task, download_checked(task, curl, url, local, row.size, row.sha256), "FSR 4", row.remote, local))
            return false;
    }
    return true;
}

void fsr4_task(Task& task) {
    if (!fsr4_fetch(task)) {
        log_line(task, "FSR 4: AMD's files could not be fetched: FSR 3.1 instead -- pick FSR 4 again to retry.");
        task.failed.store(1);
        return;
    }
    // The game finds the new DLLs through its configuration.
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    logf(task, "FSR 4: AMD FidelityFX SDK %s DLLs in %s (AMD's license: license.md there)", fsr4_version, fsr4_dir());
    set_status(task, 1.0f, "FSR 4 ready");
}

std::string fsr_vk_lib(std::string_view arch) { return fmt("tools/libamd_fidelityfx_vk_%s.so", arch); }
