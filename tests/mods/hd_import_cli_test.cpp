// "--hd-import PATH" end to end: the built launcher with its data folder in
// a temporary folder, on each kind of archive the player can hand it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/parse_int.h"
#include "launcher/mods/hd.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/mods/mod_archives.h"
#include "tests/support/temp_dir.h"

namespace {

// A step text the import may show before its log (printed when the
// launcher looked while it stood).
bool step_line(const std::string& line) {
    for (const char* start : {"Importing ", "Unpacking ", "Checking "})
        if (line.rfind(start, 0) == 0) return true;
    return line.ends_with(" imported") || line == "Imported";
}

}  // namespace

TEST(HdImportCli, EachKindOfArchive) {
    Temp_Dir tmp;
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, path_join({tmp.path, "app"}), path_base(QM_LAUNCHER_EXE));
    ASSERT_FALSE(exe.empty());
    // A game folder the imports accept (the game check itself finds nothing).
    const std::string game = path_join({tmp.path, "EMBERFALL SAGA"});
    fs_make_dirs(path_join({game, "amber_data"}));
    struct Case {
        const char* name;
        std::string bytes;
        int code;
        std::vector<std::string> log;
    };
    const std::string not_zip = " is not a ZIP file (or it is damaged).";
    const std::string rar4 = " is an old RAR (RAR 4) archive: unpack it with 7-Zip or WinRAR and make a ZIP of it, or "
                             "get the mod again.";
    const Case cases[] = {
        {"Hard Mode 1.16.zip", make_zip(hard_mode_members()), 0,
         {"Hard Mode: 12 files imported. Pick its options on Features & Mods; they apply the next time the game "
          "starts."}},
        {"Body Sculpting.zip", make_zip(sculpt_members()), 0,
         {"Body Sculpting imported. Pick the shapes on Features & Mods, then Apply Sculpting."}},
        {"HD Models+.zip", make_zip(hd_models_members()), 0,
         {"HD Models+ imported. Pick each character's model on Features & Mods, then Apply HD Models."}},
        {"HD Fonts.rar", rar5_fonts(), 0,
         {"HD Fonts and GUI imported: 1 files in " + path_join({game, "amber_data_hd", "hd_textures"}) +
          ". HD Textures is On."}},
        {"HD Fonts.zip", make_zip({{"HD Fonts/HD_Textures/hash_database.txt", "x"}}), 0,
         {"HD Fonts and GUI imported: 1 files in " + path_join({game, "amber_data_hd", "hd_textures"}) +
          ". HD Textures is On."}},
        // The HD Project's ZIP reaches its importer, which needs the game's archives.
        {"HD Project.zip",
         make_zip({{"SupportFiles/efsgtool.exe", "MZ"},
                   {"SupportFiles/EFSAGA_HDProject.exe", "MZ"},
                   {"SupportFiles/EFSAGA_ModelsHD.exe", "MZ"},
                   {"Data/LoadHDPCs.tx1", "P c201"},
                   {"Data/LoadHDEnvironments.txt", "Z2"},
                   {"Textures/z002/a.dds", "dds"}}),
         1,
         {"The game has no amber_data/sys/filelistu.win32.bin (English voices)."}},
        {"old.rar", rar4_bytes(), 1, {"old.rar" + rar4}},
        {"tiny.zip", "PK\x03", 1, {"tiny.zip" + not_zip}},
        {"notes.zip", "no archive at all, only text", 1, {"notes.zip" + not_zip}},
    };
    for (const Case& c : cases) {
        std::string local = path_join({tmp.path, "local", c.name});
        fs_make_dirs(path_join({local, "efsg-launcher"}));
        fs_write(path_join({local, "efsg-launcher", "settings.txt"}), "settings_version 4\ngame_dir " + game + "\n");
        fs_remove_tree(path_join({game, "amber_data_hd"}));
        std::string archive = path_join({tmp.path, c.name});
        ASSERT_TRUE(fs_write(archive, c.bytes));
        Run_Result r = run_program(exe, {"--hd-import", archive}, {{"LOCALAPPDATA", local}}, tmp.path);
        EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.out << r.err;
        std::vector<std::string> lines;
        for (std::string_view l : split_at(r.out, '\n')) lines.emplace_back(l);
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        ASSERT_GE(lines.size(), c.log.size()) << c.name << "\n" << r.out;
        std::vector<std::string> tail(lines.end() - long(c.log.size()), lines.end());
        EXPECT_EQ(tail, c.log) << c.name;
        for (size_t i = 0; i + c.log.size() < lines.size(); i++)
            EXPECT_TRUE(step_line(lines[i])) << c.name << ": " << lines[i];
    }
    // The imports went into the data folder named by LOCALAPPDATA.
    EXPECT_TRUE(fs_is_dir(path_join({tmp.path, "local", "HD Models+.zip", "efsg-launcher", "mod_src", "hdmodels",
                                     "SupportFiles"})));
}

// "--hd-uninstall" runs without a game check, from the saved game folder.
TEST(HdImportCli, Uninstall) {
    Temp_Dir tmp;
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, path_join({tmp.path, "app"}), path_base(QM_LAUNCHER_EXE));
    ASSERT_FALSE(exe.empty());
    const std::string game = path_join({tmp.path, "EMBERFALL SAGA"});
    const std::string hd = path_join({game, "amber_data_hd"});
    const std::string local = path_join({tmp.path, "local"});
    fs_make_dirs(path_join({local, "efsg-launcher"}));
    fs_write(path_join({local, "efsg-launcher", "settings.txt"}), "settings_version 4\ngame_dir " + game + "\nhd 1\n");
    fs_make_dirs(path_join({hd, "sys"}));
    fs_write(path_join({hd, "quillmarsh_hd.txt"}), "zip=HD Project.zip\n");
    fs_write(path_join({hd, "sys", "amber_imgu.win32.bin"}), "rebuilt");
    struct Case {
        const char* what;
        std::string fail_under;
        int code;
        std::string last;
    };
    const Case cases[] = {
        {"a delete fails", hd, 1, "Some files could not be deleted (see above): close the game and Uninstall again."},
        {"the next run", "", 0, "HD Textures is Off."},
        {"nothing left", "", 0, "There is nothing of the HD Project to uninstall."},
    };
    for (const Case& c : cases) {
        Run_Result r = run_program(exe, {"--hd-uninstall"}, {{"LOCALAPPDATA", local}, {"QM_TEST_FAIL_UNDER", c.fail_under}},
                                   tmp.path);
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
        std::string out = r.out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        EXPECT_TRUE(out.ends_with(c.last)) << c.what << "\n" << r.out;
    }
    EXPECT_FALSE(fs_is_dir(hd));
}
