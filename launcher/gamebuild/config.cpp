#include "launcher/gamebuild/config.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <mutex>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/gamebuild/cross_target.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/core/format.h"
#include "launcher/core/later_writer.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/buttons.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/mod_data.h"
#include "launcher/core/inputmap.h"

static std::atomic<int> g_core_count{0};
static std::mutex g_write_lock;
static std::function<void()> g_write_hook;

void cfg_set_core_count(int count) { g_core_count.store(count); }

void cfg_set_write_hook(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(g_write_lock);
    g_write_hook = std::move(hook);
}

static int core_count() {
    int forced = g_core_count.load();
    return forced > 0 ? forced : cpu_count();
}

// The pipeline-compile threads the game may use on this computer.
static int64_t pipe_thread_count(int64_t setting, int cores) {
    if (setting == 0) return std::clamp<int64_t>(cores / 2, 1, 8);
    int64_t cap = cores - 1 >= 2 ? cores - 1 : 1;
    cap = std::min<int64_t>(cap, 16);
    return std::clamp<int64_t>(setting, 1, cap);
}

void cfg_game_lines(std::string& out, const Cross_Target* target) {
    const Settings s = settings_copy();
    const Game_State game = game_state_copy();
    const bool native = target == nullptr;
    const bool android = target && target->android;
    const bool identified = game.checked && game.ok;

    // The game's own arguments travel here only: it is started without a
    // command line.
    int64_t shadow = s.shadow_res == 0 ? 512 : s.shadow_res;
    int64_t msaa = (s.aa_fxaa || s.aa_taa || s.aa_quality < 2) ? 0 : s.aa_quality;
    std::string args = fmt("-Shadow=%d -MSAA=%d", shadow, msaa);
    if (s.resolution != 2) {
        const Resolution& r = resolutions[std::clamp<int64_t>(s.resolution, 0, resolution_count - 1)];
        args = fmt("%s -Width=%d -Height=%d", args, r.width, r.height);
    }
    if (s.voice_japanese) args = fmt("%s -VoiceJPMode", args);
    out += fmt("ZQR_GAME_ARGS=%s\n", args);

    // Korean and Chinese subtitles exist only in the Japanese edition.
    int64_t allowed = game.edition == "JP" ? 8 : 6;
    bool known = s.subtitles >= 0 && s.subtitles <= 7 && s.subtitles < allowed;
    out += fmt("ZQR_LANGUAGE=%s\n", known ? subtitle_names[s.subtitles] : "english");

    if (!s.save_dirs.empty()) {
        std::string joined;
        for (size_t i = 0; i < s.save_dirs.size(); i++) {
            if (i) joined += '|';
            joined += s.save_dirs[i];
        }
        out += fmt("ZQR_SAVE_DIRS=%s\n", joined);
    }

    if (native) {
        // Once the game's archives were discarded the HD folder is needed
        // even with the HD setting off.
        if (s.hd || hd_discarded()) {
            std::string hd = hd_dir();
            if (!hd.empty()) out += fmt("ZQR_HD_DIR=%s\n", hd);
        }
        // The mod data are rebuilt on every native text, so before every
        // game start; what went wrong goes to standard output.
        std::string mod_messages;
        bool mods = mods_make(mod_messages);
        if (!mod_messages.empty()) {
            std::fputs(mod_messages.c_str(), stdout);
            std::fflush(stdout);
        }
        if (mods) out += fmt("ZQR_MOD_DIR=%s\n", data_path({"mods"}));
        if ((s.button_icons || s.force_buttons >= 3) && bb_present())
            out += fmt("ZQR_BUTTON_ICONS=%s\n", data_path({"button_icons"}));
    }

    if (s.force_buttons > 0) out += fmt("ZQR_FORCE_BUTTONS=%s\n", force_button_names[std::min<int64_t>(s.force_buttons, 4)]);

    bool bink = identified ? ((s.movie_bink || !game.some_converted) && game.convertible) : s.movie_bink;
    if (bink) out += "ZQR_MOVIES=bink\n";
    if (s.movie_original) out += "ZQR_MOVIE_COLORS=original\n";

    const struct { const char* format; int64_t value; } percent_lines[] = {
        {"ZQR_VOL_MUSIC=%d\n", s.vol_music},
        {"ZQR_VOL_SFX=%d\n", s.vol_sfx},
        {"ZQR_VOL_VOICE=%d\n", s.vol_voice},
        {"ZQR_GUI_SCALE=%d\n", s.gui_scale},
        {"ZQR_MOUSE_SENS=%d\n", s.mouse_sens},
        {"ZQR_MOVIE_BRIGHTNESS=%d\n", s.movie_brightness},
        {"ZQR_MOVIE_CONTRAST=%d\n", s.movie_contrast},
        {"ZQR_MOVIE_SATURATION=%d\n", s.movie_saturation},
    };
    for (const auto& line : percent_lines)
        if (line.value != 100) out += fmt(line.format, line.value);

    if (s.boost) out += "ZQR_BOOST=1\n";
    std::string pad = pad_map_text(s);
    if (!pad.empty()) out += fmt("ZQR_PAD_MAP=%s\n", pad);
    std::string keys = key_map_text(s);
    if (!keys.empty()) out += fmt("ZQR_KEY_MAP=%s\n", keys);

    if (s.fps == -1) out += "ZQR_FPS=vsync\n";
    else if (s.fps == 30 || s.fps >= 61) out += fmt("ZQR_FPS=%d\n", s.fps);

    if (s.shadow_res == 0) out += "ZQR_NO_SHADOWS=1\n";
    if (s.memory_2gb) out += "ZQR_GUEST_2GB=1\n";
    if (s.stretch) out += "ZQR_STRETCH=1\n";
    if (s.fx_full) out += "ZQR_VK_HALF_FX=0\n";
    if (s.minimap_circle) out += "ZQR_MINIMAP_CIRCLE=1\n";
    if (s.fullscreen) out += "ZQR_FULLSCREEN=1\n";
    if (s.hdr) out += fmt("ZQR_HDR=1\nZQR_HDR_PEAK=%d\nZQR_HDR_PAPER=%d\n", s.hdr_peak, s.hdr_paper);
    if (s.aniso) out += "ZQR_VK_ANISO=16\n";
    if (s.steam_off) out += "ZQR_NO_STEAM=1\n";
    if (!s.audio) out += "ZQR_NO_AUDIO=1\n";
    if (!s.vibration) out += "ZQR_VIBRATION=0\n";
    if (!s.cutscene_blur) out += "ZQR_CUTSCENE_BLUR=0\n";
    if (s.pad_once) out += "ZQR_PAD_ONCE=1\n";
    // A copy with nothing to play (no MP4s and no Bink to convert) skips them.
    if (s.skip_movies || (identified && !game.some_converted && !game.convertible)) out += "ZQR_SKIP_MOVIES=1\n";
    if (s.tools && s.profiler && !android) out += "ZQR_PROF=1\n";

    // Anti-aliasing: the first method that applies to this target. DLSS
    // and FSR 4 are Windows files: a native Linux game has neither.
    const bool linux_arm64 = target && std::string_view(target->name) == "linux_arm64";
    const bool native_windows = native && upscaler_dlls_native;
    if (s.aa_dlss && native_windows) {
        out += "ZQR_DLSS=1\nZQR_TAA=1\n";
    } else if (s.aa_fsr4 && native_windows && fsr4_present()) {
        out += fmt("ZQR_FSR=4\nZQR_FSR4_DLL=%s\nZQR_FSR_DLL=%s\n", path_join({fsr4_dir(), "amd_fidelityfx_loader_vk.dll"}),
                   data_path({"tools", "amd_fidelityfx_vk.dll"}));
    } else if (s.aa_fsr && native) {
        out += fmt("ZQR_FSR=1\nZQR_FSR_DLL=%s\n", data_path({"tools", "amd_fidelityfx_vk.dll"}));
    } else if (s.aa_fsr && linux_arm64) {
        out += "ZQR_FSR=1\n";   // the library lies beside the game there
    } else if (s.aa_taa && !android) {
        out += "ZQR_TAA=1\n";
    } else if (s.aa_fxaa && s.aa_quality >= 2) {
        out += fmt("ZQR_FXAA=%d\n", s.aa_quality);
    }

    int64_t pipe = android ? s.pipe_threads : pipe_thread_count(s.pipe_threads, core_count());
    out += fmt("ZQR_VK_PIPE_THREADS=%d\n", pipe);
}

