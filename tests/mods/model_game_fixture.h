// A game whose script archive holds the main characters' original models
// (at their exact sizes, packed so that the archive stays small), and the
// HD Models+ mod imported with the fake tool in the place of its models
// tool. The tool's scenario, calls and inputs are files beside its copy in
// the work folder (see tests/mods/tools/fake_mod_tool.cpp).
#pragma once
#include <string>
#include <vector>

#include "launcher/core/task.h"
#include "launcher/mods/hd_models.h"
#include "tests/mods/mod_data_fixture.h"
#include "tests/mods/mod_test_files.h"
#include "tests/support/temp_dir.h"

struct Model_Game : Mod_Game {
    Task task;
    Temp_Dir exe;   // the launcher's folder, holding a stale Quillmarsh.cfg

    Model_Game() {
        paths_set_exe_dir(exe.path);
        fs_write(path_join({exe.path, "Quillmarsh.cfg"}), "stale\n");
    }
    ~Model_Game() { paths_set_exe_dir(""); }

    // The script pair "u": the twelve originals (the one `changed` names a
    // byte longer), the second models c001..c006, an NPC and a weapon model,
    // files the tasks leave alone, and `extra`. The game as it comes is made
    // once a run and shared (tests only read it), unless `own` asks for one
    // of the test's own in `game`.
    bool make_game(const std::string& changed = "", const std::vector<Fixture_Member>& extra = {}, bool own = false) {
        if (!own && changed.empty() && extra.empty()) {
            static Temp_Dir shared;
            static bool made = write_game(shared.path, "", {});
            settings_edit([&](Settings& s) { s.game_dir = shared.path; });
            return made;
        }
        settings_edit([&](Settings& s) { s.game_dir = game; });
        return write_game(game, changed, extra);
    }

    static bool write_game(const std::string& dir, const std::string& changed, const std::vector<Fixture_Member>& extra) {
        std::vector<Fixture_Member> members;
        for (const Model_Size& m : Original_Model_Sizes) {
            std::string bytes(size_t(m.size) + (changed == m.path ? 1 : 0), m.path[10]);
            members.push_back({std::string(m.path), bytes, true});
        }
        for (const char* id : {"c001", "c002", "c003", "c004", "c005", "c006"})
            for (const char* ext : {".trb", ".imgb"})
                members.push_back({fmt("chr/pc/%s/bin/%s.win32%s", id, id, ext), fmt("%s%s", id, ext), false});
        members.push_back({"chr/npc/n001/bin/n001.win32.trb", "npc", false});
        members.push_back({"chr/weapon/w001/bin/w001.win32.imgb", "weapon", false});
        members.push_back({"chr/pc/c201/bin/c201.win32.txt", "not a model", false});
        members.push_back({"zone/z001/bin/z001.win32.trb", "not a character", false});
        members.insert(members.end(), extra.begin(), extra.end());
        return write_pair(dir, "sys/filelist_scru.win32.bin", "sys/amber_scru.win32.bin", members, 0);
    }

    // HD Models+ imported: the tool with its scenario, and answers files.
    bool hd_mod(const std::string& scenario, const std::vector<std::pair<std::string, std::string>>& data) {
        std::string tool = data_path({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"});
        if (!fs_make_dirs(path_dir(tool)) || !fs_copy_file(QM_FAKE_MOD_TOOL, tool) ||
            !fs_write(tool + ".scenario", scenario) || !fs_make_dirs(data_path({"mod_src", "hdmodels", "Data"})))
            return false;
        for (const auto& [name, text] : data)
            if (!fs_write(data_path({"mod_src", "hdmodels", "Data", name}), text)) return false;
        return true;
    }

    // The fake tool's records in a work folder ("hdmodels" or "sculpt").
    static std::string tool_file(const char* area, const char* suffix) {
        return data_path({area, "work", "SupportFiles", "EF SAGA HD Models.exe"}) + suffix;
    }
    static std::string calls(const char* area) { return read(tool_file(area, ".calls")); }
    static std::string inputs(const char* area) { return read(tool_file(area, ".inputs")); }

    // The task log's lines, one a line.
    std::string log() const {
        std::string out;
        for (const std::string& line : task.log) out += line + "\n";
        return out;
    }
    std::string cfg() const { return read(path_join({exe.path, "Quillmarsh.cfg"})); }
};

// The message with "{work}" replaced by the work folder and "{log}" by the
// log of the tool runs.
inline std::string with_work(std::string message, const std::string& work, const std::string& log) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{work}", work}, {"{log}", log}}) {
        size_t at = message.find(key);
        if (at != std::string::npos) message.replace(at, key.size(), value);
    }
    return message;
}

// A path below <data>/<area>/work.
inline std::string work_path(std::string_view area, std::initializer_list<std::string_view> parts) {
    std::string path = data_path({area, "work"});
    for (std::string_view p : parts) path = path_join({path, p});
    return path;
}

inline std::string last_line(const Task& t) { return t.log.empty() ? "" : t.log.back(); }
