// The SquashFS writer's own checks: what the format cannot hold fails with a
// reason and no image (limits lowered through the seam), and the image's
// length and superblock.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/squashfs.h"
#include "tests/support/bytes_le.h"
#include "tests/support/temp_dir.h"

namespace {

// A reader of this writer's images (uncompressed metadata blocks), written
// from the format's description: the link count of every folder, by path.
struct Folder_Links {
    const std::string& image;
    std::string inodes, dirs;
    std::map<uint64_t, size_t> inode_blocks, dir_blocks;   // block position -> where its bytes begin here
    std::map<std::string, uint32_t> links;

    // The bytes of the metadata blocks from `start` to `end`, joined.
    static void blocks(const std::string& image, uint64_t start, uint64_t end, std::string& out,
                       std::map<uint64_t, size_t>& at) {
        for (uint64_t pos = start; pos + 2 <= end;) {
            uint16_t head = u16_at(image, size_t(pos));
            ASSERT_NE(head & 0x8000, 0) << "a compressed block at " << pos;
            at[pos - start] = out.size();
            out.append(image, size_t(pos) + 2, head & 0x7FFF);
            pos += 2 + (head & 0x7FFF);
        }
    }
    explicit Folder_Links(const std::string& img) : image(img) {
        blocks(image, u64_at(image, 64), u64_at(image, 72), inodes, inode_blocks);
        blocks(image, u64_at(image, 72), u64_at(image, 48), dirs, dir_blocks);
        walk(u64_at(image, 32), "/");
    }
    void walk(uint64_t ref, const std::string& path) {
        size_t at = inode_blocks.at(ref >> 16) + (ref & 0xFFFF);
        ASSERT_EQ(u16_at(inodes, at), 1) << path;   // a basic folder
        links[path] = u32_at(inodes, at + 20);
        uint32_t start_block = u32_at(inodes, at + 16);
        size_t size = u16_at(inodes, at + 24) - 3u;
        size_t pos = dir_blocks.at(start_block) + u16_at(inodes, at + 26), end = pos + size;
        while (pos < end) {
            uint32_t count = u32_at(dirs, pos) + 1;
            uint32_t block = u32_at(dirs, pos + 4);
            pos += 12;
            for (uint32_t i = 0; i < count; ++i) {
                uint16_t offset = u16_at(dirs, pos);
                uint16_t type = u16_at(dirs, pos + 4);
                size_t name_size = u16_at(dirs, pos + 6) + 1u;
                std::string name = dirs.substr(pos + 8, name_size);
                pos += 8 + name_size;
                if (type == 1) walk(uint64_t(block) << 16 | offset, path + name + "/");
            }
        }
    }
};

struct Limits_Guard {
    Sq_Limits saved = sq_limits();
    ~Limits_Guard() { sq_set_limits(saved); }
};

TEST(Squashfs, PaddedToPageButBytesUsedIsNot) {
    std::string data(5000, 'x');
    std::string image, err;
    ASSERT_TRUE(squashfs_write({{"a/b.txt", data, false}}, 1700000000u, image, err)) << err;
    EXPECT_EQ(image.size() % 4096, 0u);
    uint64_t used = u64_at(image, 40);
    EXPECT_LT(used, image.size());
    EXPECT_NE(used % 4096, 0u);
    EXPECT_EQ(image.compare(0, 4, "hsqs"), 0);
    EXPECT_EQ(image.substr(used), std::string(image.size() - used, '\0'));
}

// A folder's link count is 2 (its own entry and ".") plus one for each
// folder in it (their ".."); unsquashfs does not show it, a mounted image's
// "find -links" relies on it.
TEST(Squashfs, FolderLinkCountsCountTheirSubfolders) {
    std::string image, err;
    ASSERT_TRUE(squashfs_write({{"a/b/c.txt", "c", false},
                                {"a/d.txt", "d", false},
                                {"a/e/f/g.txt", "g", false},
                                {"h/i.txt", "i", false},
                                {"j.txt", "j", false}},
                               1700000000u, image, err))
        << err;
    Folder_Links read(image);
    EXPECT_EQ(read.links, (std::map<std::string, uint32_t>{
                              {"/", 4}, {"/a/", 4}, {"/a/b/", 2}, {"/a/e/", 3}, {"/a/e/f/", 2}, {"/h/", 2}}));
}

// Streamed into a file after a runtime: the same bytes as the image built in
// memory, with the program's bytes copied from its own file (the first
// `from_size` of them) across block edges; a source that ends before its
// size, or is not there, fails and names the file.
TEST(Squashfs, AStreamedImageIsTheImageBuiltInMemory) {
    Temp_Dir dir;
    std::string program(3 * 131072 + 5, '\0');
    for (size_t i = 0; i < program.size(); i++) program[i] = char((i * 2654435761u) >> 13);
    std::string program_path = path_join({dir.path, "program"});
    ASSERT_TRUE(fs_write(program_path, program + "not packed"));
    std::vector<Sq_File> files = {{"usr/bin/game", "", true, program_path, program.size()},
                                  {"AppRun", "#!/bin/sh\n", true},
                                  {"usr/bin/game.cfg", std::string_view("k=v\n"), false}};
    std::vector<Sq_File> in_memory = files;
    in_memory[0].data = program;
    in_memory[0].from_path = {};
    std::string alone, err;
    ASSERT_TRUE(squashfs_write(in_memory, 1700000000u, alone, err)) << err;

    const std::string runtime(1234, 'r');
    Sq_Layout layout;
    ASSERT_TRUE(squashfs_layout(sq_entries(files), 1700000000u, layout, err)) << err;
    std::string out_path = path_join({dir.path, "out"});
    File out;
    ASSERT_TRUE(file_create(out, out_path));
    ASSERT_TRUE(file_write(out, runtime.data(), runtime.size()));
    uint64_t written = 0;
    ASSERT_TRUE(squashfs_stream(out, layout, files, written, err)) << err;
    ASSERT_TRUE(file_close(out));
    std::string whole;
    ASSERT_TRUE(fs_read(out_path, whole));
    EXPECT_EQ(written, alone.size());
    EXPECT_TRUE(whole == runtime + alone);

    files[0].from_size = program.size() + 100;
    ASSERT_TRUE(squashfs_layout(sq_entries(files), 1700000000u, layout, err)) << err;
    ASSERT_TRUE(file_create(out, out_path));
    EXPECT_FALSE(squashfs_stream(out, layout, files, written, err));
    EXPECT_EQ(err.rfind("usr/bin/game: ", 0), 0u) << err;
    const std::string missing = path_join({dir.path, "missing"});
    files[0].from_path = missing;
    files[0].from_size = program.size();
    ASSERT_TRUE(file_create(out, out_path));
    EXPECT_FALSE(squashfs_stream(out, layout, files, written, err));
    EXPECT_EQ(err.rfind("usr/bin/game: ", 0), 0u) << err;
}

struct Refused {
    const char* what;
    std::vector<std::string> paths;
    const char* reason_part;
};

TEST(Squashfs, PathsTheFormatCannotHoldAreRefused) {
    const Refused table[] = {
        {"empty component", {"a//b"}, "empty"},
        {"leading slash", {"/a"}, "empty"},
        {"dot dot", {"a/../b"}, "\"..\""},
        {"same file twice", {"a/b", "a/b"}, "twice"},
        {"file then folder", {"a", "a/b"}, "twice"},
        {"folder then file", {"a/b", "a"}, "twice"},
        {"long name", {std::string(257, 'n')}, "256"},
    };
    for (const Refused& r : table) {
        std::vector<Sq_File> files;
        for (const std::string& p : r.paths) files.push_back({p, "x", false});
        std::string image = "old", err;
        EXPECT_FALSE(squashfs_write(files, 1u, image, err)) << r.what;
        EXPECT_TRUE(image.empty()) << r.what;
        EXPECT_NE(err.find(r.reason_part), std::string::npos) << r.what << ": " << err;
    }
    std::string image, err;
    EXPECT_TRUE(squashfs_write({{std::string(256, 'n'), "x", false}}, 1u, image, err)) << err;
}

TEST(Squashfs, SizesAndPositionsPastThe32BitLimitFail) {
    Limits_Guard guard;
    struct Case {
        const char* what;
        uint64_t u32_max;
        std::vector<size_t> sizes;   // files f0, f1, ... in the root
        bool ok;
    };
    const Case table[] = {
        {"a file larger than the limit", 1000, {1001}, false},
        {"a file at the limit", 2000, {1000}, true},
        {"data that starts past the limit", 1000, {600, 400, 10}, false},
        {"data that ends past the limit", 1000, {600, 500}, true},
    };
    for (const Case& c : table) {
        sq_set_limits({c.u32_max, 0xFFFFu - 3});
        std::vector<std::string> data;
        for (size_t n : c.sizes) data.emplace_back(n, 'd');
        std::vector<Sq_File> files;
        for (size_t i = 0; i < data.size(); ++i) files.push_back({"f" + std::to_string(i), data[i], false});
        std::string image, err;
        bool ok = squashfs_write(files, 1u, image, err);
        EXPECT_EQ(ok, c.ok) << c.what << ": " << err;
        if (!ok) {
            EXPECT_TRUE(image.empty()) << c.what;
            EXPECT_NE(err.find("4 GiB"), std::string::npos) << err;
        }
    }
}

TEST(Squashfs, ATableStartPastThe32BitLimitFails) {
    Limits_Guard guard;
    // 1000 empty files: the inode table passes 8194 bytes, so later inodes
    // lie in a metadata block that starts past a limit of 8000.
    std::vector<Sq_File> files;
    for (int i = 0; i < 1000; ++i) files.push_back({"d/f" + std::to_string(1000 + i), "", false});
    sq_set_limits({8000, 0xFFFFu - 3});
    std::string image, err;
    EXPECT_FALSE(squashfs_write(files, 1u, image, err));
    EXPECT_NE(err.find("4 GiB"), std::string::npos) << err;
    sq_set_limits({0xFFFFFFFFu, 0xFFFFu - 3});
    EXPECT_TRUE(squashfs_write(files, 1u, image, err)) << err;
}

TEST(Squashfs, AFolderListingPastIts16BitSizeFails) {
    Limits_Guard guard;
    std::vector<Sq_File> files;
    for (int i = 0; i < 20; ++i) files.push_back({"big/file" + std::to_string(10 + i), "", false});
    files.push_back({"small/one", "", false});
    // 20 entries of 8 + 6 bytes and one header of 12: 292 bytes.
    std::string image, err;
    sq_set_limits({0xFFFFFFFFu, 292});
    EXPECT_TRUE(squashfs_write(files, 1u, image, err)) << err;
    sq_set_limits({0xFFFFFFFFu, 291});
    EXPECT_FALSE(squashfs_write(files, 1u, image, err));
    EXPECT_TRUE(image.empty());
    EXPECT_NE(err.find("big"), std::string::npos) << err;
    EXPECT_NE(err.find("20 entries"), std::string::npos) << err;
}

}  // namespace