std::string cfg_text() {
    const Settings s = settings_copy();
    std::string out = "# Quillmarsh's settings, written by the launcher's Build (the environment overrides them)\n";
    out += fmt("ZQR_GAME_DIR=%s\n", s.game_dir);
    out += fmt("ZQR_EXE=%s\n", path_join({s.game_dir, "amber_data", "prog", "win", "bin", "efsagaimg.exe"}));
    out += fmt("ZQR_CDRIVE=%s\n", data_path({"cdrive"}));
    out += fmt("ZQR_STEAM_HELPER=%s\n", data_path({"tools", "steamhelper.exe"}));
    cfg_game_lines(out, nullptr);
    return out;
}

bool cfg_write_file(std::string_view folder, Cfg_When when, std::string* err) {
    std::string path = path_join({folder, cfg_file_name});
    // Held from the settings snapshot to the end of the write: two writers
    // that truncate and write the same file at once would interleave.
    std::lock_guard<std::mutex> guard(g_write_lock);
    if (when == Cfg_When::If_Present && !file_exists(path)) return false;
    std::string text = cfg_text();
    if (g_write_hook) g_write_hook();
    return fs_write_atomic(path, text, err);
}

bool cfg_write(std::string_view folder, std::string* err) { return cfg_write_file(folder, Cfg_When::Always, err); }

