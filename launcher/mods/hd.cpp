#include "launcher/mods/hd.h"

#include <cctype>
#include <functional>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"

static std::string game_folder() { return settings_copy().game_dir; }

bool hd_marker_present(std::string_view folder) {
    if (folder.empty()) return false;
    return file_exists(path_join({folder, hd_marker_file})) || file_exists(path_join({folder, hd_gui_marker_file}));
}

std::string hd_dir() {
    std::string game = game_folder();
    if (!game.empty()) {
        std::string preferred = path_join({game, hd_folder_name});
        if (hd_marker_present(preferred)) return preferred;
    }
    std::string fallback = data_path({"hd"});
    if (hd_marker_present(fallback)) return fallback;
    return "";
}

Hd_Target hd_target_dir() {
    std::string game = game_folder();
    std::string probe = path_join({game, hd_probe_file});
    bool writable = !game.empty() && fs_write(probe, "x");
    // Deleted in both cases: a write that failed half-way may have left it.
    if (!game.empty()) fs_remove_file(probe);
    if (writable) return {path_join({game, hd_folder_name}), game};
    return {data_path({"hd"}), data_dir()};
}

std::string hd_info(std::string_view key, bool gui) {
    std::string folder = hd_dir();
    if (folder.empty()) return "";
    std::string text;
    if (!fs_read(path_join({folder, gui ? hd_gui_marker_file : hd_marker_file}), text)) return "";
    for (std::string_view line : split_at(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim_space(line);
        size_t eq = line.find('=');
        std::string_view name = eq == std::string_view::npos ? line : line.substr(0, eq);
        if (name != key) continue;
        return eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
    }
    return "";
}

bool hd_gui_imported() {
    std::string folder = hd_dir();
    return !folder.empty() && file_exists(path_join({folder, hd_gui_marker_file}));
}

bool hd_discarded() {
    std::string folder = hd_dir();
    return !folder.empty() && file_exists(path_join({folder, hd_discard_file}));
}

std::string hd_zip_find() {
    std::string candidate = hd_info("zip_path", false);
    if (candidate.empty()) {
        std::string name = hd_info("zip", false);
        if (name.empty()) return "";
        std::string profile = env_user_profile();
        std::string downloads = path_join({profile, "Downloads"});
        std::string folder = fs_is_dir(downloads) ? downloads : profile;
        candidate = path_join({folder, name});
    }
    return file_exists(candidate) ? candidate : "";
}

Hd_Old_Assets hd_old_assets() {
    Hd_Old_Assets out;
    std::string folder = hd_dir();
    std::string game = game_folder();
    if (folder.empty() || game.empty()) return out;
    for (std::string_view sub : {std::string_view("sys"), std::string_view("zone")}) {
        std::vector<Dir_Entry> entries;
        if (!fs_list(path_join({folder, sub}), entries)) continue;
        for (const Dir_Entry& e : entries) {
            if (e.is_dir) continue;
            std::string original = path_join({game, "amber_data", sub, e.name});
            File_Info info;
            if (!fs_stat(original, info) || !info.exists || info.is_dir) continue;
            out.list.push_back({original, int64_t(info.size)});
            out.total += int64_t(info.size);
        }
    }
    return out;
}

static bool starts_with_lower(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); i++)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

bool hd_zip_wanted(std::string_view member) {
    return starts_with_lower(member, "textures/") || starts_with_lower(member, "data/") ||
           starts_with_lower(member, "supportfiles/");
}

void hd_clean_dir(std::string_view work, const Keep_Set& keep) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(work, entries)) return;
    for (const Dir_Entry& e : entries) {
        std::string low = ascii_lower(e.name);
        if (e.is_dir && (low == "data" || low == "textures" || low == "supportfiles")) {
            prune_tree(work, e.name, keep);
            continue;
        }
        std::string path = path_join({work, e.name});
        if (e.is_dir) fs_remove_tree(path);
        else fs_remove_file(path);   // a link goes itself
    }
}

struct Hd_Class { char code; const char* folder; };
static const Hd_Class hd_classes[] = {
    {'F', "fa"}, {'M', "mon"}, {'N', "npc"}, {'P', "pc"}, {'S', "summon"}, {'W', "weapon"},
};

bool hd_class_dir(std::string_view code, std::string& folder) {
    if (code.size() != 1) return false;
    for (const Hd_Class& c : hd_classes) {
        if (c.code != code[0]) continue;
        folder = c.folder;
        return true;
    }
    return false;
}

