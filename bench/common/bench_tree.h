// The generated source tree of the benchmarks, at the real bundle's shape
// (3,289 files, about 858 MB of C-like text and some binary at scale 1).
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

using Clock = std::chrono::steady_clock;
inline double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

enum class Kind { Text, Binary };

// One folder of the tree: its files share a stream group (the writer groups
// by the first two folders and splits a group near 97 MiB).
struct Folder_Row {
    std::string folder;   // "" for files directly under a top folder named in `top`
    int files;
    double mb;
    Kind kind;
};

inline std::vector<Folder_Row> tree_rows() {
    std::vector<Folder_Row> rows = {
        {"appimage", 4, 3, Kind::Binary},
        {"ffmpeg/include", 60, 3, Kind::Text},
        {"ffmpeg/lib", 6, 24, Kind::Binary},
        {"ffmpeg/lib-arm64", 6, 20, Kind::Binary},
        {"gen/src", 0, 690, Kind::Text},   // takes the files left over
        {"gen", 3, 3, Kind::Text},
        {"include/sys", 20, 0.5, Kind::Text},
        {"include/zqr", 40, 1.5, Kind::Text},
        {"pgo", 1, 12, Kind::Binary},
        {"runtime/audio", 15, 2, Kind::Text},
        {"runtime/core", 40, 6, Kind::Text},
        {"runtime/gfx", 30, 4, Kind::Text},
        {"sdl2/include", 40, 2, Kind::Text},
        {"sdl2/lib", 3, 6, Kind::Binary},
        {"tools", 4, 9, Kind::Binary},
        {"vulkan/include", 12, 4, Kind::Text},
        {"vulkan/lib", 2, 2, Kind::Binary},
    };
    // Twenty cross-compile inputs, half headers and half libraries.
    for (int t = 0; t < 20; t++) {
        char name[32];
        std::snprintf(name, sizeof name, "cross/target%02d", t);
        rows.push_back({name, 5 + (t % 2), 3.3, t % 2 ? Kind::Binary : Kind::Text});
    }
    int used = 0;
    for (const Folder_Row& r : rows) used += r.files;
    for (Folder_Row& r : rows) {
        if (r.files == 0) r.files = 3289 - used;
    }
    return rows;
}

struct Rng {
    uint64_t s;
    uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

// C-like text: functions of a generated page, many of them near copies of
// a recent one (as generated code is), so that it compresses about the way
// the real sources do (some 11 to 1 with the binary parts).
inline void make_text(Rng& rng, size_t n, std::string& out) {
    static const char* const ops[] = {" = ", " += ", " -= ", " ^= ", " |= "};
    static const char* const types[] = {"uint32_t", "int32_t", "uint8_t", "zqr_u64", "float"};
    static std::vector<std::string> recent(64);
    char buf[160];
    out.clear();
    out.reserve(n + 200);
    while (out.size() < n) {
        uint64_t r = rng.next();
        int len = std::snprintf(buf, sizeof buf, "void zqr_page_fn_%05d(zqr_state *s) {\n", int(r % 40000));
        out.append(buf, size_t(len));
        std::string& body = recent[(r >> 20) % recent.size()];
        if (body.empty() || (r >> 30) % 3 == 0) {
            body.clear();
            int lines = 4 + int((r >> 40) % 14);
            for (int k = 0; k < lines; k++) {
                uint64_t q = rng.next();
                len = std::snprintf(buf, sizeof buf, "    %s r%u%sMEM_%s(s, 0x%05x + s->r%u);\n", types[q % 5],
                                    unsigned((q >> 3) % 16), ops[(q >> 8) % 5], (q >> 11) & 1 ? "RD32" : "RD8",
                                    unsigned((q >> 12) % 256) * 16, unsigned((q >> 30) % 16));
                body.append(buf, size_t(len));
            }
        }
        out += body;
        len = std::snprintf(buf, sizeof buf, "    return zqr_next(s, 0x%04x);\n}\n\n", unsigned((r >> 32) % 0x10000));
        out.append(buf, size_t(len));
    }
    out.resize(n);
}

// Library-like bytes: runs of instruction-like patterns with variation, and
// stretches of noise.
inline void make_binary(Rng& rng, size_t n, std::string& out) {
    out.resize(n);
    size_t i = 0;
    while (i < n) {
        uint64_t r = rng.next();
        size_t run = std::min(n - i, size_t(256 + r % 4096));
        if (r % 3 == 0) {
            for (size_t k = 0; k < run; k++) out[i + k] = char(rng.next());
        } else {
            const unsigned char pattern[] = {0x48, 0x8b, 0x45, 0x00, 0x48, 0x89, 0xc7, 0xe8, 0x00, 0x00, 0x00, 0x00};
            for (size_t k = 0; k < run; k++) {
                unsigned char b = pattern[k % sizeof pattern];
                if (b == 0 && (rng.next() & 3) == 0) b = (unsigned char)(rng.next());
                out[i + k] = char(b);
            }
        }
        i += run;
    }
}

inline bool read_file(const fs::path& path, std::string& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

inline bool write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return f.good();
}

struct Tree_File {
    std::string name;
    uint64_t size;
};


// Writes the tree under `tree` with every file size times `scale`; adds the
// files to `files` and their bytes to `total`. False after printing why.
inline bool make_tree(const fs::path& tree, double scale, std::vector<Tree_File>& files, uint64_t& total) {
    Rng rng{0x2545F4914F6CDD1Dull};
    std::string bytes;
    int serial = 0;
    for (const Folder_Row& row : tree_rows()) {
        fs::create_directories(tree / row.folder);
        double mean = row.mb * 1e6 * scale / row.files;
        for (int k = 0; k < row.files; k++) {
            size_t size = size_t(mean * (0.5 + double(rng.next() % 1000) / 1000.0));
            if (serial % 97 == 5) size = 0;   // a few empty files, as the real tree has
            char name[64];
            std::snprintf(name, sizeof name, row.kind == Kind::Text ? "f%05d.c" : "lib%05d.a", serial++);
            if (row.kind == Kind::Text) {
                make_text(rng, size, bytes);
            } else {
                make_binary(rng, size, bytes);
            }
            std::string rel = row.folder + "/" + name;
            if (!write_file(tree / rel, bytes)) {
                std::fprintf(stderr, "cannot write %s\n", rel.c_str());
                return false;
            }
            files.push_back({rel, size});
            total += size;
        }
    }
    return true;
}

// `dir` emptied, then the tree made in dir/tree, with one line saying what
// was made; false when a file could not be written.
inline bool make_fresh_tree(const fs::path& dir, double scale, std::vector<Tree_File>& files, uint64_t& total) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::path tree = dir / "tree";
    fs::create_directories(tree);
    Clock::time_point t0 = Clock::now();
    total = 0;
    if (!make_tree(tree, scale, files, total)) return false;
    std::printf("tree: %zu files, %.1f MB (scale %.3f), made in %.1f s\n", files.size(), double(total) / 1e6, scale,
                seconds_since(t0));
    return true;
}

}  // namespace bench
