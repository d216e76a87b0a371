#include "launcher/core/settings.h"

#include <algorithm>
#include <mutex>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/log.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/inputmap.h"
#include "launcher/core/later_writer.h"
#include "launcher/core/hard_choices.h"
#include "launcher/core/hdm_choices.h"
#include "launcher/core/sculpt_choices.h"

const Resolution resolutions[resolution_count] = {
    {854, 480},   {960, 540},   {1280, 720},  {1600, 900},  {1920, 1080}, {2560, 1440}, {3200, 1800},
    {3840, 2160}, {1280, 540},  {2560, 1080}, {3440, 1440}, {3840, 1600}, {5120, 2160}, {3840, 1080},
    {5120, 1440}, {1200, 750},  {1440, 900},  {1680, 1050}, {1920, 1200}, {2560, 1600}, {2880, 1800},
    {3840, 2400}, {960, 720},   {1024, 768},  {1440, 1080}, {1600, 1200}, {1920, 1440}, {2880, 2160},
};

const Graphics_Preset graphics_presets[5] = {
    {"ultrafast", 0, 1}, {"fast", 512, 2}, {"fancy", 1024, 4}, {"ultrafancy", 8192, 8}, {"custom", 0, 0},
};
static constexpr int64_t graphics_custom = 4;

const char* const subtitle_names[8] = {"english", "japanese", "french", "german",
                                       "italian", "spanish",  "koreana", "tchinese"};
const char* const force_button_names[5] = {"auto", "keyboard", "generic", "ps", "xb"};

static constexpr int64_t settings_version = 4;

// --- Reading ---------------------------------------------------------------

struct Int_Key {
    std::string_view key;
    int64_t Settings::*field;
    int64_t lo, hi;
};
static const Int_Key int_keys[] = {
    {"opt_level", &Settings::opt_level, 0, 3},
    {"pipe_threads", &Settings::pipe_threads, 0, 16},
    {"hdr_peak", &Settings::hdr_peak, 400, 4000},
    {"hdr_paper", &Settings::hdr_paper, 80, 400},
    {"movie_brightness", &Settings::movie_brightness, 50, 150},
    {"movie_contrast", &Settings::movie_contrast, 50, 150},
    {"movie_saturation", &Settings::movie_saturation, 0, 200},
    {"vol_music", &Settings::vol_music, 0, 100},
    {"vol_sfx", &Settings::vol_sfx, 0, 100},
    {"vol_voice", &Settings::vol_voice, 0, 100},
    {"mouse_sens", &Settings::mouse_sens, 20, 400},
    {"gui_scale", &Settings::gui_scale, 50, 200},
};

// Switches that are on unless the value is exactly "0".
struct Bool_Key {
    std::string_view key;
    bool Settings::*field;
};
static const Bool_Key bool_keys_default_on[] = {
    {"audio", &Settings::audio},   {"vibration", &Settings::vibration}, {"cutscene_blur", &Settings::cutscene_blur},
    {"pgo", &Settings::pgo},       {"aniso", &Settings::aniso},
};
// Switches that are on only when the value is exactly "1".
static const Bool_Key bool_keys_default_off[] = {
    {"tools", &Settings::tools},
    {"profiler", &Settings::profiler},
    {"skip_movies", &Settings::skip_movies},
    {"pad_once", &Settings::pad_once},
    {"experimental", &Settings::experimental},
    {"lto", &Settings::lto},
    {"stretch", &Settings::stretch},
    {"memory_2gb", &Settings::memory_2gb},
    {"fx_full", &Settings::fx_full},
    {"minimap_circle", &Settings::minimap_circle},
    {"fullscreen", &Settings::fullscreen},
    {"hdr", &Settings::hdr},
    {"steam_off", &Settings::steam_off},
    {"sculpt_on", &Settings::sculpt_on},
    {"hd_models_on", &Settings::hd_models_on},
    {"hd_models_hide", &Settings::hd_models_hide},
    {"button_icons", &Settings::button_icons},
    {"boost", &Settings::boost},
    {"appimage", &Settings::appimage},
    {"cross_appimage", &Settings::cross_appimage},
};
struct String_Key {
    std::string_view key;
    std::string Settings::*field;
};
static const String_Key string_keys[] = {
    {"game_dir", &Settings::game_dir},
    {"compiler", &Settings::compiler},
    {"cross_target", &Settings::cross_target},
    {"cross_cpu", &Settings::cross_cpu},
};

static bool has_line_break(std::string_view v) { return v.find_first_of("\r\n") != std::string_view::npos; }

