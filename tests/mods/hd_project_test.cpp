// The HD Project texture import: its refusals and rules, run as the task
// "HD Textures" over a fixture game folder, and the small rules it judges
// the mod's tools by.
#include <gtest/gtest.h>

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

#include "tests/mods/hd_project_fixture.h"

namespace {

std::atomic<int64_t> fake_now{0};
// Time stands still until the file `race_after` exists (the tool writes it
// once it has said its first line), then runs ten minutes a look: the
// time-out comes at once, however slowly the tool started.
std::string race_after;
int64_t racing_clock() {
    File_Info info;
    if (!race_after.empty() && !fs_stat(race_after, info)) return fake_now;
    return fake_now += 600000000000;
}

}  // namespace


TEST(HdProject, Refusals) {
    using Members = std::vector<Zip_Member>;
    auto without = [](const char* name) {
        Members m = project_members();
        m.erase(std::remove_if(m.begin(), m.end(), [&](const Zip_Member& z) { return z.name == name; }), m.end());
        return m;
    };
    auto renamed = [](const char* from, const char* to) {
        Members m = project_members();
        for (Zip_Member& z : m)
            if (z.name == from) z.name = to;
        return m;
    };
    Members no_textures = without("Textures/z002/a.dds");
    no_textures.erase(no_textures.begin());   // and no efsgtool.exe either
    Members climbing = project_members();
    climbing.push_back({"textures/../x.dds", "out"});
    const std::string page(hd_project_page);
    struct Case {
        const char* what;
        std::string zip;   // the archive's bytes
        std::function<void(Project_Fixture&)> arrange;
        std::string line;  // the log's line after "HD Project.zip" or in full
    };
    const Case cases[] = {
        {"no game folder", make_zip(project_members()),
         [](Project_Fixture&) { settings_edit([](Settings& s) { s.game_dir.clear(); }); },
         "Choose the EMBERFALL SAGA folder first (Home)."},
        {"old assets discarded", make_zip(project_members()),
         [](Project_Fixture& f) {
             f.put(path_join({f.game, "amber_data_hd", "quillmarsh_hd.txt"}), "zip=a.zip\n");
             f.put(path_join({f.game, "amber_data_hd", "discarded.txt"}), "# deleted\n");
         },
         "The game's original archives were discarded (Discard Old Assets): an import needs them. Have Steam restore "
         "them (Properties > Installed Files > Verify integrity of game files), then Import again."},
        {"not a ZIP", "PK but nothing more", nullptr, "HD Project.zip is not a ZIP file (or it is damaged)."},
        {"no textures, even with a member missing", make_zip(no_textures), nullptr,
         "HD Project.zip is not the EF SAGA HD Project's ZIP (it has no textures/). Get it with Get, from " + page + "."},
        {"a tool missing", make_zip(without("SupportFiles/EFSAGA_ModelsHD.exe")), nullptr,
         "HD Project.zip is not the EF SAGA HD Project's ZIP (it has no SupportFiles/EFSAGA_ModelsHD.exe). Get it with "
         "Get, from " + page + "."},
        {"the game lacks an archive of the voices", make_zip(renamed("SupportFiles/efsgtool.exe", "supportfiles/EFSGTOOL.EXE")),
         [](Project_Fixture& f) { fs_remove_file(path_join({f.game, "amber_data", "sys", "filelist_scru.win32.bin"})); },
         "The game has no amber_data/sys/filelist_scru.win32.bin (English voices)."},
        {"Japanese voices", make_zip(project_members()),
         [](Project_Fixture&) { settings_edit([](Settings& s) { s.voice_japanese = true; }); },
         "The game has no amber_data/sys/filelistc.win32.bin (Japanese voices)."},
        {"a member climbs out", make_zip(climbing), nullptr,
         "The ZIP has a file outside its folder (textures/../x.dds): not the mod's ZIP."},
        {"the tool does not run", make_zip(project_members()), nullptr, "The mod's efsgtool.exe does not run here."},
    };
    for (const Case& c : cases) {
        Project_Fixture f;
        std::string path = f.archive("HD Project.zip", c.zip);
        if (c.arrange) c.arrange(f);
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_NE(std::find(v.log.begin(), v.log.end(), c.line), v.log.end()) << c.what << "\n" << v.log.back();
        EXPECT_FALSE(fs_is_dir(path_join({f.game, "amber_data_hd"})) &&
                     file_exists(path_join({f.game, "amber_data_hd", "quillmarsh_hd.txt"})) &&
                     !file_exists(path_join({f.game, "amber_data_hd", "discarded.txt"})))
            << c.what;
        EXPECT_FALSE(file_exists(path_join({f.work, "x.dds"})) || file_exists(path_join({f.dir.path, "x.dds"})));
    }
}

