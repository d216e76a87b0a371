// The bundle writer's output, read back by the launcher's reader: a packed
// tree unpacks to the same tree (checked with diff -r), the layout is the
// one the reader's callers rely on, and the same input gives the same bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/bundle.h"
#include "launcher/core/task.h"
#include "tests/core/bundle/bundle_layout.h"
#include "tests/support/temp_dir.h"

namespace {

std::string shell_arg(const std::string& s) { return "'" + s + "'"; }

int pack(const std::string& out, const std::vector<std::string>& roots, const std::string& options = "") {
    std::string cmd = QM_BUNDLE_WRITER;
    cmd += " ";
    cmd += options;
    cmd += " -o ";
    cmd += shell_arg(out);
    for (const std::string& r : roots) cmd += " " + shell_arg(r);
    return std::system((cmd + " > /dev/null 2>&1").c_str());
}

std::string read(const std::string& path) {
    std::string bytes;
    fs_read(path, bytes);
    return bytes;
}

void put(const std::string& root, const std::string& name, const std::string& bytes) {
    std::string path = path_join({root, name});
    ASSERT_TRUE(fs_make_dirs(path_dir(path)));
    ASSERT_TRUE(fs_write(path, bytes));
}

// Text of about n bytes that compresses like source code, different per seed.
std::string source_text(uint32_t seed, size_t n) {
    std::string s;
    while (s.size() < n) {
        seed = seed * 1664525u + 1013904223u;
        s += "int zqr_f" + std::to_string(seed % 5000) + "(zqr_state *s) { return s->frame + " +
             std::to_string(seed >> 20) + "; }\n";
    }
    s.resize(n);
    return s;
}

// A tree with every kind of file the real one has: nested folders, an empty
// file, binary bytes, programs under "tools/", a folder big enough to be
// split, and build files at the root that stay out.
void make_tree(const std::string& root) {
    put(root, "gen/src/page_0001.c", source_text(1, 600000));
    put(root, "gen/src/page_0002.c", source_text(2, 600000));
    put(root, "gen/src/page_0003.c", source_text(3, 200000));
    put(root, "gen/CMakeLists.txt", "kept: only the root's own build files stay out\n");
    put(root, "gen/zqr_table.c", source_text(4, 5000));
    put(root, "include/zqr.h", "#pragma once\n");
    put(root, "include/empty.h", "");
    std::string binary;
    for (int i = 0; i < 70000; i++) binary.push_back(char((i * 2654435761u) >> 13));
    put(root, "ffmpeg/lib/libavcodec.a", binary);
    put(root, "tools/bink2mp4.exe", "MZ program");
    put(root, "tools/run.sh", "#!/bin/sh\n");
    put(root, "tools/readme.txt", "not a program\n");
    put(root, "CMakeLists.txt", "project(stand_in)\n");
    put(root, "build.cmake", "# build steps\n");
    ASSERT_EQ(std::system(("chmod +x " + shell_arg(path_join({root, "tools", "run.sh"}))).c_str()), 0);
}

TEST(Bundle_Writer, a_packed_tree_unpacks_to_the_same_tree) {
    Temp_Dir tmp;
    std::string tree = path_join({tmp.path, "tree"});
    make_tree(tree);
    std::string out = path_join({tmp.path, "bundle.bin"});
    ASSERT_EQ(pack(out, {tree}, "--split-mb 1"), 0);
    std::string bytes = read(out);
    ASSERT_EQ(bundle_layout_fault(bytes), "");

    // "gen/" is split near 1 MiB; the other folders have a stream each.
    std::vector<std::string> stream_firsts;
    for (size_t i = 0; i < bundle_entries.size(); i++) {
        if (i == 0 || bundle_entries[i].stream != bundle_entries[i - 1].stream) {
            stream_firsts.push_back(std::string(bundle_entries[i].name));
        }
    }
    EXPECT_EQ(stream_firsts, (std::vector<std::string>{"ffmpeg/lib/libavcodec.a", "gen/CMakeLists.txt",
                                                       "gen/src/page_0002.c", "include/empty.h", "tools/bink2mp4.exe"}));
    for (const Bundle_Entry& e : bundle_entries) {
        bool program = e.name == "tools/bink2mp4.exe" || e.name == "tools/run.sh";
        EXPECT_EQ(e.flag, program ? 1u : 0u) << e.name;
    }
    EXPECT_FALSE(bundle_has("CMakeLists.txt"));
    EXPECT_FALSE(bundle_has("build.cmake"));

    std::string dest = path_join({tmp.path, "dest"});
    Task task;
    EXPECT_EQ(bundle_extract(task, dest, {"ffmpeg/", "gen/", "include/", "tools/"}), 11);
    ASSERT_TRUE(fs_remove_file(path_join({tree, "CMakeLists.txt"})));
    ASSERT_TRUE(fs_remove_file(path_join({tree, "build.cmake"})));
    EXPECT_EQ(std::system(("diff -r " + shell_arg(tree) + " " + shell_arg(dest)).c_str()), 0);
    EXPECT_EQ(bundle_extract(task, dest, {"ffmpeg/", "gen/", "include/", "tools/"}), 0);
}

TEST(Bundle_Writer, the_same_input_gives_the_same_bytes) {
    Temp_Dir tmp;
    std::string tree = path_join({tmp.path, "tree"});
    make_tree(tree);
    std::string a = path_join({tmp.path, "a.bin"}), b = path_join({tmp.path, "b.bin"});
    ASSERT_EQ(pack(a, {tree}, "--split-mb 1 --jobs 1"), 0);
    ASSERT_EQ(pack(b, {tree}, "--split-mb 1 --jobs 4"), 0);
    EXPECT_TRUE(read(a) == read(b));
    // An unchanged output is not written again.
    File_Info before, after;
    ASSERT_TRUE(fs_stat(a, before));
    ASSERT_EQ(pack(a, {tree}, "--split-mb 1"), 0);
    ASSERT_TRUE(fs_stat(a, after));
    EXPECT_EQ(before.mtime_ns, after.mtime_ns);
}

TEST(Bundle_Writer, roots_merge_and_bad_names_are_refused) {
    Temp_Dir tmp;
    std::string tree = path_join({tmp.path, "tree"}), stage = path_join({tmp.path, "stage"});
    put(tree, "gen/a.c", "a");
    put(stage, "cross/linux-arm64/libstub.a", "stub");
    std::string out = path_join({tmp.path, "bundle.bin"});
    ASSERT_EQ(pack(out, {tree, stage}), 0);
    std::string bytes = read(out);   // the index points into these bytes
    ASSERT_EQ(bundle_layout_fault(bytes), "");
    EXPECT_EQ(bundle_entries.size(), 2u);
    EXPECT_TRUE(bundle_has("cross/linux-arm64/libstub.a"));

    struct Case {
        const char* name;
        std::string file;
        bool ok;
    };
    const Case cases[] = {
        {"a name of 93 bytes", "gen/" + std::string(89, 'n'), true},
        {"a name of 94 bytes", "gen/" + std::string(90, 'n'), false},
        {"a name with a colon", "gen/a:b.c", false},
        {"a name with a backslash", "gen/a\\b.c", false},
        {"the same name under two roots", "gen/a.c", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir extra;
        put(extra.path, c.file, "x");
        EXPECT_EQ(pack(path_join({tmp.path, "case.bin"}), {tree, extra.path}) == 0, c.ok);
    }
}

TEST(Bundle_Writer, an_empty_tree_gives_an_empty_bundle) {
    Temp_Dir tmp;
    std::string tree = path_join({tmp.path, "tree"});
    ASSERT_TRUE(fs_make_dirs(tree));
    std::string out = path_join({tmp.path, "bundle.bin"});
    ASSERT_EQ(pack(out, {tree}), 0);
    std::string bytes = read(out);
    EXPECT_EQ(bundle_layout_fault(bytes), "");
    EXPECT_TRUE(bundle_entries.empty());
}

}  // namespace
