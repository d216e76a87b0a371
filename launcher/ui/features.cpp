// The Features & Mods page: the settings that change the game without a new
// build, the state of every imported mod, its imports and model tasks.
#include <algorithm>
#include <atomic>
#include <memory>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "launcher/ui/features.h"
#include "launcher/ui/options_page.h"
#include "launcher/ui/widgets.h"

namespace {

constexpr std::string_view buttons_page =
    "https://www.nexusmods.com/emberfallsaga/mods/3?tab=files&file_id=12";
constexpr std::string_view hard_page = "https://www.nexusmods.com/emberfallsaga/mods/4?tab=files";
constexpr std::string_view hdm_page = "https://www.nexusmods.com/emberfallsaga/mods/5?tab=files";
constexpr std::string_view sculpt_page = "https://www.nexusmods.com/emberfallsaga/mods/6?tab=files";

// Sets a field of the page's copy and of the live record.
template <class F>
void edit(Options_Page& o, F change) {
    change(o.s);
    settings_edit(change);
    o.changed = true;
}

// The Import and Get buttons of a mod's row, at the left of its control
// area and running on into the hint; returns the rest of the hint.
Ui_Rect import_get(Options_Page& o, const Row_Rects& r, bool imported, std::string_view label,
                   std::string_view again, std::string_view page, int64_t extra = 0, Ui_Rect* extra_rect = nullptr) {
    Ui_State& ui = o.ui;
    int64_t h = px(ui, 32);
    int64_t y = r.control.y + (r.control.h - h) / 2;
    int64_t x = r.control.x;
    Ui_Rect imp{x, y, button_width(ui, imported ? again : label, px(ui, 110)), h};
    if (button(ui, imp, imported ? again : label, !o.read_only)) {
        o.app.shared.pick_mode = Pick_Mode::Mod_Archive;
        o.app.shared.pick_saves = 0;
        if (o.app.procs.pick_with_dialog) o.app.procs.pick_with_dialog(o.app);
    }
    x += imp.w + px(ui, 8);
    if (extra > 0) {
        if (extra_rect) *extra_rect = {x, y, extra, h};
        x += extra + px(ui, 8);
    }
    Ui_Rect get{x, y, px(ui, 60), h};
    if (button(ui, get, "Get", true) && o.app.procs.shell_open) o.app.procs.shell_open(page);
    int64_t right = get.x + get.w + px(ui, 12);
    int64_t hint_right = r.hint.x + r.hint.w;
    int64_t left = std::max(right, r.hint.x);
    return {left, r.hint.y, std::max<int64_t>(hint_right - left, 0), r.hint.h};
}

const char* region_language(std::string_view region) { return region == "c" ? "Japanese" : "English"; }

void language_rows(Options_Page& o) {
    bool en = !o.read_only;
    options_section(o, "Language");
    {
        Row_Rects r = options_row(o, "Voice:");
        Dropdown_Result d = options_dropdown(o, "voice", r.control, {"English", "Japanese"}, o.s.voice_japanese ? 1 : 0, en);
        if (d.changed) options_set(o, &Settings::voice_japanese, d.index == 1);
        options_note(o, r.hint, "The spoken language, cutscenes included", ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Subtitles & UI:");
        std::vector<std::string> labels = {"English", "Japanese", "French", "German", "Italian", "Spanish"};
        if (o.app.procs.game_state && o.app.procs.game_state().edition == "JP") {
            labels.emplace_back("Korean");
            labels.emplace_back("Traditional Chinese");
        }
        int64_t n = int64_t(labels.size());
        int64_t index = o.s.subtitles >= 0 && o.s.subtitles < n ? o.s.subtitles : 0;
        Dropdown_Result d = options_dropdown(o, "subtitles", r.control, labels, index, en);
        if (d.changed && d.index >= 0 && d.index < n) options_set(o, &Settings::subtitles, d.index);
        options_note(o, r.hint, "The language of subtitles, menus and all other text", ui_hint);
    }
}

struct Movie_Slider {
    std::string_view label, id;
    int64_t Settings::*field;
    int64_t min, max;
    std::string_view note;
};
constexpr Movie_Slider movie_sliders[3] = {
    {"Brightness:", "movie_brightness", &Settings::movie_brightness, 50, 150,
     "Cutscene brightness (a gain: black stays black)"},
    {"Contrast:", "movie_contrast", &Settings::movie_contrast, 50, 150, "Cutscene contrast, about mid-gray"},
    {"Saturation:", "movie_saturation", &Settings::movie_saturation, 0, 200,
     "Cutscene color strength (0%: black and white)"},
};

void cutscene_rows(Options_Page& o) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "Cutscenes");
    {
        Row_Rects r = options_row(o, "Cutscene Colors:");
        Dropdown_Result d =
            options_dropdown(o, "movie_colors", r.control, {"Corrected", "Original"}, o.s.movie_original ? 1 : 0, en);
        if (d.changed) options_set(o, &Settings::movie_original, d.index == 1);
        options_note(o, r.hint,
                     o.s.movie_original
                         ? "As the PC release shows them: dark scenes crushed to black, bright ones blown out"
                         : "The cutscenes' full color range, as encoded: detail kept in dark and bright scenes",
                     ui_hint);
    }
    for (const Movie_Slider& m : movie_sliders) {
        Row_Rects r = options_row(o, m.label);
        int64_t v = std::clamp(o.s.*m.field, m.min, m.max);
        Slider_Result sr = slider(ui, m.id, r.control, v, m.min, m.max, en);
        // The value follows the drag; the frame writes the files once the
        // slider lets go of the mouse.
        if (sr.changed) options_set(o, m.field, std::clamp(sr.value, m.min, m.max));
        v = o.s.*m.field;
        Font* f = ui.font;
        draw_text_at(ui, f, ellipsize(f, fmt("%d%%", v), px(ui, 56)), r.hint.x,
                     r.hint.y + (r.hint.h - line_height(f)) / 2, en ? ui_text : ui_disabled_text,
                     {r.hint.x, r.hint.y, px(ui, 56), r.hint.h});
        int64_t note_x = px(ui, 60);
        if (v != 100) {
            Ui_Rect b{r.hint.x + note_x, r.hint.y + (r.hint.h - px(ui, 28)) / 2, px(ui, 80), px(ui, 28)};
            if (button(ui, b, "Reset", en)) options_set(o, m.field, int64_t(100));
            note_x += px(ui, 92);
        }
        options_note(o, {r.hint.x + note_x, r.hint.y, std::max<int64_t>(r.hint.w - note_x, 0), r.hint.h}, m.note,
                     ui_hint);
    }
}

