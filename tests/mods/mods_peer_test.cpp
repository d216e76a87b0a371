// File lists and zlib streams against an independent reader in Python
// (tests/mods/filelist_peer.py) and Python's zlib. Build machine only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/mods/filelist.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/mod_data.h"
#include "launcher/mods/zlib_writer.h"
#include "tests/mods/mod_data_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

std::string peer() { return path_join({env_get("QM_SOURCE_DIR"), "tests", "mods", "filelist_peer.py"}); }

// The system's Python when there is one (a version manager's shim in front
// of it costs seconds per start).
std::string python() { return file_exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

bool python_present() { return std::system((python() + " -c 'import zlib' >/dev/null 2>&1").c_str()) == 0; }

// Runs a Python script; its standard output lands in `out`.
bool run_python(const Temp_Dir& dir, const std::string& script, const std::string& args, std::string& out) {
    std::string file = path_join({dir.path, "peer.out"});
    std::string command = python() + " '" + script + "' " + args + " >'" + file + "'";
    bool ok = std::system(command.c_str()) == 0;
    out.clear();
    fs_read(file, out);
    return ok;
}

bool run_peer(const Temp_Dir& dir, const std::string& args, std::string& out) { return run_python(dir, peer(), args, out); }

std::string listing_of(const Filelist& list, std::string_view tail_hex) {
    std::string text;
    for (const Filelist_Entry& e : list.entries)
        text += fmt("entry %d %d %d %s\n", e.value, e.chunk, e.offset, e.text);
    return text + "tail " + std::string(tail_hex) + "\n";
}

std::string hex_of(std::string_view bytes) {
    std::string out;
    for (char c : bytes) out += fmt("%02x", uint8_t(c));
    return out;
}

}  // namespace

TEST(ModsPeer, ListsRoundTripThroughThePythonReader) {
    if (!python_present()) GTEST_SKIP() << "no python3 with zlib";
    Temp_Dir dir;
    std::string layout = R"({"chunks": [["0:10:8:chr/pc/c201/bin/c201.win32.trb", "3:20:20:sys/a.bin"],
                                      ["5:4:4:zone/z1.bin", "6:4:4:zone/z2.bin"], []],
                           "entries": [[7, 0, 0], [8, 1, 1], [9, 0, 1], [10, 1, 0], [11, 1, 1]],
                           "gap": 8, "tail": "00ff10"})";
    std::string layout_path = path_join({dir.path, "lists.json"});
    std::string made = path_join({dir.path, "made.bin"});
    ASSERT_TRUE(fs_write(layout_path, layout));
    std::string python_view, ignored;
    ASSERT_TRUE(run_peer(dir, "make '" + layout_path + "' '" + made + "'", ignored));
    ASSERT_TRUE(run_peer(dir, "read '" + made + "'", python_view));

    // Python's list, read by us, is the list Python reads.
    std::string bytes;
    ASSERT_TRUE(fs_read(made, bytes));
    Filelist list;
    ASSERT_TRUE(filelist_read(bytes, list));
    EXPECT_EQ(listing_of(list, hex_of(list.tail)), python_view);
    EXPECT_EQ(list.entries[1].text, "6:4:4:zone/z2.bin");

    // Changed lines (one longer, two that shared a line) written by us
    // and read by Python: its zlib inflates every chunk to its record.
    list.entries[0].text = "1a2b:30000:2000:chr/pc/c201/bin/c201.win32.trb";
    list.entries[0].changed = true;
    list.entries[4].text = "7:8:8:zone/z2.bin";
    list.entries[4].changed = true;
    std::string written;
    ASSERT_TRUE(filelist_write(list, written));
    std::string ours_path = path_join({dir.path, "ours.bin"});
    ASSERT_TRUE(fs_write(ours_path, written));
    ASSERT_TRUE(run_peer(dir, "read '" + ours_path + "'", python_view));
    Filelist back;
    ASSERT_TRUE(filelist_read(written, back));
    EXPECT_EQ(listing_of(back, "00ff10"), python_view);
    EXPECT_EQ(back.entries[0].text, list.entries[0].text);
    EXPECT_EQ(back.entries[1].text, "6:4:4:zone/z2.bin");
    EXPECT_EQ(back.entries[3].text, "5:4:4:zone/z1.bin");
    EXPECT_EQ(back.entries[4].text, "7:8:8:zone/z2.bin");
}

