#include "launcher/ui/ui.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/shell.h"
#include "engine/kt_system/file_dialog.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/clear_cache.h"
#include "launcher/core/i18n.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/build_id.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/gamebuild/game.h"
#include "launcher/gamebuild/options.h"
#include "launcher/mods/hd.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/ui/dialogs.h"
#include "launcher/ui/home.h"
#include "launcher/ui/widgets.h"

const std::string_view page_labels[page_count] = {"Home",          "Cross-Compile",   "Game Options",
                                                  "Build Options", "Features & Mods", "Input Map"};

std::atomic<uint8_t>& play_after_build_flag() {
    static std::atomic<uint8_t> flag{0};
    return flag;
}

void task_build(Task& t) { cli_task_build(t); }

void task_build_and_run(Task& t) {
    build_task(t, native_build_request());
    if (!t.failed.load()) play_after_build_flag().exchange(1);
}

void task_clear_cache(Task& t) { cli_task_clear_cache(t); }

void task_clear_and_build(Task& t) {
    if (!clear_cache_task(t)) {
        t.failed.exchange(1);
        return;
    }
    build_task(t, native_build_request());
}

void task_run_failed(Task& t) {
    logf(t, "Could not start %s.", built_exe_path());
    t.failed.exchange(1);
}

namespace {

// A folder, also through a link.
bool is_folder(const std::string& path) { return !path.empty() && fs_is_dir(path); }

// Where the in-window browser opens: the saved game folder when picking it,
// the download folder for a mod archive, else the home folder; "/" when
// that is no folder.
std::string browser_start(Pick_Mode mode, const std::string& saved_game_dir) {
    std::string start;
    if (mode == Pick_Mode::Game_Folder && !saved_game_dir.empty()) {
        start = saved_game_dir;
    } else if (mode == Pick_Mode::Mod_Archive) {
        start = downloads_folder();
    } else {
        start = env_get("HOME");
    }
    if (is_folder(start)) return start;
    return std::string(1, '/');
}

}  // namespace

// Starts beside the saved compiler when that still exists.
std::string choose_compiler_file(App& app) {
    File_Dialog_Request rq;
    rq.title = "Choose clang.exe (e.g. LLVM-MinGW's bin\\clang.exe)";
    rq.pick_file = true;
    std::string saved = settings_copy().compiler;
    std::string start = saved.empty() ? std::string() : path_dir(saved);
    if (!saved.empty() && file_exists(saved) && is_folder(start)) rq.start_folder = start;
    File_Dialog_Result r = app.procs.file_dialog ? app.procs.file_dialog(app, rq) : File_Dialog_Result{};
    if (!r.chosen) return {};
    std::string err;
    if (!settings_set_string(&Settings::compiler, "compiler", r.path, &err)) return {};
    if (app.procs.save_settings) app.procs.save_settings();
    return r.path;
}

Ui_Procs ui_real_procs() {
    Ui_Procs p;
    p.task_running = [] { return the_task().running.load() != 0; };
    p.game_running = [] { return game_running(); };
    p.game_state = [] { return game_state_copy(); };
    p.dependency = [](Dep_Kind k) { return dependency_get(k); };
    p.deps_checked = [] { return compilers_probed(); };
    p.compilers = [] { return compilers_get(); };
    p.built_exe = [] { return built_exe_path(); };
    p.build_stale = [] { return build_stale(); };
    p.build_outdated = [] { return build_outdated(); };
    p.game_dir = [] { return settings_copy().game_dir; };
    p.task_start = [](std::string_view name, Task_Proc proc, uint64_t data) { return task_start(name, proc, data); };
    p.task_cancel = [] { task_cancel(the_task()); };
    p.run_game = [](std::string_view program, std::string_view folder) {
        cfg_rewrite_wait();
        return run_game(program, folder);
    };
    p.shell_open = [](std::string_view target) { return shell_open(target); };
    p.fsr4_present = [] { return fsr4_present(); };
    p.options_sig = [] { return build_options_sig(); };
    p.built_options_sig = [] {
        build_stale();   // reads the build's record once
        return build_id_record().signature;
    };
    p.find_lld = [](std::string_view compiler) { return find_lld(compiler); };
    p.core_count = [] { return int64_t(std::thread::hardware_concurrency()); };
    p.old_asset_count = [] { return int64_t(hd_old_assets().list.size()); };
    p.old_asset_bytes = [] { return hd_old_assets().total; };
    p.hd_zip = [] { return hd_zip_find(); };
    p.file_size = [](std::string_view path) {
        File_Info info;
        return fs_stat(path, info) && !info.is_dir ? int64_t(info.size) : int64_t(0);
    };
    p.hd_gui_imported = [] { return hd_gui_imported(); };
    p.hd_discarded = [] { return hd_discarded(); };
    p.features_state = [](const Settings& s) { return features_state_read(s); };
    p.task_step = [](std::string_view name, std::string& step) {
        Task& t = the_task();
        if (!t.running.load()) return false;
        std::lock_guard<Slim_Lock> guard(t.lock);
        if (t.name != name) return false;
        step = t.status;
        return true;
    };
    p.cross_toolchain = [] {
        Cross_Toolchain c;
        c.message = cross_toolchain(c.compiler, c.linker);
        return c;
    };
    p.is_file = [](std::string_view path) {
        File_Info info;
        return fs_stat(path, info) && !info.is_dir;
    };
    p.pick_with_dialog = pick_with_dialog;
    p.pick_apply = pick_apply;
    p.browser_go = browser_go;
    p.file_dialog = [](App& app, const File_Dialog_Request& rq) { return file_dialog(app.ui.window, rq); };
    if (file_dialog_available()) p.choose_compiler = choose_compiler_file;
    p.compiler_chosen = [] { choose_compiler(true); };
    // Off the window's thread as well: a slow disk must not hold a frame.
    p.save_settings = [] {
        save_settings_later();
        return true;
    };
    // Off the window's thread: the mod data it rebuilds can take a second.
    p.cfg_rewrite = [] {
        cfg_rewrite_later(exe_dir());
        return true;
    };
    p.import_archive = [](std::string_view archive) { return hd_import_start(archive); };
    p.cfg_import = [] { cfg_import(); };
    p.save_language = [] { language_save(data_dir()); };
    p.message_box = [](std::string_view title, std::string_view text) {
        message_box(std::string(title), std::string(text));
    };
    return p;
}