TEST(HdProject, RoomRule) {
    struct Case {
        uint64_t wanted, unpacked, need;
    };
    const Case cases[] = {
        {20000000000, 0, 25000000000},            // nothing unpacked yet
        {20000000000, 10000000000, 15000000000},  // an earlier run's files count
        {20000000000, 13000000000, 12500000000},  // at most 12.5 GB of them
        {40000000000, 5000000000, 35000000000},   // a bigger ZIP needs what its unpacking writes
    };
    for (const Case& c : cases) EXPECT_EQ(hd_room_needed(c.wanted, c.unpacked), c.need) << c.wanted << " " << c.unpacked;
}

TEST(HdProject, NotEnoughRoomKeepsWhatAnEarlierRunUnpacked) {
    for (bool earlier : {false, true}) {
        Project_Fixture f;
        std::string path = f.archive("HD Project.zip", make_zip(project_members()));
        if (earlier) f.put(path_join({f.work, "Textures", "z002", "a.dds"}), std::string(4000, 'd'));
        fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
            bytes = 14000000000;
            return true;
        });
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed);
        std::string want = "Not enough room: the import needs about 25 GB free on the disk of " + f.work +
                           " while it runs, and there are 14.0 GB. Free some space and Import again.";
        EXPECT_NE(std::find(v.log.begin(), v.log.end(), want), v.log.end()) << v.log.front();
        EXPECT_EQ(fs_is_dir(f.work), earlier);
        if (earlier) {
            EXPECT_TRUE(file_exists(path_join({f.work, "Textures", "z002", "a.dds"})));
            EXPECT_EQ(v.log.back(), "The files unpacked from the ZIP were kept in " + f.work +
                                        ": the next Import goes on from them (delete that folder to free the space).");
        }
    }
}

TEST(HdProject, ToolRunsThatCount) {
    struct Case {
        int64_t code;
        bool list_used, done;
    };
    const Case cases[] = {
        {0, false, false}, {0, true, true},       {1, false, true},      {1000, false, true},
        {1001, false, false}, {-1, false, false}, {-1, true, false},     {0xFFFFFFFF, false, false},
    };
    for (const Case& c : cases) EXPECT_EQ(hd_texture_done(c.code, c.list_used), c.done) << c.code << " " << c.list_used;
}

TEST(HdProject, ModelIdsThatMayBecomePaths) {
    for (const char* ok : {"c201", "n001a", "w.x"}) EXPECT_TRUE(hd_model_id_ok(ok)) << ok;
    for (const char* bad : {"", "a/b", "a\\b", "C:x", "..", "x..y"}) EXPECT_FALSE(hd_model_id_ok(bad)) << bad;
}

TEST(HdProject, ExcerptEndsOnAWholeCharacter) {
    const std::string a599(599, 'a');
    EXPECT_EQ(utf8_head(a599 + "\xC3\xA9" + "b", 600), a599);        // é would be cut
    EXPECT_EQ(utf8_head(a599 + "b\xE2\x82\xAC", 600), a599 + "b");   // ends right before €
    EXPECT_EQ(utf8_head("a\xE2\x82\xAC", 3), "a");
    EXPECT_EQ(utf8_head("short", 600), "short");
}

TEST(HdProject, RepackedPairMustHoldItsEntries) {
    Project_Fixture f;
    std::string list = path_join({f.dir.path, "filelist.bin"}), archive = path_join({f.dir.path, "archive.bin"});
    std::string lines = std::string("0:10:10:a.trb") + '\0' + "1:20:20:b.imgb" + '\0';
    f.put(list, fixture_list({lines}, {{0, 0, 0}, {0, 0, 14}}));
    std::string why;
    f.put(archive, std::string(2048 + 0x20, 'x'));
    EXPECT_TRUE(hd_pair_ok(list, archive, &why)) << why;
    f.put(archive, std::string(2048 + 0x1F, 'x'));
    EXPECT_FALSE(hd_pair_ok(list, archive, &why));
    EXPECT_EQ(why, "b.imgb lies past the end of archive.bin");
    f.put(list, "not a list");
    EXPECT_FALSE(hd_pair_ok(list, archive, &why));
}

