#include "launcher/mods/hd_models.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/archive/member_name.h"
#include "launcher/mods/mod_tools.h"

std::string_view hdm_first_missing(std::string_view folder) {
    for (const Hdm_Character& c : hdm_characters)
        for (const Hdm_Variant& v : c.variants)
            for (std::string_view list : v.files)
                if (!file_exists(path_join({folder, "Data", list}))) return list;
    return {};
}

bool hdm_tool_present(std::string_view folder) {
    return file_exists(path_join({folder, "SupportFiles", "EF SAGA HD Models.exe"}));
}

bool hdm_imported() { return hdm_tool_present(data_path({"mod_src", "hdmodels"})); }

const Model_Size Original_Model_Sizes[original_model_count] = {
    {"chr/pc/c201/bin/c201.win32.trb", 794339},  {"chr/pc/c201/bin/c201.win32.imgb", 2130264},
    {"chr/pc/c202/bin/c202.win32.trb", 886815},  {"chr/pc/c202/bin/c202.win32.imgb", 2410136},
    {"chr/pc/c203/bin/c203.win32.trb", 777069},  {"chr/pc/c203/bin/c203.win32.imgb", 2128868},
    {"chr/pc/c204/bin/c204.win32.trb", 714859},  {"chr/pc/c204/bin/c204.win32.imgb", 2326632},
    {"chr/pc/c205/bin/c205.win32.trb", 719745},  {"chr/pc/c205/bin/c205.win32.imgb", 2164820},
    {"chr/pc/c206/bin/c206.win32.trb", 830980},  {"chr/pc/c206/bin/c206.win32.imgb", 2288372},
};

// Whether an answers file holds "::A", remembered with the size and time
// it had, so that the page's every-frame question costs a status read.
static bool holds_weapon_answers(const std::string& path) {
    struct Known {
        uint64_t size;
        int64_t mtime;
        bool holds;
    };
    static std::mutex lock;
    static std::map<std::string, Known> known;
    File_Info info;
    if (!fs_stat(path, info) || !info.exists || info.is_dir) return false;
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = known.find(path);
        if (it != known.end() && it->second.size == info.size && it->second.mtime == info.mtime_ns)
            return it->second.holds;
    }
    std::string text;
    if (!fs_read(path, text)) return false;
    bool holds = text.find("::A") != std::string::npos;
    std::lock_guard<std::mutex> g(lock);
    known[path] = {info.size, info.mtime_ns, holds};
    return holds;
}

std::string hdm_asks(const Settings& s, int row) {
    int choice = hdm_choice(s, row);
    if (choice == 0) return {};
    const Hdm_Variant& v = hdm_characters[row].variants[size_t(choice)];
    for (std::string_view f : v.files) {
        if (holds_weapon_answers(data_path({"mod_src", "hdmodels", "Data", f})))
            return fmt("%s%s", v.label, s.hd_models_hide ? ", weapon hidden" : ", weapon shown");
    }
    return std::string(v.label);
}

std::string hdm_out_path(std::string_view id, std::string_view ext) {
    return data_path({"hdmodels", "out", "chr", "pc", id, "bin", fmt("%s.win32%s", id, ext)});
}

std::string hdm_marker_path(int row) {
    return data_path({"hdmodels", "out", fmt("%s.txt", ascii_lower(hdm_characters[row].name))});
}

std::string hdm_applied(int row) {
    std::string raw;
    if (!fs_read(hdm_marker_path(row), raw)) return {};
    std::string text(trim_space(raw));
    for (const Hdm_Variant& v : hdm_characters[row].variants) {
        if (v.models.empty() || text.compare(0, v.label.size(), v.label) != 0) continue;
        for (std::string_view id : v.models)
            for (std::string_view ext : {".trb", ".imgb"})
                if (!file_exists(hdm_out_path(id, ext))) return {};
    }
    return text;
}

std::string hdm_answer_txt(std::string_view text, bool hide_weapon) {
    std::string out;
    bool in_section = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view t = trim_space(line);
        if (t.substr(0, 3) == "::A") continue;
        if (t.substr(0, 3) == "::I") {
            in_section = true;
            continue;
        }
        if (t.substr(0, 3) == "::E") {
            in_section = false;
            continue;
        }
        if (in_section && !hide_weapon) continue;
        out.append(line);
        out.append("\r\n");
    }
    return out;
}