bool ui_modal(const Ui_Shared& s) {
    return s.browser_open || s.compiler_probe == 1 || s.updated_dialog == 1 || s.assets_dialog || s.movies_dialog ||
           s.uninstall_dialog;
}

namespace {

// The room around each tab's label and the width of the language choice.
// Each tab is its label and 28 of room, and the choice is 190 wide; where
// the row cannot hold them all with 8 between, the tabs' room shrinks (to 12
// at the least), then the choice narrows to its longest language name.
struct Tab_Fit {
    int64_t room = 0, choice = 0;
};
Tab_Fit tab_fit(Ui_State& ui, int64_t row_w) {
    int64_t labels = 0;
    for (int i = 0; i < page_count; ++i) labels += text_width(ui.bold_font, shown(page_labels[i]));
    int64_t gaps = px(ui, 4) * (page_count - 1) + px(ui, 8);
    Tab_Fit f{px(ui, 28), std::min(px(ui, 190), row_w)};
    int64_t spare = row_w - f.choice - gaps - labels;
    if (spare >= f.room * page_count) return f;
    f.room = std::max(px(ui, 12), spare / page_count);
    int64_t longest = 0;
    for (const Language& l : language_table) longest = std::max(longest, text_width(ui.font, l.name));
    int64_t narrowest = std::min(f.choice, longest + px(ui, 51));
    f.choice = std::clamp(row_w - gaps - labels - f.room * page_count, narrowest, f.choice);
    return f;
}

void draw_tabs(App& app, const Ui_Rect& row, int64_t room) {
    Ui_State& ui = app.ui;
    std::string labels[page_count];
    int64_t xs[page_count], ws[page_count];
    bool hovered[page_count];
    int64_t x = row.x;
    // The click first, so that every tab of this frame is drawn with the new choice.
    for (int i = 0; i < page_count; ++i) {
        labels[i] = shown(page_labels[i]);
        xs[i] = x;
        ws[i] = text_width(ui.bold_font, labels[i]) + room;
        hovered[i] = ui_input_open(ui) && ui.mouse_x >= x && ui.mouse_x < x + ws[i] && ui.mouse_y >= row.y &&
                     ui.mouse_y < row.y + row.h - px(ui, 4);
        if (hovered[i] && ui.clicked) app.shared.current_page = Page(i);
        x += ws[i] + px(ui, 4);
    }
    for (int i = 0; i < page_count; ++i) {
        bool selected = int64_t(app.shared.current_page) == i;
        Ui_Rect tab{xs[i], row.y, ws[i], row.h};
        ui_trace(ui, Widget_Kind::Tab, page_labels[i], page_labels[i], tab, true, selected);
        if (hovered[i] && !selected) {
            fill_rounded_rect(ui, {tab.x, row.y + px(ui, 3), tab.w, row.h - px(ui, 10)}, px(ui, 4), 0x0A000000u);
        }
        draw_label(ui, ui.bold_font, labels[i], {tab.x, row.y, tab.w, row.h - px(ui, 4)},
                   hovered[i] || selected ? ui_text : ui_hint, true, true);
        if (selected) {
            int64_t bw = px(ui, 22);
            fill_rounded_rect(ui, {tab.x + (tab.w - bw) / 2, row.y + row.h - px(ui, 6), bw, px(ui, 3)}, px(ui, 2),
                              ui_accent);
        }
    }
}

}  // namespace

