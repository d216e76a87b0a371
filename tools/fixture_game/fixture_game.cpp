#include "tools/fixture_game/fixture_game.h"

#include <cstdio>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

// The English bytes are an ordinary function prologue; the Japanese ones
// are what that edition has at the same place.
const unsigned char fixture_en_bytes[16] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x53, 0x56,
                                            0x57, 0x8B, 0x7D, 0x08, 0x85, 0xFF, 0x74, 0x2A};
const unsigned char fixture_jp_bytes[16] = {0x44, 0x20, 0x82, 0x3c, 0x0b, 0xf7, 0x38, 0x32,
                                            0x32, 0xed, 0x3e, 0x35, 0xfa, 0x1c, 0x3f, 0x0a};

namespace {

void put16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8 & 0xFF);
}
void put32(std::string& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

bool write(const std::string& path, const std::string& data, std::string* err) {
    if (!fs_make_dirs(path_dir(path), err)) return false;
    return fs_write(path, data, err);
}

// Backslashes doubled, as the store client writes paths in its files.
std::string vdf_escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '\\') out += '\\';
    }
    return out;
}

}  // namespace

uint64_t fixture_fnv1a64(const unsigned char* bytes, size_t size) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= bytes[i];
        h *= 0x100000001B3ull;
    }
    return h;
}

std::string fixture_table_text() {
    char line[160];
    std::string t = "/* Identity of the executable these sources were generated from. */\n#include <stdint.h>\n\n";
    std::snprintf(line, sizeof line, "const uint64_t zqr_data_hash = 0x%016llX;\n\n",
                  static_cast<unsigned long long>(fixture_fnv1a64(fixture_en_bytes, 16)));
    t += line;
    t += "const struct { uint32_t address, length; } zqr_hash_ranges[] = {\n";
    std::snprintf(line, sizeof line, "    {0x%08X, %u },\n", fixture_range_address, fixture_range_length);
    t += line;
    t += "};\n";
    return t;
}

// A 32-bit PE image: DOS header with e_lfanew 0x80, "PE\0\0", the file
// header, a 224-byte optional header (image base 0x400000) and three
// sections (.text at 0x1000, .rdata at 0x2000, .data at 0x3000), each with
// 0x200 bytes of raw data from file offset 0x400.
std::string fixture_exe_bytes(Fixture_Exe exe) {
    if (exe == Fixture_Exe::Folder || exe == Fixture_Exe::None) return std::string();
    if (exe == Fixture_Exe::Short) {
        std::string b(1023, '\0');
        b[0] = 'M';
        b[1] = 'Z';
        return b;
    }
    std::string b(0xA00, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    const uint32_t pe = 0x80;
    put32(b, 0x3C, exe == Fixture_Exe::Bad_Pe_Offset ? 0xFFFFFFF0u : pe);
    b.replace(pe, 4, std::string("PE\0\0", 4));
    put16(b, pe + 4, 0x014C);                                   // i386
    put16(b, pe + 6, exe == Fixture_Exe::Truncated_Headers ? 60 : 3);
    put16(b, pe + 20, 224);
    uint32_t characteristics = 0x0102;                          // executable, 32-bit
    if (exe == Fixture_Exe::Four_Gb) characteristics |= 0x0020; // large address aware
    put16(b, pe + 22, characteristics);
    const uint32_t opt = pe + 24;
    put16(b, opt, 0x010B);                                      // PE32
    put32(b, opt + 16, 0x1000);                                 // entry point
    put32(b, opt + 28, fixture_image_base);                     // = PE + 52
    put32(b, opt + 32, 0x1000);                                 // section alignment
    put32(b, opt + 36, 0x200);                                  // file alignment
    put32(b, opt + 56, 0x4000);                                 // image size
    put32(b, opt + 60, 0x400);                                  // headers size
    put16(b, opt + 68, 3);                                      // console subsystem
    put32(b, opt + 92, 16);                                     // data directories
    const char* names[3] = {".text", ".rdata", ".data"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t s = opt + 224 + i * 40;
        b.replace(s, std::char_traits<char>::length(names[i]), names[i]);
        put32(b, s + 8, 0x200);                                 // virtual size
        put32(b, s + 12, 0x1000 * (i + 1));                     // virtual address
        put32(b, s + 16, 0x200);                                // raw size
        put32(b, s + 20, 0x400 + 0x200 * i);                    // raw data offset
    }
    const unsigned char* range = exe == Fixture_Exe::Jp ? fixture_jp_bytes : fixture_en_bytes;
    b.replace(0x400, 16, reinterpret_cast<const char*>(range), 16);
    if (exe == Fixture_Exe::Four_Gb || exe == Fixture_Exe::Other_Bytes) b[0x40F] = static_cast<char>(0x2B);
    if (exe == Fixture_Exe::Not_Mz) b[0] = 'Z';
    for (uint32_t i = 0x410; i < 0x600; ++i) b[i] = static_cast<char>(0x90);   // nops after the prologue
    return b;
}

std::string fixture_game_dir(const Fixture_Options& o) {
    return path_join({o.store_root, "steamapps", "common", o.folder});
}

std::string fixture_wmp(const std::vector<uint32_t>& sizes) {
    std::string w(16, '\0');
    w.replace(0, 3, "WMP");
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string bink(sizes[i], '\0');
        bink.replace(0, 4, "KB2j");
        put32(bink, 4, sizes[i] - 8);
        put32(bink, 8, 30 * static_cast<uint32_t>(i + 1));   // frames
        put32(bink, 20, 1280);
        put32(bink, 24, 720);
        put32(bink, 28, 30000);
        put32(bink, 32, 1001);
        w += bink;
    }
    return w;
}

