// Hard Mode: eight options, each a choice among the mod's edit files for the
// game's data tables, and the presets that set all eight at once.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Settings;

struct Hard_Option {
    std::string_view label;
    std::vector<std::string_view> choices;   // 2 or 3 labels, the first always "Off"
    std::vector<std::string_view> files;     // one per choice; "" for "Off"
    std::string_view description;            // the option's tooltip
};
inline constexpr int hard_option_count = 8;
extern const Hard_Option hard_options[hard_option_count];

struct Hard_Preset {
    std::string_view name;
    std::array<uint8_t, hard_option_count> choices;
};
inline constexpr int hard_preset_count = 5;
extern const Hard_Preset hard_presets[hard_preset_count];

// The "hard" value of settings.txt: the 8 choices in decimal joined by ",".
std::string hard_text(const Settings& s);
// Sets every choice to "Off", then takes the first 8 pieces of the
// comma-separated text; a piece that is a whole number below its option's
// choice count sets that option, anything else leaves it "Off".
void hard_parse(Settings& s, std::string_view text);
// Sets all 8 choices from a preset (0 .. hard_preset_count-1).
void hard_apply_preset(Settings& s, int preset);
// True when the Hard Mode option files have been imported into the data
// folder's "mod_src/hardmode" (an import puts the folder in place only
// after checking all 11 there).
bool hard_imported();
// The first option file (table order) that the folder lacks as a file; ""
// when it holds all 11.
std::string_view hard_first_missing(std::string_view folder);
