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
#include "launcher/gamebuild/config.h"
#include "launcher/mods/member_name.h"
#include "launcher/mods/mod_tools.h"

const Hdm_Character hdm_characters[hdm_character_count] = {
    {"Kestrel",
     {
         {"Original", {}, {}},
         {"High Quality", {"Kestrel.txt"}, {"c201"}},
         {"High Quality, Normal Hair", {"Kestrel_Hair.txt"}, {"c201"}},
         {"Ultimate", {"X_Kestrel2.txt", "X_Kestrel1.txt"}, {"c201", "c001"}},
         {"Ultimate, Normal Hair", {"X_Kestrel_Hair2.txt", "X_Kestrel1.txt"}, {"c201", "c001"}},
         {"Maren Corran", {"Kestrel_Maren.txt", "Kestrel_Maren1.txt"}, {"c201", "c001"}},
         {"Dasha", {"Kestrel_DaSha.txt", "Kestrel_DaSha1.txt"}, {"c201", "c001"}},
         {"Holm", {"Kestrel_Holm.txt", "Kestrel_Holm1.txt"}, {"c201", "c001"}},
         {"Veska Lorn", {"Kestrel_Veska.txt", "Kestrel_Veska1.txt"}, {"c201", "c001"}},
     }},
    {"Brannoc",
     {
         {"Original", {}, {}},
         {"High Quality", {"Brannoc.txt"}, {"c202"}},
         {"Bandaged (Hale Residence)", {"BandagedBrannoc.txt"}, {"c202"}},
         {"Bare Chest", {"ShirtlessBrannoc.txt"}, {"c202"}},
         {"Tarsa's Wyrmfall", {"Brannoc_Wyrmfall.txt"}, {"c202"}},
         {"Oswin Tolvar", {"Brannoc_Tolvar.txt"}, {"c202"}},
         {"Brisk Tolle", {"Brannoc_Tolle.txt"}, {"c202"}},
     }},
    {"Orsel",
     {
         {"Original", {}, {}},
         {"High Quality", {"Orsel.txt"}, {"c203"}},
         {"Ultimate", {"X_Orsel2.txt", "X_Orsel1.txt"}, {"c203", "c003"}},
         {"Ruel", {"Orsel_Ruel.txt"}, {"c203"}},
     }},
    {"Pellam",
     {
         {"Original", {}, {}},
         {"High Quality", {"Pellam.txt"}, {"c204"}},
         {"Ultimate", {"X_Pellam2.txt", "X_Pellam1.txt"}, {"c204", "c004"}},
         {"Deportee Robe", {"Pellam_Deportee.txt"}, {"c204"}},
         {"Tobin", {"Pellam_Tobin.txt"}, {"c204"}},
     }},
    {"Mirela",
     {
         {"Original", {}, {}},
         {"High Quality", {"Mirela.txt"}, {"c205"}},
         {"Ultimate", {"X_Mirela2.txt", "X_Mirela1.txt"}, {"c205", "c005"}},
         {"Deportee Robe", {"Mirela_Deportee.txt"}, {"c205"}},
         {"Wenna Hale", {"Mirela_Wenna.txt"}, {"c205"}},
     }},
    {"Tarsa",
     {
         {"Original", {}, {}},
         {"High Quality", {"Tarsa.txt"}, {"c206"}},
         {"Ultimate", {"X_Tarsa2.txt", "X_Tarsa1.txt"}, {"c206", "c006"}},
         {"Garrow", {"Tarsa_Garrow.txt"}, {"c206"}},
         {"Aldous Hale", {"Tarsa_Aldous.txt"}, {"c206"}},
         {"Veska Lorn", {"Tarsa_Veska.txt"}, {"c206"}},
         {"Kip", {"Tarsa_Kip.txt"}, {"c206"}},
     }},
};

int hdm_choice(const Settings& s, int row) {
    int v = s.hd_models[size_t(row)];
    return v < int(hdm_characters[row].variants.size()) ? v : 0;
}

std::string hdm_text(const Settings& s) {
    std::string out;
    for (int row = 0; row < hdm_character_count; row++) {
        if (row) out += ',';
        out += fmt("%d", hdm_choice(s, row));
    }
    return out;
}

void hdm_parse(Settings& s, std::string_view text) {
    s.hd_models.fill(0);
    std::vector<std::string_view> pieces = split_at(text, ',');
    for (size_t row = 0; row < pieces.size() && row < size_t(hdm_character_count); row++) {
        int64_t v = 0;
        if (parse_int(pieces[row], v) && v >= 0 && v < int64_t(hdm_characters[row].variants.size()))
            s.hd_models[row] = uint8_t(v);
    }
}

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

static std::string marker_path(int row) {
    return data_path({"hdmodels", "out", fmt("%s.txt", ascii_lower(hdm_characters[row].name))});
}

