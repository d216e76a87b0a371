#include "launcher/mod_tasks/hd_remove.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/hd.h"

namespace {

constexpr std::string_view discard_comment =
    "# deleted by Discard Old Assets (Steam's Verify integrity of game files restores the game's)\n";

bool is_file(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists && !info.is_dir;
}

bool exists(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists;
}

bool is_real_dir(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists && info.is_dir && !info.is_link;
}

// Saves the `hd` setting and rewrites "Quillmarsh.cfg" when it exists.
void save_hd_setting(bool on) {
    settings_edit([&](Settings& s) { s.hd = on; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
}

void add_hd_folder(std::vector<Hd_Leftover>& out, const std::string& dir) {
    if (!is_real_dir(dir)) return;
    bool project = is_file(path_join({dir, hd_marker_file})) || is_real_dir(path_join({dir, "sys"})) ||
                   is_real_dir(path_join({dir, "zone"}));
    if (!project) return;
    bool gui = is_file(path_join({dir, hd_gui_marker_file})) && is_real_dir(path_join({dir, "hd_textures"}));
    out.push_back({dir, gui});
}

void add_work_folder(std::vector<Hd_Leftover>& out, const std::string& dir) {
    if (is_real_dir(dir)) out.push_back({dir, false});
}

// Deletes everything in the HD folder but the HD Fonts and GUI textures
// and their marker; false after logging what could not be deleted.
bool clear_keeping_gui(Task& t, const std::string& dir) {
    std::vector<Dir_Entry> entries;
    std::string why;
    if (!fs_list(dir, entries, &why)) {
        logf(t, "Cannot read %s: %s", dir, why);
        return false;
    }
    bool ok = true;
    for (const Dir_Entry& e : entries) {
        if (e.name == hd_gui_marker_file || e.name == "hd_textures") continue;
        std::string path = path_join({dir, e.name});
        if (!hd_delete_path(path)) {
            logf(t, "Could not delete %s (is the game running?).", path);
            ok = false;
        }
    }
    return ok;
}

}  // namespace

std::vector<Hd_Leftover> hd_project_left() {
    std::vector<Hd_Leftover> out;
    std::string game = settings_copy().game_dir;
    if (!game.empty()) {
        std::string probe = path_join({game, hd_probe_file});
        if (is_file(probe)) out.push_back({probe, false});
        add_hd_folder(out, path_join({game, hd_folder_name}));
        add_work_folder(out, path_join({game, "amber_data_hd_work"}));
    }
    add_hd_folder(out, data_path({"hd"}));
    add_work_folder(out, data_path({"hd_work"}));
    // What a stopped swap or a failed import's clean-up leaves beside them
    // (an old HD folder that could not be settled keeps its GUI textures).
    if (!game.empty()) {
        add_hd_folder(out, path_join({game, std::string(hd_folder_name) + ".old"}));
        add_work_folder(out, path_join({game, "amber_data_hd_work.out"}));
    }
    add_hd_folder(out, data_path({"hd.old"}));
    add_work_folder(out, data_path({"hd_work.out"}));
    std::string log = data_path({"hd_import.log"});
    if (is_file(log)) out.push_back({log, false});
    return out;
}

void hd_discard_task(Task& t) {
    // The same condition as the page's button: a finished HD Project import
    // (HD Fonts and GUI alone make an HD folder too) that was not discarded.
    std::string dir = hd_dir();
    if (dir.empty() || !hd_project_imported() || hd_discarded()) {
        log_line(t, "There is no finished HD Textures import.");
        t.failed.store(1);
        return;
    }
    Hd_Old_Assets old = hd_old_assets();
    std::string zip = hd_zip_find();
    if (!zip.empty() && !hd_project_zip_ok(zip)) {
        // Only the HD Project's own ZIP is ever deleted, never another file
        // that happens to have its name.
        logf(t, "Kept %s: it is not the EF SAGA HD Project's ZIP.", zip);
        zip.clear();
    }
    std::string marker = path_join({dir, hd_discard_file});
    std::string text(discard_comment);
    if (!fs_write_atomic(marker, text)) {
        logf(t, "Cannot write in %s.", dir);
        t.failed.store(1);
        return;
    }
    int deleted = 0;
    int64_t freed = 0;
    size_t n = old.list.size();
    for (size_t i = 0; i < n && !t.cancel.load(); i++) {
        const Hd_Old_Asset& a = old.list[i];
        set_status(t, float(i) / float(n), "Deleting %s", path_base(a.path));
        std::string why;
        if (!fs_remove_file(a.path, &why)) {
            logf(t, "Could not delete %s: %s", a.path, why);
            t.failed.store(1);
            continue;
        }
        text += a.path + "\n";
        deleted++;
        freed += a.size;
    }
    File_Info zip_info;
    if (!zip.empty() && !t.cancel.load() && fs_stat(zip, zip_info) && zip_info.exists) {
        if (!fs_remove_file(zip)) {
            logf(t, "Could not delete %s.", zip);
            t.failed.store(1);
        } else {
            text += zip + "\n";
            freed += int64_t(zip_info.size);
        }
    }
    fs_write_atomic(marker, text);
    save_hd_setting(true);
    logf(t,
         "Discarded %d of the game's original archives%s: %.1f GB freed. HD Textures stays On; Steam's Verify "
         "integrity of game files brings the originals back.",
         deleted, zip.empty() ? "" : " and the mod's ZIP", double(freed) / 1e9);
    set_status(t, 1, "%.1f GB freed", double(freed) / 1e9);
}

void hd_uninstall_task(Task& t) {
    // A swap a stop cut short is settled first: its old folder's GUI
    // textures go to the new one, and only then is anything deleted.
    hd_settle_folders();
    std::vector<Hd_Leftover> list = hd_project_left();
    if (list.empty()) {
        log_line(t, "There is nothing of the HD Project to uninstall.");
        return;
    }
    bool was_discarded = hd_discarded();
    size_t n = list.size();
    for (size_t i = 0; i < n && !t.cancel.load(); i++) {
        const Hd_Leftover& item = list[i];
        set_status(t, float(i) / float(n), "Deleting %s", item.path);
        if (item.keeps_gui) {
            if (!clear_keeping_gui(t, item.path)) t.failed.store(1);
        } else if (!hd_delete_path(item.path)) {
            logf(t, "Could not delete %s (is the game running?).", item.path);
            t.failed.store(1);
        }
    }
    if (t.cancel.load()) log_line(t, "Uninstall stopped: Uninstall again to delete the rest.");
    bool hd_left = !hd_dir().empty();
    save_hd_setting(hd_left && settings_copy().hd);
    for (const Hd_Leftover& item : list) {
        if (item.keeps_gui) logf(t, "Deleted the HD Project's files in %s (its HD Fonts & GUI textures kept)", item.path);
        else logf(t, "%s %s", exists(item.path) ? "Left:" : "Deleted:", item.path);
    }
    if (t.failed.load()) {
        log_line(t, "Some files could not be deleted (see above): close the game and Uninstall again.");
        return;
    }
    log_line(t, "The HD Project is uninstalled: as if it had never been imported.");
    if (hd_gui_imported()) log_line(t, "The HD Fonts & GUI textures were kept.");
    if (!hd_left) log_line(t, "HD Textures is Off.");
    if (was_discarded)
        log_line(t,
                 "The game's original archives were discarded before: verify the game's files in Steam (Properties > "
                 "Installed Files > Verify integrity of game files) to get them back -- the game needs them, and so "
                 "does an Import.");
    set_status(t, 1, "Uninstalled");
}
