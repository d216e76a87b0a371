#include "launcher/ui/home.h"

#include <algorithm>

#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/gamebuild/game.h"
#include "launcher/core/paths.h"
#include "launcher/ui/activity.h"
#include "launcher/ui/widgets.h"

namespace {

int64_t nonneg(int64_t v) { return v < 0 ? 0 : v; }

struct Home_Facts {
    bool T = false, G = false, OK = false, C = false, F = false;
    Game_State game;
    Dependency deps[2];
    bool deps_checked = false;
    std::string exe;   // the built game, "" when none
};

void start_task(App& app, std::string_view name, Task_Proc proc, uint64_t data = 0) {
    if (app.procs.task_start) app.procs.task_start(name, proc, data);
}

void start_game(App& app, const std::string& exe) {
    bool started = app.procs.run_game && app.procs.run_game(exe, exe_dir());
    if (!started) start_task(app, "Run", task_run_failed);
}

void game_folder_panel(App& app, const Home_Facts& f, const Ui_Rect& panel) {
    Ui_State& ui = app.ui;
    draw_panel(ui, panel, px(ui, 7), colour_rgb(0xFBFBFB));
    int64_t ix = px(ui, 16), iy = px(ui, 12);
    Ui_Rect in{panel.x + ix, panel.y + iy, nonneg(panel.w - 2 * ix), nonneg(panel.h - 2 * iy)};
    Ui_Rect upper{in.x, in.y, in.w, in.h / 2};
    Ui_Rect lower{in.x, in.y + in.h / 2, in.w, in.h - in.h / 2};
    int64_t bw = std::min(px(ui, 110), in.w), bh = px(ui, 32);
    Ui_Rect browse{in.x + in.w - bw, panel.y + (panel.h - bh) / 2, bw, bh};
    if (button(ui, browse, "Browse…", !f.T)) {
        app.shared.pick_mode = Pick_Mode::Game_Folder;
        app.shared.pick_saves = 0;
        if (app.procs.pick_with_dialog) app.procs.pick_with_dialog(app);
    }
    std::string label(shown("Game folder"));
    draw_label(ui, ui.bold_font, label, upper, ui_text, false, true);
    if (f.OK && !f.game.edition.empty()) {
        int64_t tw = text_width(ui.small_font, f.game.edition);
        int64_t bh2 = px(ui, 20);
        Ui_Rect badge{upper.x + text_width(ui.bold_font, label) + px(ui, 10), upper.y + (upper.h - bh2) / 2,
                      tw + px(ui, 12), bh2};
        fill_rounded_rect(ui, badge, px(ui, 4), ui_accent);
        draw_label(ui, ui.small_font, f.game.edition, badge, ui_white, true, true);
        tooltip(ui, "edition", badge,
                f.game.edition == "EN"
                    ? shown("The North America / Europe edition of the game.")
                    : shown("The Asian edition of the game: Space confirms in menus (Enter does not), and it has "
                            "Japanese voices only."));
    }
    std::string folder = app.procs.game_dir ? app.procs.game_dir() : std::string();
    std::string where = folder.empty() ? std::string(shown("not found")) : folder;
    bool failed = f.game.checked && !f.OK;
    // With no folder saved the reason alone says it ("not found: choose its folder").
    if (failed) where = folder.empty() ? std::string(shown(f.game.reason)) : fmt(shown("%s — %s"), where, shown(f.game.reason));
    // The path stops short of the Browse button.
    Ui_Rect text{lower.x, lower.y, nonneg(in.w - bw - px(ui, 12)), lower.h};
    draw_label(ui, ui.font, where, text, failed ? ui_error : ui_hint, false, true);
}

void requirements_panel(App& app, const Home_Facts& f, const Ui_Rect& panel) {
    Ui_State& ui = app.ui;
    draw_panel(ui, panel, px(ui, 7), colour_rgb(0xFBFBFB));
    int64_t ix = px(ui, 16);
    Ui_Rect in{panel.x + ix, panel.y + px(ui, 10), nonneg(panel.w - 2 * ix), nonneg(panel.h - px(ui, 10))};
    Ui_Rect title{in.x, in.y, in.w, px(ui, 28)};
    draw_label(ui, ui.bold_font, "Requirements", title, ui_text, false, false);
    int64_t cw = std::min(px(ui, 110), in.w);
    if (button(ui, {in.x + in.w - cw, title.y, cw, px(ui, 28)}, "Check again", !f.T, false, ui.small_font)) {
        start_task(app, "Checking", find_game);
    }
    int64_t col = std::min(px(ui, 250), in.w);
    for (int row = 0; row < 2; ++row) {
        const Dependency& d = f.deps[row];
        int64_t top = title.y + title.h + row * px(ui, 48);
        bool found = !d.found.empty();
        bool satisfied = found && (row == 0 || d.ok);
        uint32_t dot = !f.deps_checked ? ui_disabled_text : !found ? ui_error : satisfied ? ui_success : ui_warning;
        fill_circle(ui, in.x + px(ui, 5), top + px(ui, 15), px(ui, 10), dot);
        int64_t tx = in.x + px(ui, 20);
        int64_t tw = nonneg(in.x + in.w - col - px(ui, 12) - tx);
        // A row whose check has not published yet has no record: its own words.
        static const char* const own_name[2] = {"C compiler", "FFmpeg"};
        static const char* const own_role[2] = {"builds the game from the bundled sources",
                                                "converts the movies (the game plays them without it)"};
        std::string name = d.name.empty() ? std::string(own_name[row]) : d.name;
        std::string role = d.name.empty() ? std::string(own_role[row]) : d.role;
        std::string what = row == 0 && found ? compiler_label(d.found) : std::string(shown(role));
        std::string line1 = fmt(shown("%s — %s"), shown(name), what);
        draw_label(ui, ui.font, line1, {tx, top + px(ui, 4), tw, px(ui, 22)}, ui_text, false, true);
        std::string line2(f.deps_checked ? shown(d.status) : shown("checking…"));
        draw_label(ui, ui.small_font, line2, {tx, top + px(ui, 26), tw, px(ui, 18)}, ui_hint, false, true);
        if (!f.deps_checked || satisfied) continue;
        Ui_Rect box{in.x + in.w - col, top + (px(ui, 48) - px(ui, 32)) / 2, col, px(ui, 32)};
        if (!d.install.empty()) {
            std::string label = d.elevate ? fmt(shown("%s (asks for admin)"), shown(d.install_label))
                                          : std::string(d.install_label);
            if (button(ui, box, label, !f.T, false, ui.small_font)) {
                start_task(app, d.install_label, deps_install_task, uint64_t(row));
            }
        } else if (!d.install_label.empty()) {
            draw_label(ui, ui.small_font, d.install_label, box, ui_warning, true, false);
        }
    }
}

// Places buttons from the right edge leftwards, 8 apart; a button keeps its
// place in the order when the row runs out of room, narrowed to what is left.
struct Row_Placer {
    const Ui_State& ui;
    int64_t left, right, top;
    Ui_Rect next(int64_t width, int64_t height, int64_t dy) {
        int64_t w = std::min(width, nonneg(right - left));
        Ui_Rect r{right - w, top + dy, w, height};
        right -= w + px(ui, 8);
        return r;
    }
};

void button_row(App& app, const Home_Facts& f, const Ui_Rect& row) {
    Ui_State& ui = app.ui;
    Row_Placer place{ui, row.x, row.x + row.w, row.y};
    int64_t tall = px(ui, 44), plain = px(ui, 32), dy = px(ui, 6);
    bool stale = !f.exe.empty() && app.procs.build_stale && app.procs.build_stale();
    const char* wait = "Wait for the current task to finish.";

    if (!f.exe.empty()) {
        if (!stale && app.procs.build_outdated && app.procs.build_outdated()) {
            Ui_Rect r = place.next(px(ui, 150), tall, 0);
            if (button(ui, r, "Build to Run", !f.T && !f.G && f.OK && f.C, false, ui.bold_font, true)) {
                start_task(app, "Build", task_build_and_run);
            }
            tooltip(ui, "run", r,
                    shown("A Build Option changed since the game was built (or DLSS was picked, which is compiled "
                          "in): the game is built again with it, then started."));
        } else if (!stale) {
            Ui_Rect r = place.next(px(ui, 120), tall, 0);
            if (button(ui, r, f.G ? "Running…" : "Run", !f.T && !f.G, false, ui.bold_font, true)) {
                start_game(app, f.exe);
            }
            tooltip(ui, "run", r,
                    f.G ? std::string(shown("The game is running."))
                        : f.T ? std::string(shown(wait)) : fmt(shown("Starts %s."), f.exe));
        } else {
            Ui_Rect r = place.next(px(ui, 150), tall, 0);
            if (button(ui, r, "Rebuild to Run", !f.T && !f.G, false, ui.bold_font, true)) {
                app.shared.updated_dialog = 1;
            }
            tooltip(ui, "run", r,
                    shown("The game here was built by another version of this launcher: its cache is cleared and "
                          "the game built again, so this version's fixes are in it."));
        }
    }

    Ui_Rect build = place.next(px(ui, 150), tall, 0);
    if (button(ui, build, "Build", f.C && f.OK && !f.T && !f.G, true, ui.bold_font)) {
        if (stale) {
            app.shared.updated_dialog = 1;
        } else {
            start_task(app, "Build", task_build);
        }
    }
    std::string build_tip = f.T ? wait
                            : f.G ? "Close the game first: it cannot be rebuilt while it runs."
                            : f.OK ? (f.C ? "Builds the game with the Build Options (the Game Options need no Build)."
                                          : "Needs a C compiler.")
                                   : "Needs the game: choose its folder.";
    tooltip(ui, "build", build, shown(build_tip));

    Ui_Rect clear = place.next(px(ui, 130), plain, dy);
    if (button(ui, clear, "Clear Cache", !f.T && !f.G)) start_task(app, "Clear Cache", task_clear_cache);
    tooltip(ui, "clear", clear,
            shown(f.T ? wait
                  : f.G ? "Close the game first."
                        : "Deletes what earlier Builds left in the data folder (unpacked sources, compiled objects, "
                          "tools), so the next Build starts over and compiles everything. Saves and settings stay."));

    Ui_Rect convert = place.next(px(ui, 140), plain, dy);
    bool can_convert = app.tasks.convert_movies != nullptr;
    if (button(ui, convert, "Convert Movies", !f.T && f.F && f.OK && f.game.to_convert > 0 && can_convert)) {
        start_task(app, "Convert Movies", app.tasks.convert_movies);
    }
    std::string convert_tip;
    if (f.T) {
        convert_tip = shown(wait);
    } else if (f.F && f.OK) {
        convert_tip = f.game.to_convert > 0
                          ? fmt(shown("Converts the %d cutscenes that have no MP4 yet (it can be cancelled and "
                                      "continued later)."),
                                f.game.to_convert)
                          : std::string(shown("Every movie is converted."));
    } else {
        convert_tip = shown(f.OK ? "Needs FFmpeg with its H.264 encoder (install it above)." : "Needs the game.");
    }
    tooltip(ui, "convert", convert, convert_tip);

    Ui_Rect discard = place.next(px(ui, 140), plain, dy);
    bool can_discard = app.tasks.discard_movies != nullptr;
    if (button(ui, discard, "Discard Movies", !f.T && f.OK && f.game.discardable > 0 && can_discard)) {
        app.shared.movies_dialog = 1;
    }
    std::string discard_tip;
    if (f.T) {
        discard_tip = shown(wait);
    } else if (f.OK) {
        discard_tip = f.game.discardable > 0
                          ? with_decimal(shown("Frees %.1f GB: the Bink movies that have their MP4."),
                                         double(f.game.discard_bytes) / 1e9)
                          : std::string(shown("Nothing to discard: no Bink movie has its MP4 yet."));
    } else {
        discard_tip = shown("Needs the game.");
    }
    tooltip(ui, "discard", discard, discard_tip);

    if (f.T) {
        Ui_Rect cancel = place.next(px(ui, 150), plain, dy);
        if (button(ui, cancel, "Cancel", true) && app.procs.task_running() && app.procs.task_cancel) {
            app.procs.task_cancel();
        }
    }
}

}  // namespace

