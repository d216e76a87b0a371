// A game folder with the file lists and archives the mod data patch, Hard
// Mode option files and applied HD Models+ outputs, made without the
// launcher's own writers (tables by hand, lists packed by zlib itself).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "tests/mods/filelist_fixture.h"
#include "tests/support/data_folder.h"

inline void be32_put(std::string& out, uint32_t v) {
    for (int i = 3; i >= 0; i--) out.push_back(char(uint8_t(v >> (8 * i))));
}

// A WPD container: the records' data follow the record table in order.
inline std::string wpd_table(const std::vector<std::pair<std::string, std::string>>& records) {
    std::string out = "WPD";
    out.push_back('\0');
    be32_put(out, uint32_t(records.size()));
    out.append(8, '\0');
    uint32_t at = uint32_t(16 + 32 * records.size());
    for (const auto& [name, data] : records) {
        std::string n = name;
        n.resize(16, '\0');
        out += n;
        be32_put(out, at);
        be32_put(out, uint32_t(data.size()));
        out.append(8, '\0');
        at += uint32_t(data.size());
    }
    for (const auto& r : records) out += r.second;
    return out;
}

inline std::string words_of(const std::vector<uint32_t>& words) {
    std::string out;
    for (uint32_t w : words) be32_put(out, w);
    return out;
}

// Members of one archive: each is put at the next 2048-byte position,
// packed with zlib when `pack` is set; the archive is padded to `size`.
struct Fixture_Member {
    std::string path;
    std::string data;
    bool pack = false;
};

// Writes amber_data/<list> and amber_data/<archive> into the game folder.
inline bool write_pair(const std::string& game, const std::string& list, const std::string& archive,
                       const std::vector<Fixture_Member>& members, size_t archive_size) {
    std::string blob, chunk;
    std::vector<Fixture_Entry> entries;
    for (const Fixture_Member& m : members) {
        blob.resize((blob.size() + 2047) / 2048 * 2048, '\0');
        std::string stored = m.pack ? zlib_pack(m.data, 9) : m.data;
        char line[512];
        std::snprintf(line, sizeof line, "%zx:%zx:%zx:%s", blob.size() / 2048, m.data.size(), stored.size(),
                      m.path.c_str());
        entries.push_back({uint32_t(entries.size()), 0, uint32_t(chunk.size())});
        chunk += line;
        chunk.push_back('\0');
        blob += stored;
    }
    if (blob.size() < archive_size) blob.resize(archive_size, '\0');
    std::string sys = path_join({game, "amber_data", path_dir(list)});
    return fs_make_dirs(sys) && fs_write(path_join({game, "amber_data", list}), fixture_list({chunk}, entries)) &&
           fs_write(path_join({game, "amber_data", archive}), blob);
}

// The table every Hard Mode test edits: "enemy" of ten words, "boss" of
// two, and the strings "", "Boar", "Wolf".
inline std::string enemy_table(const std::vector<uint32_t>& enemy = {0x11111111, 0x11111111, 0x11111111, 0x11111111,
                                                                      0x11111111, 0, 0x11111111, 0x11111111,
                                                                      0x11111111, 0x11111111}) {
    return wpd_table({{"enemy", words_of(enemy)},
                      {"boss", words_of({7, 8})},
                      {"!!string", std::string("\0Boar\0Wolf\0", 11)}});
}

