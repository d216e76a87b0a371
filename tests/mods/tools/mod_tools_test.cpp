// The runner of the mods' programs (with the fake tool), the throttled
// progress, and the file-tree helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/task.h"
#include "launcher/mods/mod_tools.h"
#include "tests/mods/mod_test_files.h"
#include "tests/support/temp_dir.h"

namespace {

// A work folder with the fake tool as SupportFiles/<name> and an open log.
struct Tool_Fixture {
    Temp_Dir tmp;
    Task task;
    Hd_Tool ctx;
    std::string work, tool_path, log_path;
    explicit Tool_Fixture(const char* support = "SupportFiles", const char* name = "efsgtool.exe") {
        work = path_join({tmp.path, "work dir"});
        tool_path = path_join({work, support, name});
        EXPECT_TRUE(fs_make_dirs(path_dir(tool_path)));
        EXPECT_TRUE(fs_copy_file(QM_FAKE_MOD_TOOL, tool_path));
        log_path = path_join({tmp.path, "hd_import.log"});
        ctx.task = &task;
        ctx.work_dir = work;
        ctx.log = std::fopen(log_path.c_str(), "wb");
    }
    ~Tool_Fixture() {
        if (ctx.log) std::fclose(ctx.log);
    }
    void scenario(std::string_view text) { EXPECT_TRUE(fs_write(tool_path + ".scenario", text)); }
    std::string log() {
        std::fflush(ctx.log);
        return read(log_path);
    }
};

std::atomic<int64_t> fake_now{0};
int64_t fake_clock() { return fake_now.load(); }
// Every look at the clock moves it ten minutes on.
// Time stands still until the file `race_after` exists (the tool writes it
// once it has said its first line), then runs ten minutes a look: the
// time-out comes at once, however slowly the tool started.
std::string race_after;
int64_t racing_clock() {
    File_Info info;
    if (!race_after.empty() && !fs_stat(race_after, info)) return fake_now;
    return fake_now += 600000000000;
}

struct Clock_Reset {
    ~Clock_Reset() {
        clock_set_hook(nullptr);
        race_after.clear();
    }
};

}  // namespace

TEST(HdTool, TheLogEntryOfARun) {
    Tool_Fixture f;
    f.scenario("banner efsgtool 1.2\nwrite out.txt made\nbanner done\nexit 3\n");
    int64_t code = 0;
    ASSERT_TRUE(hd_tool_import(f.ctx, "sys\\filelist.bin", "sys\\white.bin", "a/b.dds", "", &code));
    EXPECT_EQ(code, 3);
    EXPECT_FALSE(f.ctx.failed);
    EXPECT_EQ(f.log(), "> efsgtool.exe -i sys\\filelist.bin sys\\white.bin a/b.dds  [" + f.work +
                           "]\nefsgtool 1.2\ndone\n(exit 3)\n");
    EXPECT_EQ(read(f.tool_path + ".calls"), "cwd=" + f.work +
                                               "\narg=-i\narg=sys\\filelist.bin\narg=sys\\white.bin\narg=a/b.dds\n--\n");
    EXPECT_EQ(read(path_join({f.work, "out.txt"})), "made");
    EXPECT_TRUE(f.task.log.empty());   // quiet: nothing in the task log

    // Another working folder, no output, no log file.
    std::string elsewhere = path_join({f.tmp.path, "elsewhere"});
    ASSERT_TRUE(fs_make_dirs(elsewhere));
    f.scenario("");
    ASSERT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {"-x", "a b"}, elsewhere, &code));
    EXPECT_EQ(code, 0);
    EXPECT_NE(f.log().find("> efsgtool.exe -x a b  [" + elsewhere + "]\n(exit 0)\n"), std::string::npos) << f.log();
    std::fclose(f.ctx.log);
    f.ctx.log = nullptr;
    EXPECT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {}, "", &code));
}

TEST(HdTool, AProgramThatCannotRun) {
    Tool_Fixture f;
    int64_t code = 0;
    EXPECT_FALSE(hd_tool(f.ctx, "EFSAGA_HDProject.exe", {"x"}, "", &code));
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(f.ctx.failed);
    ASSERT_EQ(f.task.log.size(), 1u);
    EXPECT_EQ(f.task.log[0], "Cannot run EFSAGA_HDProject.exe.");
    EXPECT_EQ(f.log(), "> EFSAGA_HDProject.exe x  [" + f.work + "]\n(exit -1)\n");
}

