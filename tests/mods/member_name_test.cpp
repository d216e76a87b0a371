// The one member-name check of every archive, the joiner, and write_checked.
#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/archive/member_name.h"
#include "launcher/archive/zip.h"
#include "tests/mods/mod_test_files.h"
#include "tests/support/temp_dir.h"

namespace {

// Every file below `dir`, as paths relative to it.
void list_files(const std::string& dir, const std::string& rel, std::vector<std::string>& out) {
    std::vector<Dir_Entry> entries;
    fs_list(dir, entries);
    for (const Dir_Entry& e : entries) {
        std::string r = rel.empty() ? e.name : rel + "/" + e.name;
        if (e.is_dir) list_files(path_join({dir, e.name}), r, out);
        else out.push_back(r);
    }
}

}  // namespace

TEST(MemberName, HostileNamesAreRefusedAndNothingLandsOutside) {
    const char* refused[] = {
        "",
        "/etc/passwd",
        "\\Windows\\x.dll",
        "C:x",
        "C:/x",
        "c:\\x",
        "a/b:stream",
        "a//b",
        "a\\\\b",
        "//",
        ".",
        "..",
        "../x",
        "a/../../x",
        "hd_textures/../../x",
        "a\\..\\..\\x",
        "./a",
        "a/./b",
        "a\tb",
        "a\nb",
        "a\x7f",
        "CON",
        "con.txt",
        "textures/Nul.dds",
        "AUX.tar.gz",
        "prn",
        "COM1",
        "com9.log",
        "LPT1",
        "lpt9.txt",
        "nul .txt",
        "a.",
        "a/b./c",
        "a ",
        "dir /x",
        "...",
    };
    Temp_Dir tmp;
    std::string base = path_join({tmp.path, "target"});
    ASSERT_TRUE(fs_make_dirs(base));
    for (const char* name : refused) {
        std::string why;
        EXPECT_FALSE(member_name_ok(name, &why)) << "[" << name << "]";
        EXPECT_FALSE(why.empty()) << "[" << name << "]";
        std::string target;
        EXPECT_FALSE(member_path(base, name, target)) << "[" << name << "]";
        EXPECT_TRUE(target.empty());
    }
    EXPECT_FALSE(member_name_ok(std::string_view("a\0b", 3)));   // a NUL inside

    // What a caller does with every member: check, then write. Only the
    // accepted names write, and all of it lands below the target.
    const char* accepted[] = {
        "a.txt", "textures/x.dds", "SupportFiles/efsgtool.exe", "folder/", "a\\b\\c.txt", "..a", "a..b",
        "null.txt", "com10", "lpt0", "conx", "Ünïcödé/ファイル.txt", ".hidden",
    };
    for (const char* name : accepted) EXPECT_TRUE(member_name_ok(name)) << name;
    for (const char* name : refused) {
        std::string target;
        if (member_path(base, name, target)) write_checked(target, "x", 0, false);
    }
    for (const char* name : accepted) {
        std::string target;
        ASSERT_TRUE(member_path(base, name, target)) << name;
        if (target.back() != '/') {
            EXPECT_TRUE(write_checked(target, name, 0, false)) << import_reason();
        }
    }
    std::vector<std::string> outside, inside;
    list_files(tmp.path, "", outside);
    list_files(base, "", inside);
    EXPECT_EQ(outside.size(), inside.size());
    for (const std::string& f : outside) EXPECT_EQ(f.rfind("target/", 0), 0u) << f;
    EXPECT_EQ(read(path_join({base, "a", "b", "c.txt"})), "a\\b\\c.txt");
}