void save_rows(Options_Page& o) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "Save Folders");
    // A Remove click is kept until the list has been drawn: the rows below
    // it are still drawn from the list as it was.
    int64_t remove = -1;
    const std::vector<std::string> dirs = o.s.save_dirs;
    int64_t row_h = options_row_height(ui);
    for (size_t i = 0; i < dirs.size(); ++i) {
        Ui_Rect row{o.area.x, o.area.y + o.cursor, o.area.w, row_h};
        if (i > 0 && !ui.panel_effect) fill_rect(ui, {row.x, row.y, row.w, 1}, ui_rule);
        int64_t bw = button_width(ui, "Remove", px(ui, 80));
        Ui_Rect rm{row.x + row.w - bw, row.y + (row_h - px(ui, 32)) / 2, bw, px(ui, 32)};
        bool exists = fs_is_dir(dirs[i]);
        std::string count;
        uint32_t colour = ui_hint;
        if (exists) {
            int64_t n = count_saves(dirs[i]);
            count = n == 1 ? std::string(shown("1 .dat file")) : fmt(shown("%d .dat files"), n);
        } else {
            count = shown("Not found");
            colour = ui_error;
        }
        Font* f = ui.font;
        int64_t cw = text_width(f, count);
        int64_t count_x = rm.x - px(ui, 12) - cw;
        int64_t ty = row.y + (row_h - line_height(f)) / 2;
        // Folder and count share the row left of Remove.
        const Ui_Rect texts{row.x, row.y, std::max<int64_t>(rm.x - px(ui, 12) - row.x, 0), row_h};
        draw_text_at(ui, f, ellipsize(f, dirs[i], std::max<int64_t>(count_x - px(ui, 12) - row.x, 0)), row.x, ty,
                     ui_text, texts);
        draw_text_at(ui, f, count, count_x, ty, colour, texts);
        if (button(ui, rm, "Remove", en)) remove = int64_t(i);
        o.cursor += row_h;
        o.after_heading = 0;
    }
    if (remove >= 0) {
        edit(o, [remove](Settings& s) {
            if (remove < int64_t(s.save_dirs.size())) s.save_dirs.erase(s.save_dirs.begin() + remove);
        });
    }
    if (dirs.empty()) {
        Font* f = ui.font;
        draw_text_at(ui, f, shown("No folders added"), o.area.x, o.area.y + o.cursor + (row_h - line_height(f)) / 2,
                     ui_hint, {o.area.x, o.area.y + o.cursor, o.area.w, row_h});
        o.cursor += row_h;
    }
    Row_Rects r = options_row(o, "");
    Ui_Rect add{r.row.x, r.row.y + (r.row.h - px(ui, 32)) / 2, button_width(ui, "Add Folder…", px(ui, 160)),
                px(ui, 32)};
    if (button(ui, add, "Add Folder…", en)) {
        o.app.shared.pick_mode = Pick_Mode::Save_Folder;
        o.app.shared.pick_saves = 1;
        if (o.app.procs.pick_with_dialog) o.app.procs.pick_with_dialog(o.app);
    }
    int64_t nx = add.x + add.w + px(ui, 16);
    options_note(o, {nx, r.row.y, std::max<int64_t>(r.row.x + r.row.w - nx, 0), r.row.h},
                 "Folders with save files (.dat) for the game to take in, besides Steam's; the newest copy of each "
                 "save wins",
                 ui_hint);
}

