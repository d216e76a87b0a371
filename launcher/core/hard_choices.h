// Hard Mode's eight options, each a choice among the mod's edit files for
// the game's data tables, and the text form of the settings' "hard" value.
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

// The "hard" value of settings.txt: the 8 choices in decimal joined by ",".
std::string hard_text(const Settings& s);
// Sets every choice to "Off", then takes the first 8 pieces of the
// comma-separated text; a piece that is a whole number below its option's
// choice count sets that option, anything else leaves it "Off".
void hard_parse(Settings& s, std::string_view text);
