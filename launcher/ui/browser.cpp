// Picking the game folder, a save folder or a mod archive: the system's
// dialog where there is one, else the window's own folder browser; both end
// in pick_apply.
#include <algorithm>
#include <cctype>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/game.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"

namespace {

constexpr std::string_view game_folder_title = "Choose the EMBERFALL SAGA folder";
constexpr std::string_view save_folder_title = "Choose a folder with save files (.dat)";
constexpr std::string_view archive_title =
    "Choose a mod's archive (the HD Project's .zip, HD Fonts and GUI's .rar, Console Button Prompts' .zip)";

bool ends_with_ci(std::string_view name, std::string_view suffix) {
    if (name.size() < 4 || name.size() < suffix.size()) return false;
    std::string_view tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != suffix[i]) return false;
    }
    return true;
}

// A folder, also through a link.
bool is_folder(std::string_view path) { return !path.empty() && fs_is_dir(path); }

// The .dat files directly in the folder (sub-folders are not looked into).
int64_t dat_files_in(std::string_view folder) {
    std::vector<Dir_Entry> list;
    if (!fs_list(folder, list)) return 0;
    int64_t n = 0;
    for (const Dir_Entry& e : list) {
        if (!e.is_dir && !e.is_link && ends_with_ci(e.name, ".dat")) ++n;
    }
    return n;
}

}  // namespace

bool name_less(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(a[i])));
        unsigned char y = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(b[i])));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

namespace {

// The download folder named in the XDG user-dirs file, as "$HOME/…" or an
// absolute path; empty when the file names none ("$HOME/" alone turns it off).
std::string xdg_download_dir(const std::string& home) {
    std::string config = env_get("XDG_CONFIG_HOME");
    if (config.empty() && !home.empty()) config = path_join({home, ".config"});
    std::string text;
    if (config.empty() || !fs_read(path_join({config, "user-dirs.dirs"}), text, nullptr, 64 * 1024)) return {};
    static constexpr std::string_view key = "XDG_DOWNLOAD_DIR=";
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line = std::string_view(text).substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        if (line.size() >= 2 && line.front() == '"' && line.back() == '"') line = line.substr(1, line.size() - 2);
        std::string_view rest = line;
        if (rest.substr(0, 5) == "$HOME") {
            rest.remove_prefix(5);
            while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
            if (rest.empty() || home.empty()) return {};
            return path_join({home, std::string(rest)});
        }
        return path_is_absolute(rest) ? std::string(rest) : std::string();
    }
    return {};
}

}  // namespace

std::string downloads_folder() {
    std::string profile = env_get("USERPROFILE");
    if (!profile.empty()) {
        std::string downloads = path_join({profile, "Downloads"});
        return is_folder(downloads) ? downloads : is_folder(profile) ? profile : std::string();
    }
    std::string home = env_get("HOME");
    for (const std::string& candidate :
         {xdg_download_dir(home), home.empty() ? std::string() : path_join({home, "Downloads"}), home}) {
        if (is_folder(candidate)) return candidate;
    }
    return {};
}

void pick_with_dialog(App& app) {
    File_Dialog_Request rq;
    const std::string downloads = app.shared.pick_mode == Pick_Mode::Mod_Archive ? downloads_folder() : std::string();
    switch (app.shared.pick_mode) {
    case Pick_Mode::Mod_Archive: {
        rq.title = archive_title;
        rq.start_folder = downloads;
        rq.pick_file = true;
        rq.filter_name = "Mod archives (.zip, .rar)";
        rq.filter_pattern = "*.zip;*.rar";
        break;
    }
    case Pick_Mode::Save_Folder: rq.title = save_folder_title; break;
    case Pick_Mode::Game_Folder: rq.title = game_folder_title; break;
    }
    File_Dialog_Result r =
        app.procs.file_dialog ? app.procs.file_dialog(app, rq) : File_Dialog_Result{{}, false, "not available"};
    if (r.chosen) {
        if (app.procs.pick_apply) app.procs.pick_apply(app, r.path);
        return;
    }
    // No system dialog here: the window's own browser picks instead (the main
    // loop opens it at its start folder). A cancelled dialog changes nothing.
    if (!r.error.empty()) {
        app.pick.path.clear();
        app.pick.open_browser = true;
        app.pick.pending.store(1);
    }
}

bool pick_apply(App& app, std::string_view path) {
    Ui_Procs& p = app.procs;
    switch (app.shared.pick_mode) {
    case Pick_Mode::Game_Folder: {
        // The folder is kept only when its check starts: a refused start
        // (another task running) leaves the saved folder as it was.
        if (p.task_running && p.task_running()) return false;
        std::string err;
        std::string before = settings_copy().game_dir;
        if (!settings_set_string(&Settings::game_dir, "game_dir", path, &err)) return false;
        bool started = p.task_start && p.task_start("Checking", game_check_task, 0);
        if (!started) {
            std::string now_path(path);
            settings_edit([&](Settings& s) {
                if (s.game_dir == now_path) s.game_dir = before;
            });
            return false;
        }
        if (p.save_settings) p.save_settings();
        return true;
    }
    case Pick_Mode::Save_Folder: {
        Settings s = settings_copy();
        for (const std::string& d : s.save_dirs) {
            if (d == path) return false;
        }
        std::string err;
        if (!settings_add_save_dir(path, &err)) return false;
        if (p.save_settings) p.save_settings();
        return p.cfg_rewrite && p.cfg_rewrite();
    }
    case Pick_Mode::Mod_Archive: {
        bool started = p.import_archive && p.import_archive(path);
        if (started) app.shared.current_page = Page::Home;
        return started;
    }
    }
    return false;
}

