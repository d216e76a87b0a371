// Discard Old Assets and Uninstall HD Project, run as their tasks over a
// fixture game folder and data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/hd.h"
#include "launcher/mod_tasks/hd_remove.h"
#include "tests/mods/zip_maker.h"
#include "tests/support/data_folder.h"
#include "tests/support/temp_dir.h"

namespace {

struct Remove_Fixture : Data_Folder {
    std::string game, hd, profile;
    std::string saved_profile = env_get("USERPROFILE");
    bool profile_was_set = env_is_set("USERPROFILE");

    Remove_Fixture() {
        game = path_join({dir.path, "EMBERFALL SAGA"});
        hd = path_join({game, "amber_data_hd"});
        profile = path_join({dir.path, "profile"});
        fs_make_dirs(path_join({game, "amber_data", "sys"}));
        fs_make_dirs(path_join({profile, "Downloads"}));
        env_set("USERPROFILE", profile);
        env_set("HOME", profile);
        settings_edit([&](Settings& s) {
            s.game_dir = game;
            s.hd = true;
        });
    }
    ~Remove_Fixture() {
        fs_fail_under("");
        settings_replace(Settings{});
        env_set("USERPROFILE", saved_profile, !profile_was_set);
    }
    static void put(const std::string& path, std::string_view text = "x") {
        fs_make_dirs(path_dir(path));
        fs_write(path, text);
    }
    // The HD folder of a finished HD Project import (one sys and one zone
    // archive), with the game's two originals it replaces.
    void project(const std::string& folder, const std::string& zip_path = "") {
        put(path_join({folder, "quillmarsh_hd.txt"}), "zip=HD Project.zip\nzip_path=" + zip_path + "\nregion=u\n");
        put(path_join({folder, "sys", "amber_imgu.win32.bin"}), "new img");
        put(path_join({folder, "zone", "amber_z002u_img.win32.bin"}), "new zone");
        put(path_join({game, "amber_data", "sys", "amber_imgu.win32.bin"}), std::string(3000, 'g'));
        put(path_join({game, "amber_data", "zone", "amber_z002u_img.win32.bin"}), std::string(2000, 'z'));
    }
    void gui(const std::string& folder) {
        put(path_join({folder, "quillmarsh_hd_gui.txt"}), "archive=HD Fonts.rar\nfiles=1\n");
        put(path_join({folder, "hd_textures", "hash_database.txt"}), "hashes");
    }
    static Task_View run(Task_Proc proc, const char* name) {
        Task& t = the_task();
        EXPECT_TRUE(task_start(name, proc, 0));
        while (t.running.load()) sleep_ms(2);
        thread_join(t.thread);
        return task_view(t);
    }
};

bool has_line(const Task_View& v, const std::string& line) {
    return std::find(v.log.begin(), v.log.end(), line) != v.log.end();
}

std::string project_zip() {
    return make_zip({{"SupportFiles/efsgtool.exe", "MZ"},
                     {"SupportFiles/EFSAGA_HDProject.exe", "MZ"},
                     {"SupportFiles/EFSAGA_ModelsHD.exe", "MZ"},
                     {"Data/LoadHDPCs.tx1", "P c201"},
                     {"Data/LoadHDEnvironments.txt", "Z2"},
                     {"Textures/z002/a.dds", "dds"}});
}

}  // namespace

TEST(HdRemove, LeftoversInTheirOrder) {
    Remove_Fixture f;
    f.put(path_join({f.game, "quillmarsh_hd_probe.tmp"}));
    f.project(f.hd);
    f.gui(f.hd);
    fs_make_dirs(path_join({f.game, "amber_data_hd_work", "data"}));
    f.gui(data_path({"hd"}));   // HD Fonts and GUI alone: not the HD Project's
    fs_make_dirs(data_path({"hd_work"}));
    // What a stopped swap or clean-up leaves beside them.
    f.project(f.hd + ".old");
    fs_make_dirs(path_join({f.game, "amber_data_hd_work.out", "sys"}));
    fs_make_dirs(data_path({"hd_work.out"}));
    f.put(data_path({"hd_import.log"}));
    std::vector<Hd_Leftover> left = hd_project_left();
    std::vector<std::pair<std::string, bool>> got;
    for (const Hd_Leftover& l : left) got.push_back({l.path, l.keeps_gui});
    std::vector<std::pair<std::string, bool>> want = {
        {path_join({f.game, "quillmarsh_hd_probe.tmp"}), false},
        {f.hd, true},
        {path_join({f.game, "amber_data_hd_work"}), false},
        {data_path({"hd_work"}), false},
        {f.hd + ".old", false},
        {path_join({f.game, "amber_data_hd_work.out"}), false},
        {data_path({"hd_work.out"}), false},
        {data_path({"hd_import.log"}), false},
    };
    EXPECT_EQ(got, want);
}

