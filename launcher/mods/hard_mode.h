// Hard Mode: the presets that set all eight options at once and the
// imported option files (the options and their settings.txt text are in
// launcher/core/hard_choices.h).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/hard_choices.h"

struct Settings;

struct Hard_Preset {
    std::string_view name;
    std::array<uint8_t, hard_option_count> choices;
};
inline constexpr int hard_preset_count = 5;
extern const Hard_Preset hard_presets[hard_preset_count];

// Sets all 8 choices from a preset (0 .. hard_preset_count-1).
void hard_apply_preset(Settings& s, int preset);
// True when the Hard Mode option files have been imported into the data
// folder's "mod_src/hardmode" (an import puts the folder in place only
// after checking all 11 there).
bool hard_imported();
// The first option file (table order) that the folder lacks as a file; ""
// when it holds all 11.
std::string_view hard_first_missing(std::string_view folder);
