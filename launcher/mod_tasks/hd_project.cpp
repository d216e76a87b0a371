#include "launcher/mod_tasks/hd_project.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/filelist.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/hd_models.h"
#include "launcher/archive/member_name.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/mods/mod_tools.h"
#include "launcher/archive/zip.h"

namespace {

constexpr uint64_t room_full = 25000000000ull;
constexpr uint64_t room_resume_max = 12500000000ull;
constexpr int64_t tool_check_ns = 180000000000;
constexpr std::string_view banner = "EFSG extract/repack tool";
constexpr std::string_view efsgtool = "efsgtool.exe";
constexpr std::string_view hd_project_tool = "EFSAGA_HDProject.exe";
constexpr std::string_view models_hd_tool = "EFSAGA_ModelsHD.exe";
const char* const model_classes[] = {"pc", "npc", "weapon", "summon", "mon", "fa"};

bool is_file(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists && !info.is_dir;
}

bool is_dir(std::string_view path) {
    File_Info info;
    return fs_stat(path, info) && info.exists && info.is_dir && !info.is_link;
}

bool hex_value(std::string_view s, uint64_t& out) {
    if (s.empty() || s.size() > 16) return false;
    uint64_t v = 0;
    for (char c : s) {
        int d = digit_value(c);
        if (d >= 16) return false;
        v = v * 16 + uint64_t(d);
    }
    out = v;
    return true;
}

struct List_Entry {
    std::string code, argument;
};

// The mod's texture lists "Data/loadhd*.txt", in name order, as entries.
std::vector<List_Entry> texture_lists(const std::string& data_dir) {
    std::vector<std::string> names;
    std::vector<Dir_Entry> entries;
    if (fs_list(data_dir, entries)) {
        for (const Dir_Entry& e : entries) {
            std::string low = lower_ascii(e.name);
            if (!e.is_dir && low.starts_with("loadhd") && low.ends_with(".txt")) names.push_back(e.name);
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return name_less_ci2(a, b); });
    std::vector<List_Entry> out;
    for (const std::string& n : names) {
        std::string text;
        if (!fs_read(path_join({data_dir, n}), text)) continue;
        for (std::string_view line : split_at(text, '\n')) {
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            line = trim_space(line);
            if (line.empty() || line.starts_with(";") || line.starts_with("#:")) continue;
            std::vector<std::string> fields;
            size_t at = 0;
            while (at < line.size()) {
                while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\v' || line[at] == '\f'))
                    at++;
                size_t start = at;
                while (at < line.size() && !(line[at] == ' ' || line[at] == '\t' || line[at] == '\v' || line[at] == '\f'))
                    at++;
                if (at > start) fields.emplace_back(line.substr(start, at - start));
            }
            if (fields.empty()) continue;
            std::string code = fields[0];
            for (char& c : code) c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            out.push_back({code, fields.size() > 1 ? fields[1] : std::string()});
        }
    }
    return out;
}

const Hd_Zone* zone_row(std::string_view code) {
    for (const Hd_Zone& z : hd_zones)
        if (z.code == code) return &z;
    return nullptr;
}

// The entries with each zone (by its code) and each model (by its code and
// name) once, at its first place: a list that repeats lines must not run
// the tools again for work already done.
std::vector<List_Entry> once_each(std::vector<List_Entry> list) {
    std::unordered_set<std::string> seen;
    std::vector<List_Entry> out;
    for (List_Entry& e : list) {
        std::string key = zone_row(e.code) ? e.code : e.code + '\n' + e.argument;
        if (seen.insert(std::move(key)).second) out.push_back(std::move(e));
    }
    return out;
}

// One run of the import, from the checks to the swap.
struct Project_Import {
    Task& t;
    std::string archive_path, name, game, letter, voices;
    std::string hd, work, staging, log_path;
    Keep_Set keep;
    Hd_Tool tool;
    Zip_Archive zip;
    std::vector<Zip_Entry> entries;
    int zones = 0, models = 0;
    bool pcs_original = true;

    Project_Import(Task& task, std::string_view path) : t(task), archive_path(path) {}
    ~Project_Import() {
        if (tool.log) std::fclose(tool.log);
    }

