// Start-up removes what an earlier run left when it was killed or stopped
// mid-way, and only that.
#include <gtest/gtest.h>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/leftovers.h"
#include "tests/support/temp_dir.h"

namespace {

// A process id no system gives out (above Linux's largest, and no Windows
// process has it).
constexpr uint64_t gone_pid = 2147483000;

TEST(Leftovers, OnlyTheLaunchersOwnStaleTemporaryFilesGo) {
    Temp_Dir dir;
    std::string data = path_join({dir.path, "data"});
    std::string app = path_join({dir.path, "app"});
    ASSERT_TRUE(fs_make_dirs(path_join({data, "obj"})));
    ASSERT_TRUE(fs_make_dirs(path_join({data, "obj-linux_arm64"})));
    ASSERT_TRUE(fs_make_dirs(path_join({data, "objects"})));
    ASSERT_TRUE(fs_make_dirs(app));
    std::string long_name(250, 'n');
    std::string settings = path_join({data, "settings.txt"});
    std::string cfg = path_join({app, "Quillmarsh.cfg"});
    std::string long_file = path_join({app, long_name});
    int64_t now = wall_ns();
    int64_t old = now - leftover_age_ns - 1000000000;
    int64_t recent = now - 1000000000;
    std::string running = fmt("%d", process_own_id() == 1 ? 2 : 1);   // init (or a neighbour) runs
    struct Case {
        std::string path;
        int64_t mtime;
        bool goes;
    };
    const Case cases[] = {
        {fs_temp_name(settings, gone_pid, 0), recent, true},
        {fs_temp_name(cfg, gone_pid, 7), recent, true},
        {fs_temp_name(long_file, gone_pid, 1), recent, true},
        {fs_temp_name(settings, process_own_id(), 2), recent, true},
        {path_join({data, "settings.txt.bak"}), old, false},
        {path_join({data, "settings.txt.12x-0.tmp"}), old, false},
        {path_join({data, "other.txt." + std::to_string(gone_pid) + "-0.tmp"}), old, false},
        {path_join({data, "write-test.tmp"}), old, true},
        {path_join({data, "obj", "page_0001-ab68ddd8.o.tmp"}), old, true},
        {path_join({data, "obj", "page_0002-0a1b2c3d.o.tmp"}), recent, false},
        {path_join({data, "obj", "page_0001.o"}), old, false},
        {path_join({data, "obj-linux_arm64", "glue-1234abcd.o.tmp"}), old, true},
        {path_join({data, "objects", "x-1234abcd.o.tmp"}), old, false},
        {path_join({app, "notes.o.tmp"}), old, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(fs_write(c.path, "x")) << c.path;
        ASSERT_TRUE(fs_set_mtime(c.path, c.mtime)) << c.path;
    }
#ifndef _WIN32
    // A file of a process that still runs (another launcher writing) stays.
    std::string in_use = fs_temp_name(settings, std::stoull(running), 0);
    ASSERT_TRUE(fs_write(in_use, "x"));
#endif

    int removed = leftovers_remove({settings, cfg, long_file}, data, now);
    int goes = 0;
    for (const Case& c : cases) {
        File_Info info;
        bool there = fs_stat(c.path, info) && info.exists;
        EXPECT_EQ(there, !c.goes) << c.path;
        goes += c.goes;
    }
    EXPECT_EQ(removed, goes);
#ifndef _WIN32
    File_Info info;
    EXPECT_TRUE(fs_stat(in_use, info) && info.exists);
#endif
}

// A file whose name is as long as a name may be is still written in one
// step: the temporary name beside it is cut short.
TEST(Leftovers, AtomicWritesTakeNamesOfAnyLength) {
    Temp_Dir dir;
    for (size_t length : {size_t(200), size_t(244), size_t(255)}) {
        std::string path = path_join({dir.path, std::string(length, 'a')});
        ASSERT_TRUE(fs_write_atomic(path, "first")) << length;
        ASSERT_TRUE(fs_write_atomic(path, "second")) << length;
        std::string text;
        ASSERT_TRUE(fs_read(path, text)) << length;
        EXPECT_EQ(text, "second") << length;
    }
    std::vector<Dir_Entry> list;
    ASSERT_TRUE(fs_list(dir.path, list));
    EXPECT_EQ(list.size(), 3u);
}

}  // namespace
