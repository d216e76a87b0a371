#include "launcher/ui/dialogs.h"

#include <algorithm>

#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/gamebuild/game.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/widgets.h"

uint32_t dialogs_showing(const Ui_Shared& s) {
    uint32_t m = 0;
    if (s.updated_dialog == 1 && !s.movies_dialog) m |= dialog_updated;
    if (s.movies_dialog) m |= dialog_movies;
    if (s.assets_dialog && !s.movies_dialog) m |= dialog_assets;
    if (s.uninstall_dialog == 1 && !s.movies_dialog && !s.assets_dialog) m |= dialog_uninstall;
    if (s.compiler_probe == 1) m |= dialog_compiler;
    if (s.browser_open) m |= dialog_browser;
    return m;
}

std::string movies_dialog_body(const Game_State& g) {
    std::string body = fmt(with_decimal(shown("%d Bink movies (.wmp) that have their MP4 are cut down to their "
                                              "header, freeing %.1f GB. The game keeps playing the MP4s; to get the "
                                              "originals back, verify the game's files in Steam."),
                                        double(g.discard_bytes) / 1e9),
                           g.discardable);
    if (g.kept > 0) body = fmt(shown("%s %d movies without an MP4 are kept whole."), body, g.kept);
    return body;
}

std::string assets_dialog_body(int64_t archives, int64_t archive_bytes, std::string_view zip, int64_t zip_bytes) {
    std::string suffix;
    int64_t bytes = archive_bytes;
    if (!zip.empty()) {
        bytes += zip_bytes > 0 ? zip_bytes : 0;
        suffix = fmt(shown(", and the mod's ZIP (%s)"), path_base(zip));
    }
    return fmt(with_decimal(shown("%d of the game's original archives that the HD Project's copies replace are "
                                  "deleted%s, freeing %.1f GB. The game then uses the HD textures only (HD Textures "
                                  "stays On), and the original game cannot start without them. To get them back, "
                                  "verify the game's files in Steam (Properties > Installed Files > Verify "
                                  "integrity of game files)."),
                            double(bytes) / 1e9),
               archives, suffix);
}

std::string uninstall_dialog_body(int64_t bytes, bool gui_stays, bool discarded) {
    std::string body(shown("Everything the HD Project's import made is deleted (%.1f GB): its archives, the files "
                           "it unpacked from the ZIP and its log. An import after this starts from nothing, as the "
                           "first one did. The mod's ZIP itself is not touched."));
    if (bytes >= 0) {
        body = with_decimal(body, double(bytes) / 1e9);
    } else if (size_t at = body.find("%.1f"); at != std::string::npos) {
        // Still being measured: the size and its unit ("GB", "Go", "ГБ") give way to "measuring…".
        size_t end = at + 4;
        if (end < body.size() && body[end] == ' ') ++end;
        while (end < body.size() && body[end] != ')' && body[end] != ' ' && uint8_t(body[end]) != 0xEF) ++end;
        body.replace(at, end - at, shown("measuring…"));
    }
    if (gui_stays) {
        body += ' ';
        body += shown("The HD Fonts & GUI textures stay.");
    }
    if (discarded) {
        body += ' ';
        body += shown("The game's original archives were discarded: until you verify the game's files in Steam "
                      "(Properties > Installed Files > Verify integrity of game files), the game cannot start.");
    }
    return body;
}