std::string hdm_applied(int row) {
    std::string raw;
    if (!fs_read(marker_path(row), raw)) return {};
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

// --- The task ------------------------------------------------------------------

namespace {

template <typename... A>
void fail(Task& t, std::string_view format, const A&... args) {
    logf(t, format, args...);
    t.failed.store(1);
}

bool taken_model_path(std::string_view path) {
    bool folder = false;
    for (std::string_view prefix : {"chr/pc/", "chr/npc/", "chr/weapon/", "chr/summon/"})
        folder = folder || path.substr(0, prefix.size()) == prefix;
    auto ends = [&](std::string_view suffix) {
        return path.size() >= suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
    };
    return folder && (ends(".trb") || ends(".imgb"));
}

// Builds one character's chosen models (steps c to g of a row); false when
// the task ends.
bool hdm_apply_row(Task& t, Hd_Tool& ctx, const Settings& s, int row, const std::string& asks,
                   const std::string& log_path) {
    const Hdm_Character& c = hdm_characters[row];
    const Hdm_Variant& v = c.variants[size_t(hdm_choice(s, row))];
    const std::string& work = ctx.work_dir;
    set_status(t, 0.45f + float(row) * 0.5f / 6.0f, "%s: %s", c.name, v.label);
    for (std::string_view id : v.models)
        for (std::string_view ext : {".trb", ".imgb"}) fs_remove_file(tool_model_path(work, id, ext));
    for (std::string_view f : v.files) {
        std::string text;
        if (!fs_read(path_join({work, "Data", f}), text)) {
            fail(t, "The mod's Data/%s is missing: import its ZIP again.", f);
            return false;
        }
        std::string arg = fmt("Data\\%s", f);
        if (text.find("::A") != std::string::npos) {
            std::string name = fmt("zqr_%s", f);
            if (!fs_write(path_join({work, "Data", name}), hdm_answer_txt(text, s.hd_models_hide))) {
                fail(t, "Cannot write in %s.", work);
                return false;
            }
            arg = fmt("Data\\%s", name);
        }
        int64_t code = -1;
        if (!hd_tool(ctx, "EF SAGA HD Models.exe", {arg}, work, &code)) {
            t.failed.store(1);
            return false;
        }
        if (t.cancel.load()) {
            t.failed.store(1);
            return false;
        }
        if (code != 0) {
            fail(t, "The models tool could not make %s's %s model (Data\\%s: exit %d). Log: %s", c.name, v.label, f,
                 code, log_path);
            return false;
        }
    }
    if (!tool_models_copy(t, work, v.models, hdm_out_path, c.name, log_path)) return false;
    if (!fs_write(marker_path(row), asks)) {
        t.failed.store(1);
        return false;
    }
    return true;
}

}  // namespace

void hdm_apply_task(Task& t) {
    const Settings s = settings_copy();
    if (s.game_dir.empty()) return fail(t, "Choose the EMBERFALL SAGA folder first (Home).");
    if (!hdm_imported()) return fail(t, "Import HD Models+'s ZIP first.");
    Hd_Tool ctx;
    if (!models_work_open(t, "hdmodels", "hdmodels.log", ctx)) return t.failed.store(1);
    Tool_Log_Close closes{ctx.log};
    const std::string& work = ctx.work_dir;
    const std::string log_path = path_join({work, "hdmodels.log"});

    set_status(t, 0.02f, "Copying the mod's files");
    if (!copy_tree_changed(t, data_path({"mod_src", "hdmodels"}), work)) return t.failed.store(1);

    set_status(t, 0.1f, "Reading the game's models");
    Game_Scripts g;
    if (!game_scripts_open(t, s.game_dir, g)) return t.failed.store(1);
    const std::string orig = path_join({work, "models", "orig"});
    const size_t n = g.list.entries.size();
    int count = 0;
    for (size_t i = 0; i < n; i++) {
        std::vector<std::string_view> fields = game_line_fields(g.list.entries[i].text);
        if (fields.size() != 4 || !taken_model_path(fields[3])) continue;
        if (!game_model_copy(t, g, fields, orig, "Cannot write %s (is there room?).")) return t.failed.store(1);
        count++;
        if (i % 64 == 0) set_status(t, 0.1f + 0.3f * float(i) / float(n), "Reading the game's models (%d)", count);
        // The runner reports the cancellation.
        if (t.cancel.load()) return t.failed.store(1);
    }
    if (!game_models_original(t, orig, "HD Models+", {})) return t.failed.store(1);
    mirror_dirs(orig, path_join({work, "models", "mod"}));

    int applied = 0;
    for (int row = 0; row < hdm_character_count; row++) {
        fs_remove_file(marker_path(row));
        std::string asks = hdm_asks(s, row);
        if (asks.empty()) continue;
        if (!hdm_apply_row(t, ctx, s, row, asks, log_path)) return;
        applied++;
    }

    settings_edit([](Settings& live) { live.hd_models_on = true; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    if (applied)
        logf(t, "HD Models+ applied to %d characters. The game uses them the next time it starts.", applied);
    else
        logf(t, "Every character is Original: the game's own models are used.");
    set_status(t, 1.0f, "HD Models+ applied");
}
