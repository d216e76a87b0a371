// Images of our SquashFS writer read by the real unsquashfs: the listing
// with modes, and every file extracted byte-equal, across block edges, empty
// files, nested folders and a folder of 300 files.
#include <gtest/gtest.h>

#include <random>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/squashfs.h"
#include "peer.h"
#include "tests/support/temp_dir.h"

namespace {

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(gen() & 0xff);
    return s;
}

struct Unsquash : ::testing::Test {
    Temp_Dir dir;
    void SetUp() override {
        if (!have_tool("unsquashfs")) GTEST_SKIP() << "skipped: needs unsquashfs (squashfs-tools)";
    }
    std::string pack(const std::vector<Sq_File>& files) {
        std::string image, err;
        EXPECT_TRUE(squashfs_write(files, 1700000000u, image, err)) << err;
        std::string path = path_join({dir.path, "image.sqfs"});
        EXPECT_TRUE(fs_write(path, image));
        return path;
    }
    void expect_extracted(const std::string& image, const std::vector<Sq_File>& files) {
        std::string out = path_join({dir.path, "out"});
        Shell_Result r = shell("unsquashfs -no-xattrs -n -d " + sh_quote(out) + " " + sh_quote(image));
        ASSERT_EQ(r.code, 0) << r.out;
        for (const Sq_File& f : files) {
            std::string got;
            ASSERT_TRUE(fs_read(path_join({out, f.path}), got)) << f.path;
            EXPECT_TRUE(got == f.data) << f.path << ": " << got.size() << " bytes, expected " << f.data.size();
        }
    }
};

TEST_F(Unsquash, FilesAroundTheBlockSizeExtractByteEqual) {
    std::string full = random_bytes(131072, 1), over = random_bytes(131073, 2), big = random_bytes(3 * 131072 + 7, 3);
    std::vector<Sq_File> files = {
        {"empty", "", false},
        {"one_block", full, false},
        {"one_block_and_a_byte", over, true},
        {"deep/er/still/big", big, false},
        {"deep/side", "side", false},
    };
    expect_extracted(pack(files), files);
}

TEST_F(Unsquash, AFolderOf300FilesListsAndExtracts) {
    std::vector<std::string> data;
    for (int i = 0; i < 300; ++i) data.push_back("file " + std::to_string(i) + "\n");
    std::vector<Sq_File> files;
    // Given out of order: the listing is sorted.
    for (int i = 299; i >= 0; --i) files.push_back({"many/f" + std::to_string(1000 + i), data[size_t(i)], false});
    std::string image = pack(files);
    Shell_Result list = shell("unsquashfs -no-xattrs -l " + sh_quote(image));
    ASSERT_EQ(list.code, 0) << list.out;
    std::string expected = "squashfs-root\nsquashfs-root/many\n";
    for (int i = 0; i < 300; ++i) expected += "squashfs-root/many/f" + std::to_string(1000 + i) + "\n";
    EXPECT_EQ(list.out, expected);
    expect_extracted(image, files);
}

TEST_F(Unsquash, ModesAndTimesAreTheWritersOwn) {
    std::vector<Sq_File> files = {{"bin/run", "#!/bin/sh\n", true}, {"bin/data.cfg", "k=v\n", false}};
    std::string image = pack(files);
    Shell_Result r = shell("unsquashfs -no-xattrs -UTC -lln " + sh_quote(image));
    ASSERT_EQ(r.code, 0) << r.out;
    // Folder sizes are the listing's length plus 3, as the format counts them.
    EXPECT_EQ(r.out,
              "drwxr-xr-x 0/0                      26 2023-11-14 22:13 squashfs-root\n"
              "drwxr-xr-x 0/0                      42 2023-11-14 22:13 squashfs-root/bin\n"
              "-rw-r--r-- 0/0                       4 2023-11-14 22:13 squashfs-root/bin/data.cfg\n"
              "-rwxr-xr-x 0/0                      10 2023-11-14 22:13 squashfs-root/bin/run\n");
    Shell_Result stat = shell("unsquashfs -s " + sh_quote(image));
    EXPECT_NE(stat.out.find("Block size 131072"), std::string::npos) << stat.out;
    EXPECT_NE(stat.out.find("Number of inodes 4"), std::string::npos) << stat.out;
}

}  // namespace
