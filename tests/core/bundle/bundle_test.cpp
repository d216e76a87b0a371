// The source bundle: opening damaged indexes, reading files, unpacking sets
// of files with workers, and pruning files the bundle no longer holds.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/bundle.h"
#include "launcher/core/task.h"
#include "tests/core/bundle/test_bundle_builder.h"
#include "tests/support/temp_dir.h"

namespace {

std::string text(const std::string& seed, size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; i++) s += seed + "_" + std::to_string(i * 7919 % 1000) + "(s);\n";
    s.resize(n);
    return s;
}

// Five streams, sorted names, an empty file and a program under "tools/".
const std::vector<Test_Bundle_File>& sample_files() {
    static const std::vector<Test_Bundle_File> files = {
        {"appimage/runtime-x86_64", text("elf", 300), 0, 0},
        {"gen/src/page_0001.c", text("page_one", 2000), 1, 0},
        {"gen/src/page_0002.c", text("page_two", 1500), 1, 0},
        {"gen/zqr_table.c", text("table", 700), 1, 0},
        {"include/empty.h", "", 2, 0},
        {"include/zqr.h", text("header", 400), 2, 0},
        {"runtime/zqr_runtime.c", text("runtime", 900), 3, 0},
        {"tools/bink2mp4.exe", text("MZ", 256), 4, 1},
    };
    return files;
}
constexpr uint32_t sample_streams = 5;

std::string& sample_bundle() {
    static std::string bytes = build_test_bundle(sample_files(), sample_streams);
    return bytes;
}

bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info) && info.exists;
}

std::string read(const std::string& path) {
    std::string bytes;
    fs_read(path, bytes);
    return bytes;
}

void put_u(std::string& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; i++) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

// Where the fields of the sample bundle are.
constexpr size_t stream_table = 16;
constexpr size_t entry_table = stream_table + 24 * sample_streams;
size_t first_name_len() { return sample_files()[0].name.size(); }

class Bundle_Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bundle_open(sample_bundle())); }
    void TearDown() override {
        thread_fail_next(0);
        fs_fail_under("");
        fs_disk_full_under("");
    }
    std::vector<std::string> all_prefixes() const { return {"appimage/", "gen/", "include/", "runtime/", "tools/"}; }
    Temp_Dir tmp;
    Task task;
};