static int name_index(const char* const* names, int count, std::string_view value) {
    for (int i = 0; i < count; i++)
        if (value == names[i]) return i;
    return -1;
}

static void apply_aa_method(Settings& s, std::string_view v) {
    s.aa_fxaa = v == "fxaa";
    s.aa_fsr = v == "fsr" || v == "fsr4";
    s.aa_fsr4 = v == "fsr4";
    s.aa_dlss = v == "dlss";
    if (v == "taa" || s.aa_fsr) {
        s.aa_taa = true;
        s.aa_fxaa = true;
    } else {
        s.aa_taa = v == "dlss";
        if (s.aa_taa) s.aa_fxaa = true;
    }
}

static void apply_line(Settings& s, std::string_view key, std::string_view v, int64_t version) {
    for (const String_Key& k : string_keys) {
        if (key != k.key) continue;
        // A value holding a CR in the middle of its line is no value this
        // writer could have made; the field keeps what it had.
        if (!has_line_break(v)) s.*k.field = std::string(v);
        return;
    }
    for (const Int_Key& k : int_keys) {
        if (key != k.key) continue;
        int64_t n = 0;
        if (parse_int(v, n) && n >= k.lo && n <= k.hi) s.*k.field = n;
        return;
    }
    for (const Bool_Key& k : bool_keys_default_on) {
        if (key == k.key) {
            s.*k.field = v != "0";
            return;
        }
    }
    for (const Bool_Key& k : bool_keys_default_off) {
        if (key == k.key) {
            s.*k.field = v == "1";
            return;
        }
    }
    int64_t n = 0;
    if (key == "shadow_res") {
        if (parse_int(v, n) && (n == 0 || (n >= 512 && n <= 8192))) s.shadow_res = n;
    } else if (key == "fps") {
        if (parse_int(v, n))
            for (int64_t f : fps_values)
                if (n == f) s.fps = n;
    } else if (key == "resolution") {
        for (int i = 0; i < resolution_count; i++)
            if (v == fmt("%dx%d", resolutions[i].width, resolutions[i].height)) s.resolution = i;
    } else if (key == "graphics") {
        for (int i = 0; i < 5; i++)
            if (v == graphics_presets[i].name) s.graphics = i;
    } else if (key == "vulkan") {
        s.vulkan = true;
    } else if (key == "hd") {
        s.hd = parse_int(v, n) && n == 1;
    } else if (key == "movie_files") {
        s.movie_bink = v == "bink";
    } else if (key == "movie_colors") {
        s.movie_original = v == "original";
    } else if (key == "voice") {
        s.voice_japanese = v == "japanese";
    } else if (key == "subtitles") {
        s.subtitles = std::max(0, name_index(subtitle_names, 8, v));
    } else if (key == "force_buttons") {
        int i = name_index(force_button_names, 5, v);
        if (i >= 0) s.force_buttons = i;
    } else if (key == "save_dir") {
        if (!v.empty() && !has_line_break(v)) s.save_dirs.emplace_back(v);
    } else if (key == "pad_map") {
        pad_map_parse(s, v);
    } else if (key == "key_map") {
        key_map_parse(s, v);
    } else if (key == "hard") {
        hard_parse(s, v);
    } else if (key == "sculpt") {
        sculpt_parse(s, v);
    } else if (key == "hd_models") {
        hdm_parse(s, v);
    } else if (key == "aa_method") {
        if (version >= 3) apply_aa_method(s, v);
    } else if (key == "aa_quality") {
        if (version >= 3 && parse_int(v, n) && (n == 1 || n == 2 || n == 4 || n == 8)) s.aa_quality = n;
    } else if (key == "msaa") {
        if (version < 3 && parse_int(v, n) && n == 0) s.aa_quality = 1;
    }
}

struct Settings_Line {
    std::string_view key, value;
};