// The sizes an uninstall frees, measured on a worker: a folder of tens of
// gigabytes takes a while to walk.
void measure_uninstall(App& app, std::vector<std::string> paths) {
    auto result = std::make_shared<std::atomic<int64_t>>(-1);
    app.shared.uninstall_measure = result;
    app.shared.uninstall_bytes = -1;   // not known yet
    auto measure = [paths = std::move(paths), result] {
        int64_t total = 0;
        for (const std::string& p : paths) total += path_size(p);
        result->store(total);
    };
    // Without a thread the window waits for the walk once.
    if (!thread_start_detached(measure)) measure();
}

void hd_rows(Options_Page& o, const Features_State& f, bool importing, const std::string& step) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    Ui_Shared& sh = o.app.shared;
    options_section(o, "HD Textures");
    {
        Row_Rects r = options_row(o, "EF SAGA HD Project:");
        Ui_Rect un;
        Ui_Rect hint = import_get(o, r, f.hd_project, "Import ZIP…", "Import ZIP Again…", hd_project_page,
                                  px(ui, 80), &un);
        if (button(ui, un, "Uninstall", en && f.hd_left_real)) {
            measure_uninstall(o.app, f.hd_left);
            sh.uninstall_dialog = 1;
        }
        if (importing) {
            options_note(o, hint, fmt(shown("Importing: %s"), step), ui_accent);
        } else if (f.hd_project) {
            options_note(o, hint,
                         fmt(shown("Imported from %s (%s voices); the game's own files are unchanged"), f.hd_zip,
                             shown(region_language(f.hd_region))),
                         ui_hint);
        } else if (f.hd_left_real) {
            options_note(o, hint,
                         "A stopped import's files are kept: Import ZIP… goes on from them, Uninstall deletes them",
                         ui_hint);
        } else {
            options_note(o, hint,
                         "Get downloads the mod's ZIP (Nexus Mods); Import ZIP… puts its textures beside the game's "
                         "(about 25 GB free needed while it runs)",
                         ui_hint);
        }
    }
    {
        Row_Rects r = options_row(o, "HD Fonts & GUI:");
        Ui_Rect hint = import_get(o, r, f.hd_gui, "Import Archive…", "Import Archive Again…", hd_gui_page);
        if (f.hd_gui) {
            options_note(o, hint,
                         fmt(shown("Imported from %s (%s files): sharper fonts, menus and maps"), f.gui_archive,
                             f.gui_files),
                         ui_hint);
        } else {
            options_note(o, hint,
                         "Get downloads the mod (Nexus Mods: the standalone version); Import Archive… unpacks its "
                         "textures (about 3.5 GB) beside the game's",
                         ui_hint);
        }
    }
    {
        Row_Rects r = options_row(o, "HD Textures:");
        if (!f.hd_folder) {
            toggle(ui, "hd", r.control, false, false);
            options_note(o, r.hint, "Import an HD mod first", ui_hint);
        } else {
            Toggle_Result t = toggle(ui, "hd", r.control, o.s.hd || f.discarded, en && !f.discarded);
            if (t.changed && !f.discarded) options_set(o, &Settings::hd, t.value);
            std::string_view voice = o.s.voice_japanese ? "c" : "u";
            if (f.discarded) {
                options_note(o, r.hint,
                             "The game's original archives were discarded: the HD textures are always used", ui_hint);
            } else if (o.s.hd && f.hd_project && !f.hd_region.empty() && f.hd_region != voice) {
                options_note(o, r.hint,
                             fmt(shown("Imported for %s voices: with these voices the game's own textures are used "
                                       "(Import again)"),
                                 shown(region_language(f.hd_region))),
                             ui_hint);
            } else if (o.s.hd) {
                std::string_view what = f.hd_project && f.hd_gui ? "the HD Project's and the HD Fonts & GUI textures"
                                        : f.hd_project          ? "the HD Project's textures"
                                                                : "the HD Fonts & GUI textures";
                options_note(o, r.hint, fmt(shown("The game uses %s"), shown(what)), ui_hint);
            } else {
                options_note(o, r.hint, "The game's own textures", ui_hint);
            }
        }
    }
    {
        Row_Rects r = options_row(o, "Old Assets:");
        Ui_Rect b{r.control.x, r.control.y + (r.control.h - px(ui, 32)) / 2, r.control.w, px(ui, 32)};
        if (button(ui, b, "Discard Old Assets", en && f.hd_project && !f.discarded)) sh.assets_dialog = 1;
        if (f.discarded) {
            options_note(o, r.hint, "Discarded (Steam's Verify integrity of game files restores them)", ui_hint);
        } else if (f.hd_project) {
            options_note(o, r.hint,
                         with_decimal(shown("Frees about %.1f GB (the mod's ZIP and the game's replaced archives)"),
                                      double(f.old_bytes) / 1e9),
                         ui_hint);
        } else {
            options_note(o, r.hint,
                         "After an import: deletes the mod's ZIP and the game's archives the HD copies replace",
                         ui_hint);
        }
    }
}

