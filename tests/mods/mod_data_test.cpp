// The mod data for the game: Hard Mode table edits, model replacements,
// extension files, the ".z" caches and the index "zqr_mods.txt".
#include <gtest/gtest.h>

#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/filelist.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/mod_data.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mods/zlib_writer.h"
#include "tests/mods/mod_data_fixture.h"

namespace {

// The member a patched list line names, read the way the game does: the
// extension file's data continue the base archive after its end.
std::string member_via_extension(const std::string& base_archive, const std::string& ext_file,
                                 const std::string& list_file, const std::string& path, std::string* line = nullptr) {
    std::string base, ext, list_bytes;
    if (!fs_read(base_archive, base) || !fs_read(ext_file, ext) || !fs_read(list_file, list_bytes)) return "?";
    Filelist list;
    if (!filelist_read(list_bytes, list)) return "?";
    std::string joined = path_join({path_dir(ext_file), "joined.bin"});
    fs_write(joined, base + ext.substr(16));
    Game_Archive archive;
    game_archive_open(joined, archive);
    for (const Filelist_Entry& e : list.entries) {
        std::vector<std::string_view> fields = split_at(e.text, ':');
        if (fields.size() != 4 || fields[3] != path) continue;
        if (line) *line = e.text;
        std::string out;
        return archive_entry(archive, fields, out) ? out : "?";
    }
    return "?";
}

}  // namespace

TEST(ModData, BitFieldTypes) {
    struct Case {
        const char* type;
        bool ok;
        int shift = 0, width = 0;
    } cases[] = {
        {"t0001", true, 28, 1}, {"b", true, 24, 8},    {"c", true, 24, 8},      {"p4s", true, 12, 16},
        {"bs", true, 8, 16},    {"t01", true, 30, 1},  {"p0A", true, 6, 10},    {"pF0", true, 1, 16},
        {"ssss", false},        {"bbbbb", false},      {"", false},             {"t", false},
        {"i1", false},          {"t1b", false},        {"pG", false},           {"pa", false},
        {"p00", true, 0, 16},   {"x", false},
    };
    for (const Case& c : cases) {
        int shift = -1, width = -1;
        EXPECT_EQ(mod_bit_field(c.type, shift, width), c.ok) << c.type;
        if (c.ok) {
            EXPECT_EQ(shift, c.shift) << c.type;
            EXPECT_EQ(width, c.width) << c.type;
        }
    }
}

TEST(ModData, EditsOfEveryTypeAndHostileLines) {
    Mod_Edits edits;
    hard_edits_parse(hard_text, "EFSAGA_Hard_CTG+30.txt", edits);
    ASSERT_EQ(edits.size(), 1u);
    ASSERT_EQ(edits.begin()->first, "db/enemy.wdb");
    EXPECT_EQ(edits.begin()->second.size(), 20u);

    std::string table = enemy_table(), messages;
    uint32_t count = 0;
    ASSERT_TRUE(wpd_valid(table, count));
    Wpd_Record strings = wpd_entry(table, count, "!!string");
    for (const Mod_Edit& e : edits.begin()->second) mod_apply_edit(table, count, strings, e, messages);
    EXPECT_EQ(table, enemy_after());
    EXPECT_EQ(messages, hard_messages);
}

TEST(ModData, TablesThatDoNotHoldTogether) {
    uint32_t count = 0;
    std::string table = enemy_table();
    EXPECT_FALSE(wpd_valid(table.substr(0, 15), count));
    EXPECT_FALSE(wpd_valid("WPX" + table.substr(3), count));
    std::string many = table;
    write_be32(many, 4, 0xFFFFFFFF);   // 16 + 32K wraps 32 bits
    EXPECT_FALSE(wpd_valid(many, count));

    // A record whose data run past the table is not edited; a "!!string"
    // record that does is ignored without a message.
    ASSERT_TRUE(wpd_valid(table, count));
    std::string past = table;
    write_be32(past, 16 + 20, 0xFFFFFFF0);   // enemy's size
    std::string messages;
    mod_apply_edit(past, count, wpd_entry(past, count, "!!string"), {"enemy", 0, "w", "1", "x.txt"}, messages);
    EXPECT_EQ(messages, "x.txt: enemy word 0: not in the table, skipped\n");
    std::string strings_past = table;
    write_be32(strings_past, 16 + 64 + 16, 0x7FFFFFFF);   // !!string's offset
    messages.clear();
    mod_apply_edit(strings_past, count, wpd_entry(strings_past, count, "!!string"), {"enemy", 4, "l", "Wolf", "x.txt"},
                   messages);
    EXPECT_EQ(messages, "");
    EXPECT_EQ(read_be32(strings_past, 112 + 16), 0x11111111u);   // enemy's word 4
}

