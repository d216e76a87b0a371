#include "launcher/mods/mod_import.h"

#include <mutex>

#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/buttons.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd_gui.h"
#include "launcher/mods/hd_project.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/member_name.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mods/zip.h"
#include "launcher/rar5/rar5.h"

namespace {

std::mutex import_path_lock;
std::string import_path;


// The last element of a member name ("/" separated).
std::string_view member_file_name(std::string_view name) {
    size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

bool is_folder_member(const Zip_Entry& e) { return !e.name.empty() && e.name.back() == '/'; }

bool any_ends_with(const std::vector<Zip_Entry>& entries, std::string_view lower_suffix) {
    for (const Zip_Entry& e : entries) {
        if (ends_with_lower(e.name, lower_suffix)) return true;
    }
    return false;
}

// Makes a mod source folder below the data folder; "" after logging.
std::string make_source_dir(Task& t, std::string_view name) {
    std::string dir = data_path({"mod_src", name});
    if (!fs_make_dirs(dir) && !fs_is_dir(dir)) {
        logf(t, "Cannot make %s.", dir);
        t.failed.store(1);
        return "";
    }
    return dir;
}

// Unpacks one member to `relative` below `dir` (the name checked first).
bool unpack_as(Task& t, Zip_Archive& a, const Zip_Entry& e, const std::string& dir, std::string_view relative) {
    std::string target, why;
    if (!member_path(dir, relative, target, &why)) {
        logf(t, "Cannot unpack %s from the ZIP: %s.", e.name, "its name is not safe to unpack (" + why + ")");
        t.failed.store(1);
        return false;
    }
    if (!zip_extract(a, e, target, nullptr)) {
        logf(t, "Cannot unpack %s from the ZIP: %s.", e.name, import_reason());
        t.failed.store(1);
        return false;
    }
    return true;
}

void rewrite_cfg() { cfg_write_file(exe_dir(), Cfg_When::If_Present); }


}  // namespace

std::string lower_ascii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return out;
}

bool ends_with_lower(std::string_view name, std::string_view lower_suffix) {
    if (name.size() < lower_suffix.size()) return false;
    return lower_ascii(name.substr(name.size() - lower_suffix.size())) == lower_suffix;
}

float hdm_import_progress(int n) {
    float p = float(n) * 0.9f / 150.0f + 0.05f;
    return p < 1.0f ? p : 1.0f;
}

Zip_Kind zip_kind(const std::vector<Zip_Entry>& entries) {
    if (any_ends_with(entries, "efsaga_hard_ctg+30.txt")) return Zip_Kind::Hard_Mode;
    if (any_ends_with(entries, "saga_sculpting.bin")) return Zip_Kind::Sculpt;
    if (any_ends_with(entries, "supportfiles/ef saga hd models.exe") && any_ends_with(entries, "data/x_kestrel1.txt"))
        return Zip_Kind::Hd_Models;
    if (any_ends_with(entries, "system.win32.ps3") && any_ends_with(entries, "system.win32.360"))
        return Zip_Kind::Button_Icons;
    if (any_ends_with(entries, "hd_textures/hash_database.txt")) return Zip_Kind::Hd_Gui;
    return Zip_Kind::Hd_Project;
}

std::string hd_import_path() {
    std::lock_guard<std::mutex> guard(import_path_lock);
    return import_path;
}

bool hd_import_start(std::string_view archive_path) {
    {
        std::lock_guard<std::mutex> guard(import_path_lock);
        import_path = std::string(archive_path);
    }
    // Refused, with nothing else changed, while a task runs.
    return task_start("HD Textures", hd_import_any, 0);
}

void hd_import_any(Task& t) {
    const std::string path = hd_import_path();
    const std::string name = path_base(path);
    Zip_Archive archive;
    int64_t size = 0;
    if (!zip_open(archive, path) || !file_size(archive.file, size)) {
        logf(t, "Cannot open %s.", path);
        t.failed.store(1);
        return;
    }
    unsigned char head[8] = {};
    int64_t got = size > 0 ? file_read_at(archive.file, 0, head, size < 8 ? size_t(size) : 8) : 0;
    if (got == 8 && std::equal(head, head + 8, rar5::signature)) {
        archive = Zip_Archive{};
        // Every RAR5 archive is taken for HD Fonts and GUI.
        rar5::Rar5_Archive rar;
        std::vector<rar5::Rar5_Entry> listing;
        if (!rar5::open_file(path, rar) || !rar5::list(rar, listing)) {
            logf(t, "%s is a RAR archive this launcher cannot read (encrypted, multi-part, or damaged).", name);
            t.failed.store(1);
            return;
        }
        std::vector<Gui_Member> members;
        for (const rar5::Rar5_Entry& e : listing) {
            if (e.is_directory) continue;
            Gui_Member m;
            m.name = e.name;
            m.size = e.unpacked_size;
            m.rar = e;
            members.push_back(std::move(m));
        }
        hd_gui_import(t, path, Gui_Archive{nullptr, &rar}, members);
        return;
    }
    if (got >= 4 && std::equal(head, head + 4, rar5::signature)) {
        archive = Zip_Archive{};
        logf(t,
             "%s is an old RAR (RAR 4) archive: unpack it with 7-Zip or WinRAR and make a ZIP of it, or get the mod "
             "again.",
             name);
        t.failed.store(1);
        return;
    }
    std::vector<Zip_Entry> entries;
    if (!zip_entries(archive, entries) || entries.empty()) {
        archive = Zip_Archive{};
        hd_import_task(t, path);
        return;
    }
    switch (zip_kind(entries)) {
    case Zip_Kind::Hard_Mode: hard_import(t, archive, entries, name); break;
    case Zip_Kind::Sculpt: sculpt_import(t, archive, entries, name); break;
    case Zip_Kind::Hd_Models: hdm_import(t, archive, entries, name); break;
    case Zip_Kind::Button_Icons: bb_import(t, archive, entries, name); break;
    case Zip_Kind::Hd_Gui: {
        std::vector<Gui_Member> members;
        for (const Zip_Entry& e : entries) {
            if (is_folder_member(e)) continue;
            Gui_Member m;
            m.name = e.name;
            m.size = e.unpacked;
            m.zip = e;
            members.push_back(std::move(m));
        }
        hd_gui_import(t, path, Gui_Archive{&archive, nullptr}, members);
        break;
    }
    case Zip_Kind::Hd_Project:
        archive = Zip_Archive{};
        hd_import_task(t, path);
        break;
    }
}