TEST(Bundle_Open, damaged_indexes_are_refused) {
    struct Case {
        const char* name;
        std::function<std::string(std::string)> damage;
        bool ok;
    };
    const size_t n = first_name_len();
    const Case cases[] = {
        {"the bundle as built", [](std::string b) { return b; }, true},
        {"a wrong magic", [](std::string b) { b[7] = '1'; return b; }, false},
        {"shorter than its header", [](std::string b) { return b.substr(0, 15); }, false},
        {"a stream table past the end", [](std::string b) { put_u(b, 8, 0xFFFFFFFFu, 4); return b; }, false},
        {"more entries than the bytes hold", [](std::string b) { put_u(b, 12, 0x7FFFFFFFu, 4); return b; }, false},
        {"cut inside the first entry", [](std::string b) { return b.substr(0, entry_table + 10); }, false},
        {"a name running past the end", [](std::string b) { put_u(b, entry_table, 0xFFFF, 2); return b; }, false},
        {"a stream index out of range",
         [n](std::string b) { put_u(b, entry_table + 6 + n, sample_streams, 4); return b; }, false},
        {"an entry past its stream's end",
         [n](std::string b) { put_u(b, entry_table + 18 + n, 301, 8); return b; }, false},
        {"an entry whose offset + size wraps around",
         [n](std::string b) {
             put_u(b, entry_table + 10 + n, ~uint64_t(0), 8);
             put_u(b, entry_table + 18 + n, 2, 8);
             return b;
         },
         false},
        {"a stream's bytes past the end",
         [](std::string b) {
             size_t last = stream_table + 24 * (sample_streams - 1);
             std::string packed = b.substr(last + 8, 8);
             uint64_t size = 0;
             for (int i = 0; i < 8; i++) size |= uint64_t(uint8_t(packed[i])) << (8 * i);
             put_u(b, last + 8, size + 1, 8);
             return b;
         },
         false},
        {"a stream offset whose range wraps around",
         [](std::string b) { put_u(b, stream_table + 16, ~uint64_t(0) - 4, 8); return b; }, false},
        {"a stream inside the index", [](std::string b) { put_u(b, stream_table + 16, 16, 8); return b; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bundle_open(c.damage(sample_bundle())), c.ok);
        if (!c.ok) {
            EXPECT_TRUE(bundle_entries.empty());
            EXPECT_TRUE(bundle_streams.empty());
        } else {
            EXPECT_EQ(bundle_entries.size(), sample_files().size());
        }
    }
}

TEST(Bundle_Open, names_must_be_plain_relative_paths) {
    struct Case {
        const char* name;
        bool ok;
    };
    const Case cases[] = {
        {"gen/x.c", true},
        {"gen/.hidden", true},
        {"gen/a..b.c", true},
        {"", false},
        {"/gen/x.c", false},
        {"C:/x.c", false},
        {"C:x.c", false},
        {"gen\\x.c", false},
        {"gen/../../x.c", false},
        {"..", false},
        {"gen/..", false},
        {"gen//x.c", false},
        {"gen/", false},
        {"gen/./x.c", false},
        {"gen/. .", false},
        {"gen/x.c:stream", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = build_test_bundle({{c.name, "bytes", 0, 0}}, 1);
        EXPECT_EQ(bundle_open(bytes), c.ok);
    }
    // A NUL would cut the name short at the system call.
    std::string with_nul = build_test_bundle({{std::string("gen/x\0/../../y", 14), "bytes", 0, 0}}, 1);
    EXPECT_FALSE(bundle_open(with_nul));
}

TEST_F(Bundle_Test, reads_single_files_by_exact_name) {
    std::string bytes;
    for (const Test_Bundle_File& f : sample_files()) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(bundle_has(f.name));
        ASSERT_TRUE(bundle_read(f.name, bytes));
        EXPECT_EQ(bytes, f.bytes);
    }
    EXPECT_FALSE(bundle_read("gen/ZQR_TABLE.c", bytes));
    EXPECT_FALSE(bundle_read("gen/", bytes));
    EXPECT_FALSE(bundle_has("gen/src"));
    EXPECT_EQ(bundle_bytes().size(), sample_bundle().size());
    EXPECT_EQ(bundle_entries[7].flag, 1u);

    // A stream that does not decode fails the read of each of its files.
    std::string damaged = sample_bundle();
    damaged[bundle_streams[1].offset] = char(225);
    ASSERT_TRUE(bundle_open(damaged));
    EXPECT_FALSE(bundle_read("gen/zqr_table.c", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(bundle_read("include/zqr.h", bytes));
}

TEST_F(Bundle_Test, unpacks_every_selected_file_and_then_only_what_changed) {
    std::string dest = path_join({tmp.path, "src"});
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), 8);
    for (const Test_Bundle_File& f : sample_files()) {
        SCOPED_TRACE(f.name);
        std::string path = path_join({dest, f.name});
        ASSERT_TRUE(exists(path));
        EXPECT_EQ(read(path), f.bytes);
    }
    Task_View v = task_view(task);
    EXPECT_EQ(v.status, "Unpacking the sources: 8 of 8");
    EXPECT_FLOAT_EQ(v.progress, 0.1f);

    // Again: nothing written, every entry still counted.
    set_status(task, -1, "");
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), 0);
    EXPECT_EQ(task_view(task).status, "Unpacking the sources: 8 of 8");

    // The same size with other bytes is written again; so is a missing
    // file and a file that another one replaced with an empty one.
    std::string page = path_join({dest, "gen", "src", "page_0002.c"});
    std::string changed = read(page);
    changed[100] ^= 1;
    ASSERT_TRUE(fs_write(page, changed));
    ASSERT_TRUE(fs_remove_file(path_join({dest, "include", "empty.h"})));
    ASSERT_TRUE(fs_write(path_join({dest, "runtime", "zqr_runtime.c"}), ""));
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), 3);
    EXPECT_EQ(read(page), sample_files()[2].bytes);
    EXPECT_TRUE(exists(path_join({dest, "include", "empty.h"})));
    EXPECT_EQ(read(path_join({dest, "runtime", "zqr_runtime.c"})), sample_files()[6].bytes);
    EXPECT_TRUE(task_view(task).log.empty());
}

TEST_F(Bundle_Test, prefixes_select_entries_once_and_nothing_else) {
    std::string dest = path_join({tmp.path, "src"});
    // Overlapping prefixes: the four entries under "gen/" and "gen/src/" once.
    EXPECT_EQ(bundle_extract(task, dest, {"gen/src/", "gen/", "gen/src/page_0001"}), 3);
    EXPECT_EQ(task_view(task).status, "Unpacking the sources: 3 of 3");
    EXPECT_FALSE(exists(path_join({dest, "include"})));
    EXPECT_FALSE(exists(path_join({dest, "tools"})));

    // No match: nothing made at all.
    std::string other = path_join({tmp.path, "other"});
    EXPECT_EQ(bundle_extract(task, other, {"nothing/", "GEN/"}), 0);
    EXPECT_FALSE(exists(other));
    EXPECT_EQ(bundle_extract(task, other, {}), 0);
    EXPECT_FALSE(exists(other));
}