// ---- Whole imports over a small game install, the mod's programs played
// by the fake tool ----



TEST(HdProject, WhatAnImportPutsInTheHdFolder) {
    const std::vector<std::string> zone_files = {"sys/amber_imgu.win32.bin", "sys/filelistu.win32.bin",
                                                 "zone/amber_z002u_img.win32.bin"};
    const std::vector<std::string> model_files = {"sys/amber_scru.win32.bin", "sys/filelist_scru.win32.bin"};
    struct Case {
        const char* what;
        std::string environments, npcs, texture_tool;
        int zones, models;   // -1: the import fails
        std::vector<std::string> files;
    };
    auto plus = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        a.push_back("quillmarsh_hd.txt");
        std::sort(a.begin(), a.end());
        return a;
    };
    const Case cases[] = {
        {"zones only", "; zones\nz2\n", "", "act\nexit 1\n", 1, 0, plus(zone_files, {})},
        {"models only", "", "N n001\n", "act\nexit 1000\n", 0, 1, plus(model_files, {})},
        {"both", "Z2\n", "  N   n001  \n#: a remark\n", "act\nexit 7\n", 1, 1, plus(zone_files, model_files)},
        {"each zone and model once, however often listed", "Z2\nz2\nZ2 again\n", "N n001\nn n001\n",
         "act\nexit 7\n", 1, 1, plus(zone_files, model_files)},
        {"no tool run counts (0 without a list)", "Z2\n", "N n001\n", "act\n", -1, -1, {}},
#ifdef _WIN32
        // Elsewhere a process's exit code has only 8 bits: 1001 and -1 come
        // back as codes that count.
        {"no tool run counts (1001)", "Z2\n", "N n001\n", "act\nexit 1001\n", -1, -1, {}},
        {"no tool run counts (-1)", "Z2\n", "N n001\n", "act\nexit -1\n", -1, -1, {}},
#endif
        {"nothing listed", "", "", "act\nexit 1\n", -1, -1, {}},
    };
    for (const Case& c : cases) {
        Game_Fixture f;
        std::string path = f.archive("HD Project.zip", whole_project_zip(c.environments, c.npcs, c.texture_tool));
        Task_View v = import_archive(path);
        if (c.zones < 0) {
            EXPECT_TRUE(v.failed) << c.what << "\n" << all_lines(v);
            EXPECT_TRUE(logged(v, "No texture could be put in (see the import log): nothing was changed.")) << c.what;
            EXPECT_FALSE(fs_is_dir(f.hd)) << c.what;
            continue;
        }
        ASSERT_FALSE(v.failed) << c.what << "\n" << all_lines(v) << f.tool_log();
        EXPECT_EQ(files_below(f.hd), c.files) << c.what;
        EXPECT_EQ(v.log.back(), fmt("HD Textures imported: %d zones and %d models, in %s. HD Textures is On.", c.zones,
                                    c.models, f.hd));
        std::string marker;
        fs_read(path_join({f.hd, "quillmarsh_hd.txt"}), marker);
        EXPECT_EQ(marker, fmt("# EF SAGA HD Project, imported by Quillmarsh's launcher (Features & Mods > HD Textures)\n"
                              "zip=HD Project.zip\nzip_path=%s\nregion=u\nzones=%d\nmodels=%d\n",
                              path, c.zones, c.models))
            << c.what;
        EXPECT_TRUE(logged(v, "The main characters' models are not the original ones (another mod's?): they are left as "
                              "they are."));
        EXPECT_FALSE(fs_is_dir(f.work)) << c.what;
        EXPECT_TRUE(settings_copy().hd);
        // The rebuilt archives read back as the game reads them.
        if (c.zones > 0) {
            auto img = pair_files(path_join({f.hd, "sys", "filelistu.win32.bin"}),
                                  path_join({f.hd, "sys", "amber_imgu.win32.bin"}));
            EXPECT_EQ(img["zone/other.bin"], "kept as it is");
            auto zone = pair_members(img["zone/filelist_z002u.win32.bin"], path_join({f.hd, "zone", "amber_z002u_img.win32.bin"}));
            EXPECT_EQ(zone["bg/loc006/block123/bin/block123.win32.trb"], "HD trb z2") << c.what;
            EXPECT_EQ(zone["bg/loc006/block123/bin/block123.win32.imgb"], "HD imgb z2") << c.what;
        }
        if (c.models > 0) {
            auto scr = pair_files(path_join({f.hd, "sys", "filelist_scru.win32.bin"}),
                                  path_join({f.hd, "sys", "amber_scru.win32.bin"}));
            EXPECT_EQ(scr["chr/npc/n001/bin/n001.win32.trb"], "HD trb n001") << c.what;
            EXPECT_EQ(scr["chr/npc/n001/bin/n001.win32.imgb"], "HD imgb n001") << c.what;
            EXPECT_EQ(scr["chr/pc/c201/bin/c201.win32.trb"], "not the original size") << c.what;
        }
    }
}

