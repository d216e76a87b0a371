#include "launcher/mods/hard_mode.h"

#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"

const Hard_Preset hard_presets[hard_preset_count] = {
    {"Custom", {0, 0, 0, 0, 0, 0, 0, 0}},
    {"Harder Normal", {1, 1, 1, 0, 0, 0, 0, 0}},
    {"Easy Hard", {1, 1, 1, 1, 0, 0, 0, 0}},
    {"Hard", {2, 1, 2, 1, 0, 1, 0, 0}},
    {"Everything", {2, 1, 2, 2, 1, 1, 1, 1}},
};

void hard_apply_preset(Settings& s, int preset) {
    if (preset < 0 || preset >= hard_preset_count) return;
    s.hard = hard_presets[preset].choices;
}

bool hard_imported() {
    return file_exists(data_path({"mod_src", "hardmode", "EFSAGA_Hard_CTG+30.txt"}));
}

std::string_view hard_first_missing(std::string_view folder) {
    for (const Hard_Option& o : hard_options) {
        for (std::string_view file : o.files) {
            if (!file.empty() && !file_exists(path_join({folder, file}))) return file;
        }
    }
    return {};
}
