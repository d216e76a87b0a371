// The test writer's archives read by two independent readers, bsdtar
// (libarchive) and unar (The Unarchiver), and by ours: all three must give
// the entries' contents byte for byte. Build machine only; a missing
// reader is reported as skipped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/archive/rar5.h"
#include "tests/rar5/rar5_samples.h"
#include "tests/rar5/rar5_test_writer.h"
#include "tests/support/temp_dir.h"

namespace {

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

std::string shell_quoted(const std::string& s) { return "'" + s + "'"; }

struct Written {
    std::string path;
    rar5_samples::Fixture fixture;
};

std::vector<Written> write_fixtures(const Temp_Dir& dir) {
    std::vector<Written> out;
    std::vector<rar5_samples::Fixture> fixtures = rar5_samples::fixtures();
    fixtures.push_back(rar5_samples::window_fixture());
    for (const rar5_samples::Fixture& f : fixtures) {
        std::string path = path_join({dir.path, f.name});
        EXPECT_TRUE(fs_write(path, rar5_writer::archive(f.entries)));
        out.push_back({path, f});
    }
    return out;
}

// Each reader unpacks the whole archive into a folder of its own; every
// entry there must hold the writer's content, and ours must match it.
void compare_folder(const std::string& reader, const Written& w, const std::string& out_dir) {
    rar5::Rar5_Archive archive;
    ASSERT_TRUE(rar5::open_file(w.path, archive));
    std::vector<rar5::Rar5_Entry> listed;
    ASSERT_TRUE(rar5::list(archive, listed)) << w.path;
    ASSERT_EQ(listed.size(), w.fixture.entries.size());
    for (size_t i = 0; i < listed.size(); i++) {
        const std::string& name = w.fixture.entries[i].name;
        std::string target = path_join({out_dir, name});
        if (listed[i].is_directory) {
            EXPECT_TRUE(fs_is_dir(target)) << reader << " " << name;
            continue;
        }
        std::string theirs, ours;
        ASSERT_TRUE(fs_read(target, theirs)) << reader << " " << w.fixture.name << " " << name;
        EXPECT_TRUE(theirs == w.fixture.entries[i].content) << reader << " " << w.fixture.name << " " << name;
        EXPECT_TRUE(rar5::extract_to_memory(archive, listed[i], ours)) << name << ": " << rar5_error;
        EXPECT_TRUE(ours == theirs) << w.fixture.name << " " << name;
    }
}

TEST(Rar5Peers, BsdtarReadsEveryEntryAsWeDo) {
    if (!have("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
    Temp_Dir dir;
    for (const Written& w : write_fixtures(dir)) {
        std::string out_dir = path_join({dir.path, w.fixture.name + ".bsdtar"});
        ASSERT_TRUE(fs_make_dirs(out_dir));
        ASSERT_EQ(std::system(("bsdtar -xf " + shell_quoted(w.path) + " -C " + shell_quoted(out_dir)).c_str()), 0)
            << w.fixture.name;
        compare_folder("bsdtar", w, out_dir);
    }
}

TEST(Rar5Peers, UnarReadsEveryEntryAsWeDo) {
    if (!have("unar")) GTEST_SKIP() << "unar is not installed";
    Temp_Dir dir;
    for (const Written& w : write_fixtures(dir)) {
        std::string out_dir = path_join({dir.path, w.fixture.name + ".unar"});
        ASSERT_EQ(std::system(("unar -q -D -o " + shell_quoted(out_dir) + " " + shell_quoted(w.path) + " >/dev/null").c_str()), 0)
            << w.fixture.name;
        compare_folder("unar", w, out_dir);
    }
}

// The real archives of libarchive's tests that we read: each entry we
// unpack must equal what bsdtar and unar unpack. (unar fails on every entry
// of solid.rar, so that one is left out.)
TEST(Rar5Peers, RealArchivesAgreeWithBothReaders) {
    const char* files[] = {"stored.rar", "stored_manyfiles.rar", "compressed.rar", "multiple_files.rar",
                           "win32.rar", "arm.rar", "blake2.rar"};
    struct Reader {
        const char* name;
        const char* command;   // archive, then the output folder
    };
    const Reader readers[] = {{"bsdtar", "bsdtar -xf %s -C %s"}, {"unar", "unar -q -D -o %2$s %1$s >/dev/null"}};
    Temp_Dir dir;
    for (const Reader& r : readers) {
        if (!have(r.name)) {
            std::printf("skipped: %s is not installed\n", r.name);
            continue;
        }
        for (const char* f : files) {
            std::string archive_path = path_join({env_get("QM_SOURCE_DIR"), "tests", "rar5", "libarchive", f});
            std::string out_dir = path_join({dir.path, std::string(r.name) + "-" + f});
            ASSERT_TRUE(fs_make_dirs(out_dir));
            char command[2048];
            std::snprintf(command, sizeof command, r.command, shell_quoted(archive_path).c_str(), shell_quoted(out_dir).c_str());
            ASSERT_EQ(std::system(command), 0) << command;
            rar5::Rar5_Archive archive;
            std::vector<rar5::Rar5_Entry> listed;
            ASSERT_TRUE(rar5::open_file(archive_path, archive) && rar5::list(archive, listed)) << f;
            int compared = 0;
            for (const rar5::Rar5_Entry& e : listed) {
                std::string ours, theirs;
                if (e.is_directory || !rar5::extract_to_memory(archive, e, ours)) continue;
                ASSERT_TRUE(fs_read(path_join({out_dir, e.name}), theirs)) << r.name << " " << f << " " << e.name;
                EXPECT_TRUE(ours == theirs) << r.name << " " << f << " " << e.name;
                compared++;
            }
            EXPECT_GT(compared, 0) << f;
        }
    }
}

}  // namespace
