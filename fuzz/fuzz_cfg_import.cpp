// "Quillmarsh.cfg" as the game writes it back, from any bytes: after the
// import settings.txt still passes Clear Cache's exact-settings test, and
// importing the same file again changes neither settings.txt nor the
// rewritten cfg.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/kt_system/env.h"
#include "fuzz/fuzz_folder.h"
#include "launcher/core/clear_cache.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/config.h"

namespace {

std::string read_or_empty(const std::string& path) {
    std::string text;
    fs_read(path, text);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& dir = fuzz_folder("cfg_import");
    env_set("LOCALAPPDATA", dir);
    paths_init();
    paths_set_exe_dir(path_join({dir, "launcher"}));
    fs_make_dirs(exe_dir());
    load_settings();   // keeps the defaults aside
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string settings_path = data_path({"settings.txt"});
    const std::string cfg_path = path_join({exe_dir(), cfg_file_name});
    settings_replace(settings_defaults());
    if (!fs_write(settings_path, settings_text(settings_defaults()))) std::abort();

    if (!fs_write(cfg_path, text)) std::abort();
    cfg_import();
    if (!settings_file_exact()) std::abort();
    const std::string settings_once = read_or_empty(settings_path);
    const std::string cfg_once = read_or_empty(cfg_path);
    if (settings_once != settings_text(settings_copy())) std::abort();

    if (!fs_write(cfg_path, text)) std::abort();
    cfg_import();
    if (read_or_empty(settings_path) != settings_once || read_or_empty(cfg_path) != cfg_once) std::abort();
    return 0;
}