void hard_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Importing %s", archive_name);
    std::string dir = make_source_dir(t, "hardmode");
    if (dir.empty()) return;
    int count = 0;
    for (const Zip_Entry& e : entries) {
        if (is_folder_member(e) || !ends_with_lower(e.name, ".txt")) continue;
        // Flat: a file in a sub-folder lands in the folder itself.
        if (!unpack_as(t, a, e, dir, member_file_name(e.name))) return;
        count++;
    }
    std::string_view missing = hard_first_missing(dir);
    if (!missing.empty()) {
        logf(t, "%s has no %s: not the Hard Mode version this launcher knows (1.16).", archive_name, missing);
        t.failed.store(1);
        return;
    }
    logf(t, "Hard Mode: %d files imported. Pick its options on Features & Mods; they apply the next time the game starts.",
         count);
    rewrite_cfg();
    set_status(t, 1, "Hard Mode imported");
}

void sculpt_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Importing %s", archive_name);
    std::string dir = make_source_dir(t, "sculpt");
    if (dir.empty()) return;
    for (const Zip_Entry& e : entries) {
        if (is_folder_member(e)) continue;
        std::string_view file = member_file_name(e.name);
        std::string lower = lower_ascii(file);
        if (lower.size() < 4 || !(ends_with_lower(lower, ".bat") || lower == "saga_sculpting.bin")) continue;
        if (!unpack_as(t, a, e, dir, file)) return;
    }
    for (const Sculpt_Character& c : sculpt_characters) {
        std::string text;
        if (!fs_read(path_join({dir, c.batch_file}), text) || text.find(":SCULPT") == std::string::npos) {
            logf(t, "%s has no %s: not the Body Sculpting version this launcher knows (4.0.5).", archive_name,
                 c.batch_file);
            t.failed.store(1);
            return;
        }
    }
    if (!sculpt_imported()) {
        logf(t, "%s has no SAGA_Sculpting.bin.", archive_name);
        t.failed.store(1);
        return;
    }
    logf(t, "Body Sculpting imported. Pick the shapes on Features & Mods, then Apply Sculpting.");
    set_status(t, 1, "Body Sculpting imported");
}

void hdm_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Importing %s", archive_name);
    std::string dir = make_source_dir(t, "hdmodels");
    if (dir.empty()) return;
    const std::string_view tool = "supportfiles/ef saga hd models.exe";
    std::string prefix;
    for (const Zip_Entry& e : entries) {
        size_t at = lower_ascii(e.name).find(tool);
        if (at != std::string::npos) {
            prefix = e.name.substr(0, at);
            break;
        }
    }
    int n = 0;
    for (const Zip_Entry& e : entries) {
        if (is_folder_member(e) || e.name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string_view relative = std::string_view(e.name).substr(prefix.size());
        std::string lower = lower_ascii(relative);
        bool wanted = lower.starts_with("supportfiles/") || lower.starts_with("data/") || lower.starts_with("textures/");
        if (!wanted || lower.ends_with(".bat") || relative.find("..") != std::string_view::npos) continue;
        n++;
        set_status(t, hdm_import_progress(n), "Unpacking %s", relative);
        if (!unpack_as(t, a, e, dir, relative)) return;
        if (t.cancel.load()) {
            t.failed.store(1);
            return;
        }
    }
    for (const Hdm_Character& c : hdm_characters) {
        for (const Hdm_Variant& v : c.variants) {
            for (std::string_view list : v.files) {
                if (!file_exists(path_join({dir, "Data", list}))) {
                    logf(t, "%s has no Data/%s: not the HD Models+ version this launcher knows (4.1.7).", archive_name,
                         list);
                    t.failed.store(1);
                    return;
                }
            }
        }
    }
    if (!hdm_imported()) {
        logf(t, "%s has no SupportFiles/EF SAGA HD Models.exe.", archive_name);
        t.failed.store(1);
        return;
    }
    logf(t, "HD Models+ imported. Pick each character's model on Features & Mods, then Apply HD Models.");
    set_status(t, 1, "HD Models+ imported");
}
