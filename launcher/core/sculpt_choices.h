// Body Sculpting: the three sculptable characters with their sliders, and
// the text form of the settings' "sculpt" value.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Settings;

struct Sculpt_Slider {
    std::string_view label;                  // shown on the page
    std::string_view key;                    // the batch file's question it answers
    std::array<std::string_view, 9> choices; // labels of the values 1..9; 5 keeps the model as it is
};

struct Sculpt_Character {
    std::string_view name;
    std::string_view model;                  // main model id
    std::string_view second_model;
    std::string_view batch_file;             // in the data folder's "mod_src/sculpt"
    std::string_view sculpt_text;            // model text the batch file writes
    std::vector<Sculpt_Slider> sliders;      // at most 8
    std::vector<std::string_view> ultimate_lists;   // lower case
    std::string_view model_list;             // HD Models+'s list run after the sculpt text
};
inline constexpr int sculpt_character_count = 3;
inline constexpr int sculpt_slider_max = 8;
extern const Sculpt_Character sculpt_characters[sculpt_character_count];

// One digit per slider of the row (0..2): the stored value when it is 1..9,
// else 5.
std::string sculpt_text_of(const Settings& s, int row);
// The "sculpt" value of settings.txt: the three rows' texts joined by ",".
std::string sculpt_text(const Settings& s);
// Sets all 24 values to 0, then reads the first three comma-separated
// pieces: of each, the first 8 characters; "1".."9" set that slider.
void sculpt_parse(Settings& s, std::string_view text);