void button_rows(Options_Page& o, const Features_State& f) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "Button Icons");
    {
        Row_Rects r = options_row(o, "Better Button Icons:");
        Ui_Rect hint = import_get(o, r, f.buttons, "Import ZIP…", "Import ZIP Again…", buttons_page);
        options_note(o, hint,
                     f.buttons ? "Imported: PlayStation and Xbox 360 icons"
                               : "Get downloads the mod's ZIP (Nexus Mods: Console Button Prompts); Import ZIP… takes "
                                 "its button icons",
                     ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Button Icons:");
        Toggle_Result t = toggle(ui, "button_icons", r.control, o.s.button_icons && f.buttons, en && f.buttons);
        if (t.changed && f.buttons) options_set(o, &Settings::button_icons, t.value);
        options_note(o, r.hint,
                     !f.buttons         ? "Import the mod first"
                     : o.s.button_icons ? "No controller: keyboard keys; a PlayStation controller: its buttons; any "
                                          "other: Xbox 360 buttons"
                                        : "The game's own prompts (as its settings say)",
                     ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Force Console Buttons:");
        int64_t index = std::clamp<int64_t>(o.s.force_buttons, 0, 4);
        Dropdown_Result d = options_dropdown(o, "force_buttons", r.control,
                                             {"Auto", "Keyboard", "Generic Buttons", "PS Buttons", "XB Buttons"},
                                             index, en);
        if (d.changed && d.index >= 0 && d.index <= 4) {
            options_set(o, &Settings::force_buttons, d.index);
            index = d.index;
        }
        std::string_view note = index == 0   ? "By the controllers plugged in"
                                : index == 1 ? "Always the keyboard's keys"
                                : index == 2 ? "Always the game's own controller buttons"
                                : f.buttons  ? "Always these, whatever is plugged in"
                                             : "Import the mod above for these icons (else the game's own)";
        options_note(o, r.hint, note, ui_hint);
    }
}

}  // namespace