// --- The game's models -------------------------------------------------------

bool game_scripts_open(Task& t, std::string_view game_dir, Game_Scripts& g) {
    std::string sys = path_join({game_dir, "amber_data", "sys"});
    g.letter.assign(1, file_exists(path_join({sys, "amber_scru.win32.bin"})) ? 'u' : 'c');
    if (!fs_read(path_join({sys, fmt("filelist_scr%s.win32.bin", g.letter)}), g.list_bytes) ||
        !filelist_read(g.list_bytes, g.list)) {
        logf(t, "Cannot read the game's amber_data/sys/filelist_scr%s.win32.bin.", g.letter);
        return false;
    }
    if (!game_archive_open(path_join({sys, fmt("amber_scr%s.win32.bin", g.letter)}), g.archive)) {
        logf(t, "Cannot open the game's amber_scr%s.win32.bin.", g.letter);
        return false;
    }
    return true;
}

std::vector<std::string_view> game_line_fields(std::string_view text) {
    std::vector<std::string_view> fields;
    while (fields.size() < 3) {
        size_t colon = text.find(':');
        if (colon == std::string_view::npos) break;
        fields.push_back(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    fields.push_back(text);
    return fields;
}

bool game_model_copy(Task& t, const Game_Scripts& g, const std::vector<std::string_view>& fields,
                     std::string_view orig_dir, std::string_view write_failed) {
    std::string_view path = fields[3];
    std::string data, target, why;
    // The list is the game's file, but whatever it names is written below
    // our folder only under a name that cannot leave it.
    if (!member_path(orig_dir, path, target, &why)) {
        logf(t, "The game's file list names %s, which cannot be copied: %s.", path, why);
        return false;
    }
    if (!archive_entry(g.archive, fields, data)) {
        logf(t, "Cannot read %s from the game's amber_scr%s.", path, g.letter);
        return false;
    }
    if (!ensure_dir(path_dir(target)) || !fs_write(target, data)) {
        logf(t, write_failed, target);
        return false;
    }
    return true;
}

bool game_models_original(Task& t, std::string_view orig_dir, std::string_view mod_name,
                          const std::vector<std::string>& wanted) {
    for (const Model_Size& m : Original_Model_Sizes) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), m.path) == wanted.end()) continue;
        File_Info info;
        if (fs_stat(member_join(orig_dir, m.path), info) && !info.is_dir && info.size == m.size) continue;
        logf(t,
             "The game's %s is not the original one (another mod's model, put into the game's files?). %s starts "
             "from the original models: restore the game's files (Steam: Verify integrity of game files) and Apply "
             "again.",
             m.path, mod_name);
        return false;
    }
    return true;
}

std::string tool_model_path(std::string_view work, std::string_view id, std::string_view ext) {
    return path_join({work, "models", "mod", "chr", "pc", id, "bin", fmt("%s.win32%s", id, ext)});
}

bool tool_models_copy(Task& t, std::string_view work, const std::vector<std::string_view>& ids,
                      std::string (*out_path)(std::string_view, std::string_view), std::string_view name,
                      std::string_view log_path) {
    for (std::string_view id : ids) {
        for (std::string_view ext : {".trb", ".imgb"}) {
            std::string from = tool_model_path(work, id, ext), to = out_path(id, ext);
            File_Info info;
            bool made = fs_stat(from, info) && !info.is_dir && !info.is_link;
            if (!made || !ensure_dir(path_dir(to)) || !fs_copy_file(from, to)) {
                logf(t, "The models tool made no %s for %s. Log: %s", path_base(from), name, log_path);
                t.failed.store(1);
                return false;
            }
        }
    }
    return true;
}

bool models_work_open(Task& t, std::string_view area, std::string_view log_name, Hd_Tool& ctx) {
    const std::string work = data_path({area, "work"}), out = data_path({area, "out"});
    for (const std::string& dir : {work, out}) {
        if (!fs_make_dirs(dir) && !fs_is_dir(dir)) {
            logf(t, "Cannot make %s.", dir);
            return false;
        }
    }
    ctx.task = &t;
    ctx.work_dir = work;
    ctx.log = fs_open_stream(path_join({work, log_name}));
    return true;
}
