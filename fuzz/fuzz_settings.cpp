// settings.txt from any bytes: the text the launcher writes for what it
// read reads back to the same text, and that text passes Clear Cache's
// exact-settings test (else Clear Cache would delete the player's settings).
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    env_set("LOCALAPPDATA", fuzz_folder("settings"));
    paths_init();
    load_settings();   // keeps the defaults aside
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Settings first = settings_defaults();
    settings_apply_text(first, text);
    const std::string written = settings_text(first);
    Settings second = settings_defaults();
    settings_apply_text(second, written);
    if (settings_text(second) != written) std::abort();
    if (!fs_write(data_path({"settings.txt"}), written) || !settings_file_exact()) std::abort();
    return 0;
}
