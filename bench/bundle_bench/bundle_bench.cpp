// The source bundle end to end at the real bundle's shape: generates a tree
// (3,289 files, about 858 MB of C-like text and some binary, packed into 43
// streams of which the largest is about 100 MB), packs it with the bundle
// writer, then times
//   - liblzma decoding every stream on one thread (the yardstick),
//   - our decoder doing the same, stream by stream, which gives the limit of
//     an extraction on W workers: the decode time over W, but never below
//     the largest stream's,
//   - bundle_extract with 1, 2, 4 and 8 workers, each run right after a
//     liblzma pass so that every ratio is of a pair measured together, with
//     the memory the extraction adds to the process at its peak,
//   - a second extraction, which must write nothing,
// and checks every unpacked file against the tree.
//
//   bundle_bench [--scale S] [--runs N] [--dir DIR] [--preset N] [--keep]
//
// --scale multiplies every file size (0.05 gives a quick run of ~43 MB).
// Ratios are liblzma's one-thread time over ours, min / median / max of the
// --runs pairs (1 or more means ours is no slower).
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

#include "launcher/core/bundle.h"
#include "launcher/core/task.h"

#include "bench/common/bench_stats.h"
#include "bench/common/bench_tree.h"

using namespace bench;

int main(int argc, char** argv) {
    double scale = 1.0;
    int runs = 3;
    int preset = 6;
    bool keep = false;
    fs::path dir = fs::temp_directory_path() / "qm_bundle_bench";
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--preset" && i + 1 < argc) {
            preset = std::atoi(argv[++i]);
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr, "usage: bundle_bench [--scale S] [--runs N] [--dir DIR] [--preset N] [--keep]\n");
            return 2;
        }
    }
    if (!(scale > 0) || runs < 1) {
        std::fprintf(stderr, "bundle_bench: --scale must be above 0 and --runs at least 1\n");
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

    // 3. Decoding alone, one thread: liblzma, then ours stream by stream.
    auto liblzma_pass = [&](double& seconds) {
        seconds = 0;
        for (const Bundle_Stream& s : bundle_streams) {
            std::unique_ptr<uint8_t[]> out(new uint8_t[s.unpacked_size + 1]);
            Clock::time_point t = Clock::now();
            lzma_stream z = LZMA_STREAM_INIT;
            if (lzma_alone_decoder(&z, UINT64_MAX) != LZMA_OK) return false;
            z.next_in = reinterpret_cast<const uint8_t*>(bundle.data() + s.offset);
            z.avail_in = s.packed_size;
            z.next_out = out.get();
            z.avail_out = s.unpacked_size + 1;
            lzma_ret r = lzma_code(&z, LZMA_FINISH);
            lzma_end(&z);
            seconds += seconds_since(t);
            if (r != LZMA_STREAM_END) return false;
        }
        return true;
    };
    double lib_time = 0;
    if (!liblzma_pass(lib_time)) {
        std::fprintf(stderr, "bundle_bench: liblzma cannot decode a stream\n");
        return 1;
    }
    double ours_time = 0, ours_largest = 0;
    for (uint32_t k = 0; k < bundle_streams.size(); k++) {
        Clock::time_point t = Clock::now();
        Bundle_Block block;
        bool ok = block_read(k, block);
        double one = seconds_since(t);
        ours_time += one;
        ours_largest = std::max(ours_largest, one);
        if (!ok) {
            std::fprintf(stderr, "bundle_bench: our decoder fails on stream %u\n", k);
            return 1;
        }
    }
    double mb = double(total) / 1e6;
    std::printf("decode only, 1 thread: liblzma %.2f s (%.0f MB/s), ours %.2f s (%.0f MB/s), ratio %.2f; "
                "largest stream %.2f s\n",
                lib_time, mb / lib_time, ours_time, mb / ours_time, lib_time / ours_time, ours_largest);

    // 4. Extraction with 1, 2, 4 and 8 workers, each after a liblzma pass.
    std::vector<std::string> prefixes = {"appimage/", "cross/", "ffmpeg/", "gen/", "include/",
                                         "pgo/",      "runtime/", "sdl2/", "tools/", "vulkan/"};
    int status = 0;
    struct Run {
        int workers;
        fs::path dest;
        std::vector<double> ratios;
        double seconds = 1e30;
        double peak = 0;
    };
    std::vector<Run> sets;
    for (int w : {1, 2, 4, 8}) sets.push_back({w, dir / ("dest" + std::to_string(w)), {}});
    for (int r = 0; r < runs; r++) {
        for (Run& run : sets) {
            double lib = 0;
            if (!liblzma_pass(lib)) return 1;
            fs::remove_all(run.dest, ec);
            Task task;
            double before = resident_mib();
            peak_reset();
            t0 = Clock::now();
            int written = bundle_extract(task, run.dest.string(), prefixes, run.workers);
            double t = seconds_since(t0);
            run.peak = std::max(run.peak, peak_mib() - before);
            run.seconds = std::min(run.seconds, t);
            run.ratios.push_back(lib / t);
            if (written != int(files.size())) status = 1;
        }
    }
    std::printf("extract (liblzma one thread / ours, min / median / max of %d pairs; limit = the decode time over "
                "the workers, at least the largest stream's):\n",
                runs);
    for (const Run& run : sets) {
        int workers = std::min<int>(run.workers, int(bundle_streams.size()));
        double limit = lib_time / std::max(ours_time / workers, ours_largest);
        std::printf("  %d worker%s: best %.2f s, %s (limit %.2f), peak memory added %.0f MiB\n", run.workers,
                    run.workers == 1 ? " " : "s", run.seconds, spread_text(run.ratios).c_str(), limit, run.peak);
    }
    const Run* runs_checked[] = {&sets.front(), &sets.back()};

    // 5. Every file, both extractions.
    size_t bad = 0;
    std::string a, b;
    for (const Tree_File& f : files) {
        if (!read_file(tree / f.name, a)) return 1;
        for (const Run* run : runs_checked) {
            if (!read_file(run->dest / f.name, b) || a != b) {
                if (bad++ < 5) std::printf("verify: %s differs in %s\n", f.name.c_str(), run->dest.string().c_str());
            }
        }
    }
    std::printf("verify: %s (%zu files, each unpacked twice)\n", bad ? "FAILED" : "ok", files.size());
    if (bad) status = 1;

    // 6. Again into the full folder: nothing to write.
    {
        Task task;
        double before = resident_mib();
        peak_reset();
        t0 = Clock::now();
        int written = bundle_extract(task, sets.back().dest.string(), prefixes);
        std::printf("second extract, all cores: %d files written in %.2f s, peak memory added %.0f MiB\n", written,
                    seconds_since(t0), peak_mib() - before);
        if (written != 0) status = 1;
    }

    if (!keep) fs::remove_all(dir, ec);
    return status;
}
