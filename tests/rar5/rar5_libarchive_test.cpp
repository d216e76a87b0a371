// Real RAR 5.0 archives (libarchive's test files, made by rar itself, and
// the damaged ones its fuzzing found): every entry we accept decodes to
// bytes whose CRC-32 the archive confirms, the refusals give their texts,
// and the damaged ones fail with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/archive/rar5.h"

namespace {

std::string fixture(const std::string& name) {
    return path_join({env_get("QM_SOURCE_DIR"), "tests", "rar5", "libarchive", name});
}

struct Listed {
    rar5::Rar5_Archive archive;
    std::vector<rar5::Rar5_Entry> entries;
    bool ok = false;
};

Listed open_and_list(const std::string& name) {
    Listed l;
    EXPECT_TRUE(rar5::open_file(fixture(name), l.archive)) << name;
    l.ok = rar5::list(l.archive, l.entries);
    return l;
}

TEST(Rar5Libarchive, RealArchivesDecode) {
    struct Case {
        const char* file;
        std::vector<std::pair<const char*, int64_t>> files;   // name, size; "" for a folder
    };
    const Case cases[] = {
        {"stored.rar", {{"helloworld.txt", 29}}},
        {"stored_manyfiles.rar", {{"make_uue.tcl", 405}, {"cebula.txt", 814}, {"test.bin", 1200}}},
        {"compressed.rar", {{"test.bin", 1200}}},
        {"multiple_files.rar", {{"test1.bin", 4096}, {"test2.bin", 4096}, {"test3.bin", 4096}, {"test4.bin", 4096}}},
        {"win32.rar",
         {{"testdir", 0}, {"test.bin", 1200}, {"test1.bin", 4096}, {"test2.bin", 4096}, {"test3.bin", 4096},
          {"test4.bin", 4096}, {"test5.bin", 4096}, {"test6.bin", 4096}}},
        {"arm.rar", {{"elf-Linux-ARMv7-ls", 90808}}},   // ARM filter
        {"blake2.rar", {{"cebula.txt", 814}}},
    };
    for (const Case& c : cases) {
        Listed l = open_and_list(c.file);
        ASSERT_TRUE(l.ok) << c.file;
        ASSERT_EQ(l.entries.size(), c.files.size()) << c.file;
        for (size_t i = 0; i < c.files.size(); i++) {
            const rar5::Rar5_Entry& e = l.entries[i];
            EXPECT_EQ(e.name, c.files[i].first) << c.file;
            EXPECT_EQ(e.unpacked_size, c.files[i].second) << c.file << " " << e.name;
            if (e.is_directory) continue;
            std::string out;
            EXPECT_TRUE(rar5::extract_to_memory(l.archive, e, out)) << c.file << " " << e.name << ": " << rar5_error;
            EXPECT_EQ(int64_t(out.size()), e.unpacked_size);
        }
    }
}

TEST(Rar5Libarchive, SolidAndSplitEntriesAreRefused) {
    struct Case {
        const char* file;
        size_t first_refused;
    };
    for (const Case& c : {Case{"solid.rar", 1}, Case{"multiarchive_vol1.rar", 0}}) {
        Listed l = open_and_list(c.file);
        ASSERT_TRUE(l.ok) << c.file;
        for (size_t i = 0; i < l.entries.size(); i++) {
            std::string out;
            bool ok = rar5::extract_to_memory(l.archive, l.entries[i], out);
            EXPECT_EQ(ok, i < c.first_refused) << c.file << " " << l.entries[i].name;
            if (!ok) {
                EXPECT_EQ(rar5_error, "unsupported (encrypted, solid, split or RAR 7)");
            }
        }
    }
}

// libarchive's fuzzing finds: none may crash (the sanitizer build runs
// this), and each either fails to list or fails its entries with a reason.
TEST(Rar5Libarchive, DamagedArchivesFail) {
    const char* files[] = {"distance_overflow.rar", "readtables_overflow.rar", "truncated_huff.rar",
                           "decode_number_out_of_bounds_read.rar", "leftshift1.rar", "leftshift2.rar",
                           "invalid_dict_reference.rar", "block_size_is_too_small.rar",
                           "window_buf_and_size_desync.rar", "arm_filter_on_window_boundary.rar",
                           "different_window_size.rar", "nonempty_dir_stream.rar"};
    for (const char* f : files) {
        Listed l = open_and_list(f);
        for (const rar5::Rar5_Entry& e : l.entries) {
            std::string out;
            if (!rar5::extract_to_memory(l.archive, e, out)) {
                EXPECT_FALSE(rar5_error.empty()) << f << " " << e.name;
            } else {
                EXPECT_TRUE(e.has_crc) << f << " " << e.name;   // only a confirmed entry may pass
            }
        }
        EXPECT_FALSE(l.ok) << f;
    }
}

}  // namespace