std::string hd_project_missing(const std::vector<Zip_Entry>& entries, int64_t* textures) {
    int64_t count = 0;
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const Zip_Entry& e : entries) {
        std::string low(e.name);
        for (char& c : low) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (low.starts_with("textures/") && !low.ends_with("/")) count++;
        names.push_back(std::move(low));
    }
    if (textures) *textures = count;
    if (count == 0) return "textures/";
    for (std::string_view need : hd_project_files) {
        std::string low(need);
        for (char& c : low) c = char(std::tolower(static_cast<unsigned char>(c)));
        bool found = false;
        for (const std::string& n : names) found = found || n == low;
        if (!found) return std::string(need);
    }
    return "";
}

bool hd_project_zip_ok(std::string_view path) {
    Zip_Archive a;
    std::vector<Zip_Entry> entries;
    return zip_open(a, path) && zip_entries(a, entries) && hd_project_missing(entries).empty();
}

bool hd_project_imported() {
    std::string folder = hd_dir();
    return !folder.empty() && file_exists(path_join({folder, hd_marker_file}));
}

bool hd_delete_path(std::string_view path, std::string* err) {
    File_Info info;
    if (!fs_stat(path, info) || !info.exists) return true;
    bool ok = info.is_dir && !info.is_link ? fs_remove_tree(path, err) : fs_remove_file(path, err);
    if (ok) return true;
    return !fs_stat(path, info) || !info.exists;
}

static bool swap_fails_for_test = false;
static std::function<void(std::string_view, std::string_view)> rename_seam;

void hd_swap_fail_for_test(bool fail) { swap_fails_for_test = fail; }

void hd_set_rename_seam(std::function<void(std::string_view from, std::string_view to)> seam) {
    rename_seam = std::move(seam);
}

static bool seam_rename(std::string_view from, std::string_view to, std::string* err = nullptr) {
    if (rename_seam) rename_seam(from, to);
    return fs_rename(from, to, err);
}

static bool path_exists(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists;
}

bool hd_swap_settle(std::string_view target, const std::vector<std::string_view>& carry, std::string* err) {
    std::string backup = std::string(target) + ".old";
    if (!path_exists(backup)) return true;
    // With no target, the swap stopped between its two renames: the backup
    // is the only copy and goes back.
    if (!path_exists(target)) return seam_rename(backup, target, err);
    // Beside a target, the backup is what the swap retired: what it still
    // holds of `carry` goes across before it is deleted, so a stop at any
    // point of the carrying is taken up here.
    for (std::string_view name : carry) {
        std::string from = path_join({backup, name}), to = path_join({target, name});
        if (path_exists(from) && !path_exists(to) && !seam_rename(from, to, err)) return false;
    }
    return hd_delete_path(backup, err);
}

bool hd_swap_dir(std::string_view fresh, std::string_view target, std::string* err,
                 const std::vector<std::string_view>& carry) {
    std::string backup = std::string(target) + ".old";
    if (!hd_swap_settle(target, carry, err)) return false;
    bool had_target = path_exists(target);
    if (had_target && !seam_rename(target, backup, err)) return false;
    bool moved = !swap_fails_for_test && seam_rename(fresh, target, err);
    if (swap_fails_for_test && err) *err = "refused by the test hook";
    if (!moved) {
        if (had_target) fs_rename(backup, target);
        return false;
    }
    // A backup that cannot be deleted now is settled by the next swap or
    // start; the new folder is in place either way.
    hd_swap_settle(target, carry);
    return true;
}

void hd_settle_folders() {
    struct Place { std::string hd, work; };
    std::vector<Place> places;
    std::string game = game_folder();
    if (!game.empty()) places.push_back({path_join({game, hd_folder_name}), path_join({game, "amber_data_hd_work"})});
    places.push_back({data_path({"hd"}), data_path({"hd_work"})});
    for (const Place& p : places) {
        hd_swap_settle(p.hd, hd_gui_carry);
        hd_swap_settle(path_join({p.hd, "hd_textures"}), {});
        // Textures an import once set aside in its staging folder before its
        // swap, where a stop left the only copy: they go back first.
        std::string staged = path_join({p.work, "out"});
        if (!fs_is_dir(path_join({staged, "hd_textures"})) || path_exists(path_join({p.hd, "hd_textures"}))) continue;
        if (!fs_make_dirs(p.hd)) continue;
        for (std::string_view name : hd_gui_carry) {
            std::string from = path_join({staged, name}), to = path_join({p.hd, name});
            if (path_exists(from) && !path_exists(to)) fs_rename(from, to);
        }
    }
}

void mods_settle() {
    hd_settle_folders();
    for (std::string_view name : {"hardmode", "sculpt", "hdmodels"}) hd_swap_settle(data_path({"mod_src", name}), {});
}