TEST(HdRemove, UninstallKeepsHdFontsAndGui) {
    Remove_Fixture f;
    f.project(f.hd);
    f.gui(f.hd);
    f.put(path_join({f.hd, "discarded.txt"}), "# deleted\n");
    fs_make_dirs(path_join({f.game, "amber_data_hd_work", "textures"}));
    Task_View v = f.run(hd_uninstall_task, "Uninstall HD Project");
    EXPECT_FALSE(v.failed);
    std::vector<Dir_Entry> entries;
    ASSERT_TRUE(fs_list(f.hd, entries));
    std::vector<std::string> names;
    for (const Dir_Entry& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"hd_textures", "quillmarsh_hd_gui.txt"}));
    EXPECT_TRUE(file_exists(path_join({f.hd, "hd_textures", "hash_database.txt"})));
    EXPECT_FALSE(fs_is_dir(path_join({f.game, "amber_data_hd_work"})));
    EXPECT_TRUE(has_line(v, "Deleted the HD Project's files in " + f.hd + " (its HD Fonts & GUI textures kept)"));
    EXPECT_TRUE(has_line(v, "Deleted: " + path_join({f.game, "amber_data_hd_work"})));
    EXPECT_TRUE(has_line(v, "The HD Fonts & GUI textures were kept."));
    EXPECT_FALSE(has_line(v, "HD Textures is Off."));
    EXPECT_TRUE(settings_copy().hd);   // the GUI textures are still used
    EXPECT_TRUE(v.log.back().starts_with("The game's original archives were discarded before"));
    // Once more: only HD Fonts and GUI is left, which is not the HD Project's.
    v = f.run(hd_uninstall_task, "Uninstall HD Project");
    EXPECT_EQ(v.log, std::vector<std::string>{"There is nothing of the HD Project to uninstall."});
    EXPECT_FALSE(v.failed);
}

TEST(HdRemove, UninstallGoesOnAfterAFailedDeleteAndTheNextRunEndsIt) {
    Remove_Fixture f;
    std::string fallback = f.hd;   // no HD Fonts and GUI: deleted whole
    f.project(fallback);
    f.put(data_path({"hd_import.log"}));
    fs_fail_under(fallback);
    Task_View v = f.run(hd_uninstall_task, "Uninstall HD Project");
    EXPECT_TRUE(v.failed);
    EXPECT_TRUE(has_line(v, "Could not delete " + fallback + " (is the game running?)."));
    EXPECT_TRUE(has_line(v, "Left: " + fallback));
    EXPECT_TRUE(has_line(v, "Deleted: " + data_path({"hd_import.log"})));
    EXPECT_EQ(v.log.back(), "Some files could not be deleted (see above): close the game and Uninstall again.");
    fs_fail_under("");
    v = f.run(hd_uninstall_task, "Uninstall HD Project");
    EXPECT_FALSE(v.failed);
    EXPECT_FALSE(fs_is_dir(fallback));
    EXPECT_TRUE(has_line(v, "The HD Project is uninstalled: as if it had never been imported."));
    EXPECT_TRUE(has_line(v, "HD Textures is Off."));
    EXPECT_FALSE(settings_copy().hd);
    std::string saved;
    ASSERT_TRUE(fs_read(data_path({"settings.txt"}), saved));
    EXPECT_NE(saved.find("\nhd 0\n"), std::string::npos) << saved;
}