TEST(HdProject, TheHdFontsAndGuiTexturesGoAlong) {
    Game_Fixture f;
    f.previous_hd();
    std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", ""));
    Task_View v = import_archive(path);
    ASSERT_FALSE(v.failed) << all_lines(v);
    EXPECT_EQ(files_below(f.hd),
              (std::vector<std::string>{"hd_textures/hash_database.txt", "quillmarsh_hd.txt", "quillmarsh_hd_gui.txt",
                                        "sys/amber_imgu.win32.bin", "sys/filelistu.win32.bin",
                                        "zone/amber_z002u_img.win32.bin"}));
    EXPECT_EQ(hd_info("zip", false), "HD Project.zip");
    EXPECT_EQ(hd_info("archive", true), "fonts.rar");
}

// The new HD folder cannot be put in place: the old one stays in use with
// its HD Fonts and GUI textures, and the new one is not thrown away.
TEST(HdProject, AFailedFinalRenameKeepsTheOldHdFolder) {
    Game_Fixture f;
    f.previous_hd();
    hd_swap_fail_for_test(true);
    std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", "N n001\n"));
    Task_View v = import_archive(path);
    EXPECT_TRUE(v.failed);
    EXPECT_TRUE(logged(v, "Cannot move the new archives to " + f.hd + ".")) << all_lines(v);
    EXPECT_EQ(files_below(f.hd),
              (std::vector<std::string>{"hd_textures/hash_database.txt", "quillmarsh_hd.txt", "quillmarsh_hd_gui.txt",
                                        "sys/amber_imgu.win32.bin"}));
    EXPECT_EQ(hd_info("zip", false), "old.zip");
    std::string staging = path_join({f.work, "out"});
    EXPECT_TRUE(file_exists(path_join({staging, "quillmarsh_hd.txt"})));
    EXPECT_TRUE(file_exists(path_join({staging, "zone", "amber_z002u_img.win32.bin"})));
    EXPECT_TRUE(file_exists(path_join({f.work, "Textures", "z002", "a.dds"})));   // the ZIP's files stay for a retry
    EXPECT_FALSE(file_exists(path_join({f.work, "filelist_scru.win32.bin"})));    // the rest is cleaned
}

TEST(HdProject, AFailedImportKeepsTheUnpackedZipForTheNextOne) {
    Game_Fixture f;
    std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", ""));
    fs_fail_under(path_join({f.work, "out", "sys"}));
    Task_View v = import_archive(path);
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log.back(), "The files unpacked from the ZIP were kept in " + f.work +
                                ": the next Import goes on from them (delete that folder to free the space).");
    std::vector<std::string> left = files_below(f.work);
    left.erase(std::remove_if(left.begin(), left.end(), [](const std::string& p) { return p.starts_with("out/"); }),
               left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Data/LoadHDEnvironments.txt", "Data/LoadHDNPCs.txt", "Data/LoadHDPCs.tx1",
                                              "Data/LoadHDPCs.tx3", "SupportFiles/EFSAGA_HDProject.exe",
                                              "SupportFiles/EFSAGA_HDProject.exe.scenario",
                                              "SupportFiles/EFSAGA_ModelsHD.exe", "SupportFiles/efsgtool.exe",
                                              "SupportFiles/efsgtool.exe.scenario", "Textures/z002/a.dds"}));
    fs_fail_under("");
    v = import_archive(path);
    EXPECT_FALSE(v.failed) << all_lines(v);
    EXPECT_TRUE(logged(v, "10 of the ZIP's 10 files were already unpacked (an earlier import's): kept.")) << all_lines(v);
}