TEST(ModData, HardModeAndModelsMakeTheListsAndExtensionFiles) {
    Mod_Game g;
    ASSERT_TRUE(g.image_pair());
    ASSERT_TRUE(g.script_pair());
    ASSERT_TRUE(g.hard_option(0, "EFSAGA_Hard_CTG+30.txt", hard_text));
    ASSERT_TRUE(g.hd_models());

    std::string messages;
    ASSERT_TRUE(mods_make(messages)) << messages;
    EXPECT_EQ(messages, std::string(hard_messages) + "mods: 1 entries changed in sys\nmods: 2 entries changed in sys\n");
    std::string index;
    ASSERT_TRUE(fs_read(g.mods("zqr_mods.txt"), index));
    EXPECT_EQ(index,
              "sys/filelistu.win32.bin sys/amber_imgu.win32.bin 1000\n"
              "sys/filelist_scru.win32.bin sys/amber_scru.win32.bin 5000\n");

    // 1000 bytes of archive need 1048 zero bytes to reach 2048.
    std::string ext;
    ASSERT_TRUE(fs_read(g.mods("sys/amber_imgu.win32.bin.zqrext"), ext));
    ASSERT_GT(ext.size(), 16u + 1048);
    EXPECT_EQ(ext.substr(0, 8), "ZQREXT01");
    EXPECT_EQ(filelist_u32(ext, 8), 1000u);
    EXPECT_EQ(filelist_u32(ext, 12), 0u);
    EXPECT_EQ(ext.substr(16, 1048), std::string(1048, '\0'));
    std::string line;
    std::string amber = path_join({g.game, "amber_data"});
    EXPECT_EQ(member_via_extension(path_join({amber, "sys/amber_imgu.win32.bin"}), g.mods("sys/amber_imgu.win32.bin.zqrext"),
                                   g.mods("sys/filelistu.win32.bin"), "db/enemy.wdb", &line),
              enemy_after());
    EXPECT_EQ(line.substr(0, 2), "1:");

    // The models: 5000 bytes reach 6144 at position 3; the untouched member
    // still comes from the game's own archive.
    std::string scr = path_join({amber, "sys/amber_scru.win32.bin"});
    std::string scr_ext = g.mods("sys/amber_scru.win32.bin.zqrext");
    std::string scr_list = g.mods("sys/filelist_scru.win32.bin");
    EXPECT_EQ(member_via_extension(scr, scr_ext, scr_list, "chr/pc/c201/bin/c201.win32.trb", &line), hd_model_bytes('a'));
    EXPECT_EQ(line.substr(0, 2), "3:");
    EXPECT_EQ(member_via_extension(scr, scr_ext, scr_list, "chr/pc/c201/bin/c201.win32.imgb"), hd_model_bytes('k'));
    EXPECT_EQ(member_via_extension(scr, scr_ext, scr_list, "zone/z1.bin"), "zone one");
    // The game's own files are untouched; the caches lie beside the models.
    EXPECT_TRUE(file_exists(hdm_out_path("c201", ".trb") + ".z"));
    EXPECT_FALSE(file_exists(hdm_out_path("c201", ".trb") + ".z.part"));
}