void draw_ui(App& app) {
    Ui_State& ui = app.ui;
    Ui_Shared& sh = app.shared;

    // The game ended: read back the options it changed, whatever page shows.
    bool g = app.procs.game_running();
    if (sh.game_was_running && !g && app.procs.cfg_import) app.procs.cfg_import();
    sh.game_was_running = g;

    const Ui_Rect& a = ui.area;
    int64_t margin = px(ui, 24);
    Ui_Rect tabs{a.x + margin, a.y + px(ui, 12), std::max<int64_t>(a.w - 2 * margin, 0), px(ui, 40)};
    int64_t tabs_bottom = tabs.y + tabs.h;
    if (a.w > 0) fill_rect(ui, {a.x, tabs_bottom - 1, a.w, 1}, ui_rule);
    Tab_Fit fit = tab_fit(ui, tabs.w);
    draw_tabs(app, tabs, fit.room);

    std::vector<std::string> names;
    for (const Language& l : language_table) names.emplace_back(l.name);
    int64_t dw = fit.choice;
    Ui_Rect drop{tabs.x + tabs.w - dw, tabs.y + px(ui, 4), dw, px(ui, 32)};
    Dropdown_Result lang = dropdown(ui, "language", drop, names, language, {}, true, true);
    if (lang.changed) sh.language_request = lang.index;

    Ui_Rect content{a.x + margin, tabs_bottom + px(ui, 16), std::max<int64_t>(a.w - 2 * margin, 0), 0};
    content.h = std::max<int64_t>(a.y + a.h - px(ui, 12) - content.y, 0);
    if (sh.current_page == Page::Home) draw_home(app, content);
    if (sh.current_page == Page::Game_Options) draw_options(app, content, 0);
    if (sh.current_page == Page::Build_Options) draw_options(app, content, 1);
    if (sh.current_page == Page::Features) draw_options(app, content, 2);
    if (sh.current_page == Page::Cross_Compile) draw_cross(app, content);
    if (sh.current_page == Page::Input_Map) draw_input_map(app, content);

    if (sh.updated_dialog == -1) {
        std::string exe = app.procs.built_exe();
        sh.updated_dialog = !exe.empty() && app.procs.build_stale() ? 1 : 0;
    }
    draw_dialogs(app, app.dialogs_at_start);
}

Frame_Result ui_frame(App& app, const Input_State& input, int64_t now) {
    Ui_State& ui = app.ui;
    Ui_Shared& sh = app.shared;
    ui.now = now;
    app.input = &input;

    // The pointer.
    ui.mouse_x = int64_t(input.mouse_x);
    ui.mouse_y = int64_t(input.mouse_y);
    uint8_t left = input.mouse_buttons[int(Mouse_Button::Left)];
    ui.clicked = (left & input_pressed) ? 1 : 0;
    ui.mouse_down = (left & input_down) ? 1 : 0;

    // The one compiler probe, once the toolchain check has published.
    if (sh.compiler_probe == 0 && app.procs.deps_checked() && !app.procs.task_running()) {
        sh.compiler_probe = app.procs.compilers().empty() ? 1 : 2;
    }

    // A pick handed over by a picker.
    if (app.pick.pending.load() && app.pick.pending.exchange(0)) {
        if (!app.pick.open_browser) {
            if (!app.pick.path.empty() && app.procs.pick_apply) app.procs.pick_apply(app, app.pick.path);
        } else {
            std::string start = browser_start(sh.pick_mode, app.procs.game_dir());
            if (app.procs.browser_go) app.procs.browser_go(app, start);
            sh.browser_open = 1;
        }
    }

    // The wheel: steps for the pages (the log scrolls under the pointer).
    // A smooth wheel or a touchpad moves by parts of a notch: what does not
    // make a whole step yet waits for the next frames.
    const double wheel = sh.wheel_carry + double(input.wheel_y) * 3.0;
    sh.wheel_step = int64_t(std::trunc(wheel));
    sh.wheel_carry = wheel - double(sh.wheel_step);
    bool modal = ui_modal(sh);
    ui.modal = modal ? 1 : 0;

    // A language picked in the previous frame.
    if (sh.language_request >= 0) {
        int64_t want = sh.language_request;
        sh.language_request = -1;
        if (want != language && want < language_count) {
            language_set(int(want));
            if (app.procs.reload_fonts) app.procs.reload_fonts(app);
            if (app.procs.save_language) app.procs.save_language();
        }
    }

    if (ui.draw_list) draw_list_begin_frame(*ui.draw_list, ui_page_background);
    ui.area = {0, 0, app.width, app.height};
    if (ui.draw_list && app.procs.draw_background) app.procs.draw_background(app);
    ui.cursor = Cursor::Arrow;
    ui.tooltip_hover = 0;
    ui.trace.clear();
    ui.texts.clear();
    popup_take_click(ui);

    app.dialogs_at_start = dialogs_showing(sh);
    draw_ui(app);
    // A choice for a drop-down that was not drawn, or a drag of a slider
    // that was not drawn, ends with the frame.
    ui.result_id.clear();
    if (!ui.mouse_down) ui.active_id.clear();

    draw_popup(ui);
    if (!ui.tooltip_hover) {
        ui.tooltip_id.clear();
    } else if (!ui.tooltip_id.empty() && !ui.tooltip_text.empty() && now - ui.tooltip_since > tooltip_delay_ns) {
        draw_tooltip(ui);
    }
    return {modal};
}
