#include "engine/kt_system/fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/kt_system/path.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string unicode_name = "\xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt";  // "Ünïcødé 日本.txt"
const std::string unicode_dir = "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 \xF0\x9F\x93\x81";               // "Папка 📁"

std::string read_or_empty(const std::string& path) {
    std::string data;
    fs_read(path, data);
    return data;
}

bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info);
}

std::vector<std::string> names_in(const std::string& dir) {
    std::vector<Dir_Entry> entries;
    std::vector<std::string> names;
    if (!fs_list(dir, entries)) return names;
    for (const Dir_Entry& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

// A system's reason reads as words: not empty, no line break or period at the end.
void expect_reason(const std::string& err) {
    ASSERT_FALSE(err.empty());
    EXPECT_NE(err.back(), '\n');
    EXPECT_NE(err.back(), '\r');
    EXPECT_NE(err.back(), '.');
    EXPECT_NE(err.back(), ' ');
}

struct Hook_Reset {
    ~Hook_Reset() {
        fs_fail_under("");
        fs_disk_full_under("");
        fs_set_free_space_hook(nullptr);
    }
};

TEST(Fs, UnicodeNamesRoundTripThroughEveryCall) {
    Temp_Dir tmp;
    std::string dir = path_join({tmp.path, unicode_dir, "deeper"});
    ASSERT_TRUE(fs_make_dirs(dir));
    EXPECT_TRUE(fs_is_dir(dir));

    std::string file = path_join({dir, unicode_name});
    std::string content("bytes \0 with \xFF\xFE nul and high bytes\r\n", 37);
    ASSERT_TRUE(fs_write(file, content));
    EXPECT_EQ(read_or_empty(file), content);

    File_Info info;
    ASSERT_TRUE(fs_stat(file, info));
    EXPECT_TRUE(info.exists);
    EXPECT_FALSE(info.is_dir);
    EXPECT_FALSE(info.is_link);
    EXPECT_EQ(info.size, content.size());
    EXPECT_GT(info.mtime_ns, 0);
    EXPECT_EQ(fs_mtime(file), info.mtime_ns);

    // The names come back from the system byte for byte.
    EXPECT_EQ(names_in(path_join({tmp.path, unicode_dir})), std::vector<std::string>{"deeper"});
    EXPECT_EQ(names_in(tmp.path), std::vector<std::string>{unicode_dir});
    EXPECT_EQ(names_in(dir), std::vector<std::string>{unicode_name});

    std::string copy = path_join({tmp.path, "copy " + unicode_name});
    ASSERT_TRUE(fs_copy_file(file, copy));
    EXPECT_EQ(read_or_empty(copy), content);

    std::string moved = path_join({tmp.path, "moved " + unicode_name});
    ASSERT_TRUE(fs_rename(copy, moved));
    EXPECT_FALSE(exists(copy));
    EXPECT_EQ(read_or_empty(moved), content);

    ASSERT_TRUE(fs_remove_file(moved));
    EXPECT_FALSE(exists(moved));
    ASSERT_TRUE(fs_remove_file(file));
    ASSERT_TRUE(fs_remove_dir(dir));
    EXPECT_FALSE(fs_is_dir(dir));
}

TEST(Fs, WriteReplacesTheWholeContent) {
    Temp_Dir tmp;
    std::string file = path_join({tmp.path, "f.bin"});
    ASSERT_TRUE(fs_write(file, std::string(100000, 'x')));
    ASSERT_TRUE(fs_write(file, "short"));
    EXPECT_EQ(read_or_empty(file), "short");
    ASSERT_TRUE(fs_write(file, ""));
    File_Info info;
    ASSERT_TRUE(fs_stat(file, info));
    EXPECT_EQ(info.size, 0u);
}

// The one way the launcher replaces a file it owns: whole, or not at all.
TEST(Fs, AtomicWriteReplacesWholeOrLeavesTheOldFile) {
    Temp_Dir tmp;
    Hook_Reset reset;
    std::string file = path_join({tmp.path, unicode_name});
    std::string err;
    ASSERT_TRUE(fs_write_atomic(file, "first", &err)) << err;
    ASSERT_TRUE(fs_write_atomic(file, std::string(100000, 'x'), &err)) << err;
    ASSERT_TRUE(fs_write_atomic(file, "old", &err)) << err;
    EXPECT_EQ(read_or_empty(file), "old");

    std::string prefix = tmp.path;
    std::replace(prefix.begin(), prefix.end(), '\\', '/');
    struct Case {
        const char* what;
        std::function<void()> arm;
        bool system_reason;
    } cases[] = {
        {"full disk", [&] { fs_disk_full_under(prefix); }, true},
        {"refused", [&] { fs_fail_under(prefix); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.arm();
        err.clear();
        EXPECT_FALSE(fs_write_atomic(file, "new content", &err));
        if (c.system_reason) expect_reason(err);
        fs_fail_under("");
        fs_disk_full_under("");
        EXPECT_EQ(read_or_empty(file), "old");
        EXPECT_EQ(names_in(tmp.path), std::vector<std::string>{unicode_name}) << "a temporary file was left";
    }
    // The plain write under a full disk cuts the file: why the launcher's own files never use it.
    fs_disk_full_under(prefix);
    EXPECT_FALSE(fs_write(file, "new content"));
    fs_disk_full_under("");
    EXPECT_EQ(read_or_empty(file), "");

    // A read-only file is replaced too, and a folder in the way is a failure.
    ASSERT_TRUE(fs_write_atomic(file, "kept", &err)) << err;
    ASSERT_TRUE(fs_set_read_only(file, true, &err)) << err;
    EXPECT_TRUE(fs_write_atomic(file, "replaced", &err)) << err;
    EXPECT_EQ(read_or_empty(file), "replaced");
    std::string dir = path_join({tmp.path, "dir"});
    ASSERT_TRUE(fs_make_dirs(dir));
    EXPECT_FALSE(fs_write_atomic(dir, "x", &err));
    EXPECT_TRUE(fs_is_dir(dir));
}

TEST(Fs, ARemovedReadOnlyFileLosesTheMarkFirst) {
    Temp_Dir tmp;
    std::string file = path_join({tmp.path, "ro.txt"});
    std::string err;
    ASSERT_TRUE(fs_write(file, "x"));
    ASSERT_TRUE(fs_set_read_only(file, true, &err)) << err;
    EXPECT_TRUE(fs_remove_file(file, &err)) << err;
    EXPECT_FALSE(exists(file));
}

TEST(Fs, RenameAndCopyReplaceAnExistingTarget) {
    Temp_Dir tmp;
    std::string a = path_join({tmp.path, "a"});
    std::string b = path_join({tmp.path, "b"});
    std::string c = path_join({tmp.path, "c"});
    ASSERT_TRUE(fs_write(a, "new content"));
    ASSERT_TRUE(fs_write(b, "old content that is longer"));
    ASSERT_TRUE(fs_write(c, "old"));
    ASSERT_TRUE(fs_rename(a, b));
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(read_or_empty(b), "new content");
    ASSERT_TRUE(fs_copy_file(b, c));
    EXPECT_EQ(read_or_empty(c), "new content");
}

TEST(Fs, CopyGivesEveryByteOfTheSource) {
    Temp_Dir tmp;
    // Past one buffer of the read loop and not one repeated pattern.
    std::string big(3 * 1048576 + 4097, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 2654435761u) >> 13);
    std::string source = path_join({tmp.path, "big.bin"});
    ASSERT_TRUE(fs_write(source, big));
    std::string copy = path_join({tmp.path, "copy.bin"});
    ASSERT_TRUE(fs_write(copy, std::string(5 * 1048576, 'x')));   // a longer old target
    ASSERT_TRUE(fs_copy_file(source, copy));
    EXPECT_TRUE(read_or_empty(copy) == big);
#ifdef __linux__
    // A file that reports size 0 but has content: the copy holds what a read gives.
    std::string cmdline = path_join({tmp.path, "cmdline"});
    ASSERT_TRUE(fs_copy_file("/proc/self/cmdline", cmdline));
    EXPECT_FALSE(read_or_empty(cmdline).empty());
#endif
}

TEST(Fs, ReadAtGivesWhatLiesInTheFile) {
    Temp_Dir tmp;
    std::string file = path_join({tmp.path, "digits"});
    ASSERT_TRUE(fs_write(file, "0123456789"));
    struct Case {
        uint64_t offset;
        size_t count;
        const char* want;
    } cases[] = {
        {0, 4, "0123"}, {6, 4, "6789"}, {6, 100, "6789"}, {10, 5, ""}, {1ull << 40, 3, ""}, {3, 0, ""},
    };
    for (const Case& c : cases) {
        std::string out = "stale";
        std::string err;
        EXPECT_TRUE(fs_read_at(file, c.offset, c.count, out, &err)) << c.offset << " " << err;
        EXPECT_EQ(out, c.want) << "offset " << c.offset << " count " << c.count;
    }
}

// fs_read takes a regular file within its caller's limit and nothing else:
// a FIFO would stall it, a device (also behind a link) or a file that keeps
// growing would fill memory without end.
TEST(Fs, ReadTakesOnlyARegularFileWithinItsLimit) {
    Temp_Dir tmp;
    std::string ten = path_join({tmp.path, "ten"});
    std::string empty = path_join({tmp.path, "empty"});
    ASSERT_TRUE(fs_write(ten, "0123456789"));
    ASSERT_TRUE(fs_write(empty, ""));
    struct Case {
        std::string what, path;
        uint64_t limit;
        bool ok;
    };
    std::vector<Case> cases = {
        {"exactly the limit", ten, 10, true},
        {"one byte over", ten, 9, false},
        {"empty within a zero limit", empty, 0, true},
        {"over a zero limit", ten, 0, false},
        {"the default limit", ten, fs_read_default_limit, true},
#ifdef _WIN32
        {"the null device", "NUL", fs_read_default_limit, false},
#else
        {"a device", "/dev/zero", fs_read_default_limit, false},
#endif
    };
#ifndef _WIN32
    std::string fifo = path_join({tmp.path, "fifo"});
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({"a FIFO no one writes to", fifo, fs_read_default_limit, false});
    std::string zero_link = path_join({tmp.path, "settings.txt"});
    ASSERT_TRUE(fs_make_link("/dev/zero", zero_link, false));
    cases.push_back({"a link to a device", zero_link, fs_read_default_limit, false});
    // A read at an offset waits on no FIFO either.
    std::string part;
    EXPECT_FALSE(fs_read_at(fifo, 0, 16, part));
#endif
#ifdef __linux__
    // The system gives its size as 0: only the bytes read show it is larger.
    cases.push_back({"a file whose size is not told", "/proc/self/maps", 16, false});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out = "stale";
        std::string err;
        EXPECT_EQ(fs_read(c.path, out, &err, c.limit), c.ok) << err;
        if (c.ok) {
            EXPECT_LE(out.size(), c.limit);
        } else {
            EXPECT_TRUE(out.empty());
            expect_reason(err);
        }
    }
    std::string err;
    std::string out;
    EXPECT_FALSE(fs_read(ten, out, &err, 9));
    EXPECT_NE(err.find("9 bytes"), std::string::npos) << err;
}

TEST(Fs, FailuresCarryTheSystemsReason) {
    Temp_Dir tmp;
    std::string missing = path_join({tmp.path, "missing"});
    std::string file = path_join({tmp.path, "file"});
    ASSERT_TRUE(fs_write(file, "x"));
    std::string out;
    std::vector<Dir_Entry> entries;
    struct Case {
        const char* what;
        std::function<bool(std::string*)> call;
    } cases[] = {
        {"read", [&](std::string* e) { return fs_read(missing, out, e); }},
        {"read a folder", [&](std::string* e) { return fs_read(tmp.path, out, e); }},
        {"read_at", [&](std::string* e) { return fs_read_at(missing, 0, 1, out, e); }},
        {"write into a missing folder", [&](std::string* e) { return fs_write(path_join({missing, "x"}), "x", e); }},
        {"list", [&](std::string* e) { return fs_list(missing, entries, e); }},
        {"list a file", [&](std::string* e) { return fs_list(file, entries, e); }},
        {"remove_file", [&](std::string* e) { return fs_remove_file(missing, e); }},
        {"remove_dir", [&](std::string* e) { return fs_remove_dir(missing, e); }},
        {"remove_dir not empty", [&](std::string* e) { return fs_remove_dir(tmp.path, e); }},
        {"rename", [&](std::string* e) { return fs_rename(missing, file, e); }},
        {"copy", [&](std::string* e) { return fs_copy_file(missing, file, e); }},
        {"make_dirs through a file", [&](std::string* e) { return fs_make_dirs(path_join({file, "sub"}), e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string err;
        EXPECT_FALSE(c.call(&err));
        expect_reason(err);
        EXPECT_FALSE(c.call(nullptr));
    }
    EXPECT_EQ(read_or_empty(file), "x");
    EXPECT_TRUE(fs_is_dir(tmp.path));
}

TEST(Fs, MakeDirsIsContentWithWhatExists) {
    Temp_Dir tmp;
    std::string dir = path_join({tmp.path, "a", "b", "c"});
    ASSERT_TRUE(fs_make_dirs(dir));
    ASSERT_TRUE(fs_make_dirs(dir));
    ASSERT_TRUE(fs_make_dirs(dir + "/"));
    EXPECT_TRUE(fs_is_dir(path_join({tmp.path, "a", "b"})));
    EXPECT_TRUE(fs_is_dir(dir));
    EXPECT_FALSE(fs_is_dir(path_join({dir, "nothing"})));
}

TEST(Fs, PathsLongerThanTheOldLimitWork) {
    Temp_Dir tmp;
    std::string dir = tmp.path;
    for (int i = 0; i < 8; ++i) dir = path_join({dir, std::string(40, static_cast<char>('a' + i))});
    ASSERT_GT(dir.size(), 300u);
    std::string err;
    ASSERT_TRUE(fs_make_dirs(dir, &err)) << err;
    std::string file = path_join({dir, unicode_name});
    ASSERT_TRUE(fs_write(file, "far down", &err)) << err;
    EXPECT_EQ(read_or_empty(file), "far down");
    EXPECT_EQ(names_in(dir), std::vector<std::string>{unicode_name});
    std::string moved = path_join({dir, "moved"});
    ASSERT_TRUE(fs_rename(file, moved, &err)) << err;
    uint64_t bytes = 0;
    EXPECT_TRUE(fs_free_space(dir, bytes, &err)) << err;
    std::string top = path_join({tmp.path, std::string(40, 'a')});
    ASSERT_TRUE(fs_remove_tree(top, &err)) << err;
    EXPECT_FALSE(exists(top));
}

TEST(Fs, ListNamesEveryEntryOnce) {
    Temp_Dir tmp;
    ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, "sub"})));
    ASSERT_TRUE(fs_write(path_join({tmp.path, "sub", "inner"}), "i"));
    ASSERT_TRUE(fs_write(path_join({tmp.path, "five"}), "12345"));
    ASSERT_TRUE(fs_write(path_join({tmp.path, ".hidden"}), ""));

    std::vector<Dir_Entry> entries;
    std::string err;
    ASSERT_TRUE(fs_list(tmp.path, entries, &err)) << err;
    std::sort(entries.begin(), entries.end(), [](const Dir_Entry& x, const Dir_Entry& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, ".hidden");
    EXPECT_FALSE(entries[0].is_dir);
    EXPECT_EQ(entries[1].name, "five");
    EXPECT_FALSE(entries[1].is_dir);
    EXPECT_EQ(entries[1].size, 5u);
    EXPECT_GT(entries[1].mtime_ns, 0);
    EXPECT_EQ(entries[2].name, "sub");
    EXPECT_TRUE(entries[2].is_dir);
    for (const Dir_Entry& e : entries) EXPECT_FALSE(e.is_link) << e.name;

    std::string empty = path_join({tmp.path, "empty"});
    ASSERT_TRUE(fs_make_dirs(empty));
    entries.push_back(Dir_Entry{});
    ASSERT_TRUE(fs_list(empty, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(Fs, RemoveTreeDeletesNestedContent) {
    Temp_Dir tmp;
    std::string root = path_join({tmp.path, "tree"});
    for (const char* d : {"a/b/c", "a/d", "e"}) ASSERT_TRUE(fs_make_dirs(path_join({root, d})));
    for (const char* f : {"a/b/c/1", "a/b/2", "a/d/3", "4"}) ASSERT_TRUE(fs_write(path_join({root, f}), f));
    ASSERT_TRUE(fs_write(path_join({root, "a", unicode_name}), "u"));
    std::string err;
    ASSERT_TRUE(fs_remove_tree(root, &err)) << err;
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(fs_is_dir(tmp.path));

    // A single file, and a path that is not there at all.
    std::string file = path_join({tmp.path, "lone"});
    ASSERT_TRUE(fs_write(file, "x"));
    EXPECT_TRUE(fs_remove_tree(file));
    EXPECT_FALSE(exists(file));
    EXPECT_TRUE(fs_remove_tree(path_join({tmp.path, "never"})));
}

TEST(Fs, TestHookRefusesEveryChangeUnderItsPrefix) {
    Temp_Dir tmp;
    Hook_Reset reset;
    std::string locked = path_join({tmp.path, "locked"});
    std::string open = path_join({tmp.path, "open"});
    ASSERT_TRUE(fs_make_dirs(path_join({locked, "empty"})));
    ASSERT_TRUE(fs_make_dirs(open));
    std::string inside = path_join({locked, "file"});
    std::string outside = path_join({open, "file"});
    ASSERT_TRUE(fs_write(inside, "kept"));
    ASSERT_TRUE(fs_write(outside, "free"));

    std::string prefix = locked;
    std::replace(prefix.begin(), prefix.end(), '\\', '/');  // the hook unifies separators
    fs_fail_under(prefix);

    struct Case {
        const char* what;
        std::function<bool(std::string*)> call;
    } refused[] = {
        {"write", [&](std::string* e) { return fs_write(inside, "changed", e); }},
        {"write new", [&](std::string* e) { return fs_write(path_join({locked, "new"}), "x", e); }},
        {"make_dirs", [&](std::string* e) { return fs_make_dirs(path_join({locked, "d"}), e); }},
        {"remove_file", [&](std::string* e) { return fs_remove_file(inside, e); }},
        {"remove_dir", [&](std::string* e) { return fs_remove_dir(path_join({locked, "empty"}), e); }},
        {"remove_tree", [&](std::string* e) { return fs_remove_tree(locked, e); }},
        {"rename out", [&](std::string* e) { return fs_rename(inside, path_join({open, "taken"}), e); }},
        {"rename in", [&](std::string* e) { return fs_rename(outside, path_join({locked, "given"}), e); }},
        {"copy in", [&](std::string* e) { return fs_copy_file(outside, path_join({locked, "copied"}), e); }},
        {"link in", [&](std::string* e) { return fs_make_link(outside, path_join({locked, "link"}), false, e); }},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        std::string err;
        EXPECT_FALSE(c.call(&err));
        EXPECT_EQ(err, "refused by the test hook");
    }
    EXPECT_EQ(read_or_empty(inside), "kept");
    EXPECT_EQ(read_or_empty(outside), "free");
    EXPECT_EQ(names_in(locked), (std::vector<std::string>{"empty", "file"}));

    // Reading under the prefix and changing elsewhere still work.
    std::string data;
    EXPECT_TRUE(fs_read(inside, data));
    EXPECT_TRUE(fs_copy_file(inside, path_join({open, "copy"})));
    EXPECT_TRUE(fs_write(outside, "changed"));
    EXPECT_TRUE(fs_make_dirs(path_join({open, "d"})));
    EXPECT_TRUE(fs_remove_tree(path_join({open, "d"})));

    fs_fail_under("x\\y");
    EXPECT_TRUE(fs_hook_refuses("x/y/z", nullptr));
    EXPECT_TRUE(fs_hook_refuses("x\\y\\z", nullptr));
    EXPECT_FALSE(fs_hook_refuses("x/z", nullptr));

    fs_fail_under("");
    EXPECT_TRUE(fs_write(inside, "changed"));
    EXPECT_EQ(read_or_empty(inside), "changed");
}

TEST(Fs, FreeSpaceComesFromTheSystemOrTheHook) {
    Temp_Dir tmp;
    Hook_Reset reset;
    uint64_t bytes = 0;
    std::string err;
    ASSERT_TRUE(fs_free_space(tmp.path, bytes, &err)) << err;
    EXPECT_GT(bytes, 0u);
    // A folder that is still to be made is answered for the volume it will be on.
    uint64_t planned = 0;
    ASSERT_TRUE(fs_free_space(path_join({tmp.path, "not", "yet"}), planned, &err)) << err;
    EXPECT_GT(planned, 0u);

    std::string asked;
    fs_set_free_space_hook([&](std::string_view path, uint64_t& out) {
        asked = std::string(path);
        out = 12345;
        return true;
    });
    ASSERT_TRUE(fs_free_space(tmp.path, bytes));
    EXPECT_EQ(bytes, 12345u);
    EXPECT_EQ(asked, tmp.path);

    fs_set_free_space_hook([](std::string_view, uint64_t&) { return false; });
    EXPECT_FALSE(fs_free_space(tmp.path, bytes, &err));
    EXPECT_FALSE(err.empty());

    fs_set_free_space_hook(nullptr);
    ASSERT_TRUE(fs_free_space(tmp.path, bytes));
    EXPECT_NE(bytes, 12345u);
}

}  // namespace
