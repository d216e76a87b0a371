// The source bundle end to end at the real bundle's shape: generates a tree
// (3,289 files, about 858 MB of C-like text and some binary, packed into 43
// streams of which the largest is about 100 MB), packs it with the bundle
// writer, then times
//   - liblzma decoding every stream on one thread (the yardstick),
//   - our decoder doing the same,
//   - bundle_extract with one worker and with one per core,
//   - a second extraction, which must write nothing,
// and checks every unpacked file against the tree.
//
//   bundle_bench [--scale S] [--dir DIR] [--preset N] [--keep]
//
// --scale multiplies every file size (0.05 gives a quick run of ~43 MB).
#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/kt_system/thread.h"
#include "launcher/core/bundle.h"
#include "launcher/core/task.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

enum class Kind { Text, Binary };

// One folder of the tree: its files share a stream group (the writer groups
// by the first two folders and splits a group near 97 MiB).
struct Folder_Row {
    std::string folder;   // "" for files directly under a top folder named in `top`
    int files;
    double mb;
    Kind kind;
};

std::vector<Folder_Row> tree_rows() {
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
void make_text(Rng& rng, size_t n, std::string& out) {
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
void make_binary(Rng& rng, size_t n, std::string& out) {
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

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
    return f.good();
}

struct Tree_File {
    std::string name;
    uint64_t size;
};

}  // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    int preset = 6;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "qm_bundle_bench";
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--preset" && i + 1 < argc) {
            preset = std::atoi(argv[++i]);
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr, "usage: bundle_bench [--scale S] [--dir DIR] [--preset N] [--keep]\n");
            return 2;
        }
    }
    if (!(scale > 0)) {
        std::fprintf(stderr, "bundle_bench: --scale must be above 0\n");
        return 2;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::path tree = dir / "tree";
    fs::create_directories(tree);

    // 1. The tree.
    Clock::time_point t0 = Clock::now();
    std::vector<Tree_File> files;
    uint64_t total = 0;
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
                std::fprintf(stderr, "bundle_bench: cannot write %s\n", rel.c_str());
                return 1;
            }
            files.push_back({rel, size});
            total += size;
        }
    }
    std::printf("tree: %zu files, %.1f MB (scale %.3f), made in %.1f s\n", files.size(), double(total) / 1e6, scale,
                seconds_since(t0));

    // 2. Packing.
    fs::path bundle_path = dir / "bundle.bin";
    int split_mb = std::max(1, int(std::lround(97 * scale)));
    std::string cmd = std::string(QM_BUNDLE_WRITER) + " --group-depth 2 --split-mb " + std::to_string(split_mb) +
                      " --preset " + std::to_string(preset) + " -o '" + bundle_path.string() + "' '" +
                      tree.string() + "' > /dev/null";
    t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "bundle_bench: the bundle writer failed\n");
        return 1;
    }
    double pack_time = seconds_since(t0);
    std::string bundle;
    if (!read_file(bundle_path, bundle) || !bundle_open(bundle)) {
        std::fprintf(stderr, "bundle_bench: the packed bundle does not open\n");
        return 1;
    }
    uint64_t largest = 0;
    for (const Bundle_Stream& s : bundle_streams) largest = std::max(largest, s.unpacked_size);
    std::printf("pack: %zu streams, %zu entries, %.1f MB, largest stream %.1f MB (preset %d, %.1f s)\n",
                bundle_streams.size(), bundle_entries.size(), double(bundle.size()) / 1e6, double(largest) / 1e6,
                preset, pack_time);

    // 3. Decoding alone, one thread: liblzma, then ours.
    double lib_time = 0;
    for (const Bundle_Stream& s : bundle_streams) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[s.unpacked_size + 1]);
        Clock::time_point t = Clock::now();
        lzma_stream z = LZMA_STREAM_INIT;
        if (lzma_alone_decoder(&z, UINT64_MAX) != LZMA_OK) return 1;
        z.next_in = reinterpret_cast<const uint8_t*>(bundle.data() + s.offset);
        z.avail_in = s.packed_size;
        z.next_out = out.get();
        z.avail_out = s.unpacked_size + 1;
        lzma_ret r = lzma_code(&z, LZMA_FINISH);
        lzma_end(&z);
        lib_time += seconds_since(t);
        if (r != LZMA_STREAM_END) {
            std::fprintf(stderr, "bundle_bench: liblzma cannot decode a stream\n");
            return 1;
        }
    }
    double ours_time = 0;
    for (uint32_t k = 0; k < bundle_streams.size(); k++) {
        Clock::time_point t = Clock::now();
        Bundle_Block block;
        bool ok = block_read(k, block);
        ours_time += seconds_since(t);
        if (!ok) {
            std::fprintf(stderr, "bundle_bench: our decoder fails on stream %u\n", k);
            return 1;
        }
    }
    double mb = double(total) / 1e6;
    std::printf("decode only, 1 thread: liblzma %.2f s (%.0f MB/s), ours %.2f s (%.0f MB/s), ratio %.2f\n", lib_time,
                mb / lib_time, ours_time, mb / ours_time, lib_time / ours_time);

    // 4. Extraction with one worker and with one per core.
    std::vector<std::string> prefixes = {"appimage/", "cross/", "ffmpeg/", "gen/", "include/",
                                         "pgo/",      "runtime/", "sdl2/", "tools/", "vulkan/"};
    int status = 0;
    int cores = cpu_count();
    struct Run {
        const char* what;
        int workers;
        fs::path dest;
    };
    const Run runs[] = {{"1 worker", 1, dir / "dest1"}, {"all cores", cores, dir / "destN"}};
    for (const Run& run : runs) {
        Task task;
        t0 = Clock::now();
        int written = bundle_extract(task, run.dest.string(), prefixes, run.workers);
        double t = seconds_since(t0);
        std::printf("extract, %s (%d workers): %d files in %.2f s, %.2fx liblzma's one-thread decode time\n", run.what,
                    std::min<int>(run.workers, int(bundle_streams.size())), written, t, lib_time / t);
        if (written != int(files.size())) status = 1;
    }

    // 5. Every file, both extractions.
    size_t bad = 0;
    std::string a, b;
    for (const Tree_File& f : files) {
        if (!read_file(tree / f.name, a)) return 1;
        for (const Run& run : runs) {
            if (!read_file(run.dest / f.name, b) || a != b) {
                if (bad++ < 5) std::printf("verify: %s differs in %s\n", f.name.c_str(), run.dest.string().c_str());
            }
        }
    }
    std::printf("verify: %s (%zu files, each unpacked twice)\n", bad ? "FAILED" : "ok", files.size());
    if (bad) status = 1;

    // 6. Again into the full folder: nothing to write.
    {
        Task task;
        t0 = Clock::now();
        int written = bundle_extract(task, runs[1].dest.string(), prefixes);
        std::printf("second extract, all cores: %d files written in %.2f s\n", written, seconds_since(t0));
        if (written != 0) status = 1;
    }

    if (!keep) fs::remove_all(dir, ec);
    return status;
}