TEST(MemberName, JoinIsPlainText) {
    struct Case { const char* base; const char* name; const char* want; };
    const Case cases[] = {
        {"/x/target", "a/b.txt", "/x/target/a/b.txt"},
        {"/x/target/", "a.txt", "/x/target/a.txt"},
        {"C:\\mods\\", "a\\b.txt", "C:\\mods\\a/b.txt"},
        {"", "a.txt", "a.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(member_join(c.base, c.name), c.want) << c.name;
}

TEST(MemberName, LinkOnTheWayIsRefused) {
    Temp_Dir tmp;
    std::string base = path_join({tmp.path, "target"});
    std::string elsewhere = path_join({tmp.path, "elsewhere"});
    ASSERT_TRUE(fs_make_dirs(base));
    ASSERT_TRUE(fs_make_dirs(elsewhere));
    if (!fs_make_link(elsewhere, path_join({base, "hd_textures"}), true)) GTEST_SKIP() << "no symbolic links here";
    ASSERT_TRUE(fs_make_link(path_join({elsewhere, "f"}), path_join({base, "file"}), false));
    std::string target, why;
    EXPECT_FALSE(member_path(base, "hd_textures/x.dds", target, &why));
    EXPECT_EQ(why, "a part of its path on disk is a link");
    EXPECT_FALSE(member_path(base, "file", target));
    EXPECT_TRUE(member_path(base, "other/x.dds", target));
    std::vector<std::string> files;
    list_files(elsewhere, "", files);
    EXPECT_TRUE(files.empty());
}

TEST(WriteChecked, WritesAndReplacesInOneStep) {
    Temp_Dir tmp;
    std::string target = path_join({tmp.path, "a", "b", "file.bin"});
    std::string data(5000000, 'q');   // more than one 4 MiB write
    data[4194304] = 'z';
    ASSERT_TRUE(write_checked(target, "old", 0, false));
    EXPECT_EQ(read(target), "old");
    EXPECT_FALSE(exists(target + ".part"));

    struct Case { const char* what; bool check; uint32_t crc; bool disk_full; bool ok; const char* reason; };
    const uint32_t crc = 0xA3B0C1D2;   // not the data's CRC-32
    const Case cases[] = {
        {"checksum differs", true, crc, false, false,
         "its contents do not match the ZIP's checksum: the ZIP is damaged -- download it again"},
        {"disk full", false, 0, true, false, "cannot write %s (%v): is the disk full?"},
    };
    for (const Case& c : cases) {
        import_error().clear();
        std::string full_reason;
        if (c.disk_full) {
            fs_disk_full_under(tmp.path);
            fs_write(path_join({tmp.path, "probe"}), "x", &full_reason);   // the system's words for it
        }
        EXPECT_EQ(write_checked(target, data, c.crc, c.check), c.ok) << c.what;
        fs_disk_full_under("");
        std::string want = c.reason;
        if (want.find("%s") != std::string::npos) want.replace(want.find("%s"), 2, target + ".part");
        if (want.find("%v") != std::string::npos) want.replace(want.find("%v"), 2, full_reason);
        EXPECT_EQ(import_error(), want) << c.what;
        EXPECT_EQ(read(target), "old") << c.what;   // the old file is whole
        EXPECT_FALSE(exists(target + ".part")) << c.what;
    }
    ASSERT_TRUE(write_checked(target, data, 0, false));
    EXPECT_EQ(read(target), data);
}

TEST(WriteChecked, FailuresSayWhereAndLeaveNoPart) {
    Temp_Dir tmp;
    // A folder where the file should go: the rename fails.
    std::string folder_target = path_join({tmp.path, "taken"});
    ASSERT_TRUE(fs_make_dirs(path_join({folder_target, "inside"})));
    EXPECT_FALSE(write_checked(folder_target, "data", 0, false));
    EXPECT_EQ(import_error().rfind("cannot rename " + folder_target + ".part (", 0), 0u) << import_error();
    EXPECT_FALSE(exists(folder_target + ".part"));
    EXPECT_TRUE(fs_is_dir(path_join({folder_target, "inside"})));

    // A file where the folder should go.
    std::string blocker = path_join({tmp.path, "blocker"});
    ASSERT_TRUE(fs_write(blocker, "x"));
    EXPECT_FALSE(write_checked(path_join({blocker, "sub", "f"}), "data", 0, false));
    EXPECT_EQ(import_error(), "cannot make the folder " + path_join({blocker, "sub"}));

    // The part file cannot be made.
    std::string refused = path_join({tmp.path, "refused", "f"});
    ASSERT_TRUE(fs_make_dirs(path_dir(refused)));
    fs_fail_under(refused);
    EXPECT_FALSE(write_checked(refused, "data", 0, false));
    fs_fail_under("");
    EXPECT_EQ(import_error(), "cannot write " + refused + ".part (refused by the test hook)");
}
