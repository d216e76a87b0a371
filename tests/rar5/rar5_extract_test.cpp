// Unpacking RAR5 entries to disk: the file appears whole or not at all,
// the reason lands in the right text, and member names are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/task.h"
#include "launcher/mods/mod_tools.h"
#include "launcher/archive/zip.h"
#include "launcher/archive/rar5.h"
#include "launcher/archive/unpack.h"
#include "tests/rar5/rar5_samples.h"
#include "tests/rar5/rar5_test_writer.h"
#include "tests/support/temp_dir.h"

namespace {

namespace w = rar5_writer;

struct Archive_On_Disk {
    Temp_Dir dir;
    std::string path;
    rar5::Rar5_Archive archive;
    std::vector<rar5::Rar5_Entry> entries;

    explicit Archive_On_Disk(const std::vector<w::Entry>& in) {
        path = path_join({dir.path, "mod.rar"});
        EXPECT_TRUE(fs_write(path, w::archive(in)));
        EXPECT_TRUE(rar5::open_file(path, archive));
        EXPECT_TRUE(rar5::list(archive, entries));
    }
};

w::Entry entry(std::string name, std::string content) {
    w::Entry e;
    e.name = std::move(name);
    e.content = std::move(content);
    return e;
}

TEST(Rar5ToDisk, WritesTheFileWholeAndLeavesNoPart) {
    std::string content = rar5_samples::x86(50000);
    w::Entry e = entry("gui/font.bin", content);
    e.options.filters = {{0, 40000, 1, 1}};
    Archive_On_Disk a({e});
    ASSERT_EQ(a.entries.size(), 1u);
    std::string out_dir = path_join({a.dir.path, "out"});
    std::string target;
    ASSERT_TRUE(rar5::extract_into(a.archive, a.entries[0], out_dir, &target)) << rar5_error << import_error();
    EXPECT_EQ(target, out_dir + "/gui/font.bin");
    std::string written;
    ASSERT_TRUE(fs_read(target, written));
    EXPECT_TRUE(written == content);
    File_Info info;
    EXPECT_FALSE(fs_stat(target + ".part", info) && info.exists);
}

TEST(Rar5ToDisk, AFailedEntryLeavesTheOldFileAlone) {
    w::Entry bad = entry("a.txt", "new content");
    bad.bad_crc = true;
    Archive_On_Disk a({bad});
    std::string target = path_join({a.dir.path, "a.txt"});
    ASSERT_TRUE(fs_write(target, "old"));
    EXPECT_FALSE(rar5::extract(a.archive, a.entries[0], target));
    EXPECT_EQ(rar5_error, "CRC32 mismatch");
    std::string kept;
    ASSERT_TRUE(fs_read(target, kept));
    EXPECT_EQ(kept, "old");
}

TEST(Rar5ToDisk, AWriteFailureIsReportedInImportError) {
    Archive_On_Disk a({entry("a.txt", "content")});
    std::string out_dir = path_join({a.dir.path, "refused"});
    fs_fail_under(out_dir);
    bool ok = rar5::extract(a.archive, a.entries[0], path_join({out_dir, "a.txt"}));
    fs_fail_under("");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(rar5_error.empty());
    EXPECT_FALSE(import_error().empty());
}

// A 141-byte archive whose stored entry claims 2 GiB but holds five bytes
// and no CRC-32: refused before a byte is written.
TEST(Rar5ToDisk, AStoredEntryClaimingMoreThanItsDataIsRefused) {
    static const std::string five = "small";
    w::Entry big = entry("hd_textures/big.dds", "");
    big.method = 0;
    big.packed = &five;
    big.unpacked_size = int64_t(1) << 31;
    big.with_crc = false;
    Archive_On_Disk a({big});
    ASSERT_EQ(a.entries.size(), 1u);
    std::string target = path_join({a.dir.path, "big.dds"});
    EXPECT_FALSE(rar5::extract(a.archive, a.entries[0], target));
    EXPECT_EQ(rar5_error, "corrupt data");
    File_Info info;
    EXPECT_FALSE(fs_stat(target, info) && info.exists);
    EXPECT_FALSE(fs_stat(target + ".part", info) && info.exists);
}

// A large entry reaches the disk in pieces of about its dictionary's size,
// never held whole, and arrives whole; Cancel stops it with no part file.
TEST(Rar5ToDisk, ALargeEntryIsUnpackedInPieces) {
    rar5_samples::Fixture f = rar5_samples::window_fixture();
    Archive_On_Disk a(f.entries);
    ASSERT_EQ(a.entries.size(), 1u);
    const rar5::Rar5_Entry& e = a.entries[0];
    ASSERT_LE(e.dictionary, uint64_t(1) << 20);
    size_t largest = 0, total = 0;
    std::string ours;
    std::string piece;
    rar5::Unpack_Read read = [&](uint64_t offset, size_t count, uint8_t* out) {
        return rar5::read_at(a.archive, e.data_offset + int64_t(offset), count, piece) && piece.size() == count &&
               (std::memcpy(out, piece.data(), count), true);
    };
    ASSERT_TRUE(rar5::unpack_stream(read, uint64_t(e.packed_size), uint64_t(e.unpacked_size), e.dictionary,
                                    [&](const uint8_t* data, size_t size) {
                                        largest = std::max(largest, size);
                                        total += size;
                                        ours.append(reinterpret_cast<const char*>(data), size);
                                        return true;
                                    }))
        << rar5_error;
    EXPECT_EQ(total, f.entries[0].content.size());
    EXPECT_TRUE(ours == f.entries[0].content);
    EXPECT_LT(largest, size_t(16) << 20);   // the window: dictionary and a filter's block, twice

    std::string target = path_join({a.dir.path, "large.bin"});
    ASSERT_TRUE(rar5::extract(a.archive, e, target)) << rar5_error << import_error();
    std::string written;
    ASSERT_TRUE(fs_read(target, written));
    EXPECT_TRUE(written == f.entries[0].content);

    Task t;
    t.cancel.store(1);
    Hd_Progress p;
    p.task = &t;
    std::string stopped = path_join({a.dir.path, "stopped.bin"});
    EXPECT_FALSE(rar5::extract(a.archive, e, stopped, &p));
    EXPECT_EQ(import_error(), "cancelled");
    File_Info info;
    EXPECT_FALSE(fs_stat(stopped, info) && info.exists);
    EXPECT_FALSE(fs_stat(stopped + ".part", info) && info.exists);
}

TEST(Rar5ToDisk, UnsafeNamesAreNeverWritten) {
    Archive_On_Disk a({entry("../escaped.txt", "x"), entry("/abs.txt", "x"), entry("C:evil.txt", "x"),
                       entry("ok/../../up.txt", "x")});
    ASSERT_EQ(a.entries.size(), 4u);
    std::string out_dir = path_join({a.dir.path, "out"});
    for (const rar5::Rar5_Entry& e : a.entries) {
        EXPECT_FALSE(rar5::extract_into(a.archive, e, out_dir)) << e.name;
        EXPECT_EQ(rar5_error.rfind("its name is not safe to unpack (", 0), 0u) << rar5_error;
    }
    File_Info info;
    EXPECT_FALSE(fs_stat(path_join({a.dir.path, "escaped.txt"}), info) && info.exists);
    EXPECT_FALSE(fs_stat(path_join({a.dir.path, "up.txt"}), info) && info.exists);
}

}  // namespace
