// The mod data the game loads at start: Hard Mode edits of the game's data
// tables and the model files of Body Sculpting and HD Models+, written as a
// patched copy of each affected file list plus an extension file
// ("<archive>.zqrext") that continues the game's archive after its end, and
// the index "zqr_mods.txt" that tells the game which pairs are in force. All
// of it lies in the data folder's "mods" folder; the game's own files are
// never written.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// One Hard Mode change of a table word.
struct Mod_Edit {
    std::string row;      // record name
    int64_t word = 0;     // index of a 32-bit word in the record
    std::string type;     // "w", "f", "l" or a bit-field description
    std::string value;
    std::string source;   // the option file it came from
};
// Table path (lower case, "/" separators) -> its edits in the order read.
using Mod_Edits = std::map<std::string, std::vector<Mod_Edit>>;

// Rebuilds the mod data. Messages (lines ending in "\n") are appended to
// `messages`. True exactly when "zqr_mods.txt" was written; after any
// failure there is none, so the game starts without mod data rather than
// with part of it.
bool mods_make(std::string& messages);

// The largest Hard Mode option file read, far above the mod's own (lists of
// edit lines of a few dozen bytes each); a larger one is refused unread
// rather than parsed at every configuration write.
inline constexpr uint64_t hard_option_file_max = uint64_t(1) << 20;

// Appends the edits of one option file (`source` names it in messages).
void hard_edits_parse(std::string_view text, std::string_view source, Mod_Edits& out);

// A WPD container: "WPD", a big-endian record count K at 4, 32-byte records
// from 16 (16-byte name, offset, size, 8 more bytes). True when the bytes
// hold the header and all K records.
bool wpd_valid(std::string_view bytes, uint32_t& count);
struct Wpd_Record {
    uint64_t offset = 0, size = 0;
    bool found = false;
};
// The first record named exactly `name` (its bytes up to the first NUL, or
// all 16). The caller has checked the container with wpd_valid.
Wpd_Record wpd_entry(std::string_view bytes, uint32_t count, std::string_view name);
uint32_t read_be32(std::string_view bytes, uint64_t offset);
void write_be32(std::string& bytes, uint64_t offset, uint32_t value);

// The bit field a type describes: its lowest bit and its width. False for
// a type that is not understood (unknown letters, empty, over 32 bits).
bool mod_bit_field(std::string_view type, int& shift, int& width);
// Applies one edit to a table (checked with wpd_valid); `strings` is the
// "!!string" record. A skipped edit may append its message.
void mod_apply_edit(std::string& table, uint32_t count, const Wpd_Record& strings, const Mod_Edit& e,
                    std::string& messages);

// The bytes stored for a replacement file: its zlib stream from the ".z"
// cache beside it when that is valid (ends with the file's Adler-32, is
// shorter than the file and inflates to exactly the file), else a new
// stream, which is written to the cache (through a ".part" file) when it is
// shorter than the file; else the file itself.
std::string mod_stored_file(std::string_view path, std::string_view file);
