#include "launcher/mod_tasks/mod_import.h"

#include <algorithm>
#include <cstdint>
#include <mutex>

#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/buttons.h"
#include "launcher/mod_tasks/buttons_import.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd.h"
#include "launcher/mod_tasks/hd_gui.h"
#include "launcher/mod_tasks/hd_project.h"
#include "launcher/mods/hd_models.h"
#include "launcher/archive/member_name.h"
#include "launcher/mods/mod_tools.h"
#include "launcher/mods/sculpt.h"
#include "launcher/archive/zip.h"
#include "launcher/archive/rar5.h"

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

// One import of a small mod into its source folder "mod_src/<name>": the
// archive's files are unpacked into "<name>.new" beside it, checked there,
// and only then swapped in as a whole, so a refused, failed or cancelled
// import leaves the folder in use byte for byte as it was.
struct Mod_Stage {
    Task& t;
    std::string dir, fresh;
    Hd_Progress progress;
    explicit Mod_Stage(Task& task) : t(task) {
        progress.task = &task;
        progress.quiet = true;
    }
    // Drops the new folder (nothing of it is kept) and marks the task failed.
    bool fail() {
        hd_delete_path(fresh);
        t.failed.store(1);
        return false;
    }
};

constexpr uint64_t room_margin = 268435456;   // 256 MiB, as the HD imports keep

// The bytes the members unpack to, saturating.
uint64_t unpacked_bytes(const std::vector<const Zip_Entry*>& members) {
    uint64_t total = 0;
    for (const Zip_Entry* e : members) {
        uint64_t n = uint64_t(std::max<int64_t>(e->unpacked, 0));
        total = n > UINT64_MAX - total ? UINT64_MAX : total + n;
    }
    return total;
}

// Makes the new folder (an earlier run's is dropped first) once there is
// room for the members: their size, a tenth more and 256 MiB.
bool stage_open(Mod_Stage& s, std::string_view name, const std::vector<const Zip_Entry*>& members) {
    std::string parent = data_path({"mod_src"});
    s.dir = data_path({"mod_src", name});
    s.fresh = s.dir + ".new";
    hd_swap_settle(s.dir, {});
    if (!ensure_dir(parent)) {
        logf(s.t, "Cannot make %s.", parent);
        s.t.failed.store(1);
        return false;
    }
    uint64_t bytes = unpacked_bytes(members), free_bytes = 0;
    uint64_t need = bytes > UINT64_MAX - bytes / 10 - room_margin ? UINT64_MAX : bytes + bytes / 10 + room_margin;
    if (disk_free(parent, free_bytes) && free_bytes < need) {
        logf(s.t, "Not enough room: the mod's files need about %.1f GB free on the disk of %s, and there are %.1f GB.",
             double(need) / 1e9, parent, double(free_bytes) / 1e9);
        s.t.failed.store(1);
        return false;
    }
    hd_delete_path(s.fresh);
    if (!ensure_dir(s.fresh)) {
        logf(s.t, "Cannot make %s.", s.fresh);
        return s.fail();
    }
    s.progress.files_total = int64_t(members.size());
    s.progress.bytes_total = bytes;
    return true;
}

// Unpacks one member to `relative` below the new folder (the name checked
// first); a cancel ends it without a message.
bool stage_unpack(Mod_Stage& s, Zip_Archive& a, const Zip_Entry& e, std::string_view relative) {
    std::string target, why;
    if (s.t.cancel.load()) return s.fail();
    if (!member_path(s.fresh, relative, target, &why)) {
        logf(s.t, "Cannot unpack %s from the ZIP: %s.", e.name, "its name is not safe to unpack (" + why + ")");
        return s.fail();
    }
    if (!zip_extract(a, e, target, &s.progress)) {
        if (!s.t.cancel.load()) logf(s.t, "Cannot unpack %s from the ZIP: %s.", e.name, import_reason());
        return s.fail();
    }
    s.progress.files_done++;
    return true;
}

// Puts the checked new folder in the place of the one in use.
bool stage_commit(Mod_Stage& s) {
    if (s.t.cancel.load()) return s.fail();
    std::string why;
    if (hd_swap_dir(s.fresh, s.dir, &why)) return true;
    logf(s.t, "Cannot put the imported files in %s (%s).", s.dir, why);
    return s.fail();
}

// The launcher's own spelling of a name it looks for later, when the
// member's name is that name in another case (a packer may change it, and
// only Windows ignores case); any other name as stored.
std::string spelled(std::string_view name, const std::vector<std::string_view>& fixed) {
    std::string low = lower_ascii(name);
    for (std::string_view f : fixed)
        if (lower_ascii(f) == low) return std::string(f);
    return std::string(name);
}

std::vector<std::string_view> hard_file_names() {
    std::vector<std::string_view> out;
    for (const Hard_Option& o : hard_options)
        for (std::string_view f : o.files)
            if (!f.empty()) out.push_back(f);
    return out;
}

std::vector<std::string_view> sculpt_file_names() {
    std::vector<std::string_view> out{sculpt_data_file};
    for (const Sculpt_Character& c : sculpt_characters) out.push_back(c.batch_file);
    return out;
}

