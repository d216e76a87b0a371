// HD Models+: the main characters, the model variants the mod offers for
// each, and the text form of the settings' "hd_models" value.
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct Settings;

struct Hdm_Variant {
    std::string_view label;                 // shown in the drop-down and in messages
    std::vector<std::string_view> files;    // answers files in the mod's "Data", run in order
    std::vector<std::string_view> models;   // the model ids those runs produce
};

struct Hdm_Character {
    std::string_view name;
    std::vector<Hdm_Variant> variants;      // entry 0 is always "Original"
};
inline constexpr int hdm_character_count = 6;
extern const Hdm_Character hdm_characters[hdm_character_count];

// The saved variant of a row (0..5) when it is below the row's variant
// count, else 0 ("Original").
int hdm_choice(const Settings& s, int row);
// The "hd_models" value of settings.txt: the six hdm_choice values joined by ",".
std::string hdm_text(const Settings& s);
// Sets all six choices to 0, then takes the first six comma-separated
// pieces: a whole number below the row's variant count is stored.
void hdm_parse(Settings& s, std::string_view text);