    bool fail() {
        t.failed.store(1);
        return false;
    }
    bool fail(std::string_view line) {
        log_line(t, line);
        return fail();
    }
    bool cancelled() const { return t.cancel.load() != 0; }
    std::string w(std::initializer_list<std::string_view> parts) const {
        std::vector<std::string_view> all{work};
        all.insert(all.end(), parts.begin(), parts.end());
        std::string out = work;
        for (size_t i = 1; i < all.size(); i++) out = path_join({out, all[i]});
        return out;
    }
    std::string game_sys(std::string_view file) const { return path_join({game, "amber_data", "sys", file}); }
    // Runs efsgtool; true when it ran and answered 0.
    bool efsg(const std::vector<std::string>& args, std::string_view cwd = "") {
        int64_t code = -1;
        return hd_tool(tool, efsgtool, args, cwd, &code) && code == 0;
    }

    bool checks();
    bool unpack_zip();
    bool tool_runs();
    bool unpack_game();
    bool rebuild();
    bool zone(const Hd_Zone& row);
    bool model(const std::string& cls, const std::string& id);
    bool repack();
    bool finish();
    bool carry_gui(const std::string& old);
    void failed_end();
};

bool Project_Import::checks() {
    Settings s = settings_copy();
    game = s.game_dir;
    if (game.empty() || !fs_is_dir(path_join({game, "amber_data"})))
        return fail("Choose the EMBERFALL SAGA folder first (Home).");
    if (hd_discarded())
        return fail(
            "The game's original archives were discarded (Discard Old Assets): an import needs them. Have Steam "
            "restore them (Properties > Installed Files > Verify integrity of game files), then Import again.");
    letter = s.voice_japanese ? "c" : "u";
    voices = s.voice_japanese ? "Japanese" : "English";
    name = path_base(archive_path);
    set_status(t, 0, "Checking the ZIP");
    if (!zip_open(zip, archive_path)) {
        logf(t, "Cannot open %s.", archive_path);
        return fail();
    }
    if (!zip_entries(zip, entries)) {
        logf(t, "%s is not a ZIP file (or it is damaged).", name);
        return fail();
    }
    std::string missing = hd_project_missing(entries);
    if (!missing.empty()) {
        logf(t, "%s is not the EF SAGA HD Project's ZIP (it has no %s). Get it with Get, from %s.", name, missing,
             hd_project_page);
        return fail();
    }
    for (std::string_view base : {"filelist", "amber_img", "filelist_scr", "amber_scr"}) {
        std::string file = fmt("%s%s.win32.bin", base, letter);
        if (!is_file(game_sys(file))) {
            logf(t, "The game has no amber_data/sys/%s (%s voices).", file, voices);
            return fail();
        }
    }
    Hd_Target target = hd_target_dir();
    hd = target.hd_dir;
    work = path_join({target.root, target.root == game ? "amber_data_hd_work" : "hd_work"});
    staging = path_join({work, "out"});
    for (const Zip_Entry& e : entries) {
        if (!e.name.ends_with("/") && hd_zip_wanted(e.name)) keep[lower_ascii(e.name)] = true;
    }
    // A swap a stop cut short is finished or undone before anything is
    // cleaned; what an earlier failure set aside is only a result to rebuild.
    hd_settle_folders();
    hd_delete_path(work + ".out");
    hd_clean_dir(work, keep);
    if (!ensure_dir(staging)) {
        logf(t, "Cannot make %s.", staging);
        return fail();
    }
    tool.task = &t;
    tool.work_dir = work;
    tool.staging_dir = staging;
    return true;
}

bool Project_Import::unpack_zip() {
    uint64_t wanted = 0, present = 0;
    int64_t count = 0;
    for (const Zip_Entry& e : entries) {
        if (e.name.ends_with("/") || !hd_zip_wanted(e.name)) continue;
        count++;
        wanted += uint64_t(std::max<int64_t>(e.unpacked, 0));
        std::string target;
        File_Info info;
        if (member_path(work, e.name, target) && fs_stat(target, info) && info.exists && !info.is_dir &&
            int64_t(info.size) == e.unpacked)
            present += info.size;
    }
    uint64_t need = hd_room_needed(wanted, present);
    uint64_t free_bytes = 0;
    if (disk_free(work, free_bytes) && free_bytes < need) {
        logf(t,
             "Not enough room: the import needs about %.0f GB free on the disk of %s while it runs, and there are %.1f "
             "GB. Free some space and Import again.",
             double(need) / 1e9, work, double(free_bytes) / 1e9);
        if (present == 0) hd_delete_path(work);
        return fail();
    }
    log_path = data_path({"hd_import.log"});
    tool.log = fs_open_write(log_path);
    int64_t textures = 0;
    hd_project_missing(entries, &textures);
    logf(t, "Importing %s (%d textures) for %s voices into %s", name, textures, voices, hd);
    log_line(t, "This takes a while and needs about 25 GB free while it runs (about 8 GB stay). The game's own files "
                "are not changed.");
    hd_log(tool, "EF SAGA HD Project import: %s -> %s (region %s)", archive_path, hd, letter);

    Hd_Progress p;
    p.task = &t;
    p.label = "Unpacking the ZIP";
    p.from = 0;
    p.to = 0.15f;
    p.files_total = count;
    p.bytes_total = wanted;
    int64_t ordinal = 0, kept = 0;
    for (const Zip_Entry& e : entries) {
        if (e.name.ends_with("/") || !hd_zip_wanted(e.name)) continue;
        std::string target, why;
        if (e.name.find("..") != std::string::npos || !member_path(work, e.name, target, &why)) {
            logf(t, "The ZIP has a file outside its folder (%s): not the mod's ZIP.", e.name);
            return fail();
        }
        if (cancelled()) return false;
        ordinal++;
        p.files_done = ordinal;
        p.current = e.name;
        hd_progress(&p, 0, ordinal == 1 || ordinal == count);
        if (member_on_disk(e, target, &p)) {
            kept++;
        } else if (!zip_extract(zip, e, target, &p)) {
            if (cancelled()) return false;
            logf(t, "Cannot unpack %s from the ZIP: %s.", e.name, import_reason());
            return fail();
        }
        p.bytes_done += e.unpacked;
    }
    set_status(t, 0.15f, "Unpacked the ZIP: %d files (%.1f GB)", count, double(wanted) / 1e9);
    logf(t, "Unpacked the ZIP: %d files.", count);
    if (kept > 0) logf(t, "%d of the ZIP's %d files were already unpacked (an earlier import's): kept.", kept, count);
    hd_log(tool, "ZIP: %d files, %d unpacked before", count, kept);
    std::string data = find_ci(work, "Data");
    if (!fs_copy_file(find_ci(data, "LoadHDPCs.tx1"), path_join({data, "LoadHDPCs.txt"}))) {
        logf(t, "Cannot copy %s to %s (is there room?).", find_ci(data, "LoadHDPCs.tx1"), path_join({data, "LoadHDPCs.txt"}));
        return fail();
    }
    return true;
}

bool Project_Import::tool_runs() {
    set_status(t, 0.15f, "Checking that the mod's tools run%s", "");
    std::string output;
    int64_t code = -1;
    std::string program = find_ci(find_ci(work, "SupportFiles"), efsgtool);
    bool ran = child_run(t, {program}, work, Output_Mode::Quiet, &output, nullptr, tool_check_ns, &code);
    if (cancelled()) return false;
    // A run stopped by the time-out (-1) does not pass, banner or not.
    if (ran && code != -1 && output.find(banner) != std::string::npos) return true;
    log_line(t, "The mod's efsgtool.exe does not run here.");
    std::string said(trim_space(output));
    if (!said.empty()) logf(t, "What it said: %s", utf8_head(said, 600));
    return fail();
}

bool Project_Import::unpack_game() {
    const std::string& r = letter;
    ensure_dir(w({"models", "orig"}));
    ensure_dir(w({"models", "mod"}));
    std::string orig_zone = w({"models", "orig", "zone" + r});
    ensure_dir(orig_zone);
    set_status(t, 0.15f, "Copying the game's archives");
    std::string list = "filelist" + r + ".win32.bin", img = "amber_img" + r + ".win32.bin";
    if (!copy_into(tool, game_sys(list), w({list})) || !copy_into(tool, game_sys(img), w({img}))) return fail();
    set_status(t, 0.2f, "Unpacking amber_img%s", r);
    if (!hd_tool(tool, efsgtool, {"-x", "-efsg", list, img}, "", nullptr) || cancelled()) return fail();
    for (size_t k = 0; k < std::size(hd_zones); k++) {
        if (cancelled()) return false;
        const Hd_Zone& z = hd_zones[k];
        set_status(t, 0.22f + 0.13f * float(k) / 20.0f, "Unpacking zone %s", z.zone);
        std::string f = fmt("filelist_%s%s.win32.bin", z.zone, r), g = fmt("amber_%s%s_img.win32.bin", z.zone, r);
        std::string from_f = w({"amber_img" + r, "zone", f}), from_g = w({"amber_img" + r, "zone", g});
        if (!is_file(from_f) || !is_file(from_g)) {
            hd_log(tool, "zone %s: no %s / %s", z.zone, from_f, from_g);
            continue;
        }
        if (!copy_into(tool, from_f, path_join({orig_zone, f})) || !copy_into(tool, from_g, path_join({orig_zone, g})))
            return fail();
        hd_tool(tool, efsgtool, {"-x", "-efsg", fmt("models\\orig\\zone%s\\%s", r, f), fmt("models\\orig\\zone%s\\%s", r, g)},
                "", nullptr);
        if (tool.failed) return fail();
        std::string zone_dir = path_join({orig_zone, z.zone});
        ensure_dir(zone_dir);
        std::string unpacked = path_join({orig_zone, fmt("amber_%s%s_img", z.zone, r)});
        std::string bg = path_join({unpacked, "bg"});
        if (is_dir(bg)) {
            std::string why;
            if (!fs_rename(bg, path_join({zone_dir, "bg"}), &why)) {
                logf(t, "Cannot move %s to %s (%s): zone %s is left out.", bg, path_join({zone_dir, "bg"}), why, z.zone);
                hd_log(tool, "zone %s: cannot move %s (%s)", z.zone, bg, why);
            }
        }
        hd_delete_path(unpacked);
    }
    hd_delete_path(w({"amber_img" + r}));
    hd_delete_path(w({img}));
    hd_delete_path(w({list}));

    set_status(t, 0.36f, "Unpacking amber_scr%s", r);
    std::string scr_list = "filelist_scr" + r + ".win32.bin", scr = "amber_scr" + r + ".win32.bin";
    if (!copy_into(tool, game_sys(scr_list), w({scr_list})) || !copy_into(tool, game_sys(scr), w({scr}))) return fail();
    if (!hd_tool(tool, efsgtool, {"-x", "-efsg", scr_list, scr}, "", nullptr) || cancelled()) return fail();
    hd_delete_path(w({scr}));
    if (!is_dir(w({"amber_scr" + r, "chr"}))) {
        log_line(t, "efsgtool did not unpack amber_scr (see the import log).");
        logf(t, "Log: %s", log_path);
        return fail();
    }
    for (const Model_Size& m : Original_Model_Sizes) {
        File_Info info;
        std::string path = w({"amber_scr" + r, m.path});
        if (!fs_stat(path, info) || !info.exists || info.is_dir || info.size != m.size) pcs_original = false;
    }
    std::string data = find_ci(work, "Data");
    if (!pcs_original) {
        log_line(t, "The main characters' models are not the original ones (another mod's?): they are left as they are.");
        if (!fs_copy_file(find_ci(data, "LoadHDPCs.tx3"), path_join({data, "LoadHDPCs.txt"}))) {
            logf(t, "Cannot copy %s to %s (is there room?).", find_ci(data, "LoadHDPCs.tx3"),
                 path_join({data, "LoadHDPCs.txt"}));
            return fail();
        }
    }
    for (const char* cls : model_classes) {
        if (std::string_view(cls) == "pc" && !pcs_original) continue;
        if (!copy_tree_suffix(tool, w({"amber_scr" + r, "chr", cls}), w({"models", "orig", "chr", cls}),
                              {".trb", ".imgb"}))
            return fail();
    }
    mirror_dirs(w({"models", "orig"}), w({"models", "mod"}));
    return true;
}

bool Project_Import::zone(const Hd_Zone& row) {
    const std::string& r = letter;
    std::string f = fmt("filelist_%s%s.win32.bin", row.zone, r), g = fmt("amber_%s%s_img.win32.bin", row.zone, r);
    std::string orig = w({"models", "orig", "zone" + r}), mod = w({"models", "mod", "zone"});
    if (!is_file(path_join({orig, f})) || !is_file(path_join({orig, g}))) return true;
    if (!copy_into(tool, path_join({orig, f}), path_join({mod, f})) ||
        !copy_into(tool, path_join({orig, g}), path_join({mod, g})))
        return fail();
    std::string zone_out = w({"models", "mod", "zone" + r, row.zone});
    bool changed = false;
    for (const std::string& b : subdirs(path_join({orig, row.zone, "bg", row.location}))) {
        if (cancelled()) return false;
        std::string x = b.size() <= 3 ? b : b.substr(b.size() - 3);
        std::string q = fmt("zone%s\\%s\\bg\\%s\\%s", r, row.zone, row.location, b);
        delete_tree_files(path_join({zone_out, "bg", row.location, b, "bin"}));
        std::string list = fmt("%sblock%s%s.txt", row.zone, x, r);
        bool list_used = is_file(path_join({find_ci(work, "Data"), list}));
        int64_t code = -1;
        bool ran = list_used
                       ? hd_tool(tool, models_hd_tool, {fmt("data\\%s", list)}, "", &code)
                       : hd_tool(tool, hd_project_tool,
                                 {"/s", fmt("block%s.win32", x), fmt("models\\orig\\%s\\bin\\", q),
                                  fmt("models\\mod\\%s\\bin\\", q), fmt("zone%s\\%s\\", r, row.zone)},
                                 "", &code);
        if (!ran) return fail();
        if (cancelled()) return false;
        if (!hd_texture_done(code, list_used)) continue;
        std::string member = fmt("bg\\%s\\%s\\bin\\block%s.win32", row.location, b, x);
        std::string list_arg = fmt("..\\..\\zone\\%s", f), data_arg = fmt("..\\..\\zone\\%s", g);
        for (std::string_view ext : {".trb", ".imgb"}) {
            int64_t put = -1;
            if (!hd_tool_import(tool, list_arg, data_arg, fmt("%s%s", member, ext), zone_out, &put)) return fail();
            if (put != 0) {
                logf(t, "efsgtool could not put %s%s into %s (exit %d; see the import log).", member, ext, g, put);
                return fail();
            }
        }
        changed = true;
    }
    bool ok = true;
    if (changed) {
        std::string why;
        if (!hd_pair_ok(path_join({mod, f}), path_join({mod, g}), &why)) {
            logf(t, "efsgtool wrote a damaged %s (%s): nothing was changed.", g, why);
            ok = fail();
        } else if (!move_into(tool, path_join({mod, g}), path_join({staging, "zone", g}))) {
            ok = fail();
        } else {
            int64_t put = -1;
            std::string sys = path_join({staging, "sys"});
            if (!hd_tool_import(tool, to_backslashes(path_join({sys, "filelist" + r + ".win32.bin"})),
                                to_backslashes(path_join({sys, "amber_img" + r + ".win32.bin"})),
                                fmt("zone\\%s", f), w({"models", "mod"}), &put)) {
                ok = fail();
            } else if (put != 0) {
                logf(t, "efsgtool could not put %s into amber_img%s (exit %d; see the import log).", f, r, put);
                ok = fail();
            } else {
                zones++;
            }
        }
    }
    hd_delete_path(path_join({mod, f}));
    hd_delete_path(path_join({mod, g}));
    delete_tree_files(zone_out);
    return ok;
}

bool Project_Import::model(const std::string& cls, const std::string& id) {
    std::string data = find_ci(work, "Data");
    bool list_used = is_file(path_join({data, id + ".txt"}));
    int64_t code = -1;
    bool ran = list_used ? hd_tool(tool, models_hd_tool, {fmt("Data\\%s.txt", id)}, "", &code)
                         : hd_tool(tool, hd_project_tool,
                                   {fmt("%s.win32", id), fmt("models\\orig\\chr\\%s\\%s\\bin\\", cls, id),
                                    fmt("models\\mod\\chr\\%s\\%s\\bin\\", cls, id), fmt("%s\\", cls)},
                                   "", &code);
    if (!ran) return fail();
    if (!hd_texture_done(code, list_used)) return true;
    for (std::string_view ext : {".trb", ".imgb"}) {
        std::string file = fmt("%s.win32%s", id, ext);
        std::string from = w({"models", "mod", "chr", cls, id, "bin", file});
        if (is_file(from) && !copy_into(tool, from, w({"amber_scr" + letter, "chr", cls, id, "bin", file})))
            return fail();
    }
    models++;
    return true;
}

bool Project_Import::rebuild() {
    const std::string& r = letter;
    std::string sys = path_join({staging, "sys"});
    ensure_dir(sys);
    if (!copy_into(tool, game_sys("filelist" + r + ".win32.bin"), path_join({sys, "filelist" + r + ".win32.bin"})) ||
        !copy_into(tool, game_sys("amber_img" + r + ".win32.bin"), path_join({sys, "amber_img" + r + ".win32.bin"})))
        return fail();
    std::vector<List_Entry> list = once_each(texture_lists(find_ci(work, "Data")));
    size_t n = list.size();
    for (size_t i = 0; i < n; i++) {
        if (cancelled()) return false;
        const List_Entry& e = list[i];
        set_status(t, 0.4f + 0.5f * float(i) / float(std::max<size_t>(n, 1)), "Putting in the HD textures: %d of %d (%s %s)",
                   int64_t(i) + 1, int64_t(n), e.code, e.argument);
        const Hd_Zone* row = zone_row(e.code);
        std::string cls;
        if (row) {
            if (!zone(*row)) return false;
        } else if (hd_class_dir(e.code, cls) && !e.argument.empty() && (cls != "pc" || pcs_original)) {
            if (!hd_model_id_ok(e.argument)) {
                logf(t, "Left out the model %s of the mod's lists: it is not a model name.", e.argument);
                continue;
            }
            if (!model(cls, e.argument)) return false;
        }
    }
    return true;
}

bool Project_Import::repack() {
    const std::string& r = letter;
    std::string sys = path_join({staging, "sys"});
    std::string img_list = path_join({sys, "filelist" + r + ".win32.bin"}), img = path_join({sys, "amber_img" + r + ".win32.bin"});
    if (zones == 0) {
        hd_delete_path(img_list);
        hd_delete_path(img);
    } else {
        std::string why;
        if (!hd_pair_ok(img_list, img, &why)) {
            logf(t, "efsgtool wrote a damaged amber_img%s (%s): nothing was changed.", r, why);
            return fail();
        }
    }
    if (models > 0) {
        set_status(t, 0.92f, "Packing amber_scr%s again", r);
        std::string list = "filelist_scr" + r + ".win32.bin", packed = "amber_scr" + r + ".win32.bin";
        // The unpacked list of the game's archive must not pass for the new one.
        hd_delete_path(w({list}));
        hd_delete_path(w({packed}));
        std::string why;
        bool ok = efsg({"-c", list, "amber_scr" + r});
        if (ok && !(is_file(w({packed})) && is_file(w({list})))) ok = false;
        if (ok && !hd_pair_ok(w({list}), w({packed}), &why)) {
            hd_log(tool, "amber_scr%s: %s", r, why);
            ok = false;
        }
        if (!ok) {
            log_line(t, "efsgtool could not pack amber_scr again (see the import log).");
            logf(t, "Log: %s", log_path);
            return fail();
        }
        if (!move_into(tool, w({packed}), path_join({sys, packed})) || !move_into(tool, w({list}), path_join({sys, list})))
            return fail();
    }
    if (zones == 0 && models == 0) {
        log_line(t, "No texture could be put in (see the import log): nothing was changed.");
        logf(t, "Log: %s", log_path);
        return fail();
    }
    return true;
}

bool Project_Import::carry_gui(const std::string& old) {
    // Another folder, maybe on another disk: moved, else copied then deleted.
    std::string from = path_join({old, "hd_textures"}), to = path_join({hd, "hd_textures"});
    if (is_dir(from) && !fs_rename(from, to)) {
        if (!copy_tree_changed(t, from, to)) return false;
        hd_delete_path(from);
    }
    std::string marker = path_join({old, hd_gui_marker_file});
    if (is_file(marker) && !fs_copy_file(marker, path_join({hd, hd_gui_marker_file}))) return false;
    return true;
}

bool Project_Import::finish() {
    set_status(t, 0.97f, "Finishing");
    std::string marker = path_join({staging, hd_marker_file});
    std::string text = fmt(
        "# EF SAGA HD Project, imported by Quillmarsh's launcher (Features & Mods > HD Textures)\nzip=%s\nzip_path=%s\n"
        "region=%s\nzones=%d\nmodels=%d\n",
        name, archive_path, letter, zones, models);
    if (!fs_write_atomic(marker, text)) {
        logf(t, "Cannot write %s.", marker);
        return fail();
    }
    // The HD Fonts and GUI textures of the HD folder in use go along: the
    // swap carries them from the old folder after the new one is in place,
    // so they are in one of the two folders at every step.
    std::string old = hd_dir();
    std::string why;
    if (!hd_swap_dir(staging, hd, &why, hd_gui_carry)) {
        logf(t, "Cannot move the new archives to %s.", hd);
        return fail();
    }
    if (!old.empty() && old != hd && !carry_gui(old)) {
        logf(t, "The HD Fonts and GUI textures stay in %s: import that mod's archive again.", old);
    } else if (!old.empty() && old != hd) {
        hd_delete_path(old);
    }
    settings_edit([](Settings& s) { s.hd = true; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    logf(t, "HD Textures imported: %d zones and %d models, in %s. HD Textures is On.", zones, models, hd);
    set_status(t, 1, "Imported");
    return true;
}

void Project_Import::failed_end() {
    zip = Zip_Archive{};
    if (work.empty()) return;
    // The staging folder is never deleted here: after a failed swap it may
    // hold the only copy of what was moved into it. It steps out of the work
    // folder while that is cleaned; when it cannot, nothing is cleaned.
    std::string aside = work + ".out";
    bool has_staging = fs_is_dir(staging);
    if (has_staging && (fs_is_dir(aside) || !fs_rename(staging, aside))) {
        logf(t, "The files unpacked from the ZIP were kept in %s: the next Import goes on from them (delete that folder "
                "to free the space).",
             work);
        return;
    }
    hd_clean_dir(work, keep);
    if (has_staging && !(fs_make_dirs(work) && fs_rename(aside, staging)))
        logf(t, "The new HD folder's files were kept in %s.", aside);
    if (fs_is_dir(work))
        logf(t, "The files unpacked from the ZIP were kept in %s: the next Import goes on from them (delete that folder "
                "to free the space).",
             work);
}

}  // namespace

uint64_t hd_room_needed(uint64_t wanted_bytes, uint64_t unpacked_bytes) {
    uint64_t rule = room_full - std::min(unpacked_bytes, room_resume_max);
    uint64_t still = wanted_bytes > unpacked_bytes ? wanted_bytes - unpacked_bytes : 0;
    return std::max(rule, still);
}

bool hd_texture_done(int64_t exit_code, bool list_used) {
    int32_t code = int32_t(uint32_t(uint64_t(exit_code)));
    if (code >= 1 && code <= 1000) return true;
    return code == 0 && list_used;
}

bool hd_model_id_ok(std::string_view id) {
    return !id.empty() && id.find_first_of("/\\:") == std::string_view::npos && id.find("..") == std::string_view::npos;
}

std::string utf8_head(std::string_view text, size_t limit) {
    if (text.size() <= limit) return std::string(text);
    size_t cut = limit;
    // Step back over continuation bytes to the start of the cut character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) cut--;
    return std::string(text.substr(0, cut));
}

bool hd_pair_ok(std::string_view list, std::string_view archive, std::string* why) {
    auto no = [&](std::string text) {
        if (why) *why = std::move(text);
        return false;
    };
    std::string bytes;
    Filelist parsed;
    if (!fs_read(list, bytes) || !filelist_read(bytes, parsed)) return no(fmt("%s is not a file list", path_base(list)));
    File_Info info;
    if (!fs_stat(archive, info) || !info.exists || info.is_dir) return no(fmt("no %s", path_base(archive)));
    for (const Filelist_Entry& e : parsed.entries) {
        std::vector<std::string_view> fields = split_at(e.text, ':');
        uint64_t position = 0, unpacked = 0, stored = 0;
        if (fields.size() < 4 || !hex_value(fields[0], position) || !hex_value(fields[1], unpacked) ||
            !hex_value(fields[2], stored))
            return no(fmt("a damaged line \"%s\"", e.text));
        if (position > (uint64_t(1) << 40) || stored > filelist_member_max || unpacked > filelist_member_max ||
            position * 2048 + stored > info.size)
            return no(fmt("%s lies past the end of %s", fields[3], path_base(archive)));
    }
    return true;
}

void hd_import_task(Task& t, std::string_view archive_path) {
    Project_Import run(t, archive_path);
    bool ok = run.checks() && run.unpack_zip() && run.tool_runs() && run.unpack_game() && run.rebuild() &&
              run.repack() && run.finish();
    if (!ok) {
        run.failed_end();
        return;
    }
    run.zip = Zip_Archive{};
    if (run.tool.log) {
        std::fclose(run.tool.log);
        run.tool.log = nullptr;
    }
    hd_delete_path(run.work);
}
