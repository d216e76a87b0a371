// The HD folder's swap and the HD imports' Cancel over a small game install:
// a stop at any rename is settled by the next run, a cancel keeps the HD
// folder, and the HD Fonts and GUI textures are never lost on the way.
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
#include "launcher/mod_tasks/hd_remove.h"
#include "tests/mods/hd_project_fixture.h"

namespace {

// A copy of a folder tree (folders too, empty ones included).
void copy_tree(const std::string& from, const std::string& to) {
    fs_make_dirs(to);
    std::vector<Dir_Entry> entries;
    fs_list(from, entries);
    for (const Dir_Entry& e : entries) {
        if (e.is_dir) copy_tree(path_join({from, e.name}), path_join({to, e.name}));
        else fs_copy_file(path_join({from, e.name}), path_join({to, e.name}));
    }
}

Task_View run_task(Task_Proc proc, const char* name) {
    Task& t = the_task();
    EXPECT_TRUE(task_start(name, proc, 0));
    while (t.running.load()) sleep_ms(2);
    thread_join(t.thread);
    return task_view(t);
}

}  // namespace

// A kill before any rename of the final swap, taken as what it leaves on
// disk (the game folder copied just before that rename): the next import
// and the next uninstall each keep the HD Fonts and GUI textures and leave
// no old HD folder behind.
TEST(HdProject, AStopAtAnyRenameOfTheSwapIsSettledByTheNextRun) {
    Game_Fixture f;
    f.previous_hd();
    std::string path = f.archive("HD Project.zip", whole_project_zip("Z2\n", ""));
    // One import; before each rename the disk as it stands is kept aside.
    std::vector<std::string> stops;
    hd_set_rename_seam([&](std::string_view, std::string_view) {
        stops.push_back(path_join({f.dir.path, fmt("stop %d", int64_t(stops.size()))}));
        copy_tree(f.game, stops.back());
    });
    Task_View first = import_archive(path);
    hd_set_rename_seam(nullptr);
    ASSERT_FALSE(first.failed) << all_lines(first);
    // The old folder out, the new one in, the textures and their marker across.
    EXPECT_EQ(stops.size(), 4u);
    struct Next { const char* what; bool import; std::vector<std::string> hd; };
    const Next nexts[] = {
        {"import", true,
         {"hd_textures/hash_database.txt", "quillmarsh_hd.txt", "quillmarsh_hd_gui.txt", "sys/amber_imgu.win32.bin",
          "sys/filelistu.win32.bin", "zone/amber_z002u_img.win32.bin"}},
        {"uninstall", false, {"hd_textures/hash_database.txt", "quillmarsh_hd_gui.txt"}},
    };
    for (const std::string& stop : stops) {
        for (const Next& n : nexts) {
            ASSERT_TRUE(hd_delete_path(f.game));
            copy_tree(stop, f.game);
            Task_View v = n.import ? import_archive(path) : run_task(hd_uninstall_task, "Uninstall HD Project");
            EXPECT_FALSE(v.failed) << stop << ", " << n.what << "\n" << all_lines(v);
            EXPECT_EQ(files_below(f.hd), n.hd) << stop << ", " << n.what;
            EXPECT_FALSE(fs_is_dir(f.hd + ".old")) << stop << ", " << n.what;
            EXPECT_FALSE(fs_is_dir(f.work + ".out")) << stop << ", " << n.what;
            EXPECT_EQ(hd_info("archive", true), "fonts.rar") << stop << ", " << n.what;
        }
    }
}

namespace {

// Every file below a folder with its bytes.
std::map<std::string, std::string> tree_bytes(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const std::string& f : files_below(dir)) fs_read(path_join({dir, f}), out[f]);
    return out;
}

}  // namespace

// Cancel while a 1 GiB member is being unpacked, in both HD imports: the
// task ends with "Cancelled.", no ".part" stays and the HD folder in use is
// as it was.
TEST(HdProject, CancelWhileUnpackingKeepsTheHdFolder) {
    struct Case { const char* what; std::vector<Zip_Member> members; std::string part; };
    std::vector<Zip_Member> project = project_members();
    project.insert(project.begin(), zeros_member("Textures/z002/big.dds", 1024));
    const Case cases[] = {
        {"HD Project", project, "amber_data_hd_work/Textures/z002/big.dds.part"},
        {"HD Fonts and GUI",
         {zeros_member("HD Fonts/HD_Textures/big.dds", 1024), {"HD Fonts/HD_Textures/hash_database.txt", "new"}},
         "amber_data_hd/hd_textures.new/big.dds.part"},
    };
    for (const Case& c : cases) {
        Game_Fixture f;
        f.previous_hd();
        const auto before = tree_bytes(f.hd);
        std::string zip = f.archive("big.zip", make_zip(c.members));
        const std::string part = path_join({f.game, c.part});
        Task_View v;
        ASSERT_TRUE(import_cancelled_at(zip, part, v)) << c.what << ": still unpacking";
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_EQ(v.log.back(), "Cancelled.") << c.what << "\n" << all_lines(v);
        EXPECT_FALSE(file_exists(part)) << c.what;
        EXPECT_TRUE(tree_bytes(f.hd) == before) << c.what;
    }
}

// The HD Fonts and GUI textures of an HD folder in the data folder go along
// to the new one in the game folder: moved, or copied when they cannot be
// moved (another disk).
TEST(HdProject, GuiTexturesFromAnotherFolderAreMovedOrCopied) {
    for (bool movable : {true, false}) {
        Game_Fixture f;
        const std::string old = data_path({"hd"});
        f.put(path_join({old, "quillmarsh_hd.txt"}), "zip=old.zip\n");
        f.put(path_join({old, "hd_textures", "hash_database.txt"}), "hashes");
        f.put(path_join({old, "quillmarsh_hd_gui.txt"}), "archive=fonts.rar\n");
        if (!movable) fs_fail_under(path_join({old, "hd_textures"}));
        Task_View v = import_archive(f.archive("HD Project.zip", whole_project_zip("Z2\n", "")));
        fs_fail_under("");
        ASSERT_FALSE(v.failed) << all_lines(v);
        std::string hashes;
        EXPECT_TRUE(fs_read(path_join({f.hd, "hd_textures", "hash_database.txt"}), hashes)) << movable;
        EXPECT_EQ(hashes, "hashes") << movable;
        EXPECT_EQ(hd_dir(), f.hd);
        EXPECT_EQ(hd_info("archive", true), "fonts.rar") << movable;
    }
}

// A stop once left the GUI textures in the staging folder: the next import
// puts them back before it cleans that folder.
TEST(HdProject, GuiTexturesLeftInTheStagingFolderAreKept) {
    Game_Fixture f;
    f.put(path_join({f.hd, "quillmarsh_hd.txt"}), "zip=old.zip\n");
    f.put(path_join({f.work, "out", "hd_textures", "hash_database.txt"}), "hashes");
    f.put(path_join({f.work, "out", "quillmarsh_hd_gui.txt"}), "archive=fonts.rar\n");
    Task_View v = import_archive(f.archive("HD Project.zip", whole_project_zip("Z2\n", "")));
    ASSERT_FALSE(v.failed) << all_lines(v);
    EXPECT_TRUE(file_exists(path_join({f.hd, "hd_textures", "hash_database.txt"})));
    EXPECT_EQ(hd_info("archive", true), "fonts.rar");
}

