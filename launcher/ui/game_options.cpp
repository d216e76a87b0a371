// The Game Options page: every option the built game reads from its
// configuration as it starts.
#include <algorithm>

#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/ui/options_page.h"
#include "launcher/ui/widgets.h"

namespace {

constexpr std::string_view no_build = "; no Build needed";

// The aspect groups in the order of the drop-down, as ranges of the
// resolution table.
struct Aspect_Group {
    const char* label;
    int64_t first, end;
    const char* note;
};
constexpr Aspect_Group aspect_groups[4] = {
    {"16:9", 0, 8, "The game's own shape"},
    {"16:10", 15, 22, "16:10: the whole screen, the view taller than at 16:9 (movies keep thin bars)"},
    {"Ultrawide", 8, 15, "21:9 and 32:9: the 3D drawn across the whole width"},
    {"4:3", 22, 28,
     "4:3: the whole screen, the view taller than at 16:9 (the HUD keeps its 16:9 shape; movies letterboxed)"},
};
constexpr int64_t default_resolution = 2;   // 1280 x 720

int64_t aspect_of(int64_t resolution) {
    for (int64_t g = 0; g < 4; ++g) {
        if (resolution >= aspect_groups[g].first && resolution < aspect_groups[g].end) return g;
    }
    return 0;
}

int64_t shown_resolution(int64_t r) { return r >= 0 && r < resolution_count ? r : default_resolution; }

// The entry of the group nearest in height to `from` (the first on a tie);
// the two smallest 16:9 sizes give way to 1280 x 720.
int64_t resolution_for_group(int64_t from, int64_t group) {
    const Aspect_Group& g = aspect_groups[group];
    int64_t height = resolutions[shown_resolution(from)].height;
    int64_t best = g.first;
    int64_t best_gap = -1;
    for (int64_t i = g.first; i < g.end; ++i) {
        int64_t gap = resolutions[i].height > height ? resolutions[i].height - height : height - resolutions[i].height;
        if (best_gap < 0 || gap < best_gap) {
            best = i;
            best_gap = gap;
        }
    }
    if (group == 0 && best < default_resolution) best = default_resolution;
    return best;
}

const char* const graphics_notes[5] = {
    "No shadows, no anti-aliasing: the fastest",
    "Low-resolution shadows, 2x FXAA",
    "The game's shadows, 4x FXAA",
    "The sharpest shadows, 8x FXAA: costly on the GPU",
    "Shadows and anti-aliasing as set below",
};

constexpr int64_t shadow_values[6] = {0, 512, 1024, 2048, 4096, 8192};
constexpr int64_t quality_values[4] = {1, 2, 4, 8};

struct Aa_Method {
    const char* label;
    const char* note;
};
constexpr Aa_Method aa_methods[6] = {
    {"MSAA", "Multisampling: costly on integrated GPUs"},
    {"FXAA (Default)", "A cheap filter on the 3D image (not the HUD)"},
    {"TAA", "Temporal: smooth edges and less shimmer, a little softer"},
    {"FSR 3.1", "AMD FSR 3.1 at native resolution (temporal; AMD's DLL)"},
    {"FSR 4 (AMD)",
     "AMD FSR 4 at native resolution (the Radeons AMD supports; AMD's files downloaded once; FSR 3.1 on other GPUs)"},
    {"DLSS 4.5 (NVIDIA)",
     "NVIDIA DLSS 4.5 at native resolution (RTX GPUs; compiled in: the next Build downloads NVIDIA's files; TAA "
     "elsewhere)"},
};

int64_t aa_method_of(const Settings& s) {
    if (s.aa_dlss) return 5;
    if (s.aa_fsr4) return 4;
    if (s.aa_fsr) return 3;
    if (s.aa_taa) return 2;
    if (s.aa_fxaa) return 1;
    return 0;
}

template <size_t N>
int64_t index_of(const int64_t (&values)[N], int64_t v, int64_t fallback) {
    for (size_t i = 0; i < N; ++i) {
        if (values[i] == v) return int64_t(i);
    }
    return fallback;
}

// A toggle row with a note for each state.
void toggle_row(Options_Page& o, std::string_view label, std::string_view id, bool Settings::*field,
                std::string_view note_on, std::string_view note_off) {
    Row_Rects r = options_row(o, label);
    Toggle_Result t = toggle(o.ui, id, r.control, o.s.*field, !o.read_only);
    if (t.changed) options_set(o, field, t.value);
    options_note(o, r.hint, o.s.*field ? note_on : note_off, ui_hint);
}

// A two-entry drop-down bound to a flag (the second entry sets it).
void flag_dropdown_row(Options_Page& o, std::string_view label, std::string_view id, bool Settings::*field,
                       std::string_view off_label, std::string_view on_label, std::string_view note_off,
                       std::string_view note_on) {
    Row_Rects r = options_row(o, label);
    Dropdown_Result d = options_dropdown(o, id, r.control, {std::string(off_label), std::string(on_label)},
                                         o.s.*field ? 1 : 0, !o.read_only);
    if (d.changed) options_set(o, field, d.index == 1);
    options_note(o, r.hint, o.s.*field ? note_on : note_off, ui_hint);
}

struct Slider_Row {
    std::string_view label, id;
    int64_t Settings::*field;
    int64_t min, max, reset_to;
    std::string_view value_format;   // one %d (GUI scale: its own)
    int64_t value_width, reset_at;   // units
    std::string_view note;
    bool enabled;
    int64_t indent;
    bool fives;                      // GUI scale: a multiple of 5
};

void slider_row(Options_Page& o, const Slider_Row& row) {
    Ui_State& ui = o.ui;
    Row_Rects r = options_row(o, row.label, row.indent);
    int64_t v = o.s.*row.field;
    Slider_Result sr = slider(ui, row.id, r.control, v, row.min, row.max, row.enabled);
    if (sr.changed) {
        int64_t nv = row.fives ? (sr.value + 2) / 5 * 5 : sr.value;
        options_set(o, row.field, std::clamp(nv, row.min, row.max));
        v = o.s.*row.field;
    }
    std::string text = row.fives ? fmt(shown("%d.%02dx"), v / 100, v % 100) : fmt(shown(row.value_format), v);
    Font* f = ui.font;
    int64_t vw = px(ui, double(row.value_width));
    draw_text_at(ui, f, ellipsize(f, text, vw), r.hint.x, r.hint.y + (r.hint.h - line_height(f)) / 2,
                 row.enabled ? ui_text : ui_disabled_text, {r.hint.x, r.hint.y, vw, r.hint.h});
    int64_t note_x = px(ui, double(row.reset_at));
    if (v != row.reset_to) {
        Ui_Rect b{r.hint.x + note_x, r.hint.y + (r.hint.h - px(ui, 28)) / 2, px(ui, 80), px(ui, 28)};
        if (button(ui, b, "Reset", row.enabled)) options_set(o, row.field, row.reset_to);
        note_x += px(ui, 92);
    }
    options_note(o, {r.hint.x + note_x, r.hint.y, r.hint.w - note_x, r.hint.h}, row.note, ui_hint);
}

void display_rows(Options_Page& o) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "Display");

    int64_t res = shown_resolution(o.s.resolution);
    int64_t group = aspect_of(res);
    {
        Row_Rects r = options_row(o, "Aspect Ratio:");
        std::vector<std::string> labels;
        for (const Aspect_Group& g : aspect_groups) labels.emplace_back(g.label);
        Dropdown_Result d = options_dropdown(o, "aspect", r.control, labels, group, en);
        if (d.changed && d.index != group && d.index >= 0 && d.index < 4) {
            options_set(o, &Settings::resolution, resolution_for_group(res, d.index));
            res = o.s.resolution;
            group = d.index;
        }
        options_note(o, r.hint, aspect_groups[group].note, ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Resolution:");
        const Aspect_Group& g = aspect_groups[group];
        std::vector<std::string> labels;
        for (int64_t i = g.first; i < g.end; ++i) {
            labels.push_back(fmt(shown(i == default_resolution ? "%d x %d (Default)" : "%d x %d"),
                                 resolutions[i].width, resolutions[i].height));
        }
        Dropdown_Result d = options_dropdown(o, "resolution", r.control, labels, res - g.first, en, true);
        if (d.changed && d.index >= 0 && d.index < g.end - g.first) {
            options_set(o, &Settings::resolution, g.first + d.index);
            res = o.s.resolution;
        }
        std::string_view note = group == 2 ? "Ultrawide: in the game, F5 / F6 widen / narrow the field of view, F7 "
                                             "resets it; no Build needed"
                                : res == default_resolution
                                    ? "What the game renders at; the window can be resized; no Build needed"
                                : res < default_resolution
                                    ? "Lower is faster on the GPU, less sharp; the window can be resized; no Build needed"
                                    : "Higher costs GPU time; the window can be resized; no Build needed";
        options_note(o, r.hint, note, ui_hint);
    }
    flag_dropdown_row(o, "Window Scaling:", "scaling", &Settings::stretch, "Fit (Default)", "Stretch",
                      "Keeps the picture's shape: black bars in a window of another shape",
                      "Fills the window; the picture is squeezed if the window is another shape");
    toggle_row(o, "Start Fullscreen:", "fullscreen", &Settings::fullscreen,
               "Borderless fullscreen from the start; F11 in the game switches to a window; no Build needed",
               "A window to begin with; F11 in the game switches to fullscreen");
    toggle_row(o, "HDR:", "hdr", &Settings::hdr,
               "HDR10 when the display is in HDR (Windows: Settings > Display > Use HDR); else SDR as always; no "
               "Build needed",
               "The game's own SDR picture");
    if (o.s.hdr) {
        int64_t indent = px(ui, 24);
        slider_row(o, {"Peak Brightness:", "hdr_peak", &Settings::hdr_peak, 400, 4000, 1000, "%d nits", 90, 94,
                       "Your display's brightest (nits): highlights reach it", en, indent, false});
        slider_row(o, {"Paper White:", "hdr_paper", &Settings::hdr_paper, 80, 400, 200, "%d nits", 90, 94,
                       "How bright the game's white and the HUD are (nits)", en, indent, false});
    }
    {
        Row_Rects r = options_row(o, "FPS:");
        std::vector<std::string> labels = {"30", "60", "Uncapped (VSync)", "120", "144", "165", "240"};
        int64_t index = index_of(fps_values, o.s.fps, 1);
        Dropdown_Result d = options_dropdown(o, "fps", r.control, labels, index, en);
        if (d.changed && d.index >= 0 && d.index < 7) options_set(o, &Settings::fps, fps_values[d.index]);
        int64_t fps = o.s.fps;
        if (fps == -1) {
            options_note(o, r.hint, "The display's refresh rate (VSync on)", ui_hint);
        } else if (fps > 60) {
            options_note(o, r.hint, "Needs a display at least that fast (VSync on)", ui_hint);
        }
    }
}

