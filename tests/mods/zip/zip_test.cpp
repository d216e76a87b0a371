// The ZIP reader on archives of real writers, damaged copies of them, and
// archives that lie about their sizes and offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/task.h"
#include "launcher/mods/mod_tools.h"
#include "launcher/archive/zip.h"
#include "tests/mods/mod_test_files.h"
#include "tests/mods/zip_maker.h"
#include "tests/support/temp_dir.h"

namespace {

std::string fixture(std::string_view name) {
    return path_join({env_get("QM_BINARY_DIR"), "tests", "mods", "zip", "fixtures", name});
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string listing_line(const Zip_Entry& e) {
    return e.name + "\t" + std::to_string(e.method) + "\t" + std::to_string(e.packed) + "\t" +
           std::to_string(e.unpacked) + "\t" + std::to_string(e.offset) + "\t" + std::to_string(e.crc32);
}

std::vector<Zip_Entry> list(const std::string& path, bool want_ok = true) {
    Zip_Archive a;
    EXPECT_TRUE(zip_open(a, path)) << path;
    std::vector<Zip_Entry> entries;
    EXPECT_EQ(zip_entries(a, entries), want_ok) << path;
    return entries;
}

// A copy of a fixture with bytes changed, in a temporary folder.
std::string damaged(const Temp_Dir& tmp, std::string_view name, const std::function<void(std::string&)>& change) {
    std::string bytes = read(fixture(name));
    change(bytes);
    static int count = 0;
    std::string path = path_join({tmp.path, "damaged-" + std::to_string(++count) + "-" + std::string(name)});
    EXPECT_TRUE(fs_write(path, bytes));
    return path;
}

Zip_Entry entry_named(const std::vector<Zip_Entry>& entries, std::string_view name) {
    for (const Zip_Entry& e : entries) {
        if (e.name == name) return e;
    }
    ADD_FAILURE() << "no member " << name;
    return Zip_Entry{};
}

// Unpacks one member into the folder and gives back import_error (or "ok").
std::string extract_reason(const std::string& archive, const Zip_Entry& e, const std::string& target,
                           Hd_Progress* progress = nullptr) {
    Zip_Archive a;
    if (!zip_open(a, archive)) return import_error();
    if (!zip_extract(a, e, target, progress)) return import_error();
    return "ok";
}

struct Seams {
    ~Seams() {
        zip_set_read_hook(nullptr);
        zip_set_pause_hook(nullptr);
        clock_set_hook(nullptr);
        fs_disk_full_under("");
        fs_fail_under("");
    }
};

int64_t fake_now = 0;
std::vector<int64_t> pauses;
int64_t fake_clock() { return fake_now; }
void fake_pause(int64_t ms) {
    pauses.push_back(ms);
    fake_now += ms * 1000000;
}

}  // namespace

TEST(Zip, ListingsEqualPythonsAndBytesEqualUnzip) {
    const char* archives[] = {"py_stored.zip", "py_deflated.zip", "zip_streamed.zip", "bsdtar.zip", "zip64_ours.zip"};
    Temp_Dir tmp;
    for (const char* name : archives) {
        SCOPED_TRACE(name);
        std::vector<Zip_Entry> entries = list(fixture(name));
        std::vector<std::string> want = lines_of(read(fixture(std::string(name) + ".list")));
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(entries.size(), want.size());
        Zip_Archive a;
        ASSERT_TRUE(zip_open(a, fixture(name)));
        for (size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(listing_line(entries[i]), want[i]);
            if (entries[i].name.back() == '/') continue;
            std::string target = path_join({tmp.path, name, std::to_string(i)});
            ASSERT_TRUE(zip_extract(a, entries[i], target, nullptr)) << entries[i].name << ": " << import_error();
            std::string expected = read(path_join({fixture(std::string(name) + ".expected"), std::to_string(i)}));
            EXPECT_TRUE(read(target) == expected) << entries[i].name;
            EXPECT_FALSE(exists(target + ".part"));
            EXPECT_TRUE(member_on_disk(entries[i], target, nullptr)) << entries[i].name;
        }
    }
}

TEST(Zip, SixtyFiveThousandEntriesThroughTheZip64EndRecord) {
    std::vector<Zip_Entry> entries = list(fixture("py_many.zip"));
    std::vector<std::string> want = lines_of(read(fixture("py_many.zip.list")));
    ASSERT_EQ(entries.size(), 65536u);
    ASSERT_EQ(want.size(), 65536u);
    for (size_t i : {size_t(0), size_t(65534), size_t(65535)}) EXPECT_EQ(listing_line(entries[i]), want[i]);
}

TEST(Zip, NotAZip) {
    Temp_Dir tmp;
    struct Case { const char* what; std::string bytes; };
    std::string end_record = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    const Case cases[] = {
        {"21 bytes", std::string(21, 'P')},
        {"no end record", std::string(70000, 'x')},
        {"end record too far back", end_record + std::string(65578, 'x')},
        {"directory beyond the end", end_record.substr(0, 12) + std::string("\x10\0\0\0\0\0\0\x7f\0\0", 10)},
    };
    for (const Case& c : cases) {
        std::string path = path_join({tmp.path, "x.zip"});
        ASSERT_TRUE(fs_write(path, c.bytes));
        list(path, false);
    }
    // An empty archive: an end record alone.
    std::string path = path_join({tmp.path, "empty.zip"});
    ASSERT_TRUE(fs_write(path, end_record));
    EXPECT_TRUE(list(path).empty());
}

TEST(Zip, CountOfFFFFWithoutALocatorKeepsTheEndRecordsValues) {
    // 65,535 members fit the plain end record exactly: its count reads
    // 0xFFFF, and with no ZIP64 locator before it that count stands.
    std::vector<Zip_Member> members;
    for (int i = 0; i < 65535; ++i) members.push_back({"m" + std::to_string(i), i == 65534 ? "last" : ""});
    Temp_Dir tmp;
    std::string path = path_join({tmp.path, "ffff.zip"});
    ASSERT_TRUE(fs_write(path, make_zip(members)));
    std::vector<Zip_Entry> entries = list(path);
    ASSERT_EQ(entries.size(), 65535u);
    EXPECT_EQ(entries.back().name, "m65534");
    EXPECT_EQ(extract_reason(path, entries.back(), path_join({tmp.path, "last"})), "ok");
    EXPECT_EQ(read(path_join({tmp.path, "last"})), "last");
}

TEST(Zip, Zip64LocatorWhoseRecordLacksItsSignatureIsUnreadable) {
    Temp_Dir tmp;
    std::string path = damaged(tmp, "zip64_ours.zip", [](std::string& b) {
        size_t at = b.rfind(std::string("PK\x06\x06", 4));
        ASSERT_NE(at, std::string::npos);
        b[at] = 'X';
    });
    list(path, false);
    // Without the locator the 32-bit values stand (and point nowhere).
    std::string no_locator = damaged(tmp, "zip64_ours.zip", [](std::string& b) {
        size_t at = b.rfind(std::string("PK\x06\x07", 4));
        b[at] = 'X';
    });
    list(no_locator, false);
}

TEST(Zip, RefusedMembersGiveTheirReasonAndLeaveNoPart) {
    Temp_Dir tmp;
    std::vector<Zip_Entry> deflated = list(fixture("py_deflated.zip"));
    std::vector<Zip_Entry> stored = list(fixture("py_stored.zip"));
    Zip_Entry big_d = entry_named(deflated, "big.txt");
    Zip_Entry big_s = entry_named(stored, "big.txt");
    Zip_Entry bin_d = entry_named(deflated, "dir/b.bin");

    Zip_Entry sizes = big_s;
    sizes.unpacked += 1;
    Zip_Entry too_big = big_d;
    too_big.unpacked = 1073741825;
    Zip_Entry beyond = big_s;
    beyond.offset = int64_t(1) << 62;
    Zip_Entry negative = big_s;
    negative.offset = -1;
    Zip_Entry huge = big_s;
    huge.packed = huge.unpacked = int64_t(1) << 40;   // more than the archive: refused before any allocation
    Zip_Entry wrap = big_s;
    wrap.packed = wrap.unpacked = INT64_MAX - 10;
    Zip_Entry short_size = bin_d, long_size = bin_d;   // the stream gives more, or fewer, bytes
    short_size.unpacked -= 1;
    long_size.unpacked += 1;
    Zip_Entry negative_size = big_s;
    negative_size.packed = negative_size.unpacked = INT64_MIN;

    // Damaged copies: cut inside big.txt's data, a byte of stored data
    // changed, deflate data overwritten, the local header's signature broken.
    std::string truncated = damaged(tmp, "py_stored.zip", [&](std::string& b) { b.resize(size_t(big_s.offset + 1000)); });
    std::string flipped = damaged(tmp, "py_stored.zip", [&](std::string& b) { b[size_t(big_s.offset + 30 + 7 + 500)] ^= 1; });
    std::string garbled = damaged(tmp, "py_deflated.zip", [&](std::string& b) {
        std::memset(&b[size_t(bin_d.offset + 30 + 9)], 0xFF, 64);
    });
    std::string no_header = damaged(tmp, "py_stored.zip", [&](std::string& b) { b[size_t(big_s.offset)] = 'Q'; });
    int64_t cut_end = big_s.offset + 30 + 7 + big_s.packed;

    struct Case { const char* what; std::string archive; Zip_Entry e; std::string want; };
    const Case cases[] = {
        {"bzip2", fixture("py_bzip2.zip"), list(fixture("py_bzip2.zip"))[0],
         "it is compressed in a way this launcher does not read (method 12): make the ZIP again with plain ZIP compression"},
        {"lzma", fixture("py_lzma.zip"), list(fixture("py_lzma.zip"))[0],
         "it is compressed in a way this launcher does not read (method 14): make the ZIP again with plain ZIP compression"},
        {"stored sizes differ", fixture("py_stored.zip"), sizes,
         "the ZIP's sizes for it do not agree: the ZIP is damaged -- download it again"},
        {"deflated, too big", fixture("py_deflated.zip"), too_big,
         "it is too big to unpack compressed (1024 MB): make the ZIP again storing the big files uncompressed"},
        {"truncated", truncated, big_s,
         "the ZIP ends early (at " + std::to_string(big_s.offset + 1000) + " of the " + std::to_string(cut_end) +
             " bytes needed): it is not whole -- download it again"},
        {"flipped byte", flipped, big_s,
         "its contents do not match the ZIP's checksum: the ZIP is damaged -- download it again"},
        {"garbled deflate data", garbled, bin_d, "it cannot be decompressed: the ZIP is damaged -- download it again"},
        {"deflate gives more than its size", fixture("py_deflated.zip"), short_size,
         "it cannot be decompressed: the ZIP is damaged -- download it again"},
        {"deflate gives less than its size", fixture("py_deflated.zip"), long_size,
         "it cannot be decompressed: the ZIP is damaged -- download it again"},
        {"broken local header", no_header, big_s, "the ZIP is damaged where this file starts -- download it again"},
        {"offset beyond the archive", fixture("py_stored.zip"), beyond,
         "the ZIP is damaged where this file starts -- download it again"},
        {"negative offset", fixture("py_stored.zip"), negative,
         "the ZIP is damaged where this file starts -- download it again"},
        {"size beyond the archive", fixture("py_stored.zip"), huge,
         "the ZIP ends early (at " + std::to_string(read(fixture("py_stored.zip")).size()) + " of the " +
             std::to_string(big_s.offset + 30 + 7 + huge.packed) + " bytes needed): it is not whole -- download it again"},
        {"offset + size wraps", fixture("py_stored.zip"), wrap, ""},
        {"negative sizes", fixture("py_stored.zip"), negative_size,
         "the ZIP's sizes for it do not agree: the ZIP is damaged -- download it again"},
    };
    for (const Case& c : cases) {
        std::string target = path_join({tmp.path, "out", "member"});
        std::string reason = extract_reason(c.archive, c.e, target);
        if (c.want.empty()) EXPECT_EQ(reason.rfind("the ZIP ends early (at ", 0), 0u) << c.what << ": " << reason;
        else EXPECT_EQ(reason, c.want) << c.what;
        EXPECT_FALSE(exists(target)) << c.what;
        EXPECT_FALSE(exists(target + ".part")) << c.what;
    }
    EXPECT_EQ(import_reason(), import_error());
    import_error().clear();
    EXPECT_EQ(import_reason(), "unknown error");
}

TEST(Zip, ReadErrorsAreRetriedOnTheClock) {
    Seams seams;
    Temp_Dir tmp;
    std::vector<Zip_Entry> entries = list(fixture("py_stored.zip"));
    const Zip_Entry& a_txt = entry_named(entries, "a.txt");
    zip_set_pause_hook(fake_pause);
    clock_set_hook(fake_clock);
    struct Case { int failures; bool ok; std::vector<int64_t> pauses; };
    const Case cases[] = {
        {2, true, {200, 400}},
        {5, true, {200, 400, 600, 800, 1000}},
        {6, false, {200, 400, 600, 800, 1000}},
    };
    for (const Case& c : cases) {
        pauses.clear();
        fake_now = 0;
        int left = c.failures;
        zip_set_read_hook([&](int64_t, std::string& err) {
            if (left == 0) return true;
            --left;
            err = "device not ready";
            return false;
        });
        std::string target = path_join({tmp.path, "a.txt"});
        std::string reason = extract_reason(fixture("py_stored.zip"), a_txt, target);
        EXPECT_EQ(pauses, c.pauses) << c.failures;
        int64_t waited = 0;
        for (int64_t p : c.pauses) waited += p;
        EXPECT_EQ(fake_now, waited * 1000000);
        if (c.ok) {
            EXPECT_EQ(reason, "ok");
            EXPECT_EQ(read(target), "hello, ember\n");
        } else {
            EXPECT_EQ(reason, "the ZIP cannot be read at byte " + std::to_string(a_txt.offset) +
                                  " (device not ready): is the disk or drive it is on still there?");
        }
    }
}

TEST(Zip, WriteFailuresAndCancelLeaveNoPartAndKeepTheOldFile) {
    Seams seams;
    Temp_Dir tmp;
    std::vector<Zip_Entry> entries = list(fixture("py_deflated.zip"));
    const Zip_Entry& big = entry_named(entries, "big.txt");
    std::string target = path_join({tmp.path, "out", "big.txt"});
    ASSERT_TRUE(fs_make_dirs(path_dir(target)));
    ASSERT_TRUE(fs_write(target, "old"));

    fs_disk_full_under(tmp.path);
    std::string full_reason;
    fs_write(path_join({tmp.path, "probe"}), "x", &full_reason);   // the system's words for it
    EXPECT_EQ(extract_reason(fixture("py_deflated.zip"), big, target),
              "cannot write " + target + ".part (" + full_reason + "): is the disk full?");
    fs_disk_full_under("");
    EXPECT_EQ(read(target), "old");
    EXPECT_FALSE(exists(target + ".part"));

    Task task;
    task.cancel = 1;
    Hd_Progress progress;
    progress.task = &task;
    for (const char* name : {"py_deflated.zip", "py_stored.zip"}) {
        Zip_Entry e = entry_named(list(fixture(name)), "big.txt");
        EXPECT_EQ(extract_reason(fixture(name), e, target, &progress), "cancelled") << name;
        EXPECT_EQ(read(target), "old");
        EXPECT_FALSE(exists(target + ".part"));
    }
}

TEST(Zip, ResumeKnowsWhatIsAlreadyOnDisk) {
    Temp_Dir tmp;
    std::vector<Zip_Entry> entries = list(fixture("py_stored.zip"));
    const Zip_Entry& bin = entry_named(entries, "dir/b.bin");
    std::string target = path_join({tmp.path, "b.bin"});
    EXPECT_FALSE(member_on_disk(bin, target, nullptr));
    ASSERT_EQ(extract_reason(fixture("py_stored.zip"), bin, target), "ok");

    Task task;
    Hd_Progress progress;
    progress.task = &task;
    EXPECT_TRUE(member_on_disk(bin, target, &progress));
    EXPECT_FALSE(progress.checking);
    File_Crc c = file_crc32(target, nullptr);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.crc32, bin.crc32);
    EXPECT_EQ(c.size, bin.unpacked);