static std::vector<Settings_Line> settings_lines(std::string_view text) {
    std::vector<Settings_Line> out;
    for (std::string_view line : split_at(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim_space(line);
        if (line.empty()) continue;
        size_t blank = line.find(' ');
        if (blank == std::string_view::npos) out.push_back({line, {}});
        else out.push_back({line.substr(0, blank), trim_space(line.substr(blank + 1))});
    }
    return out;
}

void settings_apply_preset(Settings& s) {
    if (s.graphics > graphics_custom) s.graphics = 2;
    if (s.graphics < 0) s.graphics = 0;
    if (s.graphics == graphics_custom) return;
    const Graphics_Preset& p = graphics_presets[s.graphics];
    s.shadow_res = p.shadow_res;
    s.aa_quality = p.aa_quality;
    s.aa_fxaa = true;
    s.aa_taa = s.aa_fsr = s.aa_dlss = s.aa_fsr4 = false;
}

void settings_custom_when_off_preset(Settings& s) {
    Settings preset = s;
    settings_apply_preset(preset);
    if (preset.graphics == graphics_custom) return;
    bool same = preset.shadow_res == s.shadow_res && preset.aa_quality == s.aa_quality &&
                preset.aa_fxaa == s.aa_fxaa && preset.aa_taa == s.aa_taa && preset.aa_fsr == s.aa_fsr &&
                preset.aa_dlss == s.aa_dlss && preset.aa_fsr4 == s.aa_fsr4;
    if (!same) s.graphics = graphics_custom;
}

void settings_apply_text(Settings& s, std::string_view text) {
    std::vector<Settings_Line> lines = settings_lines(text);
    int64_t version = 1;
    for (const Settings_Line& l : lines) {
        int64_t n = 0;
        if (l.key == "settings_version" && parse_int(l.value, n)) version = n;
    }
    for (const Settings_Line& l : lines) apply_line(s, l.key, l.value, version);

    if (version >= 4) {
        if (s.graphics > graphics_custom) s.graphics = 2;
    } else {
        // Older files kept no preset: it is the first one that matches what they hold.
        s.graphics = graphics_custom;
        for (int i = 0; i < 4; i++) {
            const Graphics_Preset& p = graphics_presets[i];
            if (p.shadow_res == s.shadow_res && p.aa_quality == s.aa_quality && !s.aa_taa &&
                (s.aa_fxaa || p.aa_quality < 2)) {
                s.graphics = i;
                break;
            }
        }
    }
    settings_apply_preset(s);
}

// --- Writing ---------------------------------------------------------------

static const char* aa_method_name(const Settings& s) {
    if (s.aa_dlss) return "dlss";
    if (s.aa_fsr4) return "fsr4";
    if (s.aa_fsr) return "fsr";
    if (s.aa_taa) return "taa";
    if (s.aa_fxaa) return "fxaa";
    return "msaa";
}

static int64_t clamp_index(int64_t v, int64_t count) { return v < 0 ? 0 : v >= count ? count - 1 : v; }

std::string settings_text(const Settings& s) {
    std::string out;
    out.reserve(2048);
    auto line = [&](std::string_view key, std::string_view value) {
        out += key;
        out += ' ';
        out += value;
        out += '\n';
    };
    auto num = [&](std::string_view key, int64_t v) { line(key, fmt("%d", v)); };
    auto flag = [&](std::string_view key, bool v) { line(key, v ? "1" : "0"); };
    // The file is line based: a value that holds a line break cannot be
    // written, so the key is written empty rather than split in two.
    auto text = [&](std::string_view key, const std::string& v) { line(key, has_line_break(v) ? "" : v); };

    num("settings_version", settings_version);
    text("game_dir", s.game_dir);
    text("compiler", s.compiler);
    num("opt_level", s.opt_level);
    flag("audio", s.audio);
    flag("vibration", s.vibration);
    flag("tools", s.tools);
    flag("profiler", s.profiler);
    num("fps", s.fps);
    flag("vulkan", s.vulkan);
    flag("skip_movies", s.skip_movies);
    line("movie_files", s.movie_bink ? "bink" : "mp4");
    line("movie_colors", s.movie_original ? "original" : "corrected");
    num("movie_brightness", s.movie_brightness);
    num("movie_contrast", s.movie_contrast);
    num("movie_saturation", s.movie_saturation);
    num("vol_music", s.vol_music);
    num("vol_sfx", s.vol_sfx);
    num("vol_voice", s.vol_voice);
    num("mouse_sens", s.mouse_sens);
    num("gui_scale", s.gui_scale);
    flag("boost", s.boost);
    if (std::string t = pad_map_text(s); !t.empty()) line("pad_map", t);
    if (std::string t = key_map_text(s); !t.empty()) line("key_map", t);
    flag("pad_once", s.pad_once);
    flag("cutscene_blur", s.cutscene_blur);
    num("pipe_threads", s.pipe_threads);
    line("graphics", graphics_presets[clamp_index(s.graphics, 5)].name);
    const Resolution& r = resolutions[clamp_index(s.resolution, resolution_count)];
    line("resolution", fmt("%dx%d", r.width, r.height));
    num("shadow_res", s.shadow_res);
    line("aa_method", aa_method_name(s));
    num("aa_quality", s.aa_quality);
    flag("experimental", s.experimental);
    flag("lto", s.lto);
    flag("pgo", s.pgo);
    flag("memory_2gb", s.memory_2gb);
    flag("stretch", s.stretch);
    flag("fx_full", s.fx_full);
    flag("minimap_circle", s.minimap_circle);
    flag("fullscreen", s.fullscreen);
    flag("hdr", s.hdr);
    num("hdr_peak", s.hdr_peak);
    num("hdr_paper", s.hdr_paper);
    flag("aniso", s.aniso);
    flag("steam_off", s.steam_off);
    line("voice", s.voice_japanese ? "japanese" : "english");
    line("subtitles", s.subtitles >= 0 && s.subtitles < 8 ? subtitle_names[s.subtitles] : "english");
    for (const std::string& dir : s.save_dirs)
        if (!dir.empty() && !has_line_break(dir)) line("save_dir", dir);
    flag("hd", s.hd);
    line("hard", hard_text(s));
    line("sculpt", sculpt_text(s));
    flag("sculpt_on", s.sculpt_on);
    line("hd_models", hdm_text(s));
    flag("hd_models_on", s.hd_models_on);
    flag("hd_models_hide", s.hd_models_hide);
    flag("button_icons", s.button_icons);
    line("force_buttons", force_button_names[clamp_index(s.force_buttons, 5)]);
    text("cross_target", s.cross_target);
    text("cross_cpu", s.cross_cpu);
    flag("appimage", s.appimage);
    flag("cross_appimage", s.cross_appimage);
    return out;
}

// --- The live record -------------------------------------------------------

struct Live_Settings {
    Slim_Lock lock;          // guards record
    Settings record;
    std::mutex save_mutex;   // one writer of settings.txt at a time
    std::mutex defaults_mutex;
    bool defaults_kept = false;
    Settings defaults;
};

static Live_Settings& live() {
    static Live_Settings l;
    return l;
}

Settings settings_copy() {
    Live_Settings& l = live();
    Shared_Guard g(l.lock);
    return l.record;
}

void settings_edit(const std::function<void(Settings&)>& edit) {
    Live_Settings& l = live();
    Lock_Guard g(l.lock);
    edit(l.record);
}

void settings_replace(const Settings& s) {
    Live_Settings& l = live();
    Lock_Guard g(l.lock);
    l.record = s;
}

Settings settings_defaults() {
    Live_Settings& l = live();
    std::lock_guard g(l.defaults_mutex);
    Settings d = l.defaults_kept ? l.defaults : Settings{};
    d.save_dirs.clear();
    return d;
}

void load_settings(Settings* s) {
    Live_Settings& l = live();
    {
        std::lock_guard g(l.defaults_mutex);
        if (!l.defaults_kept) {
            l.defaults = settings_copy();
            l.defaults_kept = true;
        }
    }
    std::string path = data_path({"settings.txt"});
    Settings_Read read;
    std::string why;
    if (!settings_read(path, read, &why)) {
        File_Info info;
        if (!fs_stat(path, info) || !info.exists) return;
        std::string bad = path + ".bad";
        if (fs_rename(path, bad)) {
            log_printf(Log_Level::Warning, "%s cannot be read (%s): kept as %s; the settings start from the defaults.",
                       path.c_str(), why.c_str(), bad.c_str());
        } else {
            log_printf(Log_Level::Warning, "%s cannot be read (%s).", path.c_str(), why.c_str());
        }
        return;
    }
    if (read.long_lines || read.extra_save_dirs) {
        log_printf(Log_Level::Warning,
                   "%s: skipped %zu lines longer than %zu bytes and %zu save folders beyond the first %zu; the other "
                   "settings apply.",
                   path.c_str(), read.long_lines, settings_line_limit, read.extra_save_dirs, settings_save_dir_limit);
    }
    if (s) settings_apply_text(*s, read.text);
    else settings_edit([&](Settings& r) { settings_apply_text(r, read.text); });
}

bool settings_read(std::string_view path, Settings_Read& out, std::string* err) {
    out = Settings_Read{};
    // A line is collected until its end; one that grows past the limit is
    // dropped there and the rest of it passed over.
    std::string line;
    bool too_long = false;
    size_t save_dirs = 0;
    auto finish_line = [&] {
        if (too_long) {
            ++out.long_lines;
        } else {
            std::string_view key = line;
            while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.remove_prefix(1);
            key = key.substr(0, key.find(' '));
            if (key == "save_dir" && ++save_dirs > settings_save_dir_limit) {
                ++out.extra_save_dirs;
            } else {
                out.text += line;
                out.text += '\n';
            }
        }
        line.clear();
        too_long = false;
    };
    const size_t piece_size = size_t(1) << 20;
    std::string piece;
    for (uint64_t at = 0;; at += piece.size()) {
        if (!fs_read_at(path, at, piece_size, piece, err)) return false;
        if (piece.empty()) break;
        if (at + piece.size() > settings_read_limit) {
            if (err) *err = fs_too_large_text(settings_read_limit);
            return false;
        }
        size_t start = 0;
        while (start < piece.size()) {
            size_t nl = piece.find('\n', start);
            size_t end = nl == std::string::npos ? piece.size() : nl;
            if (!too_long) {
                if (line.size() + (end - start) > settings_line_limit) {
                    too_long = true;
                    line.clear();
                } else {
                    line.append(piece, start, end - start);
                }
            }
            if (nl == std::string::npos) break;
            finish_line();
            start = nl + 1;
        }
        if (piece.size() < piece_size) break;
    }
    if (too_long || !line.empty()) finish_line();
    return true;
}

static bool save_settings_to(const std::string& path, std::string* err) {
    Live_Settings& l = live();
    // The copy is taken under the writers' lock too, so the last writer
    // always writes the newest record.
    std::lock_guard g(l.save_mutex);
    std::string text = settings_text(settings_copy());
    std::string why;
    if (fs_write_atomic(path, text, &why)) return true;
    if (err) *err = fmt("Could not save %s: %s.", path, why);
    return false;
}

bool save_settings(std::string* err) { return save_settings_to(data_path({"settings.txt"}), err); }

namespace {

// The writes asked for with save_settings_later: made one after another on
// a thread of its own; the requests that come while one is written become
// one more write after it.
struct Settings_Writer {
    std::mutex lock;
    Settings_Save_Stats stats;
    std::function<void()> hook;   // test seam: run before each write
    // The file can wait a moment; the window's frames cannot. Declared last,
    // so that its thread ends before what its writes use goes.
    Later_Writer writer{true};
};

Settings_Writer& settings_writer() {
    static Settings_Writer w;
    return w;
}

// One write of the live record to `path`, counted in the stats.
Later_Write write_settings_to(Settings_Writer& w, const std::string& path) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(w.lock);
        hook = w.hook;
    }
    if (hook) hook();
    Later_Write done;
    int64_t start = clock_ns();
    done.ok = save_settings_to(path, &done.err);
    int64_t took = clock_ns() - start;
    std::lock_guard<std::mutex> guard(w.lock);
    w.stats.writes++;
    w.stats.failed += done.ok ? 0 : 1;
    w.stats.longest_ns = std::max(w.stats.longest_ns, took);
    return done;
}

}  // namespace