TEST(HdRemove, DiscardDeletesTheReplacedArchivesAndOnlyTheProjectsZip) {
    struct Case {
        const char* what;
        std::string zip;   // the bytes at the marker's zip_path; "" = no file
        bool deleted;
        const char* suffix;
    };
    const Case cases[] = {
        {"the HD Project's ZIP", project_zip(), true, " and the mod's ZIP"},
        {"another file of that name", make_zip({{"notes.txt", "mine"}}), false, ""},
        {"no ZIP", "", false, ""},
    };
    for (const Case& c : cases) {
        Remove_Fixture f;
        std::string zip = path_join({f.profile, "Downloads", "HD Project.zip"});
        if (!c.zip.empty()) f.put(zip, c.zip);
        f.project(f.hd, zip);
        // Originals of a size the GB figure shows (sparse: nothing is
        // written): 0.34 + 0.13 GB, so a figure that missed either would
        // read 0.1 or 0.3.
        std::filesystem::resize_file(path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"}), 340000000);
        std::filesystem::resize_file(path_join({f.game, "amber_data", "zone", "amber_z002u_img.win32.bin"}), 130000000);
        Task_View v = f.run(hd_discard_task, "Discard Old Assets");
        EXPECT_FALSE(v.failed) << c.what;
        EXPECT_FALSE(file_exists(path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"}))) << c.what;
        EXPECT_FALSE(file_exists(path_join({f.game, "amber_data", "zone", "amber_z002u_img.win32.bin"}))) << c.what;
        EXPECT_EQ(file_exists(zip), !c.deleted && !c.zip.empty()) << c.what;
        char want[400];
        std::snprintf(want, sizeof want,
                      "Discarded 2 of the game's original archives%s: 0.5 GB freed. HD Textures stays On; Steam's "
                      "Verify integrity of game files brings the originals back.",
                      c.suffix);
        EXPECT_EQ(v.log.back(), want) << c.what;
        std::string marker;
        ASSERT_TRUE(fs_read(path_join({f.hd, "discarded.txt"}), marker));
        std::string listed = "# deleted by Discard Old Assets (Steam's Verify integrity of game files restores the "
                             "game's)\n" +
                             path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"}) + "\n" +
                             path_join({f.game, "amber_data", "zone", "amber_z002u_img.win32.bin"}) + "\n" +
                             (c.deleted ? zip + "\n" : "");
        EXPECT_EQ(marker, listed) << c.what;
        EXPECT_TRUE(hd_discarded());
        // A second discard has nothing to do.
        v = f.run(hd_discard_task, "Discard Old Assets");
        EXPECT_TRUE(v.failed);
        EXPECT_EQ(v.log, std::vector<std::string>{"There is no finished HD Textures import."}) << c.what;
    }
}

TEST(HdRemove, DiscardNeedsAFinishedHdProjectImport) {
    Remove_Fixture f;
    // HD Fonts and GUI alone make an HD folder, but nothing was replaced.
    f.gui(f.hd);
    f.put(path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"}), "game's own");
    fs_make_dirs(path_join({f.hd, "sys"}));
    f.put(path_join({f.hd, "sys", "amber_imgu.win32.bin"}), "a stray copy");
    Task_View v = f.run(hd_discard_task, "Discard Old Assets");
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log, std::vector<std::string>{"There is no finished HD Textures import."});
    EXPECT_TRUE(file_exists(path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"})));
    EXPECT_FALSE(file_exists(path_join({f.hd, "discarded.txt"})));
}

TEST(HdRemove, DiscardGoesOnAfterAFailedDelete) {
    Remove_Fixture f;
    f.project(f.hd);
    fs_fail_under(path_join({f.game, "amber_data", "sys"}));
    Task_View v = f.run(hd_discard_task, "Discard Old Assets");
    fs_fail_under("");
    EXPECT_TRUE(v.failed);
    std::string sys_file = path_join({f.game, "amber_data", "sys", "amber_imgu.win32.bin"});
    EXPECT_TRUE(has_line(v, "Could not delete " + sys_file + ": refused by the test hook"));
    EXPECT_FALSE(file_exists(path_join({f.game, "amber_data", "zone", "amber_z002u_img.win32.bin"})));
    std::string marker;
    ASSERT_TRUE(fs_read(path_join({f.hd, "discarded.txt"}), marker));
    EXPECT_EQ(marker.find(sys_file), std::string::npos);   // only what was deleted
}

// Only the launcher's own leftovers of a stopped import: the uninstall
// settles the swap, then deletes what is left of the HD Project.
TEST(HdRemove, UninstallSeesWhatAStoppedImportLeft) {
    Remove_Fixture f;
    f.project(f.hd + ".old");
    f.gui(f.hd + ".old");
    fs_make_dirs(path_join({f.game, "amber_data_hd_work.out", "sys"}));
    Task_View v = f.run(hd_uninstall_task, "Uninstall HD Project");
    EXPECT_FALSE(v.failed);
    EXPECT_TRUE(has_line(v, "The HD Project is uninstalled: as if it had never been imported."));
    EXPECT_FALSE(fs_is_dir(f.hd + ".old"));
    EXPECT_FALSE(fs_is_dir(path_join({f.game, "amber_data_hd_work.out"})));
    EXPECT_TRUE(file_exists(path_join({f.hd, "hd_textures", "hash_database.txt"})));
    EXPECT_TRUE(hd_gui_imported());
}

// "Quillmarsh.cfg" follows each task: the HD folder's line stays after
// Discard (the game needs the folder now) and goes with the uninstall.
TEST(HdRemove, DiscardAndUninstallRewriteTheGameConfiguration) {
    Remove_Fixture f;
    Temp_Dir exe;
    paths_set_exe_dir(exe.path);
    const std::string cfg = path_join({exe.path, "Quillmarsh.cfg"});
    const std::string line = "ZQR_HD_DIR=" + f.hd + "\n";
    f.project(f.hd);
    struct Step { Task_Proc proc; const char* name; bool hd_line; };
    for (const Step& s : {Step{hd_discard_task, "Discard Old Assets", true},
                          Step{hd_uninstall_task, "Uninstall HD Project", false}}) {
        fs_write(cfg, "stale\n");
        Task_View v = f.run(s.proc, s.name);
        EXPECT_FALSE(v.failed) << s.name;
        std::string text;
        fs_read(cfg, text);
        EXPECT_EQ(text, cfg_text()) << s.name;
        EXPECT_EQ(text.find(line) != std::string::npos, s.hd_line) << s.name << "\n" << text;
    }
    paths_set_exe_dir("");
}
