// Game file lists: reading, writing back with changed lines, members read
// out of an archive, and where game data files are read from.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"
#include "launcher/mods/filelist.h"
#include "tests/mods/filelist_fixture.h"
#include "tests/support/data_folder.h"

using namespace std::string_literals;

namespace {

const std::string chunk0 = "0:10:8:chr/pc/c201/bin/c201.win32.trb\0"s "3:20:20:sys/a.bin\0"s;
const std::string chunk1 = "5:4:4:zone/z1.bin\0"s;

std::string sample_list() {
    return fixture_list({chunk0, chunk1}, {{7, 0, 0}, {8, 1, 0}, {9, 0, 38}}, "TAIL");
}

void put_u32_at(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) s[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

}  // namespace

TEST(Filelist, ReadsEntriesChunksAndTail) {
    std::string bytes = sample_list();
    Filelist list;
    ASSERT_TRUE(filelist_read(bytes, list));
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0].text, "0:10:8:chr/pc/c201/bin/c201.win32.trb");
    EXPECT_EQ(list.entries[1].text, "5:4:4:zone/z1.bin");
    EXPECT_EQ(list.entries[2].text, "3:20:20:sys/a.bin");
    EXPECT_EQ(list.entries[2].value, 9u);
    EXPECT_EQ(list.tail, "TAIL");
    EXPECT_EQ(list.unpacked_sizes, (std::vector<uint32_t>{uint32_t(chunk0.size()), uint32_t(chunk1.size())}));

    // An offset in the middle of a line gives the rest of it; a line
    // without its NUL runs to the chunk's end.
    std::string mid = fixture_list({"abc:def\0"s, "no nul"}, {{0, 0, 4}, {0, 1, 3}});
    ASSERT_TRUE(filelist_read(mid, list));
    EXPECT_EQ(list.entries[0].text, "def");
    EXPECT_EQ(list.entries[1].text, "nul");
}

TEST(Filelist, EmptyListRoundTrips) {
    std::string bytes = fixture_list({}, {});
    ASSERT_EQ(bytes.size(), 12u);
    Filelist list;
    ASSERT_TRUE(filelist_read(bytes, list));
    EXPECT_TRUE(list.entries.empty());
    std::string out;
    ASSERT_TRUE(filelist_write(list, out));
    EXPECT_EQ(out, bytes);
}

TEST(Filelist, RefusesMalformedLists) {
    struct Case { const char* what; std::string bytes; };
    std::string good = sample_list();
    auto with = [&](size_t at, uint32_t v) { std::string s = good; put_u32_at(s, at, v); return s; };
    const size_t records = 12 + 8 * 3;
    const Case cases[] = {
        {"under 12 bytes", good.substr(0, 11)},
        {"entries overlap the chunk table", with(8, 4)},
        {"entry count that wraps 32 bits", with(8, 0x20000000)},
        {"chunk table after the data", with(0, uint32_t(records + 24 + 4))},
        {"chunk table not whole records", with(4, uint32_t(records + 23))},
        {"data offset past the end", with(4, uint32_t(good.size() + 12))},
        {"chunk larger than its record", with(records, uint32_t(chunk0.size() + 1))},
        {"chunk smaller than its record", with(records, uint32_t(chunk0.size() - 1))},
        {"packed bytes past the end", with(records + 8, 0xFFFFFFF0u)},
        {"unpacked size no stream can reach", with(records, 0xFFFFFFFFu)},
        {"entry in a missing chunk", [&] { std::string s = good; s[12 + 4] = 2; return s; }()},
        {"entry past its chunk", [&] { std::string s = good; s[12 + 8 + 6] = char(chunk1.size()); return s; }()},
        {"damaged chunk", [&] { std::string s = good; s[records + 24 + 5] ^= 0x55; return s; }()},
    };
    for (const Case& c : cases) {
        Filelist list;
        list.entries.resize(1);
        EXPECT_FALSE(filelist_read(c.bytes, list)) << c.what;
        EXPECT_TRUE(list.entries.empty()) << c.what;
    }
}

TEST(Filelist, WritingWithoutChangesKeepsEverything) {
    // A gap before the chunk table and chunks stored out of order: only the
    // offsets are laid out anew.
    std::string bytes = fixture_list({chunk0, chunk1}, {{7, 0, 0}, {8, 1, 0}, {9, 0, 38}}, "TAIL", 16);
    Filelist list;
    ASSERT_TRUE(filelist_read(bytes, list));
    std::string out;
    ASSERT_TRUE(filelist_write(list, out));
    Filelist again;
    ASSERT_TRUE(filelist_read(out, again));
    ASSERT_EQ(again.entries.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(again.entries[i].text, list.entries[i].text);
        EXPECT_EQ(again.entries[i].offset, list.entries[i].offset);
        EXPECT_EQ(again.entries[i].value, list.entries[i].value);
    }
    EXPECT_EQ(again.packed, list.packed);
    EXPECT_EQ(again.tail, "TAIL");
    EXPECT_EQ(out.size(), bytes.size() - 16);
    EXPECT_EQ(filelist_u32(out, 0), 12u + 24u);
}

