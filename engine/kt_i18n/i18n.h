// The translation catalogue: English texts as keys, one list of translations
// per language, filled from translation texts.
//
// Translation text format (UTF-8; a CR before the LF of a line is dropped):
//   - empty lines and lines beginning with "#" are ignored;
//   - "@languages ja ko ..." declares the languages of the translation lines
//     that follow (each added to the catalogue or found there); other lines
//     beginning with "@" are ignored;
//   - a line beginning with TAB is a translation: everything after that one
//     TAB, unchanged, is the text for the next declared language;
//   - a line that is "-" after trimming skips one declared language;
//   - any other line, trimmed, is an English text; its translation lines
//     follow it, one per declared language in order;
//   - in an English text or a translation, "\n" stands for a line break
//     inside the text (any other backslash is kept as it is).
//
// Keys and translations loaded from a text point into that text: it must
// outlive the catalogue. Not thread-safe: one thread owns the catalogue.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct Text_Language {
    std::string code;   // "en", "ja", "pt-BR", ...
    std::string name;
    bool ruby = false;  // translations may carry ruby runs "{{...}}" to leave out when shown
};

struct Text_Key {
    std::string_view text;   // not copied
    uint32_t hash = 0;
};

// One translation. Past the end of a language's list, or with `present`
// false, the language has no text for the key.
struct Text_Value {
    std::string_view text;
    std::unique_ptr<char[]> copy;   // the storage of an owned text
    bool owned = false;
    bool present = false;
};

struct Catalog {
    std::vector<Text_Language> languages;            // index 0 is English ("en")
    std::vector<Text_Key> keys;
    std::vector<uint32_t> slots;                     // 0 = empty, else key index + 1; a power of two
    std::vector<std::vector<Text_Value>> values;     // per language, indexed by key
    int current = 0;                                 // index of the language in use
    std::unordered_map<std::string, std::string> stripped;  // English text -> ruby-stripped text
    std::vector<std::unique_ptr<std::string>> decoded;      // keys with a line break, read from "\n"
};

// FNV-1a over the bytes in 32 bits, then xor-ed with itself shifted right 15.
uint32_t text_hash(std::string_view text);

// Empties the catalogue and adds English ("en") as language 0.
void catalog_init(Catalog& c);

// The key index of `text` (whose hash is given), -1 when it is not a key.
int text_find(const Catalog& c, std::string_view text, uint32_t hash);
// Adds a key that text_find did not find and returns its index. The slot
// table grows first when 2 x keys + 2 would exceed it, so it is never more
// than half full. `text` is not copied.
int keys_intern(Catalog& c, std::string_view text, uint32_t hash);

// Stores the translation of key `key` for language `lang`: `text` is not
// copied. text_put_copy stores an owned copy. An owned old text is freed.
void text_put(Catalog& c, int key, int lang, std::string_view text);
void text_put_copy(Catalog& c, int key, int lang, std::string_view text);
// The stored translation, or nullptr when the language has none.
const Text_Value* text_get(const Catalog& c, int key, int lang);

// Reads one translation text into the catalogue.
void load_lines(Catalog& c, std::string_view text);

// The index of the language with this code, -1 when there is none.
int language_find(const Catalog& c, std::string_view code);
// Adds a language (or finds it, keeping its index and ruby flag and taking
// the new name) and returns its index.
int add_language(Catalog& c, std::string_view code, std::string_view name);
// Makes the language with this code current; false when there is none.
bool select_language(Catalog& c, std::string_view code);

// The text to show for an English text in the current language: its
// translation (ruby-stripped for a ruby language), else the English
// catalogue entry, else the text itself. English as the current language,
// and an empty text, give the text itself. The text is looked up as given
// (not trimmed). The result stays valid until the language changes.
std::string_view text_shown(Catalog& c, std::string_view text);

// Empties the cache of ruby-stripped texts.
void clear_stripped(Catalog& c);
// The text without its ruby runs: every run from "{{" to the next "}}",
// both included. A "{{" with no "}}" after it is kept.
std::string strip_ruby(std::string_view text);