TEST_F(Bundle_Test, a_stream_that_does_not_decode_fails_the_run_but_not_the_others) {
    std::string damaged = sample_bundle();
    damaged[bundle_streams[1].offset + 20] ^= 0x5A;
    ASSERT_TRUE(bundle_open(damaged));
    std::string dest = path_join({tmp.path, "src"});
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), -1);
    std::vector<std::string> log = task_view(task).log;
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Could not unpack gen/src/page_0001.c into " + dest + ": its packed data is damaged.");
    EXPECT_FALSE(exists(path_join({dest, "gen", "zqr_table.c"})));
    EXPECT_EQ(read(path_join({dest, "include", "zqr.h"})), sample_files()[5].bytes);
    EXPECT_EQ(read(path_join({dest, "tools", "bink2mp4.exe"})), sample_files()[7].bytes);
}

TEST_F(Bundle_Test, a_file_that_cannot_be_written_fails_the_run) {
    std::string dest = path_join({tmp.path, "src"});
    fs_fail_under(path_join({dest, "include"}));
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), -1);
    std::vector<std::string> log = task_view(task).log;
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "Could not unpack include/empty.h into " + dest + ": refused by the test hook.");
    EXPECT_EQ(read(path_join({dest, "runtime", "zqr_runtime.c"})), sample_files()[6].bytes);
}

// The system's reason reaches the log: a full disk reads as one.
TEST_F(Bundle_Test, a_failed_write_says_why) {
    std::string dest = path_join({tmp.path, "src"});
    fs_disk_full_under(dest);
    EXPECT_EQ(bundle_extract(task, dest, {"include/zqr.h"}), -1);
    fs_disk_full_under("");
    std::vector<std::string> log = task_view(task).log;
    ASSERT_EQ(log.size(), 1u);
    std::string start = "Could not unpack include/zqr.h into " + dest + ": ";
    ASSERT_EQ(log[0].rfind(start, 0), 0u) << log[0];
    EXPECT_GT(log[0].size(), start.size() + 5);
#ifndef _WIN32
    EXPECT_EQ(log[0], start + "No space left on device.");
#endif
}

TEST_F(Bundle_Test, workers_that_cannot_start_leave_no_stream_out) {
    for (int failing : {1, 2, 1000}) {
        SCOPED_TRACE(failing);
        Temp_Dir dir;
        std::string dest = path_join({dir.path, "src"});
        thread_fail_next(failing);
        EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), 8);
        thread_fail_next(0);
        for (const Test_Bundle_File& f : sample_files()) EXPECT_EQ(read(path_join({dest, f.name})), f.bytes) << f.name;
    }
}

TEST_F(Bundle_Test, a_cancelled_run_takes_no_more_streams) {
    std::string dest = path_join({tmp.path, "src"});
    task.cancel.store(1);
    EXPECT_EQ(bundle_extract(task, dest, all_prefixes()), 0);
    EXPECT_FALSE(exists(path_join({dest, "gen", "zqr_table.c"})));
    EXPECT_TRUE(task_view(task).log.empty());
}

TEST_F(Bundle_Test, a_link_in_a_files_place_is_replaced_not_written_through) {
    std::string dest = path_join({tmp.path, "src"});
    std::string outside = path_join({tmp.path, "outside.c"});
    ASSERT_TRUE(fs_write(outside, "keep me"));
    ASSERT_TRUE(fs_make_dirs(path_join({dest, "gen"})));
    if (!fs_make_link(outside, path_join({dest, "gen", "zqr_table.c"}), false)) GTEST_SKIP() << "no links here";
    EXPECT_EQ(bundle_extract(task, dest, {"gen/"}), 3);
    EXPECT_EQ(read(outside), "keep me");
    File_Info info;
    ASSERT_TRUE(fs_stat(path_join({dest, "gen", "zqr_table.c"}), info));
    EXPECT_FALSE(info.is_link);
    EXPECT_EQ(read(path_join({dest, "gen", "zqr_table.c"})), sample_files()[3].bytes);
}