TEST(ModData, BodySculptingWinsOverHdModels) {
    Mod_Game g;
    ASSERT_TRUE(g.script_pair());
    ASSERT_TRUE(g.hd_models());
    settings_edit([](Settings& s) {
        s.sculpt_on = true;
        s.sculpt[0][0] = 7;
    });
    std::string state = sculpt_state(settings_copy(), 0);
    ASSERT_FALSE(state.empty());
    ASSERT_TRUE(fs_make_dirs(path_dir(sculpt_out_path("c001", ".trb"))));
    ASSERT_TRUE(fs_make_dirs(path_dir(sculpt_out_path("c201", ".trb"))));
    for (const char* m : {"c201", "c001"})
        for (const char* ext : {".trb", ".imgb"}) ASSERT_TRUE(fs_write(sculpt_out_path(m, ext), hd_model_bytes('s')));
    ASSERT_TRUE(fs_write(data_path({"sculpt", "out", "c201.txt"}), state + "\n"));

    std::string messages;
    ASSERT_TRUE(mods_make(messages)) << messages;
    std::string amber = path_join({g.game, "amber_data"});
    EXPECT_EQ(member_via_extension(path_join({amber, "sys/amber_scru.win32.bin"}), g.mods("sys/amber_scru.win32.bin.zqrext"),
                                   g.mods("sys/filelist_scru.win32.bin"), "chr/pc/c201/bin/c201.win32.trb"),
              hd_model_bytes('s'));

    // Sculpting applied for another state no longer counts: HD Models+ again.
    settings_edit([](Settings& s) { s.sculpt[0][0] = 8; });
    ASSERT_TRUE(mods_make(messages));
    EXPECT_EQ(member_via_extension(path_join({amber, "sys/amber_scru.win32.bin"}), g.mods("sys/amber_scru.win32.bin.zqrext"),
                                   g.mods("sys/filelist_scru.win32.bin"), "chr/pc/c201/bin/c201.win32.trb"),
              hd_model_bytes('a'));
}

TEST(ModData, TheCompressedCache) {
    Data_Folder data;
    std::string path = path_join({data.dir.path, "model.trb"});
    std::string cache = path + ".z";
    std::string file = hd_model_bytes('m');
    auto adler_be = [](std::string stream, uint32_t adler) {
        for (int i = 0; i < 4; i++) stream[stream.size() - 4 + size_t(i)] = char(uint8_t(adler >> (24 - 8 * i)));
        return stream;
    };
    std::string ours;
    zlib_compress(ours, file);

    // A valid cache is used as it stands (zlib's own stream here, not ours).
    std::string foreign = zlib_pack(file, 9);
    ASSERT_NE(foreign, ours);
    ASSERT_TRUE(fs_write(cache, foreign));
    EXPECT_EQ(mod_stored_file(path, file), foreign);

    // Caches that are not this file's stream are made again: a stale
    // trailer, too short, and a trailer that matches on a stream of another
    // size (the first half of the file).
    std::string half = zlib_pack(file.substr(0, 1500), 9);
    for (const std::string& bad : {adler_be(foreign, 12345), std::string("x\x9c\x01\0\0"),
                                    adler_be(half, adler32_of(file))}) {
        ASSERT_TRUE(fs_write(cache, bad));
        EXPECT_EQ(mod_stored_file(path, file), ours);
        std::string now;
        ASSERT_TRUE(fs_read(cache, now));
        EXPECT_EQ(now, ours);
        EXPECT_FALSE(file_exists(cache + ".part"));
    }

    // A file that does not shrink is stored as it is, with no cache.
    fs_remove_file(cache);
    std::string noise;
    uint32_t x = 1;
    for (int i = 0; i < 200; i++) noise.push_back(char((x = x * 1103515245 + 12345) >> 24));
    EXPECT_EQ(mod_stored_file(path, noise), noise);
    EXPECT_FALSE(file_exists(cache));
}

