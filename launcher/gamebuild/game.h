// Finding the player's install of EMBERFALL SAGA through the store client's
// files, and deciding whether its executable is the build the bundled
// sources were generated from.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/task.h"

// --- Finding the game --------------------------------------------------------

// The procedure of the task "Checking": searches only when the saved
// game_dir fails is_game_dir, saves a found folder, then refresh_game and
// deps_check_task.
void find_game(Task& t);
// "Checking" after the player picked the folder: refresh_game only.
void game_check_task(Task& t);

// The store client's roots, in order: its registry value "SteamPath",
// ProgramFiles(x86)\Steam, ProgramFiles\Steam (each only when set).
std::vector<std::string> steam_roots();
// Per root: the root, then the "path" values of its libraryfolders.vdf.
std::vector<std::string> steam_libraries();
// The library list from the text of one libraryfolders.vdf (appended to `out`).
void vdf_library_paths(std::string_view vdf_text, std::vector<std::string>& out);
// `dir` holds amber_data/prog/win/bin/efsagaimg.exe as a file.
bool is_game_dir(std::string_view dir);
// The "installdir" value of an app manifest, "" when none.
std::string installdir(std::string_view manifest_path);
// <game_dir>/amber_data/prog/win/bin/efsagaimg.exe
std::string game_exe_path(std::string_view game_dir);

// --- Game check and executable identity ----------------------------------

// Runs the whole check and publishes Game_State; logs "Game: %s (%s)".
void refresh_game(Task& t);

struct Exe_Check {
    std::string edition;   // "EN", "JP" or ""
    bool ok = false;
    std::string reason;    // "" when ok
};
Exe_Check check_game_exe(std::string_view exe_path);

// The little-endian u32 at `offset`; false (and `out` 0) when the four
// bytes do not all lie inside `bytes`. A 16-bit field is the low half.
bool pe_u32(std::string_view bytes, uint64_t offset, uint32_t& out);

// What the header walk learnt of the file.
struct Pe_Facts {
    bool header = false;          // the file header (PE+24 bytes) lies inside the file
    uint32_t characteristics = 0; // the file header's, PE+22
};
// The sentence that explains a failed identification (never empty).
std::string exe_mismatch(std::string_view exe_path, std::string_view exe_bytes, const Pe_Facts& facts);

// The identity table as read from "gen/zqr_table.c".
struct Exe_Table {
    uint64_t hash = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ranges;   // address, length
};
// Parses the table text; false when a marker is missing or a line of the
// range block is malformed.
bool parse_exe_table(std::string_view text, Exe_Table& out);
// FNV-1a 64 over `bytes`, continuing from `state`.
uint64_t fnv1a64(std::string_view bytes, uint64_t state = 0xCBF29CE484222325ull);

inline constexpr uint64_t jp_edition_hash = 0x9727F06B4C294964ull;

// Test seam: where check_game_exe takes the table text from (nullptr: the
// bundle's "gen/zqr_table.c"). The reader answers false when it has none.
void game_set_table_reader(std::function<bool(std::string& text)> reader);