void graphics_rows(Options_Page& o) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "Graphics");
    {
        Row_Rects r = options_row(o, "Graphics:");
        int64_t index = std::clamp<int64_t>(o.s.graphics, 0, 4);
        Dropdown_Result d = options_dropdown(
            o, "graphics", r.control, {"Ultrafast (Worst Quality)", "Fast", "Fancy (Default)", "Ultrafancy", "Custom"},
            index, en);
        if (d.changed && d.index >= 0 && d.index <= 4) {
            options_set(o, &Settings::graphics, d.index);
            if (d.index < 4) {
                options_set(o, &Settings::shadow_res, graphics_presets[d.index].shadow_res);
                options_set(o, &Settings::aa_quality, graphics_presets[d.index].aa_quality);
                options_set(o, &Settings::aa_fxaa, true);
                options_set(o, &Settings::aa_taa, false);
                options_set(o, &Settings::aa_fsr, false);
                options_set(o, &Settings::aa_dlss, false);
                options_set(o, &Settings::aa_fsr4, false);
            }
            index = d.index;
        }
        options_note(o, r.hint, fmt("%s%s", shown(graphics_notes[index]), shown(no_build)), ui_hint);
    }
    // The custom rows follow the choice as it was when the frame began.
    if (o.at_start.graphics == 4) {
        int64_t indent = px(ui, 24);
        {
            Row_Rects r = options_row(o, "Shadow Resolution:", indent);
            std::vector<std::string> labels = {std::string(shown("Off (No Shadows)")), fmt("%d x %d", 512, 512),
                                               std::string(shown("1024 x 1024 (Default)"))};
            for (int64_t size : {2048, 4096, 8192}) labels.push_back(fmt("%d x %d", size, size));
            Dropdown_Result d =
                options_dropdown(o, "shadow", r.control, labels, index_of(shadow_values, o.s.shadow_res, 2), en, true);
            if (d.changed && d.index >= 0 && d.index < 6) options_set(o, &Settings::shadow_res, shadow_values[d.index]);
            options_note(o, r.hint, "Sharper shadows cost GPU time; Off is the fastest", ui_hint);
        }
        {
            Row_Rects r = options_row(o, "Anti-alias Method:", indent);
            std::vector<std::string> labels;
            for (const Aa_Method& m : aa_methods) labels.emplace_back(m.label);
            int64_t method = aa_method_of(o.s);
            Dropdown_Result d = options_dropdown(o, "aa_method", r.control, labels, method, en);
            if (d.changed && d.index >= 0 && d.index < 6) {
                int64_t m = d.index;
                options_set(o, &Settings::aa_fxaa, m >= 1);
                options_set(o, &Settings::aa_taa, m >= 2);
                options_set(o, &Settings::aa_fsr, m == 3 || m == 4);
                options_set(o, &Settings::aa_dlss, m == 5);
                options_set(o, &Settings::aa_fsr4, m == 4);
                bool present = o.app.procs.fsr4_present && o.app.procs.fsr4_present();
                if (m == 4 && !present && o.app.procs.task_start) {
                    o.app.procs.task_start("Download FSR 4", fsr4_task, 0);
                }
                method = m;
            }
            options_note(o, r.hint, aa_methods[method].note, ui_hint);
        }
        if (!o.s.aa_taa) {
            Row_Rects r = options_row(o, "Anti-alias Quality:", indent);
            Dropdown_Result d = options_dropdown(o, "aa_quality", r.control, {"1x (Off)", "2x", "4x (Default)", "8x"},
                                                 index_of(quality_values, o.s.aa_quality, 2), en);
            if (d.changed && d.index >= 0 && d.index < 4) options_set(o, &Settings::aa_quality, quality_values[d.index]);
            options_note(o, r.hint,
                         o.s.aa_fxaa ? "FXAA strength: higher smooths longer edges"
                                     : "Samples per pixel (up to what the GPU has)",
                         ui_hint);
        }
    }
    flag_dropdown_row(o, "Effects Resolution:", "fx_res", &Settings::fx_full, "Half (Default)", "Full",
                      "Battle effects cost a quarter of the GPU time, a little softer; no Build needed",
                      "Effects as sharp as the rest; costly in battle on integrated GPUs");
    toggle_row(o, "Anisotropic Filtering:", "aniso", &Settings::aniso,
               "16x: ground and walls stay sharp at a distance; no Build needed",
               "The game's own texture filtering (blurrier at a distance); no Build needed");
    flag_dropdown_row(o, "Minimap Shape:", "minimap_shape", &Settings::minimap_circle, "Default", "Circle",
                      "The game's own tilted oval minimap, as released",
                      "The field minimap narrowed to a near circle; no Build needed");
    slider_row(o, {"GUI Scale:", "gui_scale", &Settings::gui_scale, 50, 200, 100, "", 56, 60,
                   "The battle HUD and menus, and the field's centred menus and button prompts", en, 0, true});
}