TEST(HdTool, NamesAreFoundIgnoringCase) {
    Tool_Fixture f("supportfiles", "EFSGTOOL.EXE");
    f.scenario("exit 7\n");
    int64_t code = 0;
    ASSERT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {}, "", &code)) << (f.task.log.empty() ? "" : f.task.log[0]);
    EXPECT_EQ(code, 7);
}

TEST(HdTool, StoppedAfterThirtyMinutes) {
    Tool_Fixture f;
    f.scenario("banner working\nwrite started yes\nhang 600000\n");   // only the time-out ends it
    Clock_Reset reset;
    race_after = path_join({f.work, "started"});
    clock_set_hook(racing_clock);
    int64_t code = 0;
    ASSERT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {}, "", &code));
    EXPECT_EQ(code, -1);
    ASSERT_FALSE(f.task.log.empty());
    EXPECT_EQ(f.task.log.back(), "efsgtool.exe did not finish within 1800 seconds: stopped.");
    EXPECT_EQ(f.log(), "> efsgtool.exe   [" + f.work + "]\nworking\n(exit -1)\n");
}

TEST(HdTool, OutputIsCappedKeepingHeadAndTail) {
    Tool_Fixture f;
    f.scenario("banner first line\nspew 5000000\nbanner last line\n");
    int64_t code = 0;
    ASSERT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {}, "", &code));
    std::string log = f.log();
    EXPECT_LT(log.size(), size_t(6) << 20);
    EXPECT_NE(log.find("\nfirst line\n"), std::string::npos);
    EXPECT_NE(log.find("bytes left out"), std::string::npos);
    EXPECT_NE(log.find("\nlast line\n(exit 0)\n"), std::string::npos);
}

#ifndef _WIN32
TEST(HdTool, ExeRunnerRunsWhatIsNoProgramHere) {
    // The ".exe" is a plain file; the runner (the fake tool acting as wine)
    // runs it.
    Tool_Fixture f;
    ASSERT_TRUE(fs_write(f.tool_path, "MZ not a program for this system"));
    f.scenario("banner run by the runner\nexit 5\n");
    struct Env_Reset {
        ~Env_Reset() { env_set("QM_EXE_RUNNER", "", true); }
    } reset;
    int64_t code = 0;
    EXPECT_FALSE(hd_tool(f.ctx, "efsgtool.exe", {"-c"}, "", &code));
    f.ctx.failed = false;
    env_set("QM_EXE_RUNNER", QM_FAKE_MOD_TOOL);
    ASSERT_TRUE(hd_tool(f.ctx, "efsgtool.exe", {"-c"}, "", &code));
    EXPECT_EQ(code, 5);
    EXPECT_FALSE(f.ctx.failed);
    EXPECT_NE(f.log().find("]\nrun by the runner\n(exit 5)\n"), std::string::npos) << f.log();
    EXPECT_EQ(read(f.tool_path + ".calls"), "cwd=" + f.work + "\narg=-c\n--\n");
}
#endif

TEST(HdProgress, ThrottledTextAndFraction) {
    Clock_Reset reset;
    clock_set_hook(fake_clock);
    fake_now = 1000000000;
    Task task;
    Hd_Progress p;
    p.task = &task;
    p.label = "Unpacking the ZIP";
    p.files_done = 2;
    p.files_total = 10;
    p.bytes_done = 1000000000;
    p.bytes_total = 4000000000;
    p.from = 0.2f;
    p.to = 0.6f;
    p.current = "textures/a/b.dds";
    EXPECT_TRUE(hd_progress(&p, 0));
    EXPECT_EQ(task.status, "Unpacking the ZIP: 2 of 10 files (1.0 of 4.0 GB)");
    EXPECT_FLOAT_EQ(task.progress, 0.3f);
    fake_now += 249000000;   // too soon: nothing changes
    EXPECT_TRUE(hd_progress(&p, 1000000000));
    EXPECT_EQ(task.status, "Unpacking the ZIP: 2 of 10 files (1.0 of 4.0 GB)");
    EXPECT_TRUE(hd_progress(&p, 1000000000, true));   // forced
    EXPECT_EQ(task.status, "Unpacking the ZIP: 2 of 10 files (2.0 of 4.0 GB), now b.dds");
    EXPECT_FLOAT_EQ(task.progress, 0.4f);
    fake_now += 250000000;
    p.checking = true;
    EXPECT_TRUE(hd_progress(&p, 9000000000));   // past the total: the bar stops at the step's end
    EXPECT_EQ(task.status, "Unpacking the ZIP: 2 of 10 files (10.0 of 4.0 GB), checking b.dds");
    EXPECT_FLOAT_EQ(task.progress, 0.6f);

    // With no byte total the step starts at its start and ends at the first byte.
    Hd_Progress empty;
    empty.task = &task;
    empty.from = 0.5f;
    empty.to = 0.75f;
    EXPECT_TRUE(hd_progress(&empty, 0, true));
    EXPECT_FLOAT_EQ(task.progress, 0.5f);
    EXPECT_TRUE(hd_progress(&empty, 1, true));
    EXPECT_FLOAT_EQ(task.progress, 0.75f);

    task.cancel = 1;
    EXPECT_FALSE(hd_progress(&p, 0, true));
    EXPECT_TRUE(hd_progress(nullptr, 0));
    Hd_Progress no_task;
    EXPECT_TRUE(hd_progress(&no_task, 5, true));
}