// An option file with an edit of every type and the lines a hostile or
// careless file may hold.
inline const char hard_text[] =
    ": lines starting with a colon are comments\r\n"
    "DB\\Enemy.WDB\r\n"
    "enemy, 0, w, 0x12345678\n"
    "enemy, 1, f, 1.5\n"
    "enemy, 2, f, 0h40490FDB\n"
    "enemy, 3, f, 0x1.8p1\n"
    "enemy, 4, l, Wolf\n"
    "enemy, 5, t0001, 1\n"
    "enemy, 6, b, 0xAB\n"
    "enemy, 7, p4s, 0xBEEF\n"
    "enemy, 8, l, 0\n"
    "enemy, 9, w, 1, 2\n"          // five fields: ignored
    "enemy, 9, w\n"                // three fields: ignored
    "enemy, 9, w, bogus\n"         // a value that does not parse: skipped silently
    "enemy, 9, f, 1.5x\n"          // likewise
    "enemy, 9, bbbbb, 1\n"
    "enemy, 9, q, 1\n"
    "enemy, 4, l, Dragon\n"
    "enemy, 4, l, Dra\"gon\n"      // messages quote values with escapes
    "enemy, 9, b\tx, 1\n"
    "enemy, -1, w, 5\n"            // before the record
    "enemy, 10, w, 5\n"            // just past it
    "enemy, 0x4000000000000000, w, 5\n"   // 4 x word wraps in 64 bits
    "ghost, 0, w, 5\n";

// The table after hard_text, worked out by hand.
inline std::string enemy_after() {
    return enemy_table({0x12345678, 0x3FC00000, 0x40490FDB, 0x40400000, 6, 0x10000000, 0xAB111111, 0x1BEEF111, 0,
                        0x11111111});
}

inline const char hard_messages[] =
    "EFSAGA_Hard_CTG+30.txt: enemy: type \"bbbbb\" not understood, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy: type \"q\" not understood, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy: the string \"Dragon\" is not in the table, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy: the string \"Dra\\\"gon\" is not in the table, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy: type \"b\\tx\" not understood, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy word -1: not in the table, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy word 10: not in the table, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: enemy word 4611686018427387904: not in the table, skipped\n"
    "EFSAGA_Hard_CTG+30.txt: ghost word 0: not in the table, skipped\n";

// The model file HD Models+ made for Kestrel's first model (compressible).
inline std::string hd_model_bytes(char seed) {
    std::string out;
    for (int i = 0; i < 3000; i++) out.push_back(char(seed + (i % 7)));
    return out;
}

struct Mod_Game {
    Data_Folder data;
    std::string game = path_join({data.dir.path, "game"});

    Mod_Game() {
        settings_replace(Settings{});
        settings_edit([&](Settings& s) { s.game_dir = game; });
    }
    ~Mod_Game() { settings_replace(Settings{}); }

    // The image pair of language "u": a 1000-byte archive holding the table
    // (packed) and an untouched member.
    bool image_pair(const std::string& table = enemy_table()) {
        return write_pair(game, "sys/filelistu.win32.bin", "sys/amber_imgu.win32.bin",
                          {{"db/enemy.wdb", table, true}}, 1000);
    }
    // The script pair of language "u": Kestrel's two models and another file
    // in a 5000-byte archive.
    bool script_pair() {
        return write_pair(game, "sys/filelist_scru.win32.bin", "sys/amber_scru.win32.bin",
                          {{"chr/pc/c201/bin/c201.win32.trb", "old trb", false},
                           {"zone/z1.bin", "zone one", false},
                           {"chr/pc/c201/bin/c201.win32.imgb", "old imgb", false}},
                          5000);
    }
    // Writes a Hard Mode option file and chooses it (option `option`, choice 1).
    bool hard_option(int option, const std::string& file, const std::string& text) {
        settings_edit([&](Settings& s) { s.hard[size_t(option)] = 1; });
        std::string dir = data_path({"mod_src", "hardmode"});
        return fs_make_dirs(dir) && fs_write(path_join({dir, file}), text);
    }
    // Kestrel's "High Quality" models, applied.
    bool hd_models() {
        settings_edit([&](Settings& s) {
            s.hd_models_on = true;
            s.hd_models[0] = 1;
        });
        std::string bin = data_path({"hdmodels", "out", "chr", "pc", "c201", "bin"});
        return fs_make_dirs(bin) && fs_write(data_path({"hdmodels", "out", "kestrel.txt"}), "High Quality\n") &&
               fs_write(path_join({bin, "c201.win32.trb"}), hd_model_bytes('a')) &&
               fs_write(path_join({bin, "c201.win32.imgb"}), hd_model_bytes('k'));
    }
    std::string mods(const std::string& name) const { return data_path({"mods", name}); }
};