// A linked folder inside the destination, at any depth: the files land in a
// real folder in its place, nothing where the link pointed.
TEST_F(Bundle_Test, a_linked_folder_is_replaced_not_written_through) {
    for (const char* linked : {"gen", "gen/src"}) {
        SCOPED_TRACE(linked);
        Temp_Dir dir;
        std::string dest = path_join({dir.path, "src"});
        std::string outside = path_join({dir.path, "outside"});
        ASSERT_TRUE(fs_make_dirs(outside));
        ASSERT_TRUE(fs_write(path_join({outside, "mine.txt"}), "keep me"));
        std::string link = path_join({dest, linked});
        ASSERT_TRUE(fs_make_dirs(path_dir(link)));
        if (!fs_make_link(outside, link, true)) GTEST_SKIP() << "no links here";
        EXPECT_EQ(bundle_extract(task, dest, {"gen/"}), 3);
        std::vector<Dir_Entry> left;
        ASSERT_TRUE(fs_list(outside, left));
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(read(path_join({outside, "mine.txt"})), "keep me");
        File_Info info;
        ASSERT_TRUE(fs_stat(link, info));
        EXPECT_TRUE(info.is_dir);
        EXPECT_FALSE(info.is_link);
        EXPECT_EQ(read(path_join({dest, "gen", "src", "page_0002.c"})), sample_files()[2].bytes);
    }
}

TEST_F(Bundle_Test, prune_deletes_only_files_the_bundle_does_not_hold) {
    std::string dest = path_join({tmp.path, "src"});
    ASSERT_EQ(bundle_extract(task, dest, all_prefixes()), 8);
    ASSERT_TRUE(fs_write(path_join({dest, "gen", "src", "page_0003.c"}), "old page"));
    ASSERT_TRUE(fs_make_dirs(path_join({dest, "gen", "old", "deeper"})));
    ASSERT_TRUE(fs_write(path_join({dest, "gen", "old", "deeper", "x.c"}), "old"));
    ASSERT_TRUE(fs_make_dirs(path_join({dest, "gen", "empty"})));
    ASSERT_TRUE(fs_write(path_join({dest, "runtime", "local.c"}), "not under a pruned prefix"));
    ASSERT_TRUE(fs_write(path_join({dest, "notes.txt"}), "outside every prefix"));

    bundle_prune(task, dest, {"gen/", "include"});
    EXPECT_EQ(task_view(task).log, std::vector<std::string>{"Deleted 2 old source files"});
    EXPECT_FALSE(exists(path_join({dest, "gen", "src", "page_0003.c"})));
    EXPECT_FALSE(exists(path_join({dest, "gen", "old", "deeper", "x.c"})));
    EXPECT_TRUE(fs_is_dir(path_join({dest, "gen", "old", "deeper"})));
    EXPECT_TRUE(fs_is_dir(path_join({dest, "gen", "empty"})));
    EXPECT_TRUE(exists(path_join({dest, "runtime", "local.c"})));
    EXPECT_TRUE(exists(path_join({dest, "notes.txt"})));
    for (const Test_Bundle_File& f : sample_files()) EXPECT_TRUE(exists(path_join({dest, f.name}))) << f.name;

    // Nothing left to delete: nothing logged.
    bundle_prune(task, dest, {"gen/", "include/"});
    EXPECT_EQ(task_view(task).log.size(), 1u);
}

TEST_F(Bundle_Test, prune_logs_a_file_it_cannot_delete_and_goes_on) {
    std::string dest = path_join({tmp.path, "src"});
    ASSERT_EQ(bundle_extract(task, dest, all_prefixes()), 8);
    std::string stuck = path_join({dest, "gen", "stuck", "a.c"});
    ASSERT_TRUE(fs_make_dirs(path_dir(stuck)));
    ASSERT_TRUE(fs_write(stuck, "old"));
    ASSERT_TRUE(fs_write(path_join({dest, "gen", "z.c"}), "old"));
    fs_fail_under(path_dir(stuck));
    bundle_prune(task, dest, {"gen/"});
    fs_fail_under("");
    std::vector<std::string> log = task_view(task).log;
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Could not delete the old source " + stuck);
    EXPECT_EQ(log[1], "Deleted 1 old source files");
    EXPECT_TRUE(exists(stuck));
}