TEST(FileTree, CopyMoveAndTreeCopies) {
    Temp_Dir tmp;
    Task task;
    Hd_Tool ctx;
    ctx.task = &task;
    auto put = [&](std::string_view rel, std::string_view text) {
        std::string p = path_join({tmp.path, rel});
        EXPECT_TRUE(fs_make_dirs(path_dir(p)));
        EXPECT_TRUE(fs_write(p, text));
        return p;
    };
    std::string src = put("src/a.bin", "new");
    std::string dst = put("dst/deep/a.bin", "old");
    EXPECT_TRUE(copy_into(ctx, src, path_join({tmp.path, "made", "here", "a.bin"})));
    EXPECT_TRUE(copy_into(ctx, src, dst));
    EXPECT_EQ(read(dst), "new");
    EXPECT_FALSE(copy_into(ctx, path_join({tmp.path, "missing"}), dst));
    EXPECT_TRUE(ctx.failed);
    EXPECT_EQ(task.log.back(), "Cannot copy " + path_join({tmp.path, "missing"}) + " to " + dst + " (is there room?).");
    EXPECT_EQ(read(dst), "new");
    EXPECT_FALSE(exists(dst + ".part"));

    {
        // A bare target name lies in the current folder.
        struct Cwd {
            std::filesystem::path saved = std::filesystem::current_path();
            ~Cwd() { std::filesystem::current_path(saved); }
        } cwd;
        std::filesystem::current_path(std::filesystem::u8path(tmp.path));
        EXPECT_TRUE(copy_into(ctx, src, "bare.bin"));
        EXPECT_TRUE(move_into(ctx, "bare.bin", "moved.bin"));
    }
    EXPECT_EQ(read(path_join({tmp.path, "moved.bin"})), "new");

    std::string moved = put("m/x.txt", "moving");
    EXPECT_TRUE(move_into(ctx, moved, dst));   // onto an existing target
    EXPECT_EQ(read(dst), "moving");
    EXPECT_FALSE(exists(moved));

    put("tree/X.WIN32.TRB", "t");
    put("tree/sub/y.imgb", "i");
    put("tree/sub/x.win32.txt", "skip");
    std::string out = path_join({tmp.path, "out"});
    // Links inside the tree are not followed: neither the folder behind one
    // nor a linked file is copied.
    std::string outside = put("outside/z.trb", "outside");
    bool links = fs_make_link(path_dir(outside), path_join({tmp.path, "tree", "sub", "linked"}), true) &&
                 fs_make_link(outside, path_join({tmp.path, "tree", "l.trb"}), false);
    EXPECT_TRUE(copy_tree_suffix(ctx, path_join({tmp.path, "tree"}), out, {".trb", ".imgb"}));
    EXPECT_FALSE(exists(path_join({out, "sub", "linked"})));
    EXPECT_FALSE(exists(path_join({out, "l.trb"})));
    EXPECT_EQ(read(path_join({out, "X.WIN32.TRB"})), "t");
    EXPECT_EQ(read(path_join({out, "sub", "y.imgb"})), "i");
    EXPECT_FALSE(exists(path_join({out, "sub", "x.win32.txt"})));
    EXPECT_TRUE(copy_tree_suffix(ctx, path_join({tmp.path, "nothing"}), out, {".trb"}));

    // Changed files only: same size and time is left alone; another size
    // or, at the same size, another time (a re-import) is copied.
    std::string mirror = path_join({tmp.path, "mirror"});
    std::string same = put("mirror/X.WIN32.TRB", "T"), renewed = put("mirror/sub/x.win32.txt", "SKIP");
    put("mirror/sub/y.imgb", "longer");
    ASSERT_TRUE(fs_set_mtime(same, fs_mtime(path_join({tmp.path, "tree", "X.WIN32.TRB"}))));
    ASSERT_TRUE(fs_set_mtime(renewed, fs_mtime(path_join({tmp.path, "tree", "sub", "x.win32.txt"})) - 3000000000));
    task.log.clear();
    EXPECT_TRUE(copy_tree_changed(task, path_join({tmp.path, "tree"}), mirror));
    EXPECT_EQ(read(path_join({mirror, "X.WIN32.TRB"})), "T");
    EXPECT_EQ(read(path_join({mirror, "sub", "y.imgb"})), "i");
    EXPECT_EQ(read(path_join({mirror, "sub", "x.win32.txt"})), "skip");
    // The copies took their sources' times, so the next run leaves them alone.
    EXPECT_EQ(fs_mtime(path_join({mirror, "sub", "y.imgb"})), fs_mtime(path_join({tmp.path, "tree", "sub", "y.imgb"})));
    if (links) {
        EXPECT_FALSE(exists(path_join({mirror, "sub", "linked"})));
        EXPECT_FALSE(exists(path_join({mirror, "l.trb"})));
    }
    EXPECT_FALSE(copy_tree_changed(task, path_join({tmp.path, "nothing"}), mirror));
    EXPECT_EQ(task.log.back(), "Cannot read " + path_join({tmp.path, "nothing"}) + ".");
}

