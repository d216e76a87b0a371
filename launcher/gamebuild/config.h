// The game's configuration file "Quillmarsh.cfg": ZQR_KEY=value lines that the
// built game reads beside its executable. The launcher writes it from the
// settings, the game check and the mod data; the game writes some options
// back from its own menus, and cfg_import brings those into the settings.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

struct Cross_Target;

inline constexpr std::string_view cfg_file_name = "Quillmarsh.cfg";
// The most read of it: the launcher writes a few kilobytes, the game adds
// little; a larger file is not imported.
inline constexpr uint64_t cfg_file_limit = uint64_t(1) << 20;

// Whether the native build can use DLSS and FSR 4 (Windows DLLs): only on
// Windows. A native Linux build skips them.
#ifdef _WIN32
inline constexpr bool upscaler_dlls_native = true;
#else
inline constexpr bool upscaler_dlls_native = false;
#endif

// The whole text of the native file (the build for this computer).
std::string cfg_text();
// Appends the option lines to `out`: with no target for this computer, else
// for that cross target's output.
void cfg_game_lines(std::string& out, const Cross_Target* target);

enum class Cfg_When { Always, If_Present };
// The one writer of "Quillmarsh.cfg": builds cfg_text and writes it into
// `folder` (replacing the old file in one step, fs_write_atomic; `err` gets
// the system's reason on failure). With If_Present it writes only
// when the file already exists there and is not a folder. The interface and
// the tasks write the file at the same time, so every write holds one lock
// from building the text to the end of the write. True when written.
bool cfg_write_file(std::string_view folder, Cfg_When when = Cfg_When::Always, std::string* err = nullptr);
// The build's writer: cfg_write_file(folder).
bool cfg_write(std::string_view folder, std::string* err = nullptr);

// The window's writer: cfg_write_file(folder, If_Present) made on a thread
// of its own, since rebuilding the mod data can take a second. Requests that
// come while a write runs are merged into one more write after it, which
// takes the settings as they are then (the last change wins).
void cfg_rewrite_later(std::string_view folder);
// Waits until no requested write is waiting or running: the build and the
// game start see the mod data of the last change.
void cfg_rewrite_wait();
// True while a requested write waits or runs.
bool cfg_rewrite_pending();

// Reads "Quillmarsh.cfg" of the launcher folder back into the settings, when
// it holds the game's ZQR_MENU_KEYS line: only the keys named there are
// taken; settings.txt is saved when something changed, and the file is
// rewritten. False when nothing was read or the rewrite failed.
bool cfg_import();

using Cfg_Map = std::map<std::string, std::string, std::less<>>;
// KEY=value lines of a cfg text (comments and empty lines skipped, a CR before
// the line feed dropped, later lines win).
Cfg_Map cfg_parse(std::string_view text);
// When `key` is in the map and its trimmed value is a whole number within
// [min, max], stores it in `out`; otherwise `out` is left alone.
bool cfg_int(const Cfg_Map& map, std::string_view key, int64_t min, int64_t max, int64_t& out);

// Test seams: the processor count the pipeline-thread line uses (0 restores
// the real one), and a procedure run inside the write lock between building
// the text and writing it (nullptr removes it).
void cfg_set_core_count(int count);
void cfg_set_write_hook(std::function<void()> hook);