    std::string bytes = read(target);
    bytes[1000] ^= 0x40;   // same size, other contents
    ASSERT_TRUE(fs_write(target, bytes));
    EXPECT_FALSE(member_on_disk(bin, target, nullptr));
    ASSERT_TRUE(fs_write(target, bytes.substr(1)));
    EXPECT_FALSE(member_on_disk(bin, target, nullptr));
    EXPECT_FALSE(member_on_disk(bin, tmp.path, nullptr));   // a folder

    task.cancel = 1;
    EXPECT_FALSE(file_crc32(target, &progress).ok);
    EXPECT_FALSE(file_crc32(path_join({tmp.path, "missing"}), nullptr).ok);
}

TEST(Zip, HostileNamesNeverWriteOutsideTheTarget) {
    Temp_Dir tmp;
    // An archive of ours whose members carry the names of every refused form.
    std::vector<std::string> names = {"../escape.txt", "hd_textures/../../escape.txt", "/abs.txt", "C:x.txt",
                                      "a\\..\\..\\escape.txt", "CON.txt", "ok/fine.txt", "trail. ", "nul"};
    const uint32_t crc_x = 0xB7B2364B;   // CRC-32 of "X", each member's data
    std::string body, central;
    auto u16 = [](uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    auto u32 = [&](uint32_t v) { return u16(uint16_t(v)) + u16(uint16_t(v >> 16)); };
    for (const std::string& n : names) {
        uint32_t offset = uint32_t(body.size());
        body += u32(0x04034B50) + u16(20) + u16(0) + u16(0) + u32(0) + u32(crc_x) + u32(1) + u32(1) +
                u16(uint16_t(n.size())) + u16(0) + n + "X";
        central += u32(0x02014B50) + u16(20) + u16(20) + u16(0) + u16(0) + u32(0) + u32(crc_x) + u32(1) + u32(1) +
                   u16(uint16_t(n.size())) + u16(0) + u16(0) + u16(0) + u16(0) + u32(0) + u32(offset) + n;
    }
    std::string end = u32(0x06054B50) + u16(0) + u16(0) + u16(uint16_t(names.size())) + u16(uint16_t(names.size())) +
                      u32(uint32_t(central.size())) + u32(uint32_t(body.size())) + u16(0);
    std::string path = path_join({tmp.path, "hostile.zip"});
    ASSERT_TRUE(fs_write(path, body + central + end));
    std::string target = path_join({tmp.path, "deep", "target"});
    ASSERT_TRUE(fs_make_dirs(target));
    Zip_Archive a;
    ASSERT_TRUE(zip_open(a, path));
    std::vector<Zip_Entry> entries;
    ASSERT_TRUE(zip_entries(a, entries));
    ASSERT_EQ(entries.size(), names.size());
    for (const Zip_Entry& e : entries) {
        std::string out;
        bool ok = zip_extract_into(a, e, target, nullptr, &out);
        if (e.name == "ok/fine.txt") {
            EXPECT_TRUE(ok) << import_error();
            EXPECT_EQ(read(out), "X");
        } else {
            EXPECT_FALSE(ok) << e.name;
            EXPECT_EQ(import_error().rfind("its name is not safe to unpack (", 0), 0u) << import_error();
        }
    }
    std::vector<Dir_Entry> top, deep;
    fs_list(tmp.path, top);
    fs_list(path_join({tmp.path, "deep"}), deep);
    EXPECT_EQ(top.size(), 2u);    // hostile.zip and deep
    EXPECT_EQ(deep.size(), 1u);   // target
}

TEST(Zip, SymbolicLinkMemberIsWrittenAsAFile) {
    // zip -y stores a link as a member whose data is the link's target.
    Temp_Dir tmp;
    std::vector<Zip_Entry> entries = list(fixture("links.zip"));
    if (entries.empty()) GTEST_SKIP() << "no link fixture (made on Linux only)";
    std::string target = path_join({tmp.path, "t"});
    Zip_Archive a;
    ASSERT_TRUE(zip_open(a, fixture("links.zip")));
    for (const Zip_Entry& e : entries) ASSERT_TRUE(zip_extract_into(a, e, target, nullptr)) << e.name << import_error();
    File_Info info;
    ASSERT_TRUE(fs_stat(path_join({target, "link"}), info));
    EXPECT_FALSE(info.is_link);
    EXPECT_EQ(read(path_join({target, "link"})), "/etc/hostname");
}

TEST(Zip, PruneKeepsTheSetAndRemovesLinksAsLinks) {
    Temp_Dir tmp;
    std::string root = path_join({tmp.path, "work"});
    for (const char* f : {"Textures/A.dds", "textures/sub/b.dds", "textures/sub/c.txt", "textures/d.dds"}) {
        std::string p = path_join({root, f});
        ASSERT_TRUE(fs_make_dirs(path_dir(p)));
        ASSERT_TRUE(fs_write(p, f));
    }
    std::string outside = path_join({tmp.path, "outside"});
    ASSERT_TRUE(fs_make_dirs(outside));
    ASSERT_TRUE(fs_write(path_join({outside, "keep.me"}), "x"));
    bool links = fs_make_link(outside, path_join({root, "textures", "sub", "dirlink"}), true) &&
                 fs_make_link(path_join({outside, "keep.me"}), path_join({root, "textures", "filelink"}), false);
    Keep_Set keep = {{"textures/a.dds", true}, {"textures/sub/b.dds", true}, {"textures/d.dds", false}};
    EXPECT_TRUE(prune_tree(root, "", keep));
    EXPECT_TRUE(exists(path_join({root, "Textures", "A.dds"})));
    EXPECT_TRUE(exists(path_join({root, "textures", "sub", "b.dds"})));
    EXPECT_FALSE(exists(path_join({root, "textures", "sub", "c.txt"})));
    EXPECT_FALSE(exists(path_join({root, "textures", "d.dds"})));
    if (links) {
        EXPECT_FALSE(exists(path_join({root, "textures", "sub", "dirlink"})));
        EXPECT_FALSE(exists(path_join({root, "textures", "filelink"})));
    }
    EXPECT_EQ(read(path_join({outside, "keep.me"})), "x");

    EXPECT_TRUE(prune_tree(root, "", {}));
    EXPECT_FALSE(exists(path_join({root, "Textures", "A.dds"})));
    EXPECT_TRUE(fs_is_dir(path_join({root, "textures", "sub"})));   // folders stay
    EXPECT_FALSE(prune_tree(path_join({tmp.path, "missing"}), "", {}));
}