void audio_rows(Options_Page& o) {
    bool en = !o.read_only;
    options_section(o, "Audio & Controls");
    toggle_row(o, "Audio:", "audio", &Settings::audio, "Music, sound and voices",
               "No audio work at all (play your own music)");
    bool volumes = en && o.s.audio;
    slider_row(o, {"Music:", "vol_music", &Settings::vol_music, 0, 100, 100, "%d%%", 56, 60,
                   "The soundtrack (and a cutscene's music and effects)", volumes, 0, false});
    slider_row(o, {"Sound Effects:", "vol_sfx", &Settings::vol_sfx, 0, 100, 100, "%d%%", 56, 60,
                   "Effects, menus, footsteps and surroundings", volumes, 0, false});
    slider_row(o, {"Voices:", "vol_voice", &Settings::vol_voice, 0, 100, 100, "%d%%", 56, 60,
                   "Speech: battle calls, field talk and cutscene dialogue", volumes, 0, false});
    slider_row(o, {"Mouse Sensitivity:", "mouse_sens", &Settings::mouse_sens, 20, 400, 100, "%d%%", 56, 60,
                   "The camera's speed with a mouse (Android: the right side of the touch screen)", en, 0, false});
    toggle_row(o, "Vibration:", "vibration", &Settings::vibration,
               "The controller vibrates when the party is hit and when its attacks land", "No controller vibration");
    flag_dropdown_row(o, "Gamepad Scanning:", "pad_scan", &Settings::pad_once, "Every 2 seconds (Default)", "Once",
                      "A controller plugged in while playing is found within 2 seconds",
                      "Only the controllers there at the start (plug one in: restart the game)");
}

