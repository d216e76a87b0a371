// Fixture installs of the game for tests and for trying the launcher out: a
// store library (libraryfolders.vdf, the app manifest, steamapps/common/...)
// holding a small synthetic 32-bit Windows executable whose identity ranges
// match the stand-in game's gen/zqr_table.c, or one of the ways an
// executable can fail the check.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Fixture_Exe {
    En,                 // the English edition
    Jp,                 // the Japanese edition
    Four_Gb,            // other bytes and the large-address-aware bit
    Other_Bytes,        // other bytes in the hashed range
    Truncated_Headers,  // the section table runs past the end of the file
    Bad_Pe_Offset,      // the PE header offset points past the end
    Not_Mz,             // does not begin with "MZ"
    Short,              // 1023 bytes beginning with "MZ"
    Folder,             // a folder named efsagaimg.exe
    None,               // no executable at all
};

struct Fixture_Options {
    std::string store_root;                   // gets steamapps/... (made when missing)
    std::string folder = "EMBERFALL SAGA";    // the install's folder in steamapps/common
    Fixture_Exe exe = Fixture_Exe::En;
    bool manifest = true;                     // write appmanifest_731905.acf
    std::string installdir;                   // the manifest's installdir ("" = `folder`)
    std::string depot = "574632";             // first InstalledDepots entry ("" = no such key)
    std::vector<std::string> libraries;       // further "path" lines of libraryfolders.vdf
    bool bink = false;                        // bink2w32.dll beside the executable
    bool movies = false;                      // amber_data/movie with containers (see fixture_write_movies)
};

// The 16 bytes at the start of the hashed section in each edition.
extern const unsigned char fixture_en_bytes[16];
extern const unsigned char fixture_jp_bytes[16];
// The one identity range: the hashed section's address in the image.
inline constexpr uint32_t fixture_image_base = 0x00400000;
inline constexpr uint32_t fixture_range_address = 0x00401000;
inline constexpr uint32_t fixture_range_length = 16;

uint64_t fixture_fnv1a64(const unsigned char* bytes, size_t size);
// The identity table text that matches the English bytes.
std::string fixture_table_text();
// The executable's bytes for one case (empty for Folder and None).
std::string fixture_exe_bytes(Fixture_Exe exe);
// The install folder the options give: <root>/steamapps/common/<folder>.
std::string fixture_game_dir(const Fixture_Options& o);

// Writes the whole fixture. False with `err` when something cannot be written.
bool fixture_write_install(const Fixture_Options& o, std::string* err);

// A movie container of `streams` Bink files of `sizes[i]` bytes each.
std::string fixture_wmp(const std::vector<uint32_t>& sizes);
// amber_data/movie of `game_dir`: "opening.wmp" (two cutscenes, no MP4),
// "ending.wmp" (one cutscene with its MP4: discardable), "staff.wmp" (cut to
// 4096 bytes, three cutscenes in its ".heads") and "blank.wmp" (16 bytes).
// Counted: 2 cutscenes to convert, 1 discardable, 1 kept.
bool fixture_write_movies(const std::string& game_dir, std::string* err);