namespace {

// The window's rewrites, at normal priority: the build and the game start
// wait for them.
Later_Writer& cfg_rewriter() {
    static Later_Writer w;
    return w;
}

}  // namespace

void cfg_rewrite_later(std::string_view folder) {
    later_writer_request(cfg_rewriter(), [folder = std::string(folder)] {
        cfg_write_file(folder, Cfg_When::If_Present);
        return Later_Write{};
    });
}

void cfg_rewrite_wait() { later_writer_wait(cfg_rewriter()); }

bool cfg_rewrite_pending() { return later_writer_pending(cfg_rewriter()); }

Cfg_Map cfg_parse(std::string_view text) {
    Cfg_Map map;
    for (std::string_view line : split_at(text, '\n')) {
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        std::string key(line.substr(0, eq));
        std::string value = eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
        map.insert_or_assign(std::move(key), std::move(value));
    }
    return map;
}

bool cfg_int(const Cfg_Map& map, std::string_view key, int64_t min, int64_t max, int64_t& out) {
    auto it = map.find(key);
    if (it == map.end()) return false;
    int64_t v = 0;
    if (!parse_int(it->second, v) || v < min || v > max) return false;
    out = v;
    return true;
}

// "on unless 0": an empty value or "0" is off, anything else on.
static bool on_unless_0(std::string_view value) { return !(value.empty() || value == "0"); }