TEST(HdProject, ToolCheckRefusesAToolThatMisbehaves) {
    struct Case {
        const char* what;
        std::string scenario;
        std::string said;   // "" : no "What it said" line
    };
    const std::string long_text = std::string(599, 'a') + "\xC3\xA9\xC3\xA9";   // byte 600 is inside the first é
    const Case cases[] = {
        {"no banner", "on - banner efsgtool 0.9\non - exit 0\n", "What it said: efsgtool 0.9"},
        {"no output", "on - exit 0\n", ""},
        {"exit 1 without banner", "on - banner usage: efsgtool -x|-i|-c\non - exit 1\n",
         "What it said: usage: efsgtool -x|-i|-c"},
        {"a long answer", "on - banner " + long_text + "\non - exit 0\n", "What it said: " + std::string(599, 'a')},
        {"a hang after the banner", "on - banner EFSG extract/repack tool\non - write STARTED yes\non - hang 60000\n",
         "What it said: EFSG extract/repack tool"},
    };
    for (const Case& c : cases) {
        Game_Fixture f;
        struct Clock_Reset {
            ~Clock_Reset() {
                clock_set_hook(nullptr);
                race_after.clear();
            }
        } reset;
        std::string scenario = c.scenario;
        if (size_t at = scenario.find("STARTED"); at != std::string::npos) {
            race_after = path_join({f.dir.path, "started"});
            scenario.replace(at, 7, race_after);
            clock_set_hook(racing_clock);
        }
        std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", "", "act\nexit 1\n", scenario));
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_TRUE(logged(v, "The mod's efsgtool.exe does not run here.")) << c.what << "\n" << all_lines(v);
        bool said = false;
        for (const std::string& l : v.log) said = said || l.starts_with("What it said");
        EXPECT_EQ(said, !c.said.empty()) << c.what;
        if (!c.said.empty()) {
            EXPECT_TRUE(logged(v, c.said)) << c.what << "\n" << all_lines(v);
        }
        EXPECT_FALSE(fs_is_dir(f.hd));
    }
}

TEST(HdProject, TheArchiveToolsAnswersAreJudged) {
    struct Case {
        const char* what;
        std::string scenario, line;
    };
    const Case cases[] = {
        {"-i refuses a member", std::string(ok_tool) + "on -i exit 3\n",
         "efsgtool could not put bg\\loc006\\block123\\bin\\block123.win32.trb into amber_z002u_img.win32.bin (exit 3; "
         "see the import log)."},
        {"-i writes a cut archive", std::string(ok_tool) + "on -i cut\n",
         "efsgtool wrote a damaged amber_z002u_img.win32.bin (bg/loc006/block123/bin/block123.win32.trb lies past the "
         "end of amber_z002u_img.win32.bin): nothing was changed."},
        {"-c fails", std::string(ok_tool) + "on -c exit 1\n", "efsgtool could not pack amber_scr again (see the import log)."},
        {"-c writes no list", "on - banner EFSG extract/repack tool\non - exit 0\non -c exit 0\nact\n",
         "efsgtool could not pack amber_scr again (see the import log)."},
        {"-c writes a cut archive", std::string(ok_tool) + "on -c cut\n",
         "efsgtool could not pack amber_scr again (see the import log)."},
    };
    for (const Case& c : cases) {
        Game_Fixture f;
        f.previous_hd();
        std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", "N n001\n", "act\nexit 1\n", c.scenario));
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_TRUE(logged(v, c.line)) << c.what << "\n" << all_lines(v);
        EXPECT_EQ(hd_info("zip", false), "old.zip") << c.what;   // the HD folder in use is untouched
        EXPECT_TRUE(file_exists(path_join({f.hd, "hd_textures", "hash_database.txt"}))) << c.what;
    }
}

TEST(HdProject, ModelNamesFromTheListsStayInsideTheWorkFolder) {
    Game_Fixture f;
    std::string path = f.archive("HD Project.zip", whole_project_zip("", "N ..\\..\\..\\evil\nN n001\nN a/b\n"));
    Task_View v = import_archive(path);
    ASSERT_FALSE(v.failed) << all_lines(v);
    EXPECT_TRUE(logged(v, "Left out the model ..\\..\\..\\evil of the mod's lists: it is not a model name."));
    EXPECT_TRUE(logged(v, "Left out the model a/b of the mod's lists: it is not a model name."));
    EXPECT_EQ(hd_info("models", false), "1");
    EXPECT_EQ(f.tool_log().find("evil"), std::string::npos);   // never handed to a tool
}

