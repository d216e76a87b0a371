// The launcher's settings: one record for the whole run, stored as
// "settings.txt" in the data folder.
//
// The live record is read by the interface every frame and changed by the
// interface and by tasks, so it is only reached through a guard: readers take
// a whole copy (settings_copy), writers change it under the lock
// (settings_edit) or replace it whole (settings_replace). save_settings is
// serialised, so two writers never interleave in the file; the window asks
// for its writes with save_settings_later, made on a thread of their own.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct Settings {
    std::string game_dir;
    std::string compiler;
    int64_t opt_level = 1;
    bool audio = true;
    bool vibration = true;
    bool tools = false;
    bool profiler = false;
    int64_t fps = 60;
    bool vulkan = true;
    bool skip_movies = false;
    bool movie_bink = false;
    bool cutscene_blur = true;
    bool pad_once = false;
    int64_t pipe_threads = 0;
    int64_t resolution = 2;
    int64_t graphics = 2;
    int64_t shadow_res = 1024;
    bool aa_fxaa = true;
    bool aa_taa = false;
    bool aa_fsr = false;
    bool aa_dlss = false;
    bool aa_fsr4 = false;
    int64_t aa_quality = 4;
    bool experimental = false;
    bool lto = false;
    bool pgo = true;
    bool stretch = false;
    bool memory_2gb = false;
    bool fx_full = false;
    bool minimap_circle = false;
    bool fullscreen = false;
    bool hdr = false;
    int64_t hdr_peak = 1000;
    int64_t hdr_paper = 200;
    bool aniso = true;
    bool steam_off = false;
    bool voice_japanese = false;
    int64_t subtitles = 0;
    std::vector<std::string> save_dirs;
    bool hd = false;
    bool button_icons = false;
    int64_t force_buttons = 0;
    bool movie_original = false;
    int64_t movie_brightness = 100;
    int64_t movie_contrast = 100;
    int64_t movie_saturation = 100;
    int64_t vol_music = 100;
    int64_t vol_sfx = 100;
    int64_t vol_voice = 100;
    int64_t gui_scale = 100;
    int64_t mouse_sens = 100;
    std::array<uint8_t, 16> pad_map{};
    std::array<uint8_t, 256> key_map{};
    std::array<uint8_t, 8> hard{};
    std::array<std::array<uint8_t, 8>, 3> sculpt{};
    bool sculpt_on = false;
    std::array<uint8_t, 6> hd_models{};
    bool hd_models_on = false;
    bool hd_models_hide = false;
    bool boost = false;
    std::string cross_target;
    std::string cross_cpu;
    bool appimage = false;
    bool cross_appimage = false;

    bool operator==(const Settings&) const = default;
};

struct Resolution { int64_t width, height; };
inline constexpr int resolution_count = 28;
extern const Resolution resolutions[resolution_count];
inline constexpr int64_t fps_values[] = {30, 60, -1, 120, 144, 165, 240};
struct Graphics_Preset { const char* name; int64_t shadow_res, aa_quality; };
extern const Graphics_Preset graphics_presets[5];   // 4 "custom" has no values
extern const char* const subtitle_names[8];
extern const char* const force_button_names[5];

// --- The text form ---------------------------------------------------------
// Reads "settings.txt" text into `s` (values not in the text stay as they are).
void settings_apply_text(Settings& s, std::string_view text);
// The whole text of "settings.txt" for `s`.
std::string settings_text(const Settings& s);
// The preset rule: unless graphics is custom, the preset's shadow
// resolution and anti-aliasing quality, FXAA on, the other methods off.
void settings_apply_preset(Settings& s);
// When a value the preset governs differs from the preset's own, the preset
// becomes "custom" (as choosing a value on the Game Options page does), so
// that the next load keeps the value instead of the preset undoing it.
void settings_custom_when_off_preset(Settings& s);

// The most Clear Cache's exactness test reads of settings.txt: a real one is
// a few kilobytes; anything larger is not this version's own file.
inline constexpr uint64_t settings_file_limit = uint64_t(1) << 20;
// The loader's limits. It reads the file line by line, at most
// settings_read_limit bytes in all; a line longer than settings_line_limit
// and the save folders after the first settings_save_dir_limit are skipped
// (one log line says how many), every other line applies. A larger file
// counts as unreadable.
inline constexpr uint64_t settings_read_limit = uint64_t(16) << 20;
inline constexpr size_t settings_line_limit = size_t(64) << 10;
inline constexpr size_t settings_save_dir_limit = 1000;

// --- The live record -------------------------------------------------------
// Loads <data>/settings.txt into `s` (the live record when none is given).
// The first call keeps a copy of the defaults aside. An unreadable file
// leaves the record as it was; when it exists it is renamed
// "settings.txt.bad" (replacing an older one), so that no later save writes
// over what could not be read, and a log line says so.
void load_settings(Settings* s = nullptr);
// The text of settings.txt as the loader applies it: the file's lines within
// the limits above, and the number of lines skipped for each limit. False
// (with the reason in `err`) when the file cannot be read or is larger than
// settings_read_limit.
struct Settings_Read {
    std::string text;
    size_t long_lines = 0;
    size_t extra_save_dirs = 0;
};
bool settings_read(std::string_view path, Settings_Read& out, std::string* err = nullptr);
// The defaults as they were before the first load.
Settings settings_defaults();
// A whole copy of the live record.
Settings settings_copy();
// Changes the live record under its lock; `edit` must be short.
void settings_edit(const std::function<void(Settings&)>& edit);
// Replaces the live record whole.
void settings_replace(const Settings& s);
// Writes settings_text of the live record as <data>/settings.txt, replacing
// the old file in one step (fs_write_atomic), serialised. On failure the old
// file stays and `err` (when given) says so in one sentence.
bool save_settings(std::string* err = nullptr);
// The window's writer: save_settings made on a thread of its own, so that a
// change never waits for the disk. Requests that come while a write runs
// are merged into one more write after it, which takes the record as it is
// then (the last change wins); the file is always a whole settings text.
// The file goes where the data folder was at the newest request.
void save_settings_later();
// Waits until no requested write waits or runs: whatever reads settings.txt
// from the disk (a task, another program, the end of the run, a test) calls
// it first. False when the last write made failed, with its sentence (as
// save_settings gives it) in `err`.
bool save_settings_wait(std::string* err = nullptr);
// True while a requested write waits or runs.
bool save_settings_pending();
// What the requested writes cost: how many were made, how many failed, and
// the longest one.
struct Settings_Save_Stats {
    int64_t writes = 0;
    int64_t failed = 0;
    int64_t longest_ns = 0;
};
Settings_Save_Stats settings_save_stats();
// Test seam: a procedure the writer runs before each requested write, on
// its own thread (nullptr removes it).
void settings_set_save_hook(std::function<void()> hook);

// String settings cannot hold a line break (the file is line based): the
// value is refused with a one-sentence reason in `err` and the old value kept.
bool settings_string_ok(std::string_view key, std::string_view value, std::string* err);
// Sets one string setting of the live record (game_dir, compiler,
// cross_target, cross_cpu) after that check.
bool settings_set_string(std::string Settings::*field, std::string_view key, std::string_view value, std::string* err);
// Appends a save folder to the live record's list after the same check (an
// empty folder is refused as well).
bool settings_add_save_dir(std::string_view dir, std::string* err);
