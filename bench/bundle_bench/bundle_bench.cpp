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

#include "bench/common/bench_tree.h"

using namespace bench;

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
    // 1. The tree.
    std::vector<Tree_File> files;
    uint64_t total = 0;
    if (!make_fresh_tree(dir, scale, files, total)) return 1;
    fs::path tree = dir / "tree";
    Clock::time_point t0;
    std::error_code ec;

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