TEST(Filelist, ChangedLinesRepackTheirChunkOnly) {
    std::string bytes = sample_list();
    Filelist list;
    ASSERT_TRUE(filelist_read(bytes, list));
    list.entries[2].text = "800:1000:40:sys/a.bin";
    list.entries[2].changed = true;
    std::string out;
    ASSERT_TRUE(filelist_write(list, out));
    Filelist back;
    ASSERT_TRUE(filelist_read(out, back));
    EXPECT_EQ(back.entries[0].text, list.entries[0].text);
    EXPECT_EQ(back.entries[2].text, "800:1000:40:sys/a.bin");
    EXPECT_EQ(back.entries[2].offset, list.entries[0].text.size() + 1);
    EXPECT_EQ(back.packed[1], list.packed[1]);
    EXPECT_FALSE(back.entries[2].changed);
}

TEST(Filelist, RebuiltChunkLimits) {
    struct Case { size_t chunk_bytes; bool ok; };
    for (Case c : {Case{10368, true}, Case{10369, false}}) {
        Filelist list;
        list.packed = {"x"};
        list.unpacked_sizes = {1};
        list.entries.push_back({0, 0, 0, std::string(c.chunk_bytes - 1, 'a'), true});
        std::string out;
        EXPECT_EQ(filelist_write(list, out), c.ok) << c.chunk_bytes;
    }
    // Lines beyond offset 65535 cannot be addressed.
    Filelist wide;
    wide.packed = {"x"};
    wide.unpacked_sizes = {1};
    for (int i = 0; i < 2; i++) wide.entries.push_back({0, 0, 0, std::string(40000, 'b'), true});
    std::string out;
    EXPECT_FALSE(filelist_write(wide, out));
}

TEST(Filelist, ArchiveMembers) {
    Temp_Dir dir;
    std::string text = "member text that is packed, member text that is packed";
    std::string packed = zlib_pack(text);
    std::string archive(4096, '\0');
    archive.replace(2048, packed.size(), packed);
    std::string raw_zlib = zlib_pack("looks packed");
    archive.replace(0, raw_zlib.size(), raw_zlib);
    std::string path = path_join({dir.path, "amber_img.bin"});
    ASSERT_TRUE(fs_write(path, archive));
    Game_Archive a;
    ASSERT_TRUE(game_archive_open(path, a));
    auto fields = [](const std::string& line) { return split_at(line, ':'); };
    auto hex = [](size_t v) { return fmt("%x", v); };
    struct Case { const char* what; std::string line; bool ok; std::string want; };
    const Case cases[] = {
        {"packed member", "1:" + hex(text.size()) + ":" + hex(packed.size()) + ":x", true, text},
        {"equal sizes: raw, even when it is zlib data", "0:" + hex(raw_zlib.size()) + ":" + hex(raw_zlib.size()), true, raw_zlib},
        {"upper-case hex", "1:" + fmt("%X", text.size()) + ":" + fmt("%X", packed.size()), true, text},
        {"wrong unpacked size", "1:" + hex(text.size() + 1) + ":" + hex(packed.size()), false, ""},
        {"two fields", "1:10", false, ""},
        {"not hex", "1:1g:10", false, ""},
        {"runs past the end", "1:800:801", false, ""},
        {"position past the end", "2:1:1", false, ""},
        {"position that wraps 64 bits", "20000000000000:1:1", false, ""},
        {"over 1 GiB", "0:40000001:40000001", false, ""},
        {"more than the packed bytes can give", "0:100000:10", false, ""},
    };
    for (const Case& c : cases) {
        std::string line = c.line;
        std::string out = "stale";
        EXPECT_EQ(archive_entry(a, fields(line), out), c.ok) << c.what;
        if (c.ok) {
            EXPECT_TRUE(out == c.want) << c.what;
        }
    }
}

TEST(Filelist, DataPathPrefersTheHdFolderWhenInUse) {
    Data_Folder data;
    std::string game = path_join({data.dir.path, "game"});
    std::string hd = path_join({game, "amber_data_hd"});
    fs_make_dirs(path_join({hd, "sys"}));
    fs_write(path_join({hd, "quillmarsh_hd.txt"}), "zip=x\n");
    fs_write(path_join({hd, "sys", "filelistu.win32.bin"}), "hd");
    fs_make_dirs(path_join({hd, "sys", "filelistc.win32.bin"}));
    const std::string rel_u = "sys/filelistu.win32.bin", rel_c = "sys/filelistc.win32.bin";
    std::string game_u = path_join({game, "amber_data", rel_u});
    std::string hd_u = path_join({hd, rel_u});
    struct Case { const char* what; bool hd_on; bool discarded; std::string rel; std::string want; };
    const Case cases[] = {
        {"HD off", false, false, rel_u, game_u},
        {"HD on", true, false, rel_u, hd_u},
        {"old assets discarded", false, true, rel_u, hd_u},
        {"a folder in the HD folder is no file", true, false, rel_c, path_join({game, "amber_data", rel_c})},
    };
    for (const Case& c : cases) {
        settings_edit([&](Settings& s) { s.game_dir = game; s.hd = c.hd_on; });
        if (c.discarded) fs_write(path_join({hd, "discarded.txt"}), "");
        else fs_remove_file(path_join({hd, "discarded.txt"}));
        EXPECT_EQ(mods_data_path(c.rel), c.want) << c.what;
    }
    settings_replace(Settings{});
}