TEST(FileTree, FoldersMirroredListedAndEmptiedWithoutFollowingLinks) {
    Temp_Dir tmp;
    std::string root = path_join({tmp.path, "root"});
    for (const char* d : {"b", "A", "c/d"}) ASSERT_TRUE(fs_make_dirs(path_join({root, d})));
    ASSERT_TRUE(fs_write(path_join({root, "c", "d", "f.txt"}), "f"));
    ASSERT_TRUE(fs_write(path_join({root, "top.txt"}), "t"));
    std::string outside = path_join({tmp.path, "outside"});
    ASSERT_TRUE(fs_make_dirs(outside));
    ASSERT_TRUE(fs_write(path_join({outside, "keep.txt"}), "k"));
    bool links = fs_make_link(outside, path_join({root, "c", "link"}), true);

    EXPECT_EQ(subdirs(root), (std::vector<std::string>{"A", "b", "c"}));
    EXPECT_TRUE(subdirs(path_join({tmp.path, "missing"})).empty());

    std::string copy = path_join({tmp.path, "copy"});
    mirror_dirs(root, copy);
    EXPECT_TRUE(fs_is_dir(path_join({copy, "c", "d"})));
    EXPECT_FALSE(exists(path_join({copy, "c", "d", "f.txt"})));
    EXPECT_FALSE(exists(path_join({copy, "c", "link"})));

    delete_tree_files(root);
    EXPECT_FALSE(exists(path_join({root, "top.txt"})));
    EXPECT_FALSE(exists(path_join({root, "c", "d", "f.txt"})));
    EXPECT_TRUE(fs_is_dir(path_join({root, "c", "d"})));
    if (links) {
        EXPECT_FALSE(exists(path_join({root, "c", "link"})));
    }
    EXPECT_EQ(read(path_join({outside, "keep.txt"})), "k");
}

TEST(FileTree, SmallHelpers) {
    EXPECT_TRUE(name_less_ci("apple", "Banana"));
    EXPECT_FALSE(name_less_ci("Banana", "apple"));
    EXPECT_TRUE(name_less_ci("a", "AB"));
    EXPECT_FALSE(name_less_ci("ABC", "abc"));
    EXPECT_TRUE(name_less_ci2("Zone_A", "zone_b"));
    EXPECT_EQ(to_backslashes("sys/a/b.bin"), "sys\\a\\b.bin");
#ifdef _WIN32
    EXPECT_EQ(path_base("C:\\a\\b.zip"), "b.zip");
#endif
    EXPECT_EQ(path_base("/a/b.zip"), "b.zip");
    EXPECT_EQ(path_base("b.zip"), "b.zip");
    EXPECT_EQ(path_base(""), ".");

    Temp_Dir tmp;
    std::string deep = path_join({tmp.path, "x", "y"});
    EXPECT_TRUE(ensure_dir(deep));
    EXPECT_TRUE(ensure_dir(deep));
    std::string file = path_join({tmp.path, "file"});
    ASSERT_TRUE(fs_write(file, "x"));
    EXPECT_FALSE(ensure_dir(file));

    uint64_t bytes = 0;
    EXPECT_TRUE(disk_free(tmp.path, bytes));
    EXPECT_GT(bytes, 0u);
    EXPECT_TRUE(disk_free("", bytes));
    fs_set_free_space_hook([](std::string_view, uint64_t&) { return false; });
    EXPECT_FALSE(disk_free(tmp.path, bytes));
    EXPECT_EQ(bytes, 0u);
    fs_set_free_space_hook(nullptr);
}
