// The HD Project import's test fixtures: the mod's ZIP, a small game
// install whose archives the fake tool pulls apart, and what the tests read
// back of the HD folder.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/mods/filelist.h"
#include "launcher/mods/hd.h"
#include "launcher/mod_tasks/hd_project.h"
#include "launcher/mod_tasks/hd_remove.h"
#include "launcher/mod_tasks/mod_import.h"
#include "tests/mods/filelist_fixture.h"
#include "tests/mods/zip_maker.h"
#include "tests/mods/import_run.h"
#include "tests/support/data_folder.h"
#include <gtest/gtest.h>


inline std::vector<Zip_Member> project_members() {
    return {{"SupportFiles/efsgtool.exe", "MZ"},
            {"SupportFiles/EFSAGA_HDProject.exe", "MZ"},
            {"SupportFiles/EFSAGA_ModelsHD.exe", "MZ"},
            {"Data/LoadHDPCs.tx1", "P c201"},
            {"Data/LoadHDPCs.tx3", "N n001"},
            {"Data/LoadHDEnvironments.txt", "Z2"},
            {"Textures/z002/a.dds", std::string(4000, 'd'), true},
            {"readme.txt", "not unpacked"}};
}

struct Project_Fixture : Data_Folder {
    std::string game, work;
    Project_Fixture() {
        game = path_join({dir.path, "EMBERFALL SAGA"});
        work = path_join({game, "amber_data_hd_work"});
        for (const char* f : {"filelistu", "amber_imgu", "filelist_scru", "amber_scru"})
            put(path_join({game, "amber_data", "sys", std::string(f) + ".win32.bin"}), "game's own");
        settings_edit([&](Settings& s) { s.game_dir = game; });
        // Room enough unless a test says otherwise.
        fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
            bytes = uint64_t(1) << 40;
            return true;
        });
    }
    ~Project_Fixture() {
        fs_set_free_space_hook(nullptr);
        settings_replace(Settings{});
    }
    static void put(const std::string& path, std::string_view bytes) {
        fs_make_dirs(path_dir(path));
        fs_write(path, bytes);
    }
    std::string archive(const std::string& name, const std::string& bytes) const {
        std::string path = path_join({dir.path, name});
        put(path, bytes);
        return path;
    }
};



using Members = std::vector<std::pair<std::string, std::string>>;

// A game file list and its archive holding the members, stored unpacked at
// 2048-byte positions as the game's own archives do.
inline std::pair<std::string, std::string> game_pair(const Members& members) {
    std::string lines, archive;
    std::vector<Fixture_Entry> entries;
    for (const auto& [name, data] : members) {
        archive.resize((archive.size() + 2047) / 2048 * 2048, '\0');
        entries.push_back({0, 0, uint32_t(lines.size())});
        lines += fmt("%x:%x:%x:%s", int64_t(archive.size() / 2048), int64_t(data.size()), int64_t(data.size()), name);
        lines.push_back('\0');
        archive += data;
    }
    return {fixture_list({lines}, entries), archive};
}

// The members of a pair as the game would read them; empty when the pair
// is damaged.
inline std::map<std::string, std::string> pair_members(std::string_view list_bytes, const std::string& archive_path) {
    std::map<std::string, std::string> out;
    Filelist list;
    Game_Archive archive;
    if (!filelist_read(list_bytes, list) || !game_archive_open(archive_path, archive)) return {};
    for (const Filelist_Entry& e : list.entries) {
        std::vector<std::string_view> fields = split_at(e.text, ':');
        std::string data;
        if (fields.size() < 4 || !archive_entry(archive, fields, data)) return {};
        out[std::string(fields[3])] = data;
    }
    return out;
}

inline std::map<std::string, std::string> pair_files(const std::string& list_path, const std::string& archive_path) {
    std::string bytes;
    if (!fs_read(list_path, bytes)) return {};
    return pair_members(bytes, archive_path);
}

