#include <gtest/gtest.h>

#include <algorithm>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "tests/support/temp_dir.h"

namespace {

bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info);
}

std::string read_or_empty(const std::string& path) {
    std::string data;
    fs_read(path, data);
    return data;
}

// Content outside the tree that links inside it point at.
struct Outside {
    std::string dir, file, deep;
    explicit Outside(const std::string& base)
        : dir(path_join({base, "outside"})), file(path_join({dir, "keep.txt"})), deep(path_join({dir, "sub", "deep.txt"})) {
        EXPECT_TRUE(fs_make_dirs(path_join({dir, "sub"})));
        EXPECT_TRUE(fs_write(file, "keep"));
        EXPECT_TRUE(fs_write(deep, "deep"));
    }
    void expect_intact() const {
        EXPECT_EQ(read_or_empty(file), "keep");
        EXPECT_EQ(read_or_empty(deep), "deep");
    }
};

TEST(Links, AreDescribedThemselvesAndFollowedOnlyWhenAsked) {
    Temp_Dir tmp;
    Outside out(tmp.path);
    std::string dir_link = path_join({tmp.path, "dir_link"});
    std::string file_link = path_join({tmp.path, "file_link"});
    std::string err;
    ASSERT_TRUE(fs_make_link(out.dir, dir_link, true, &err)) << err;
    ASSERT_TRUE(fs_make_link(out.file, file_link, false, &err)) << err;

    File_Info info;
    ASSERT_TRUE(fs_stat(dir_link, info));
    EXPECT_TRUE(info.is_link);
    EXPECT_FALSE(info.is_dir);
    EXPECT_TRUE(fs_is_dir(dir_link));
    ASSERT_TRUE(fs_stat(file_link, info));
    EXPECT_TRUE(info.is_link);
    EXPECT_EQ(read_or_empty(file_link), "keep");
    EXPECT_EQ(read_or_empty(path_join({dir_link, "sub", "deep.txt"})), "deep");

    std::vector<Dir_Entry> entries;
    ASSERT_TRUE(fs_list(tmp.path, entries));
    int links = 0;
    for (const Dir_Entry& e : entries) {
        if (e.name == "dir_link" || e.name == "file_link") {
            EXPECT_TRUE(e.is_link) << e.name;
            EXPECT_FALSE(e.is_dir) << e.name;
            ++links;
        }
    }
    EXPECT_EQ(links, 2);

    // Removing a link removes the link only.
    ASSERT_TRUE(fs_remove_file(dir_link, &err)) << err;
    ASSERT_TRUE(fs_remove_file(file_link, &err)) << err;
    EXPECT_FALSE(exists(dir_link));
    EXPECT_FALSE(exists(file_link));
    out.expect_intact();
}

TEST(Links, RemoveTreeNeverFollowsThem) {
    Temp_Dir tmp;
    Outside out(tmp.path);
    std::string tree = path_join({tmp.path, "tree"});
    std::string inner = path_join({tree, "inner"});
    ASSERT_TRUE(fs_make_dirs(inner));
    ASSERT_TRUE(fs_write(path_join({inner, "own.txt"}), "own"));
    std::string err;
    ASSERT_TRUE(fs_make_link(out.dir, path_join({tree, "to_outside"}), true, &err)) << err;
    ASSERT_TRUE(fs_make_link(out.dir, path_join({inner, "to_outside_deeper"}), true, &err)) << err;
    ASSERT_TRUE(fs_make_link(out.file, path_join({inner, "to_file"}), false, &err)) << err;
    ASSERT_TRUE(fs_make_link(path_join({tmp.path, "gone"}), path_join({inner, "dangling"}), false, &err)) << err;

    ASSERT_TRUE(fs_remove_tree(tree, &err)) << err;
    EXPECT_FALSE(exists(tree));
    out.expect_intact();

    // The tree named by a link: the link goes, the folder it names stays.
    std::string top_link = path_join({tmp.path, "top_link"});
    ASSERT_TRUE(fs_make_link(out.dir, top_link, true, &err)) << err;
    ASSERT_TRUE(fs_remove_tree(top_link, &err)) << err;
    EXPECT_FALSE(exists(top_link));
    out.expect_intact();
}

}  // namespace

TEST(Links, AtomicWriteReplacesTheLinkNotItsTarget) {
    Temp_Dir tmp;
    Outside outside(tmp.path);
    std::string link = path_join({tmp.path, "settings.txt"});
    ASSERT_TRUE(fs_make_link(outside.file, link, false));
    std::string err;
    ASSERT_TRUE(fs_write_atomic(link, "mine", &err)) << err;
    outside.expect_intact();
    File_Info info;
    ASSERT_TRUE(fs_stat(link, info));
    EXPECT_FALSE(info.is_link);
    EXPECT_EQ(read_or_empty(link), "mine");
}
