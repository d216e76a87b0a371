// HD Models+: the main characters, the model variants the mod offers for
// each, and the player's choice per character as the settings keep it.
#pragma once
#include <cstdint>
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
// True when the mod's tool "SupportFiles/EF SAGA HD Models.exe" has been
// imported into the data folder's "mod_src/hdmodels" (as a file).
bool hdm_imported();

// The 12 original model files of the main characters and their exact
// sizes: a file of another size is not the game's own.
struct Model_Size {
    std::string_view path;
    uint64_t size;
};
inline constexpr int original_model_count = 12;
extern const Model_Size Original_Model_Sizes[original_model_count];

// The row's choice text: empty for "Original"; else the variant's label,
// followed by ", weapon hidden" or ", weapon shown" (hd_models_hide) when
// one of its answers files in the mod's "Data" holds "::A". The files'
// answer is kept per file and read again only when a file changes.
std::string hdm_asks(const Settings& s, int row);
// The choice text the row's models were last applied under (its marker in
// "hdmodels/out", trimmed), or empty when there is none or the outputs of
// a variant the text names are missing.
std::string hdm_applied(int row);
// <data>/hdmodels/out/chr/pc/<id>/bin/<id>.win32<ext>
std::string hdm_out_path(std::string_view id, std::string_view ext);
// The answers text handed to the tool: CRLF lines without the "::A",
// "::I" and "::E" markers, and without the lines between "::I" and "::E"
// (the weapon-hiding answers) unless `hide_weapon`.
std::string hdm_answer_txt(std::string_view text, bool hide_weapon);
