#include "launcher/mod_tasks/hd_gui.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/hd.h"
#include "launcher/archive/member_name.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/mods/mod_tools.h"

namespace {

constexpr std::string_view database = "hash_database.txt";

enum class Unpacked { Written, Kept, Failed, Cancelled };

Unpacked unpack_rar(Task& t, const rar5::Rar5_Archive& rar, const Gui_Member& m, const std::string& target,
                    Hd_Progress& p) {
    if (m.rar.has_crc) {
        File_Info info;
        if (fs_stat(target, info) && info.exists && !info.is_dir && int64_t(info.size) == m.rar.unpacked_size) {
            p.checking = true;
            File_Crc crc = file_crc32(target, &p);
            p.checking = false;
            if (t.cancel.load()) return Unpacked::Cancelled;
            if (crc.ok && crc.size == m.rar.unpacked_size && crc.crc32 == m.rar.crc32) return Unpacked::Kept;
        }
    }
    rar5_error.clear();
    import_error().clear();
    if (rar5::extract(rar, m.rar, target)) return Unpacked::Written;
    if (!rar5_error.empty() || import_error().empty())
        logf(t, "Cannot unpack %s (%s).", m.name, rar5_error.empty() ? std::string("unknown error") : rar5_error);
    else
        logf(t, "Cannot write %s: %s.", target, import_reason());
    return Unpacked::Failed;
}

Unpacked unpack_zip(Task& t, Zip_Archive& zip, const Gui_Member& m, const std::string& target, Hd_Progress& p) {
    if (member_on_disk(m.zip, target, &p)) return Unpacked::Kept;
    if (t.cancel.load()) return Unpacked::Cancelled;
    if (zip_extract(zip, m.zip, target, &p)) return Unpacked::Written;
    if (t.cancel.load()) return Unpacked::Cancelled;
    logf(t, "Cannot unpack %s from the ZIP: %s.", m.name, import_reason());
    return Unpacked::Failed;
}

}  // namespace

void hd_gui_import(Task& t, std::string_view archive_path, const Gui_Archive& archive,
                   const std::vector<Gui_Member>& members) {
    const std::string name = path_base(archive_path);
    const std::string game = settings_copy().game_dir;
    if (game.empty() || !fs_is_dir(path_join({game, "amber_data"}))) {
        log_line(t, "Choose the EMBERFALL SAGA folder first (Home).");
        t.failed.store(1);
        return;
    }
    set_status(t, 0, "Checking %s", name);

    std::string prefix;
    bool found = false;
    for (const Gui_Member& m : members) {
        if (ends_with_lower(m.name, "hd_textures/hash_database.txt")) {
            prefix = m.name.substr(0, m.name.size() - database.size());
            found = true;
            break;
        }
    }
    if (!found) {
        logf(t, "%s is not the HD Fonts and GUI mod (it has no hd_textures/hash_database.txt). Get it with Get, from %s.",
             name, hd_gui_page);
        t.failed.store(1);
        return;
    }
    std::vector<const Gui_Member*> selected;
    Keep_Set keep;
    uint64_t bytes = 0;
    for (const Gui_Member& m : members) {
        if (m.name.compare(0, prefix.size(), prefix) != 0) continue;
        selected.push_back(&m);
        bytes += uint64_t(m.size < 0 ? 0 : m.size);
        keep[lower_ascii(std::string_view(m.name).substr(prefix.size()))] = true;
    }
    std::string hd = hd_dir();
    if (hd.empty()) hd = hd_target_dir().hd_dir;
    if (!ensure_dir(hd)) {
        logf(t, "Cannot make %s.", hd);
        t.failed.store(1);
        return;
    }
    uint64_t free_bytes = 0;
    uint64_t need = bytes + bytes / 10 + 268435456;
    if (disk_free(hd, free_bytes) && free_bytes < need) {
        logf(t, "Not enough room: the textures need about %.1f GB free on the disk of %s, and there are %.1f GB.",
             double(need) / 1e9, hd, double(free_bytes) / 1e9);
        t.failed.store(1);
        return;
    }
    const std::string fresh = path_join({hd, "hd_textures.new"});
    const std::string textures = path_join({hd, "hd_textures"});
    prune_tree(fresh, "", keep);
    if (!ensure_dir(fresh)) {
        logf(t, "Cannot make %s.", fresh);
        t.failed.store(1);
        return;
    }
    const int64_t count = int64_t(selected.size());
    logf(t, "Importing %s (%d files, %.1f GB) into %s", name, count, double(bytes) / 1e9, textures);

    Hd_Progress progress;
    progress.task = &t;
    progress.label = "Unpacking";
    progress.files_total = count;
    progress.bytes_total = bytes;
    int64_t kept = 0, imported = 0;
    bool stopped = false;   // failed or cancelled: the HD folder stays as it was
    for (size_t k = 0; k < selected.size() && !stopped; k++) {
        const Gui_Member& m = *selected[k];
        if (t.cancel.load()) {
            stopped = true;
            break;
        }
        progress.files_done = int64_t(k) + 1;
        progress.current = m.name;
        hd_progress(&progress, 0, k == 0);
        std::string_view relative = std::string_view(m.name).substr(prefix.size());
        if (relative.empty()) continue;
        if (relative.find("..") != std::string_view::npos) {
            logf(t, "Skipped %s: its name is not safe to unpack (%s).", m.name, "the name holds \"..\"");
            continue;
        }
        std::string target, why;
        if (!member_path(fresh, relative, target, &why)) {
            logf(t, "Skipped %s: its name is not safe to unpack (%s).", m.name, why);
            continue;
        }
        Unpacked r = archive.rar ? unpack_rar(t, *archive.rar, m, target, progress)
                                 : unpack_zip(t, *archive.zip, m, target, progress);
        if (r == Unpacked::Failed) t.failed.store(1);
        if (r == Unpacked::Failed || r == Unpacked::Cancelled) stopped = true;
        if (r == Unpacked::Kept) kept++;
        if (r == Unpacked::Written || r == Unpacked::Kept) imported++;
        progress.bytes_done += m.size;
    }
    if (!stopped) {
        set_status(t, 1, "Unpacked %d files (%.1f GB)", count, double(bytes) / 1e9);
        if (kept > 0) logf(t, "%d of the %d files were already unpacked (an earlier import's): kept.", kept, count);
        std::string why;
        if (!hd_swap_dir(fresh, textures, &why)) {
            logf(t, "Cannot move the textures to %s.", textures);
            t.failed.store(1);
            stopped = true;
        }
    }
    if (stopped) {
        // A failed or cancelled import writes no marker and claims nothing.
        if (fs_is_dir(fresh))
            logf(t, "The files unpacked so far were kept in %s: the next Import goes on from them.", fresh);
        return;
    }
    std::string marker = fmt(
        "# HD Fonts and GUI (%s), imported by Quillmarsh's launcher (Features & Mods > HD Textures)\narchive=%s\n"
        "archive_path=%s\nfiles=%d\n",
        hd_gui_page, name, archive_path, imported);
    if (!fs_write_atomic(path_join({hd, hd_gui_marker_file}), marker)) {
        logf(t, "Cannot write in %s.", hd);
        t.failed.store(1);
        return;
    }
    settings_edit([](Settings& s) { s.hd = true; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    logf(t, "HD Fonts and GUI imported: %d files in %s. HD Textures is On.", imported, textures);
    set_status(t, 1, "Imported");
}