constexpr std::string_view movie_files_tip =
    "EMBERFALL SAGA's cutscenes are Bink 2 videos (the .wmp files in amber_data/movie). Only the kinds your game "
    "folder has are offered.\n\nBink2: the game's own videos, played by its own Bink library (bink2w32.dll, "
    "translated like the game). Nothing to convert.\nMP4: the MP4s Convert Movies made from them, played by FFmpeg "
    "(Windows, Linux, macOS) or the system's decoder (Android). Discard Movies removes the .wmp files afterwards, "
    "leaving MP4 the only choice.\n\nNeither there (the .wmp files discarded or missing, and no MP4s): every "
    "cutscene is skipped. Have Steam re-install the game (or verify its files) to get them back.";
constexpr std::string_view cutscenes_tip =
    "Play: each cutscene plays from the files Cutscene Files chooses. With MP4, a cutscene that has no MP4 yet is "
    "skipped (Convert Movies on the Home tab makes them all).\nAuto-skip: every cutscene is skipped (for replays and "
    "speedruns). They play again if you switch back (with a new Build).";

void cutscene_rows(Options_Page& o) {
    bool en = !o.read_only;
    options_section(o, "Cutscenes");
    Game_State g = o.app.procs.game_state ? o.app.procs.game_state() : Game_State{};
    bool known = g.checked && g.ok;
    bool bink = g.convertible, mp4 = g.some_converted;
    auto kind_in_use = [&] {
        if (!known) return o.s.movie_bink ? 2 : 1;
        if (o.s.movie_bink && bink) return 2;
        if (mp4) return 1;
        return bink ? 2 : 0;
    };
    int k = kind_in_use();
    {
        Row_Rects r = options_row(o, "Cutscene Files:");
        if (k == 0) {
            options_dropdown(o, "movie_files", r.control, {"None found"}, 0, false);
            options_note(o, r.hint, "No cutscene files: re-install the game fresh from Steam for cutscenes to work",
                         ui_error);
        } else {
            std::vector<std::string> labels;
            std::vector<int> kinds;
            if (!known || mp4) {
                labels.emplace_back("MP4");
                kinds.push_back(1);
            }
            if (!known || bink) {
                labels.emplace_back("Bink2");
                kinds.push_back(2);
            }
            int64_t index = 0;
            for (size_t i = 0; i < kinds.size(); ++i) {
                if (kinds[i] == k) index = int64_t(i);
            }
            Dropdown_Result d = options_dropdown(o, "movie_files", r.control, labels, index, en);
            if (d.changed && d.index >= 0 && d.index < int64_t(kinds.size())) {
                options_set(o, &Settings::movie_bink, kinds[size_t(d.index)] == 2);
                k = kind_in_use();
            }
            options_note(o, r.hint,
                         k == 2 ? "The game's own Bink 2 videos, no conversion; no Build needed"
                                : "The MP4s Convert Movies made; no Build needed",
                         ui_hint);
        }
        tooltip(o.ui, "movie_files", r.control, movie_files_tip);
    }
    {
        Row_Rects r = options_row(o, "Cutscenes:");
        int64_t index = o.s.skip_movies || (known && !bink && !mp4) ? 1 : 0;
        Dropdown_Result d = options_dropdown(o, "cutscenes", r.control,
                                             {k == 2 ? "Play" : "Play if converted", "Auto-skip"}, index, en && k != 0);
        if (d.changed && (d.index == 0 || d.index == 1)) options_set(o, &Settings::skip_movies, d.index == 1);
        options_note(o, r.hint, k != 0 ? "Hover for how cutscenes work" : "No cutscene files to play", ui_hint);
        tooltip(o.ui, "cutscenes", r.control, cutscenes_tip);
    }
    toggle_row(o, "Cutscene Blur:", "cutscene_blur", &Settings::cutscene_blur,
               "Cutscenes blur their backgrounds as the game made them",
               "Cutscenes are drawn sharp: no depth of field or blur");
}