// An HD Models+ member's name below the mod's root: its first folder, the
// tool and the list files in the launcher's spelling.
std::string hdm_spelled(std::string_view relative) {
    size_t slash = relative.find('/');
    std::string top = spelled(relative.substr(0, slash), {"SupportFiles", "Data", "Textures"});
    std::string rest(relative.substr(slash + 1));
    if (top == "SupportFiles") rest = spelled(rest, {"EF SAGA HD Models.exe"});
    if (top == "Data") {
        std::vector<std::string_view> lists;
        for (const Hdm_Character& c : hdm_characters)
            for (const Hdm_Variant& v : c.variants) lists.insert(lists.end(), v.files.begin(), v.files.end());
        rest = spelled(rest, lists);
    }
    return top + "/" + rest;
}

void rewrite_cfg() { cfg_write_file(exe_dir(), Cfg_When::If_Present); }

// Refuses what was unpacked: logs `why` and drops the new folder.
void stage_refuse(Mod_Stage& s, std::string_view why) {
    log_line(s.t, why, false);
    s.fail();
}

// Puts the checked new folder in place; once it is, logs `done`, rewrites
// the cfg for the game and ends the task with `status`.
void stage_finish(Mod_Stage& s, std::string_view done, std::string status) {
    if (!stage_commit(s)) return;
    log_line(s.t, done, false);
    rewrite_cfg();
    set_status_text(s.t, 1, std::move(status));
}


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
    mods_settle();
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
    std::vector<const Zip_Entry*> taken;
    for (const Zip_Entry& e : entries)
        if (!is_folder_member(e) && ends_with_lower(e.name, ".txt")) taken.push_back(&e);
    Mod_Stage s(t);
    if (!stage_open(s, "hardmode", taken)) return;
    const std::vector<std::string_view> fixed = hard_file_names();
    int count = 0;
    for (const Zip_Entry* e : taken) {
        // Flat: a file in a sub-folder lands in the folder itself.
        if (!stage_unpack(s, a, *e, spelled(member_file_name(e->name), fixed))) return;
        count++;
    }
    std::string_view missing = hard_first_missing(s.fresh);
    if (!missing.empty()) {
        stage_refuse(s, fmt("%s has no %s: not the Hard Mode version this launcher knows (1.16).", archive_name, missing));
        return;
    }
    stage_finish(s,
                 fmt("Hard Mode: %d files imported. Pick its options on Features & Mods; they apply the next time "
                     "the game starts.",
                     count),
                 "Hard Mode imported");
}

void sculpt_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Importing %s", archive_name);
    std::vector<const Zip_Entry*> taken;
    for (const Zip_Entry& e : entries) {
        if (is_folder_member(e)) continue;
        std::string lower = lower_ascii(member_file_name(e.name));
        if (lower.size() >= 4 && (ends_with_lower(lower, ".bat") || lower == "saga_sculpting.bin")) taken.push_back(&e);
    }
    Mod_Stage s(t);
    if (!stage_open(s, "sculpt", taken)) return;
    const std::vector<std::string_view> fixed = sculpt_file_names();
    for (const Zip_Entry* e : taken)
        if (!stage_unpack(s, a, *e, spelled(member_file_name(e->name), fixed))) return;
    for (const Sculpt_Character& c : sculpt_characters) {
        std::string text;
        if (!fs_read(path_join({s.fresh, c.batch_file}), text) || text.find(":SCULPT") == std::string::npos) {
            stage_refuse(s, fmt("%s has no %s: not the Body Sculpting version this launcher knows (4.0.5).",
                                archive_name, c.batch_file));
            return;
        }
    }
    if (!file_exists(path_join({s.fresh, sculpt_data_file}))) {
        stage_refuse(s, fmt("%s has no SAGA_Sculpting.bin.", archive_name));
        return;
    }
    stage_finish(s, "Body Sculpting imported. Pick the shapes on Features & Mods, then Apply Sculpting.",
                 "Body Sculpting imported");
}

void hdm_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Importing %s", archive_name);
    const std::string_view tool = "supportfiles/ef saga hd models.exe";
    std::string prefix;
    for (const Zip_Entry& e : entries) {
        size_t at = lower_ascii(e.name).find(tool);
        if (at != std::string::npos) {
            prefix = e.name.substr(0, at);
            break;
        }
    }
    std::vector<const Zip_Entry*> taken;
    for (const Zip_Entry& e : entries) {
        if (is_folder_member(e) || e.name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string_view relative = std::string_view(e.name).substr(prefix.size());
        std::string lower = lower_ascii(relative);
        bool wanted = lower.starts_with("supportfiles/") || lower.starts_with("data/") || lower.starts_with("textures/");
        if (!wanted || lower.ends_with(".bat") || relative.find("..") != std::string_view::npos) continue;
        taken.push_back(&e);
    }
    Mod_Stage s(t);
    if (!stage_open(s, "hdmodels", taken)) return;
    int n = 0;
    for (const Zip_Entry* e : taken) {
        std::string_view relative = std::string_view(e->name).substr(prefix.size());
        n++;
        set_status(t, hdm_import_progress(n), "Unpacking %s", relative);
        if (!stage_unpack(s, a, *e, hdm_spelled(relative))) return;
    }
    std::string_view list = hdm_first_missing(s.fresh);
    if (!list.empty()) {
        stage_refuse(s, fmt("%s has no Data/%s: not the HD Models+ version this launcher knows (4.1.7).",
                            archive_name, list));
        return;
    }
    if (!hdm_tool_present(s.fresh)) {
        stage_refuse(s, fmt("%s has no SupportFiles/EF SAGA HD Models.exe.", archive_name));
        return;
    }
    stage_finish(s, "HD Models+ imported. Pick each character's model on Features & Mods, then Apply HD Models.",
                 "HD Models+ imported");
}