// Every file below a folder, by its "/" path relative to it.
inline void files_below(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    std::vector<Dir_Entry> entries;
    fs_list(dir, entries);
    for (const Dir_Entry& e : entries) {
        if (e.is_dir) files_below(path_join({dir, e.name}), prefix + e.name + "/", out);
        else out.push_back(prefix + e.name);
    }
}
inline std::vector<std::string> files_below(const std::string& dir) {
    std::vector<std::string> out;
    files_below(dir, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

inline bool logged(const Task_View& v, const std::string& line) {
    return std::find(v.log.begin(), v.log.end(), line) != v.log.end();
}
inline std::string all_lines(const Task_View& v) {
    std::string out;
    for (const std::string& l : v.log) out += l + "\n";
    return out;
}


inline constexpr const char* ok_tool = "on - banner EFSG extract/repack tool\non - exit 0\nact\n";

// The HD Project ZIP with its three programs (the fake tool), their
// scenarios and the given texture lists.
inline std::string whole_project_zip(const std::string& environments, const std::string& npcs,
                              const std::string& texture_tool = "act\nexit 1\n", const std::string& efsgtool = ok_tool) {
#ifdef _WIN32
    std::string program;
    fs_read(QM_FAKE_MOD_TOOL, program);   // run as it is
#else
    std::string program = "MZ";   // run by the fake tool through QM_EXE_RUNNER
#endif
    return make_zip({{"SupportFiles/efsgtool.exe", program},
                     {"SupportFiles/EFSAGA_HDProject.exe", program},
                     {"SupportFiles/EFSAGA_ModelsHD.exe", program},
                     {"SupportFiles/efsgtool.exe.scenario", efsgtool},
                     {"SupportFiles/EFSAGA_HDProject.exe.scenario", texture_tool},
                     {"Data/LoadHDPCs.tx1", "P c201\n"},
                     {"Data/LoadHDPCs.tx3", "; the main characters are left out\n"},
                     {"Data/LoadHDEnvironments.txt", environments},
                     {"Data/LoadHDNPCs.txt", npcs},
                     {"Textures/z002/a.dds", "dds"},
                     {"readme.txt", "not unpacked"}});
}

// A game install with one zone (z002, one block) and the script archive
// with one NPC model and a main character that is not the original.
struct Game_Fixture : Project_Fixture {
    std::string hd;
    Game_Fixture() {
        hd = path_join({game, "amber_data_hd"});
        auto zone = game_pair({{"bg/loc006/block123/bin/block123.win32.trb", "trb z2"},
                               {"bg/loc006/block123/bin/block123.win32.imgb", "imgb z2"}});
        auto img = game_pair({{"zone/filelist_z002u.win32.bin", zone.first},
                              {"zone/amber_z002u_img.win32.bin", zone.second},
                              {"zone/other.bin", "kept as it is"}});
        auto scr = game_pair({{"chr/npc/n001/bin/n001.win32.trb", "trb n001"},
                              {"chr/npc/n001/bin/n001.win32.imgb", "imgb n001"},
                              {"chr/pc/c201/bin/c201.win32.trb", "not the original size"}});
        std::string sys = path_join({game, "amber_data", "sys"});
        put(path_join({sys, "filelistu.win32.bin"}), img.first);
        put(path_join({sys, "amber_imgu.win32.bin"}), img.second);
        put(path_join({sys, "filelist_scru.win32.bin"}), scr.first);
        put(path_join({sys, "amber_scru.win32.bin"}), scr.second);
#ifndef _WIN32
        env_set("QM_EXE_RUNNER", QM_FAKE_MOD_TOOL);
#endif
    }
    ~Game_Fixture() {
        env_set("QM_EXE_RUNNER", "", true);
        hd_swap_fail_for_test(false);
        fs_fail_under("");
    }
    std::string tool_log() const {
        std::string text;
        fs_read(data_path({"hd_import.log"}), text);
        return text;
    }
    // A previous HD folder: an HD Project import and HD Fonts and GUI.
    void previous_hd() const {
        put(path_join({hd, "quillmarsh_hd.txt"}), "zip=old.zip\n");
        put(path_join({hd, "sys", "amber_imgu.win32.bin"}), "old rebuilt");
        put(path_join({hd, "hd_textures", "hash_database.txt"}), "hashes");
        put(path_join({hd, "quillmarsh_hd_gui.txt"}), "archive=fonts.rar\n");
    }
};