bool fixture_write_movies(const std::string& game_dir, std::string* err) {
    std::string movie = path_join({game_dir, "amber_data", "movie"});
    std::string staff = fixture_wmp({3000, 3000, 3000}).substr(0, 4096);
    std::string heads;
    for (uint32_t o : {16u, 3016u, 6016u}) heads += std::to_string(o) + " 30 1280 720 30000 1001\n";
    return write(path_join({movie, "opening.wmp"}), fixture_wmp({5000, 3000}), err) &&
           write(path_join({movie, "ending.wmp"}), fixture_wmp({6000}), err) &&
           write(path_join({movie, "ending.mp4"}), "mp4", err) &&
           write(path_join({movie, "staff.wmp"}), staff, err) &&
           write(path_join({movie, "staff.wmp.heads"}), heads, err) &&
           write(path_join({movie, "blank.wmp"}), fixture_wmp({}), err);
}

bool fixture_write_install(const Fixture_Options& o, std::string* err) {
    std::string steamapps = path_join({o.store_root, "steamapps"});
    std::string vdf = "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + vdf_escaped(o.store_root) + "\"\n\t}\n";
    for (size_t i = 0; i < o.libraries.size(); ++i) {
        vdf += "\t\"" + std::to_string(i + 1) + "\"\n\t{\n\t\t\"path\"\t\t\"" + vdf_escaped(o.libraries[i]) + "\"\n\t}\n";
    }
    vdf += "}\n";
    if (!write(path_join({steamapps, "libraryfolders.vdf"}), vdf, err)) return false;
    if (o.manifest) {
        std::string acf = "\"AppState\"\n{\n\t\"appid\"\t\t\"731905\"\n\t\"name\"\t\t\"EMBERFALL SAGA\"\n";
        acf += "\t\"installdir\"\t\t\"" + (o.installdir.empty() ? o.folder : o.installdir) + "\"\n";
        if (!o.depot.empty()) {
            acf += "\t\"InstalledDepots\"\n\t{\n\t\t\"" + o.depot + "\"\n\t\t{\n\t\t\t\"manifest\"\t\t\"1\"\n\t\t}\n";
            if (o.depot != "574632") acf += "\t\t\"574632\"\n\t\t{\n\t\t\t\"manifest\"\t\t\"2\"\n\t\t}\n";
            acf += "\t}\n";
        }
        acf += "}\n";
        if (!write(path_join({steamapps, "appmanifest_731905.acf"}), acf, err)) return false;
    }
    std::string game = fixture_game_dir(o);
    std::string bin = path_join({game, "amber_data", "prog", "win", "bin"});
    if (!fs_make_dirs(bin, err)) return false;
    std::string exe = path_join({bin, "efsagaimg.exe"});
    if (o.exe == Fixture_Exe::Folder) {
        if (!fs_make_dirs(exe, err)) return false;
    } else if (o.exe != Fixture_Exe::None) {
        if (!write(exe, fixture_exe_bytes(o.exe), err)) return false;
    }
    if (o.bink && !write(path_join({bin, "bink2w32.dll"}), std::string("MZ stand-in"), err)) return false;
    if (o.movies && !fixture_write_movies(game, err)) return false;
    return true;
}