TEST(ModData, FailuresLeaveNoIndex) {
    struct Case {
        const char* name;
        std::function<bool(Mod_Game&)> setup;
        std::function<std::string(Mod_Game&)> messages;
    };
    auto none = [](Mod_Game&) { return std::string(); };
    auto amber = [](Mod_Game& g, const char* rel) { return path_join({g.game, "amber_data", rel}); };
    auto edits = [](Mod_Game& g) { return g.hard_option(0, "EFSAGA_Hard_CTG+30.txt", hard_text); };
    const std::string list = "sys/filelistu.win32.bin";
    std::vector<Case> cases = {
        {"no game folder", [&](Mod_Game& g) {
             settings_edit([](Settings& s) { s.game_dir.clear(); });
             return g.image_pair() && edits(g);
         }, none},
        {"nothing chosen", [&](Mod_Game& g) { return g.image_pair(); }, none},
        {"option file missing", [&](Mod_Game& g) {
             settings_edit([](Settings& s) { s.hard[1] = 1; });
             return g.image_pair() && edits(g);
         }, [](Mod_Game&) { return std::string("Hard Mode: its files cannot be read: import the ZIP again\n"); }},
        {"option file larger than any the mod holds", [&](Mod_Game& g) {
             std::string big = std::string(hard_text) + std::string(hard_option_file_max, '\n');
             return g.image_pair() && g.hard_option(0, "EFSAGA_Hard_CTG+30.txt", big);
         }, [](Mod_Game&) {
             return std::string("Hard Mode: EFSAGA_Hard_CTG+30.txt holds more than 1 MB: not one of the mod's option "
                                "files (import the ZIP again)\n");
         }},
        {"not a list", [&](Mod_Game& g) {
             return g.image_pair() && edits(g) && fs_write(path_join({g.game, "amber_data", list}), "junk");
         }, [&](Mod_Game& g) { return fmt("mods: %s is not a filelist this launcher reads\n", amber(g, list.c_str())); }},
        {"member past the archive", [&](Mod_Game& g) {
             return write_pair(g.game, list, "sys/amber_imgu.win32.bin", {{"db/enemy.wdb", enemy_table(), false}}, 0) &&
                    edits(g) && fs_write(path_join({g.game, "amber_data", "sys/amber_imgu.win32.bin"}), "short");
         }, [&](Mod_Game& g) { return fmt("Hard Mode: cannot read db/enemy.wdb from %s\n", amber(g, "sys/amber_imgu.win32.bin")); }},
        {"not a table", [&](Mod_Game& g) { return g.image_pair("WPD") && edits(g); },
         [](Mod_Game&) { return std::string("Hard Mode: db/enemy.wdb is not a table this launcher reads\n"); }},
        {"unwritable mods folder", [&](Mod_Game& g) {
             fs_fail_under(data_path({"mods", "sys"}));
             return g.image_pair() && edits(g);
         }, [](Mod_Game&) { return std::string(hard_messages) + fmt("mods: cannot make %s\n", data_path({"mods", "sys"})); }},
    };
    for (const Case& c : cases) {
        Mod_Game g;
        // A previous run's index must not survive a failed one.
        ASSERT_TRUE(fs_make_dirs(g.mods("")));
        ASSERT_TRUE(fs_write(g.mods("zqr_mods.txt"), "sys/filelistu.win32.bin sys/amber_imgu.win32.bin 1000\n"));
        ASSERT_TRUE(c.setup(g)) << c.name;
        std::string messages;
        EXPECT_FALSE(mods_make(messages)) << c.name;
        fs_fail_under("");
        EXPECT_EQ(messages, c.messages(g)) << c.name;
        EXPECT_FALSE(file_exists(g.mods("zqr_mods.txt"))) << c.name;
    }
}

TEST(ModData, TheConfigurationNamesTheModsFolderOnlyWhenMade) {
    Mod_Game g;
    ASSERT_TRUE(g.image_pair());
    EXPECT_EQ(cfg_text().find("ZQR_MOD_DIR="), std::string::npos);
    ASSERT_TRUE(g.hard_option(0, "EFSAGA_Hard_CTG+30.txt", "db/enemy.wdb\nboss, 1, w, 9\n"));
    std::string text = cfg_text();
    EXPECT_NE(text.find(fmt("\nZQR_MOD_DIR=%s\n", data_path({"mods"}))), std::string::npos) << text;
    EXPECT_TRUE(file_exists(g.mods("zqr_mods.txt")));
}