// The preset whose choices equal these (1 ..), else 0 ("Custom").
int64_t hard_preset_of(const std::array<uint8_t, 8>& hard) {
    for (int p = 1; p < hard_preset_count; ++p) {
        if (std::equal(hard.begin(), hard.end(), hard_presets[p].choices.begin())) return p;
    }
    return 0;
}

namespace {

void hard_rows(Options_Page& o, const Features_State& f) {
    bool en = !o.read_only;
    options_section(o, "Hard Mode");
    {
        Row_Rects r = options_row(o, "Hard Mode Files:");
        Ui_Rect hint = import_get(o, r, f.hard, "Import ZIP…", "Import ZIP Again…", hard_page);
        options_note(o, hint,
                     f.hard ? "Imported: the options apply the next time the game starts (saves stay compatible)"
                            : "Get opens the mod's page (Nexus Mods: Gameplay Tweaks, its Hard Mode file); Import "
                              "ZIP… takes its files",
                     ui_hint);
    }
    if (!f.hard) return;
    {
        Row_Rects r = options_row(o, "Preset:");
        std::vector<std::string> labels;
        for (const Hard_Preset& p : hard_presets) labels.emplace_back(p.name);
        Dropdown_Result d = options_dropdown(o, "hard_preset", r.control, labels, hard_preset_of(o.s.hard), en);
        if (d.changed && d.index >= 1 && d.index < hard_preset_count) {
            int preset = int(d.index);
            edit(o, [preset](Settings& s) { hard_apply_preset(s, preset); });
        }
        options_note(o, r.hint,
                     "The mod's ReadMe's suggestions; Everything: all at their hardest. Off everywhere: the game as it "
                     "ships",
                     ui_hint);
    }
    for (int i = 0; i < hard_option_count; ++i) {
        const Hard_Option& h = hard_options[i];
        Row_Rects r = options_row(o, h.label);
        std::vector<std::string> labels(h.choices.begin(), h.choices.end());
        int64_t last = int64_t(labels.size()) - 1;
        int64_t index = std::min<int64_t>(o.s.hard[size_t(i)], last);
        Dropdown_Result d = options_dropdown(o, fmt("hard_%d", i), r.control, labels, index, en);
        if (d.changed && d.index >= 0 && d.index <= last) {
            uint8_t v = uint8_t(d.index);
            edit(o, [i, v](Settings& s) { s.hard[size_t(i)] = v; });
        }
        options_note(o, r.hint, h.description, ui_hint);
    }
}

// Starts a model task and shows its progress on Home.
void start_models(Options_Page& o, std::string_view name, Task_Proc proc) {
    if (proc && o.app.procs.task_start && o.app.procs.task_start(name, proc, 0)) {
        o.app.shared.current_page = Page::Home;
    }
}

void apply_row(Options_Page& o, std::string_view label, bool enabled, std::string_view name, Task_Proc proc,
               std::string_view note, uint32_t colour) {
    Ui_State& ui = o.ui;
    Row_Rects r = options_row(o, "");
    Ui_Rect b{r.row.x, r.row.y + (r.row.h - px(ui, 32)) / 2, px(ui, 160), px(ui, 32)};
    if (button(ui, b, label, enabled && proc)) start_models(o, name, proc);
    int64_t nx = b.x + b.w + px(ui, 16);
    options_note(o, {nx, r.row.y, std::max<int64_t>(r.row.x + r.row.w - nx, 0), r.row.h}, note, colour);
}

// Whether any model of a mod has been made, and whether every one matches
// what the rows ask for now.
struct Applied {
    bool any = false, all = true;
};

template <size_t N>
Applied applied_state(const std::array<std::string, N>& wanted, const std::array<std::string, N>& applied) {
    Applied a;
    for (size_t i = 0; i < N; ++i) {
        if (!applied[i].empty()) a.any = true;
        if (wanted[i] != applied[i]) a.all = false;
    }
    return a;
}

// The on/off row of a mod whose models are made by its Apply button: it can
// be turned on once something has been made.
void on_row(Options_Page& o, std::string_view label, std::string_view id, bool Settings::*field, bool made,
            std::string_view none, std::string_view on, std::string_view off) {
    Row_Rects r = options_row(o, label);
    Toggle_Result t = toggle(o.ui, id, r.control, o.s.*field, !o.read_only && made);
    if (t.changed) options_set(o, field, t.value);
    options_note(o, r.hint, !made ? none : o.s.*field ? on : off, ui_hint);
}

void hdm_rows(Options_Page& o, const Features_State& f) {
    Ui_State& ui = o.ui;
    bool en = !o.read_only;
    options_section(o, "HD Models+");
    {
        Row_Rects r = options_row(o, "HD Models+ Files:");
        Ui_Rect hint = import_get(o, r, f.hdm, "Import ZIP…", "Import ZIP Again…", hdm_page);
        options_note(o, hint,
                     f.hdm ? "Imported: the characters' models in the game's cutscene quality, or costumes"
                           : "Get opens the mod's page (Nexus Mods: EF SAGA HD Models Plus); Import ZIP… takes its "
                             "files",
                     ui_hint);
    }
    if (!f.hdm) return;
    Applied made = applied_state(f.hdm_asks, f.hdm_applied);
    on_row(o, "HD Models+:", "hd_models_on", &Settings::hd_models_on, made.any, "Apply HD Models below first",
           "The game uses the models made below", "The game's own models");
    bool all_applied = made.all;
    for (int i = 0; i < hdm_character_count; ++i) {
        const Hdm_Character& c = hdm_characters[i];
        Row_Rects r = options_row(o, fmt("%s:", c.name));
        std::vector<std::string> labels;
        for (const Hdm_Variant& v : c.variants) labels.emplace_back(v.label);
        int64_t n = int64_t(labels.size());
        int64_t index = o.s.hd_models[size_t(i)] < n ? o.s.hd_models[size_t(i)] : 0;
        Dropdown_Result d = options_dropdown(o, fmt("hdm_%d", i), r.control, labels, index, en);
        if (d.changed && d.index >= 0 && d.index < n) {
            uint8_t v = uint8_t(d.index);
            edit(o, [i, v](Settings& s) { s.hd_models[size_t(i)] = v; });
        }
        const std::string& asks = f.hdm_asks[size_t(i)];
        options_note(o, r.hint,
                     asks.empty()                          ? "The game's own model"
                     : asks == f.hdm_applied[size_t(i)]    ? "Made: the game uses it"
                                                           : "Changed: Apply HD Models below makes it",
                     ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Costume Weapons:");
        Toggle_Result t = toggle(ui, "hd_models_weapons", r.control, !o.s.hd_models_hide, en);
        if (t.changed) options_set(o, &Settings::hd_models_hide, !t.value);
        options_note(o, r.hint,
                     o.s.hd_models_hide ? "Hidden: Kestrel's and Tarsa's costumes without the swordrifle / spear"
                                        : "Shown: Kestrel's and Tarsa's costumes keep the swordrifle / spear",
                     ui_hint);
    }
    apply_row(o, "Apply HD Models", en, "HD Models+", o.app.tasks.hdm_apply,
              all_applied ? "Applied: the models match these choices"
                          : "Changed: Apply runs the mod's models tool for the chosen characters (a minute or two)",
              all_applied ? ui_hint : ui_text);
    if (o.s.sculpt_on && f.sculpt) {
        Row_Rects r = options_row(o, "");
        options_note(o, r.row, "With Body Sculpting on, its sculpted characters use the sculpted Ultimate models (below)",
                     ui_hint);
    }
}

void sculpt_rows(Options_Page& o, const Features_State& f) {
    bool en = !o.read_only;
    options_section(o, "Body Sculpting");
    {
        Row_Rects r = options_row(o, "Body Sculpting Files:");
        Ui_Rect hint = import_get(o, r, f.sculpt, "Import ZIP…", "Import ZIP Again…", sculpt_page);
        std::string_view note =
            f.sculpt ? (f.hdm ? "Imported. It reshapes HD Models+'s Ultimate models"
                              : "Imported. It reshapes HD Models+'s Ultimate models: import HD Models+ (above) first")
                     : (f.hdm ? "Get opens the mod's page (Nexus Mods: EF SAGA Body Sculpting); Import ZIP… takes its "
                                "files"
                              : "An add-on of HD Models+ (above: import it too). Get opens the mod's page; Import ZIP… "
                                "takes its files");
        options_note(o, hint, note, ui_hint);
    }
    if (!f.sculpt) return;
    Applied sculpted = applied_state(f.sculpt_state, f.sculpt_applied);
    on_row(o, "Body Sculpting:", "sculpt_on", &Settings::sculpt_on, sculpted.any, "Apply Sculpting below first",
           "The game uses the sculpted models", "The game's models (or HD Models+'s)");
    bool all_applied = sculpted.all;
    int64_t& c = o.app.shared.sculpt_character;
    c = std::clamp<int64_t>(c, 0, sculpt_character_count - 1);
    {
        Row_Rects r = options_row(o, "Character:");
        std::vector<std::string> labels;
        for (const Sculpt_Character& sc : sculpt_characters) labels.emplace_back(sc.name);
        Dropdown_Result d = options_dropdown(o, "sculpt_char", r.control, labels, c, en, true);   // names
        if (d.changed && d.index >= 0 && d.index < sculpt_character_count) c = d.index;
        const std::string& state = f.sculpt_state[size_t(c)];
        if (state.empty()) {
            options_note(o, r.hint, "All as is: this character keeps its HD Models+ choice", ui_hint);
        } else if (state != f.sculpt_applied[size_t(c)]) {
            options_note(o, r.hint, "Changed: Apply Sculpting below makes its model", ui_hint);
        } else if (c == 0) {
            // The state's last letter is the hair of the HD Models+ choice.
            std::string_view hair = state.back() == 'n' ? "Normal Hair" : "HQ Hair";
            options_note(o, r.hint,
                         fmt(shown("Its sculpted Ultimate model (%s) matches these choices"), shown(hair)),
                         ui_hint);
        } else {
            options_note(o, r.hint, "Its sculpted Ultimate model matches these choices", ui_hint);
        }
    }
    const Sculpt_Character& sc = sculpt_characters[c];
    for (size_t g = 0; g < sc.sliders.size() && g < size_t(sculpt_slider_max); ++g) {
        const Sculpt_Slider& sl = sc.sliders[g];
        Row_Rects r = options_row(o, fmt("%s:", sl.label));
        std::vector<std::string> labels(sl.choices.begin(), sl.choices.end());
        uint8_t v = o.s.sculpt[size_t(c)][g];
        int64_t index = v >= 1 && v <= 9 ? v - 1 : 4;
        Dropdown_Result d = options_dropdown(o, fmt("sculpt_%d_%d", c, int64_t(g)), r.control, labels, index, en);
        if (d.changed && d.index >= 0 && d.index < 9) {
            size_t row = size_t(c);
            uint8_t nv = uint8_t(d.index + 1);
            edit(o, [row, g, nv](Settings& s) { s.sculpt[row][g] = nv; });
        }
    }
    std::string_view note = !f.hdm        ? "Needs HD Models+ imported (above)"
                            : all_applied ? "Applied: the models match these shapes"
                                          : "Changed: Apply runs HD Models+'s models tool for the changed characters (a "
                                            "minute or two; Kestrel's hair as her HD Models+ choice)";
    apply_row(o, "Apply Sculpting", en && f.hdm, "Body Sculpting", o.app.tasks.sculpt_apply, note,
              f.hdm && !all_applied ? ui_text : ui_hint);
}

struct Booster {
    std::string_view key, text;
};
constexpr Booster boosters[7] = {
    {"F1", "Game speed: 1x to 8x in steps of 0.25x (F1 opens the menu, F1 again picks the slider, Left / Right change "
           "it)"},
    {"F2", "Max stats on / off: in battle 99,999 HP and 9,999 Strength and Magic"},
    {"F3", "Max orrin on / off: 999,999,999 orrin; your own orrin comes back when off"},
    {"F4", "One-hit kills on / off"},
    {"F8", "Max CP on / off: every character at 999,999 CP; your own CP (still earned) comes back when off"},
    {"F9", "CP multiplier: the CP battles give 1x, 2x, 4x, 8x, then back to 1x"},
    {"F10", "Item drops: default, 100% common, 100% rare (an enemy with no rare item gives its common one)"},
};

void booster_rows(Options_Page& o) {
    Ui_State& ui = o.ui;
    options_section(o, "Boosters");
    {
        Row_Rects r = options_row(o, "Boosters:");
        Toggle_Result t = toggle(ui, "boost", r.control, o.s.boost, !o.read_only);
        if (t.changed) options_set(o, &Settings::boost, t.value);
        options_note(o, r.hint,
                     o.s.boost ? "In the game these keys turn each one on and off (all start off; the state shows at "
                                 "the top left):"
                               : "Off: F1-F4 and F8-F10 do what the game makes them do",
                     ui_hint);
    }
    if (!o.s.boost) return;
    for (const Booster& b : boosters) {
        Row_Rects r = row_label(ui, o.area, o.cursor, px(ui, 36), px(ui, 80), 0, b.key, o.after_heading);
        Ui_Rect text{r.control.x, r.row.y, std::max<int64_t>(r.row.x + r.row.w - r.control.x, 0), r.row.h};
        note_text(ui, b.text, text, ui_text);
    }
}

}  // namespace

void features_rows(Options_Page& o) {
    App& app = o.app;
    Features_State f = app.procs.features_state ? app.procs.features_state(o.s) : Features_State{};
    std::string step;
    bool importing = false;
    if (o.read_only && app.procs.task_step) importing = app.procs.task_step("HD Textures", step);
    language_rows(o);
    cutscene_rows(o);
    save_rows(o);
    hd_rows(o, f, importing, step);
    button_rows(o, f);
    hard_rows(o, f);
    hdm_rows(o, f);
    sculpt_rows(o, f);
    booster_rows(o);
    // The figure an uninstall frees, once the worker has it.
    if (app.shared.uninstall_measure) {
        int64_t bytes = app.shared.uninstall_measure->load();
        if (bytes >= 0) {
            app.shared.uninstall_bytes = bytes;
            app.shared.uninstall_measure.reset();
        }
    }
}