void other_rows(Options_Page& o) {
    bool en = !o.read_only;
    options_section(o, "Steam");
    {
        Row_Rects r = options_row(o, "Steam Integration:");
        Toggle_Result t = toggle(o.ui, "steam", r.control, !o.s.steam_off, en);
        if (t.changed) options_set(o, &Settings::steam_off, !t.value);
        options_note(o, r.hint,
                     o.s.steam_off ? "No achievements or cloud saves; Steam does not show the game as running"
                                   : "Achievements and the overlay (Shift+Tab) while Steam runs; no Build needed",
                     ui_hint);
    }
    options_section(o, "Performance");
    {
        Row_Rects r = options_row(o, "Pipeline Build Threads:");
        int64_t cores = o.app.procs.core_count ? o.app.procs.core_count() : 1;
        int64_t n = std::min<int64_t>(std::max<int64_t>(cores - 1, 1), 16);
        int64_t best = std::min<int64_t>(std::max<int64_t>(cores / 2, 1), 8);
        std::vector<std::string> labels;
        for (int64_t i = 1; i <= n; ++i) labels.push_back(fmt(shown(i == best ? "%d (Best)" : "%d"), i));
        int64_t pick = o.s.pipe_threads != 0 ? std::min(o.s.pipe_threads, n) : std::min<int64_t>(best, 8);
        pick = std::clamp<int64_t>(pick, 1, n);
        Dropdown_Result d = options_dropdown(o, "pipes", r.control, labels, pick - 1, en, true);
        if (d.changed && d.index >= 0 && d.index < n) {
            int64_t chosen = d.index + 1;
            options_set(o, &Settings::pipe_threads, chosen == best ? int64_t(0) : chosen);
        }
        options_note(o, r.hint, "Threads preparing new graphics effects in the background; no Build needed", ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Memory:");
        Dropdown_Result d =
            options_dropdown(o, "memory", r.control, {"2GB", "4GB (Recommended)"}, o.s.memory_2gb ? 0 : 1, en);
        if (d.changed && (d.index == 0 || d.index == 1)) options_set(o, &Settings::memory_2gb, d.index == 0);
        options_note(o, r.hint,
                     o.s.memory_2gb ? "The 2 GB the original exe gets; no Build needed"
                                    : "The address space a 4 GB-patched exe gets; no Build needed",
                     ui_hint);
    }
    if (o.s.tools) {
        toggle_row(o, "Profiler:", "profiler", &Settings::profiler,
                   "On: F12 in the game starts and stops a capture; the report is saved beside the game",
                   "Off: F12 does nothing");
    }
}

}  // namespace

void game_options_rows(Options_Page& o) {
    display_rows(o);
    graphics_rows(o);
    audio_rows(o);
    cutscene_rows(o);
    other_rows(o);
    // Every change of this page is read by the game from its configuration.
    if (o.changed) o.cfg = true;
}