TEST_F(Bundle_Test, prune_never_follows_links) {
    std::string dest = path_join({tmp.path, "src"});
    ASSERT_EQ(bundle_extract(task, dest, all_prefixes()), 8);
    std::string outside = path_join({tmp.path, "outside"});
    ASSERT_TRUE(fs_make_dirs(outside));
    ASSERT_TRUE(fs_write(path_join({outside, "keep.c"}), "not the bundle's"));
    if (!fs_make_link(outside, path_join({dest, "gen", "linked_dir"}), true)) GTEST_SKIP() << "no links here";
    ASSERT_TRUE(fs_make_link(path_join({outside, "keep.c"}), path_join({dest, "gen", "linked_file.c"}), false));
    // A prefix folder that is itself a link is not walked at all.
    ASSERT_TRUE(fs_remove_tree(path_join({dest, "tools"})));
    ASSERT_TRUE(fs_make_link(outside, path_join({dest, "tools"}), true));

    bundle_prune(task, dest, {"gen/", "tools/"});
    EXPECT_EQ(read(path_join({outside, "keep.c"})), "not the bundle's");
    EXPECT_FALSE(exists(path_join({dest, "gen", "linked_dir"})));
    EXPECT_FALSE(exists(path_join({dest, "gen", "linked_file.c"})));
    EXPECT_EQ(task_view(task).log, std::vector<std::string>{"Deleted 2 old source files"});
}

// A newer bundle that renames a file only in case: on a file system that
// ignores case the write lands in the old file, which the prune must keep.
TEST_F(Bundle_Test, a_case_only_rename_keeps_the_file_just_written) {
    std::string dest = path_join({tmp.path, "src"});
    std::string old_bundle = build_test_bundle({{"gen/Page.c", "old bytes", 0, 0}}, 1);
    ASSERT_TRUE(bundle_open(old_bundle));
    ASSERT_EQ(bundle_extract(task, dest, {"gen/"}), 1);

    std::string new_bundle = build_test_bundle({{"gen/page.c", "new bytes, longer", 0, 0}}, 1);
    ASSERT_TRUE(bundle_open(new_bundle));
    ASSERT_EQ(bundle_extract(task, dest, {"gen/"}), 1);
    bundle_prune(task, dest, {"gen/"});
    EXPECT_EQ(read(path_join({dest, "gen", "page.c"})), "new bytes, longer");
    std::vector<Dir_Entry> items;
    ASSERT_TRUE(fs_list(path_join({dest, "gen"}), items));
    EXPECT_EQ(items.size(), 1u);
}

// Files longer than the pieces a stream is decoded in (2 MiB), and a short
// one between them, each across a piece's edge: unpacked whole, compared
// piece by piece the next time, and rewritten when a byte differs early or
// late. A stream damaged near its end fails the run and leaves the file it
// was writing as it was, with no part file behind.
TEST_F(Bundle_Test, files_across_the_pieces_of_a_stream_unpack_and_fail_cleanly) {
    const std::vector<Test_Bundle_File> files = {
        {"big/a.bin", text("first", 2100000), 0, 0},
        {"big/b.c", text("between", 3000), 0, 0},
        {"big/c.bin", text("last", 2200000), 0, 0},
    };
    std::string bundle = build_test_bundle(files, 1);
    ASSERT_TRUE(bundle_open(bundle));
    std::string dest = path_join({tmp.path, "src"});
    auto expect_files = [&](const char* when) {
        for (const Test_Bundle_File& f : files) EXPECT_TRUE(read(path_join({dest, f.name})) == f.bytes) << when << f.name;
        std::vector<Dir_Entry> items;
        ASSERT_TRUE(fs_list(path_join({dest, "big"}), items));
        EXPECT_EQ(items.size(), files.size()) << when;
    };
    EXPECT_EQ(bundle_extract(task, dest, {"big/"}), 3);
    expect_files("first: ");
    EXPECT_EQ(bundle_extract(task, dest, {"big/"}), 0);

    std::string a_path = path_join({dest, "big", "a.bin"}), c_path = path_join({dest, "big", "c.bin"});
    std::string a = files[0].bytes, c = files[2].bytes;
    a[10] ^= 1;
    c[2150000] ^= 1;
    ASSERT_TRUE(fs_write(a_path, a));
    ASSERT_TRUE(fs_write(c_path, c));
    EXPECT_EQ(bundle_extract(task, dest, {"big/"}), 2);
    expect_files("rewritten: ");
    EXPECT_TRUE(task_view(task).log.empty());

    std::string damaged = bundle;
    damaged[damaged.size() - 40] ^= 0x5A;
    ASSERT_TRUE(bundle_open(damaged));
    ASSERT_TRUE(fs_write(c_path, c));
    EXPECT_EQ(bundle_extract(task, dest, {"big/"}), -1);
    EXPECT_EQ(task_view(task).log, std::vector<std::string>{"Could not unpack big/c.bin into " + dest +
                                                            ": its packed data is damaged."});
    EXPECT_TRUE(read(c_path) == c);
    EXPECT_FALSE(exists(c_path + ".part"));
    std::string bytes;
    EXPECT_FALSE(bundle_read("big/c.bin", bytes));
}

}  // namespace