TEST(ModsPeer, PythonZlibInflatesOurStreams) {
    if (!python_present()) GTEST_SKIP() << "no python3 with zlib";
    Temp_Dir dir;
    uint32_t seed = 99;
    std::string noise(50000, '\0');
    for (char& c : noise) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    std::string text;
    for (int i = 0; i < 3000; i++) text += fmt("%d:%x:%x:chr/pc/c2%02d/bin/c2%02d.win32.trb\n", i, i * 7, i * 5, i % 7, i % 7);
    std::string far = noise.substr(0, 100) + std::string(32667, 'x') + noise.substr(0, 100) + noise.substr(0, 101);
    const std::vector<std::string> inputs = {"", "a", "ab", std::string(1000, '\0'), noise, text, far};
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string z;
        zlib_compress(z, inputs[i]);
        ASSERT_TRUE(fs_write(path_join({dir.path, fmt("%d.z", i)}), z));
        ASSERT_TRUE(fs_write(path_join({dir.path, fmt("%d.raw", i)}), inputs[i]));
    }
    std::string out;
    EXPECT_TRUE(run_peer(dir, "inflate '" + dir.path + "'", out));
    EXPECT_EQ(out, fmt("%d streams inflate\n", inputs.size()));
}

// The mod data read by an independent game reader: every edited table and
// model comes out as expected, through the base archive and the extension
// file, inflated by Python's zlib; so does a model stored from a cache
// that zlib itself made.
TEST(ModsPeer, TheGameReaderSeesTheModData) {
    if (!python_present()) GTEST_SKIP() << "no python3 with zlib";
    Mod_Game g;
    ASSERT_TRUE(g.image_pair());
    ASSERT_TRUE(g.script_pair());
    ASSERT_TRUE(g.hard_option(0, "EFSAGA_Hard_CTG+30.txt", hard_text));
    ASSERT_TRUE(g.hd_models());
    std::string imgb = hdm_out_path("c201", ".imgb");
    ASSERT_TRUE(fs_write(imgb + ".z", zlib_pack(hd_model_bytes('k'), 9)));
    std::string messages;
    ASSERT_TRUE(mods_make(messages)) << messages;

    Temp_Dir out;
    std::string listing;
    std::string reader = path_join({env_get("QM_SOURCE_DIR"), "tests", "mods", "game_reader.py"});
    ASSERT_TRUE(run_python(out, reader, "'" + path_join({g.game, "amber_data"}) + "' '" + data_path({"mods"}) + "' '" +
                                            out.path + "'",
                           listing));
    EXPECT_EQ(listing,
              "member 1 db/enemy.wdb\n"
              "member 3 chr/pc/c201/bin/c201.win32.trb\n"
              "member 1 zone/z1.bin\n"
              "member 4 chr/pc/c201/bin/c201.win32.imgb\n");
    auto dumped = [&](const char* path) {
        std::string bytes, file;
        for (char c : std::string(path)) file += c == '/' ? std::string("__") : std::string(1, c);
        fs_read(path_join({out.path, file}), bytes);
        return bytes;
    };
    EXPECT_EQ(dumped("db/enemy.wdb"), enemy_after());
    EXPECT_EQ(dumped("chr/pc/c201/bin/c201.win32.trb"), hd_model_bytes('a'));
    EXPECT_EQ(dumped("chr/pc/c201/bin/c201.win32.imgb"), hd_model_bytes('k'));
    EXPECT_EQ(dumped("zone/z1.bin"), "zone one");
    std::string ext;
    ASSERT_TRUE(fs_read(g.mods("sys/amber_scru.win32.bin.zqrext"), ext));
    EXPECT_NE(ext.find(zlib_pack(hd_model_bytes('k'), 9)), std::string::npos);
}