void browser_go(App& app, std::string_view path) {
    Ui_Shared& sh = app.shared;
    sh.browser_folder = path_clean(path);
    sh.browser_entries.clear();
    sh.browser_scroll = 0;
    sh.browser_folders = 0;
    std::vector<Dir_Entry> list;
    if (!fs_list(sh.browser_folder, list)) return;
    // Folders, also those reached through a link (a game or a store's
    // library linked from elsewhere): the browser only looks into them.
    for (const Dir_Entry& e : list) {
        if (e.name.empty() || e.name[0] == '.') continue;
        if (e.is_dir || (e.is_link && fs_is_dir(path_join({sh.browser_folder, e.name})))) {
            sh.browser_entries.push_back(e.name);
        }
    }
    std::sort(sh.browser_entries.begin(), sh.browser_entries.end(), name_less);
    sh.browser_folders = int64_t(sh.browser_entries.size());
    if (sh.pick_mode != Pick_Mode::Mod_Archive) return;
    // Archives: regular files only (a FIFO or device so named would stall the import).
    for (const Dir_Entry& e : list) {
        if (!e.is_file) continue;
        if (ends_with_ci(e.name, ".zip") || ends_with_ci(e.name, ".rar")) sh.browser_entries.push_back(e.name);
    }
    std::sort(sh.browser_entries.begin() + sh.browser_folders, sh.browser_entries.end(), name_less);
}

