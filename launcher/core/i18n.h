// The launcher's interface languages: the table of the 12 languages, the
// one catalogue of the run built from the carried translation texts, the
// language in use, and "language.txt" in the data folder.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/kt_i18n/i18n.h"

struct Language {
    std::string_view code;            // as written in "language.txt"
    std::string_view name;            // the language's own name, for the language choice
    std::array<uint8_t, 4> cjk_order; // order of the CJK fallback faces: 0 JP, 1 TC, 2 SC, 3 KR
};

inline constexpr int language_count = 12;
extern const Language language_table[language_count];

// Index into language_table of the language in use (0, English, at start).
extern int language;

// One translation text carried inside the program.
struct Carried_Text {
    std::string_view code;
    std::string_view text;
};
inline constexpr int carried_text_count = 11;
// In loading order: ja, zh-Hant, zh-Hans, ko, ru, de, fr, es, pt-BR, it, pl.
extern const Carried_Text carried_texts[carried_text_count];

// The catalogue of the run.
Catalog& the_catalog();

// The index of `code` in language_table, -1 when it is not one of the 12.
int language_index(std::string_view code);

// The most read of "language.txt", which holds one language code.
inline constexpr uint64_t language_file_limit = 4096;

// Builds the catalogue from the carried texts and applies "language.txt" of
// `data_folder`: a known code that the catalogue holds becomes the language
// in use; a missing file, an unknown code or an empty file leaves English.
void i18n_init(std::string_view data_folder);

// The text to draw for an English text in the language in use (see
// text_shown). Stays valid until the language changes.
std::string_view shown(std::string_view english);

// Changes the language to table index `index` (0 is English). False, and
// no change, when the catalogue does not hold that language.
bool language_set(int index);

// Writes the code of the language in use as "language.txt" of
// `data_folder` (the code alone, no line break). False when it cannot.
bool language_save(std::string_view data_folder);
