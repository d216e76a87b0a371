// What the Features & Mods page reads of the file system.
#include <cctype>
#include <cstdint>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/settings.h"
#include "launcher/mods/buttons.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mod_tasks/hd_remove.h"
#include "launcher/mods/sculpt.h"
#include "launcher/ui/features.h"

Features_State features_state_read(const Settings& s) {
    Features_State f;
    std::string dir = hd_dir();
    f.hd_folder = !dir.empty();
    if (f.hd_folder) {
        File_Info info;
        f.hd_project = fs_stat(path_join({dir, hd_marker_file}), info) && info.exists && !info.is_dir && !info.is_link;
    }
    if (f.hd_project) {
        f.hd_zip = hd_info("zip", false);
        f.hd_region = hd_info("region", false);
    }
    for (const Hd_Leftover& l : hd_project_left()) {
        f.hd_left.push_back(l.path);
        File_Info info;
        bool log_file = path_base(l.path) == "hd_import.log" && fs_stat(l.path, info) && !info.is_dir;
        if (!log_file) f.hd_left_real = true;
    }
    f.hd_gui = hd_gui_imported();
    if (f.hd_gui) {
        f.gui_archive = hd_info("archive", true);
        f.gui_files = hd_info("files", true);
    }
    f.discarded = hd_discarded();
    if (f.hd_project) f.old_bytes = hd_old_assets().total;
    f.buttons = bb_present();
    f.hard = hard_imported();
    f.hdm = hdm_imported();
    if (f.hdm) {
        for (int i = 0; i < hdm_character_count; ++i) {
            f.hdm_asks[size_t(i)] = hdm_asks(s, i);
            f.hdm_applied[size_t(i)] = hdm_applied(i);
        }
    }
    f.sculpt = sculpt_imported();
    if (f.sculpt) {
        for (int i = 0; i < sculpt_character_count; ++i) {
            f.sculpt_state[size_t(i)] = sculpt_state(s, i);
            f.sculpt_applied[size_t(i)] = sculpt_applied(i);
        }
    }
    return f;
}

int64_t count_saves(std::string_view folder) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(folder, entries)) return 0;
    int64_t n = 0;
    for (const Dir_Entry& e : entries) {
        if (e.is_dir || e.name.size() < 4) continue;
        std::string tail = e.name.substr(e.name.size() - 4);
        for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".dat") ++n;
    }
    return n;
}

int64_t path_size(std::string_view path) {
    File_Info info;
    if (!fs_stat(path, info) || !info.exists) return 0;
    if (!info.is_dir) return int64_t(info.size);
    // A list of folders still to walk rather than recursion: a deep tree
    // cannot exhaust the stack.
    std::vector<std::string> pending{std::string(path)};
    uint64_t total = 0;
    while (!pending.empty()) {
        std::string dir = std::move(pending.back());
        pending.pop_back();
        std::vector<Dir_Entry> entries;
        if (!fs_list(dir, entries)) return 0;
        for (const Dir_Entry& e : entries) {
            if (e.is_dir) {
                pending.push_back(path_join({dir, e.name}));
            } else {
                total += e.size;
            }
        }
    }
    return total > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(total);
}