void draw_browser(App& app) {
    Ui_State& ui = app.ui;
    Ui_Shared& sh = app.shared;
    Pick_Mode mode = sh.pick_mode;
    int64_t w = std::min(px(ui, 640), ui.area.w - px(ui, 40));
    int64_t h = std::min(px(ui, 520), ui.area.h - px(ui, 40));
    Ui_Rect box = dialog_begin(ui, std::max<int64_t>(w, 0), std::max<int64_t>(h, 0));
    Ui_Rect content{box.x + px(ui, 24), box.y + px(ui, 20), std::max<int64_t>(box.w - px(ui, 48), 0), 0};

    std::string_view title = mode == Pick_Mode::Save_Folder   ? save_folder_title
                             : mode == Pick_Mode::Mod_Archive ? archive_title
                                                              : game_folder_title;
    // The title whole, on as many lines as it needs.
    int64_t title_h = 0;
    for (const std::string& line : wrap(ui.title_font, title, content.w)) {
        draw_text_at(ui, ui.title_font, line, content.x, content.y + title_h, ui_text,
                     {content.x, content.y + title_h, content.w, line_height(ui.title_font)});
        title_h += line_height(ui.title_font);
    }

    // The shortcuts; a click changes the folder once the frame's list is drawn.
    std::string go_to;
    bool go = false;
    auto target = [&](std::string_view folder) {
        go_to = std::string(folder);
        go = true;
    };
    int64_t nav_y = content.y + title_h + px(ui, 10);
    int64_t x = content.x;
    std::string up = sh.browser_folder.empty() ? std::string(".") : path_dir(sh.browser_folder);
    folder_row(ui, x, nav_y, "Up", up, target);
    std::string home = env_get("HOME");
    if (!home.empty()) folder_row(ui, x, nav_y, "Home", home, target);
    folder_row(ui, x, nav_y, "/", "/", target);
    static constexpr std::string_view drives[4][2] = {{"C:", "/mnt/c"}, {"D:", "/mnt/d"}, {"E:", "/mnt/e"},
                                                      {"F:", "/mnt/f"}};
    for (const auto& d : drives) folder_row(ui, x, nav_y, d[0], d[1], target);

    int64_t band_y = nav_y + px(ui, 36);
    draw_label(ui, ui.small_font, ellipsize(ui.small_font, shown(sh.browser_folder), content.w),
               {content.x, band_y, content.w, px(ui, 20)}, ui_hint, true, true);

    // The hint, whole, between the list and the footer.
    std::string hint;
    uint32_t hint_colour = ui_hint;
    bool holds_game = false;
    if (mode == Pick_Mode::Mod_Archive) {
        hint = shown("Click the EF SAGA HD Project's ZIP file to import it.");
    } else if (sh.pick_saves) {
        int64_t n = dat_files_in(sh.browser_folder);
        hint = n == 1  ? std::string(shown("1 .dat file in this folder."))
               : n > 0 ? fmt(shown("%d .dat files in this folder."), n)
                     : std::string(shown("No .dat files in this folder (only its own files are looked at, not its "
                                         "subfolders')."));
        hint_colour = ui_success;
    } else {
        holds_game = is_game_dir(sh.browser_folder);
        hint = holds_game ? std::string(shown("EMBERFALL SAGA is in this folder."))
                          : std::string(shown("Open the folder EMBERFALL SAGA is installed in (the one with amber_data)."));
        hint_colour = holds_game ? ui_success : ui_hint;
    }

    Ui_Rect footer = dialog_buttons(ui, box);
    int64_t footer_top = box.y + box.h - px(ui, 80);
    std::vector<std::string> hint_lines = wrap(ui.small_font, hint, content.w);
    int64_t hint_step = line_height(ui.small_font) + px(ui, 2);
    int64_t hint_y = footer_top - px(ui, 12) - int64_t(hint_lines.size()) * hint_step + px(ui, 2);
    for (size_t i = 0; i < hint_lines.size(); ++i) {
        int64_t y = hint_y + int64_t(i) * hint_step;
        draw_text_at(ui, ui.small_font, hint_lines[i], content.x, y, hint_colour,
                     {content.x, y, content.w, line_height(ui.small_font)});
    }
    Ui_Rect panel{content.x, band_y + px(ui, 24), content.w, 0};
    panel.h = std::max<int64_t>(hint_y - px(ui, 10) - panel.y, 0);
    draw_panel(ui, panel, px(ui, 4), ui_white);

    int64_t row_h = px(ui, 30);
    int64_t visible = std::max<int64_t>((panel.h - px(ui, 8)) / std::max<int64_t>(row_h, 1), 1);
    int64_t count = int64_t(sh.browser_entries.size());
    if (ui_hot(ui, panel)) {
        sh.browser_scroll = std::clamp<int64_t>(sh.browser_scroll - sh.wheel_step, 0,
                                                std::max<int64_t>(count - visible, 0));
    }
    std::string picked_file;
    if (ui.draw_list) push_clip(*ui.draw_list, {int(panel.x), int(panel.y), int(panel.w), int(panel.h)});
    for (int64_t row = 0; row < visible; ++row) {
        int64_t i = sh.browser_scroll + row;
        if (i >= count) break;
        const std::string& name = sh.browser_entries[size_t(i)];
        bool folder = i < sh.browser_folders;
        Ui_Rect r{panel.x + px(ui, 4), panel.y + px(ui, 4) + row * row_h, panel.w - px(ui, 8), row_h};
        bool hot = ui_hot(ui, r);
        if (hot) {
            fill_rounded_rect(ui, r, px(ui, 4), 0x0C000000u);
            ui.cursor = Cursor::Hand;
        }
        int64_t mid = r.y + r.h / 2;
        if (folder) {
            fill_rounded_rect(ui, {r.x + px(ui, 10), mid - px(ui, 6), px(ui, 16), px(ui, 12)}, px(ui, 2),
                              colour_rgb(0xE8BA48));
        } else {
            fill_rect(ui, {r.x + px(ui, 12), mid - px(ui, 8), px(ui, 12), px(ui, 16)}, colour_rgb(0x788496));
        }
        draw_label(ui, ui.font, ellipsize(ui.font, name, r.w - px(ui, 40)),
                   {r.x + px(ui, 36), r.y, r.w - px(ui, 40), r.h}, ui_text, false, true);
        ui_trace(ui, Widget_Kind::Button, "entry", name, r, true, folder ? 1 : 0);
        if (hot && ui.clicked) {
            if (folder) {
                target(path_join({sh.browser_folder, name}));
            } else {
                picked_file = path_join({sh.browser_folder, name});
            }
        }
    }
    if (ui.draw_list) pop_clip(*ui.draw_list);
    if (count == 0) {
        draw_label(ui, ui.font,
                   shown(mode == Pick_Mode::Mod_Archive ? "(no folders or ZIP files here)" : "(no folders here)"),
                   panel, ui_disabled_text, true, true);
    }

    // The buttons: two halves, the left one taking the odd pixel.
    int64_t gap = px(ui, 8);
    Ui_Rect left{footer.x, footer.y, (footer.w - gap + 1) / 2, footer.h};
    Ui_Rect right{footer.x + left.w + gap, footer.y, (footer.w - gap) / 2, footer.h};
    std::string chosen_folder;
    bool choose = false;
    if (mode != Pick_Mode::Mod_Archive) {
        bool can = mode == Pick_Mode::Save_Folder || holds_game;
        if (button(ui, left, "Choose this folder", can, true)) {
            choose = true;
            chosen_folder = sh.browser_folder;
        }
    } else {
        right = footer;
    }
    if (button(ui, right, "Cancel", true)) sh.browser_open = 0;

    if (choose) {
        sh.browser_open = 0;
        if (app.procs.pick_apply) app.procs.pick_apply(app, chosen_folder);
    } else if (!picked_file.empty()) {
        sh.browser_open = 0;
        if (app.procs.pick_apply) app.procs.pick_apply(app, picked_file);
    } else if (go && sh.browser_open) {
        if (app.procs.browser_go) app.procs.browser_go(app, go_to);
    }
}