void draw_home(App& app, const Ui_Rect& c) {
    Ui_State& ui = app.ui;
    Ui_Procs& p = app.procs;
    Home_Facts f;
    f.T = p.task_running();
    f.G = p.game_running();
    f.game = p.game_state();
    f.deps[0] = p.dependency(Dep_Kind::Compiler);
    f.deps[1] = p.dependency(Dep_Kind::FFmpeg);
    f.deps_checked = p.deps_checked();
    f.OK = f.game.ok;
    f.C = !f.deps[0].found.empty();
    f.F = f.deps[1].ok;
    f.exe = p.built_exe();

    // The Build to Run task succeeded: start the game once no task runs.
    if (!f.T && play_after_build_flag().load() && play_after_build_flag().exchange(0)) {
        bool current = !f.exe.empty() && !p.build_stale() && !p.build_outdated();
        if (current && !f.G) start_game(app, f.exe);
    }

    int64_t left = nonneg(c.h);
    int64_t y = c.y;
    Ui_Rect folder{c.x, y, c.w, std::min(px(ui, 68), left)};
    game_folder_panel(app, f, folder);
    y += folder.h + px(ui, 10);
    Ui_Rect req{c.x, y, c.w, std::min(px(ui, 136), nonneg(c.y + c.h - y))};
    requirements_panel(app, f, req);
    y += req.h + px(ui, 10);
    Ui_Rect row{c.x, c.y + c.h - px(ui, 44), c.w, px(ui, 44)};
    Ui_Rect activity{c.x, y, c.w, nonneg(row.y - px(ui, 16) - y)};
    draw_activity(ui, activity, f.T, app.shared.log_scroll, app.shared.wheel_step);
    button_row(app, f, row);
}