namespace {

// Where a dialog's texts belong: inside its padding, above the footer.
Ui_Rect text_area(const Ui_State& ui, const Ui_Rect& box) {
    return {box.x + px(ui, 24), box.y, std::max<int64_t>(box.w - px(ui, 48), 0),
            std::max<int64_t>(box.h - px(ui, 80), 0)};
}

// Title and body of a dialog; returns the y below the body.
int64_t dialog_text(Ui_State& ui, const Ui_Rect& box, std::string_view title, const std::string& body) {
    Font* tf = ui.title_font;
    const Ui_Rect area = text_area(ui, box);
    draw_text_at(ui, tf, shown(title), box.x + px(ui, 24), box.y + px(ui, 22), ui_text, area);
    int64_t y = box.y + px(ui, 22) + line_height(tf) + px(ui, 12);
    int64_t step = line_height(ui.font) + px(ui, 2);
    for (const std::string& line : wrap(ui.font, body, box.w - px(ui, 48))) {
        draw_text_at(ui, ui.font, line, box.x + px(ui, 24), y, ui_text, area);
        y += step;
    }
    return y;
}

struct Two_Buttons {
    Ui_Rect left, right;
};
Two_Buttons split(const Ui_State& ui, const Ui_Rect& row) {
    int64_t gap = px(ui, 8);
    int64_t lw = (row.w - gap + 1) / 2, rw = (row.w - gap) / 2;
    return {{row.x, row.y, lw, row.h}, {row.x + lw + gap, row.y, rw, row.h}};
}

void start(App& app, std::string_view name, Task_Proc proc, uint64_t data = 0) {
    if (proc && app.procs.task_start) app.procs.task_start(name, proc, data);
}

// The footer of a confirmation dialog: `confirm` (the accent button, when
// `enabled`) closes it and starts `proc` as the task `task`; `keep` closes it.
template <class Flag>
void confirm_buttons(App& app, const Ui_Rect& box, std::string_view confirm, bool enabled, std::string_view keep,
                     std::string_view task, Task_Proc proc, Flag& open) {
    Two_Buttons b = split(app.ui, dialog_buttons(app.ui, box));
    if (button(app.ui, b.left, confirm, enabled && proc, true)) {
        open = 0;
        start(app, task, proc);
    }
    if (button(app.ui, b.right, keep, true)) open = 0;
}

void updated_dialog(App& app) {
    Ui_State& ui = app.ui;
    Ui_Rect box = dialog_begin(ui, px(ui, 540), px(ui, 270));
    dialog_text(ui, box, "The launcher was updated",
                std::string(shown("Your game was built by an earlier version of this launcher. To get this version's "
                                  "fixes, its cache is cleared and the game is built again from scratch (a few "
                                  "minutes). Your saves are kept, and your settings if this version still has all "
                                  "of them.")));
    bool idle = !app.procs.task_running() && !app.procs.game_running();
    confirm_buttons(app, box, "Clear Cache and Build", idle, "Later", "Clear Cache and Build", task_clear_and_build,
                    app.shared.updated_dialog);
}

void movies_dialog(App& app) {
    Ui_State& ui = app.ui;
    Game_State g = app.procs.game_state();
    Ui_Rect box = dialog_begin(ui, px(ui, 520), px(ui, 250));
    std::string body = movies_dialog_body(g);
    dialog_text(ui, box, "Discard the old movies?", body);
    confirm_buttons(app, box, "Discard", true, "Keep them", "Discard Movies", app.tasks.discard_movies,
                    app.shared.movies_dialog);
}

void assets_dialog(App& app) {
    Ui_State& ui = app.ui;
    Ui_Procs& p = app.procs;
    int64_t count = p.old_asset_count ? p.old_asset_count() : 0;
    int64_t bytes = p.old_asset_bytes ? p.old_asset_bytes() : 0;
    std::string zip = p.hd_zip ? p.hd_zip() : std::string();
    int64_t zip_bytes = !zip.empty() && p.file_size ? p.file_size(zip) : 0;
    Ui_Rect box = dialog_begin(ui, px(ui, 560), px(ui, 290));
    dialog_text(ui, box, "Discard the old assets?", assets_dialog_body(count, bytes, zip, zip_bytes));
    confirm_buttons(app, box, "Discard", !p.task_running(), "Keep them", "Discard Old Assets", app.tasks.discard_assets,
                    app.shared.assets_dialog);
}

void uninstall_dialog(App& app) {
    Ui_State& ui = app.ui;
    Ui_Procs& p = app.procs;
    std::string body = uninstall_dialog_body(app.shared.uninstall_bytes, p.hd_gui_imported && p.hd_gui_imported(),
                                             p.hd_discarded && p.hd_discarded());
    Ui_Rect box = dialog_begin(ui, px(ui, 560), px(ui, 300));
    dialog_text(ui, box, "Uninstall the HD Project?", body);
    confirm_buttons(app, box, "Uninstall", !p.task_running() && app.shared.uninstall_bytes >= 0, "Keep it",
                    "Uninstall HD Project", app.tasks.uninstall_hd, app.shared.uninstall_dialog);
}

void compiler_dialog(App& app) {
    Ui_State& ui = app.ui;
    Ui_Rect box = dialog_begin(ui, px(ui, 640), px(ui, 450));
    int64_t y = dialog_text(
        ui, box, "A C compiler is needed",
        std::string(shown("The launcher builds the game on your computer, and that needs Clang (the game is built "
                          "with Clang only: GCC is not used). None was found. Install one, then press Check again "
                          "-- or, if it is installed but not found, Choose it.")));
    int64_t x = box.x + px(ui, 24);
    y += px(ui, 12);
    const Ui_Rect area = text_area(ui, box);
    draw_text_at(ui, ui.bold_font, shown("Windows"), x, y, ui_text, area);
    int64_t step = line_height(ui.font) + px(ui, 10);
    int64_t ly = y + step;
    int64_t w = link(ui, x + px(ui, 12), ly, "LLVM-MinGW (Clang)", "https://github.com/mstorsjo/llvm-mingw/releases",
                     app.procs.shell_open);
    // The note after the link, shortened to what is left of the line.
    const int64_t note_x = x + px(ui, 12) + w + px(ui, 8);
    const int64_t note_w = std::max<int64_t>(area.x + area.w - note_x, 0);
    draw_text_at(ui, ui.small_font,
                 ellipsize(ui.small_font,
                           fmt(shown("the \"ucrt-x86_64\" zip, or: winget install %s"),
                               std::string_view(llvm_mingw_package)),
                           note_w),
                 note_x, ly + px(ui, 2), ui_hint, {note_x, area.y, note_w, area.h});
    ly += step;
    link(ui, x + px(ui, 12), ly, "MSYS2 (its clang64 Clang)", "https://www.msys2.org/", app.procs.shell_open);
    Dependency d = app.procs.dependency(Dep_Kind::Compiler);
    if (!d.status.empty() && d.status != "none found") {
        int64_t ty = ly + step + px(ui, 6);
        for (const std::string& line :
             wrap(ui.small_font, fmt(shown("Tried: %s"), d.status), box.w - px(ui, 48))) {
            draw_text_at(ui, ui.small_font, line, x, ty, ui_hint, area);
            ty += line_height(ui.small_font) + px(ui, 2);
        }
    }
    Ui_Rect row = dialog_buttons(ui, box);
    bool install = !d.install.empty();
    int64_t gap = px(ui, 8);
    std::vector<std::string_view> labels = {"Check again", "Choose clang.exe…", "Close"};
    if (install) labels.insert(labels.begin(), "Install it for me");
    std::vector<int64_t> widths = share_row(ui, row.w, gap, labels);
    int64_t bx = row.x;
    auto next = [&](int64_t i) {
        Ui_Rect r{bx, row.y, widths[size_t(i)], row.h};
        bx += r.w + gap;
        return r;
    };
    bool idle = !app.procs.task_running();
    int64_t i = 0;
    if (install && button(ui, next(i++), "Install it for me", idle, true)) {
        app.shared.compiler_probe = 0;
        start(app, d.install_label, deps_install_task, 0);
    }
    if (button(ui, next(i++), "Check again", idle, !install)) {
        app.shared.compiler_probe = 0;
        start(app, "Checking", find_game);
    }
    bool can_choose = idle && app.procs.choose_compiler != nullptr;
    if (button(ui, next(i++), "Choose clang.exe…", can_choose)) {
        std::string chosen = app.procs.choose_compiler(app);
        if (!chosen.empty()) {
            app.shared.compiler_probe = 0;
            start(app, "Checking", find_game);
        }
    }
    if (button(ui, next(i++), "Close", true)) app.shared.compiler_probe = 2;
}

}  // namespace

void draw_dialogs(App& app, uint32_t open_at_start) {
    Ui_State& ui = app.ui;
    uint32_t showing = dialogs_showing(app.shared);
    if (!showing) return;
    uint32_t top = 1u << (31 - __builtin_clz(showing));
    struct Entry {
        uint32_t bit;
        void (*draw)(App&);
    };
    static constexpr Entry entries[] = {
        {dialog_updated, updated_dialog},
        {dialog_movies, movies_dialog},
        {dialog_assets, assets_dialog},
        {dialog_uninstall, uninstall_dialog},
        {dialog_compiler, compiler_dialog},
        {dialog_browser, draw_browser},
    };
    uint8_t saved_modal = ui.modal;
    for (const Entry& e : entries) {
        if (!(showing & e.bit)) continue;
        ui.modal = 1;
        ui.in_dialog = (e.bit == top && (open_at_start & e.bit)) ? 1 : 0;
        e.draw(app);
        ui.in_dialog = 0;
    }
    ui.modal = saved_modal;
}