static void apply_menu_keys(Settings& s, const Cfg_Map& keys, const Game_State& game) {
    auto value = [&](std::string_view key, std::string_view& out, bool trimmed = true) {
        auto it = keys.find(key);
        if (it == keys.end()) return false;
        out = trimmed ? trim_space(it->second) : std::string_view(it->second);
        return true;
    };
    std::string_view v;
    if (value("ZQR_FULLSCREEN", v)) s.fullscreen = on_unless_0(v);
    if (value("ZQR_STRETCH", v)) s.stretch = on_unless_0(v);
    if (value("ZQR_HDR", v)) s.hdr = on_unless_0(v);
    if (value("ZQR_MINIMAP_CIRCLE", v)) s.minimap_circle = v == "1";
    cfg_int(keys, "ZQR_HDR_PEAK", 400, 4000, s.hdr_peak);
    cfg_int(keys, "ZQR_HDR_PAPER", 80, 400, s.hdr_paper);
    if (value("ZQR_FPS", v)) {
        int64_t fps = 0;
        if (v == "max" || v == "vsync") s.fps = -1;
        else if (parse_int(v, fps) && std::find(std::begin(fps_values), std::end(fps_values), fps) != std::end(fps_values))
            s.fps = fps;
    }
    int64_t n = 0;
    if (value("ZQR_VK_ANISO", v)) s.aniso = parse_int(v, n) && n >= 2;
    if (value("ZQR_VK_HALF_FX", v)) s.fx_full = parse_int(v, n) && n == 0;
    if (value("ZQR_NO_SHADOWS", v)) {
        if (on_unless_0(v)) s.shadow_res = 0;
        else if (s.shadow_res == 0) s.shadow_res = 512;
    }
    if (value("ZQR_NO_AUDIO", v)) s.audio = !on_unless_0(v);
    // These two are read as the game writes them, without trimming.
    if (value("ZQR_VIBRATION", v, false)) s.vibration = v != "0";
    if (value("ZQR_CUTSCENE_BLUR", v, false)) s.cutscene_blur = v != "0";
    if (value("ZQR_PAD_ONCE", v)) s.pad_once = on_unless_0(v);
    // A copy with nothing to play gets the line from the writer by itself.
    bool nothing_to_play = game.checked && game.ok && !game.some_converted && !game.convertible;
    if (value("ZQR_SKIP_MOVIES", v) && !nothing_to_play) s.skip_movies = on_unless_0(v);
    if (value("ZQR_MOVIE_COLORS", v)) s.movie_original = v == "0" || v == "original";
    cfg_int(keys, "ZQR_VOL_MUSIC", 0, 100, s.vol_music);
    cfg_int(keys, "ZQR_VOL_SFX", 0, 100, s.vol_sfx);
    cfg_int(keys, "ZQR_VOL_VOICE", 0, 100, s.vol_voice);
    cfg_int(keys, "ZQR_MOUSE_SENS", 20, 400, s.mouse_sens);
    cfg_int(keys, "ZQR_GUI_SCALE", 50, 200, s.gui_scale);
    // Only what settings.txt keeps when it is read again, or the game's
    // choice would be lost at the next start.
    cfg_int(keys, "ZQR_MOVIE_BRIGHTNESS", 50, 150, s.movie_brightness);
    cfg_int(keys, "ZQR_MOVIE_CONTRAST", 50, 150, s.movie_contrast);
    cfg_int(keys, "ZQR_MOVIE_SATURATION", 0, 200, s.movie_saturation);

    bool has_fxaa = keys.contains("ZQR_FXAA");
    if (!(keys.contains("ZQR_DLSS") || keys.contains("ZQR_FSR") || keys.contains("ZQR_TAA") || has_fxaa)) return;
    auto number = [&](std::string_view key) {
        int64_t x = 0;
        auto it = keys.find(key);
        if (it == keys.end() || !parse_int(it->second, x)) return int64_t(0);
        return x;
    };
    int64_t d = number("ZQR_DLSS"), f = number("ZQR_FSR"), t = number("ZQR_TAA");
    auto set_aa = [&](bool fxaa, bool taa, bool fsr, bool fsr4, bool dlss) {
        s.aa_fxaa = fxaa, s.aa_taa = taa, s.aa_fsr = fsr, s.aa_fsr4 = fsr4, s.aa_dlss = dlss;
    };
    std::string_view fxaa;
    if (has_fxaa) value("ZQR_FXAA", fxaa);
    if (d > 0) set_aa(true, true, false, false, true);
    else if (f == 4) set_aa(true, true, true, true, false);
    else if (f > 0) set_aa(true, true, true, false, false);
    else if (t > 0) set_aa(true, true, false, false, false);
    else if (has_fxaa && !fxaa.empty()) {
        set_aa(true, false, false, false, false);
        int64_t q = 0;
        if (parse_int(fxaa, q)) s.aa_quality = q >= 8 ? 8 : q >= 4 ? 4 : q >= 2 ? 2 : 1;
    } else if (has_fxaa) {
        set_aa(false, false, false, false, false);   // MSAA
    }
}

bool cfg_import() {
    std::string folder = exe_dir();
    if (folder.empty()) return false;
    std::string text;
    if (!fs_read(path_join({folder, cfg_file_name}), text, nullptr, cfg_file_limit)) return false;
    Cfg_Map all = cfg_parse(text);
    auto menu = all.find("ZQR_MENU_KEYS");
    // The launcher never writes this key: a file without it has nothing of
    // the game's menus in it.
    if (menu == all.end()) return false;
    Cfg_Map keys;
    for (std::string_view name : split_at(trim_space(menu->second), ',')) {
        auto it = all.find(name);
        if (it != all.end()) keys.insert_or_assign(it->first, it->second);
    }

    const Game_State game = game_state_copy();
    std::string before, after;
    settings_edit([&](Settings& s) {
        before = settings_text(s);
        apply_menu_keys(s, keys, game);
        // The game's own anti-aliasing or shadow choice outlives the next load.
        settings_custom_when_off_preset(s);
        after = settings_text(s);
    });
    if (after != before) save_settings();
    return cfg_write_file(folder, Cfg_When::Always);
}
