// Starting the built game as a program of its own and watching it: the
// game-running flag is 1 from a successful start until the game ends.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

struct Started_Program;

// The built game's file name beside the launcher: "Quillmarsh.exe" on
// Windows, "Quillmarsh" elsewhere.
#ifdef _WIN32
inline constexpr std::string_view built_exe_name = "Quillmarsh.exe";
#else
inline constexpr std::string_view built_exe_name = "Quillmarsh";
#endif

// The built game in the launcher's folder when it is there and not a
// folder, else "".
std::string built_exe_path();

// Starts the program in `folder` (no command line: it reads everything from
// "Quillmarsh.cfg" beside it), sets the game-running flag and starts a
// watcher thread that nobody joins. True when the program was started. When
// no watcher can be made the flag is cleared again at once: the game runs,
// but its options are not read back when it ends.
bool run_game(std::string_view program, std::string_view folder);
// The watcher's procedure: waits for the game to end, releases the record
// and clears the flag.
void game_watch(Started_Program* p);

// The game-running flag (atomic exchange to change it, atomic load to read).
std::atomic<uint8_t>& game_running_flag();
inline bool game_running() { return game_running_flag().load() != 0; }

// What the interface keeps between frames to notice the game ending.
struct Game_Flag_Watch {
    uint8_t last = 0;
};
// Called once a frame: on the frame the flag falls from 1 to 0 it reads the
// options the game changed back with cfg_import and answers true.
bool game_flag_frame(Game_Flag_Watch& w);