void save_settings_later() {
    Settings_Writer& w = settings_writer();
    later_writer_request(w.writer, [&w, path = data_path({"settings.txt"})] { return write_settings_to(w, path); });
}

bool save_settings_wait(std::string* err) { return later_writer_wait(settings_writer().writer, err); }

bool save_settings_pending() { return later_writer_pending(settings_writer().writer); }

void settings_set_save_hook(std::function<void()> hook) {
    Settings_Writer& w = settings_writer();
    std::lock_guard<std::mutex> guard(w.lock);
    w.hook = std::move(hook);
}

Settings_Save_Stats settings_save_stats() {
    Settings_Writer& w = settings_writer();
    std::lock_guard<std::mutex> guard(w.lock);
    return w.stats;
}

bool settings_string_ok(std::string_view key, std::string_view value, std::string* err) {
    if (!has_line_break(value)) return true;
    if (err) *err = fmt("The %s setting cannot hold a line break: kept the previous value.", key);
    return false;
}

bool settings_set_string(std::string Settings::*field, std::string_view key, std::string_view value, std::string* err) {
    if (!settings_string_ok(key, value, err)) return false;
    settings_edit([&](Settings& s) { s.*field = std::string(value); });
    return true;
}

bool settings_add_save_dir(std::string_view dir, std::string* err) {
    if (dir.empty()) {
        if (err) *err = "A save folder cannot be empty: kept the previous list.";
        return false;
    }
    if (!settings_string_ok("save_dir", dir, err)) return false;
    settings_edit([&](Settings& s) { s.save_dirs.emplace_back(dir); });
    return true;
}
