// Decodes each LZMA-alone file with our decoder and with liblzma, checks
// that the bytes agree and prints each one's throughput; the last line is
// "ratio X", our throughput over liblzma's over all files.
//
//   lzma_bench FILE...
//   lzma_bench --contents [--pairs N] [--only NAME] [--pack-to DIR]
//
// --contents packs one sample of each kind of content (generated C pages,
// real headers and Python sources, shared libraries, ARM code, library-like
// bytes, RGB textures, save data, noise) with liblzma at preset 6, as the
// bundle is packed, and decodes each in N alternating pairs (ours, then
// liblzma); it prints liblzma's time over ours as min / median / max of the
// pairs, side by side for every content. Those times are the process's CPU
// time (both decoders run on this one thread), which other work on a shared
// machine disturbs far less than the wall clock. Real files that this machine lacks
// are skipped. With --pack-to it only writes each packed sample to DIR
// (for xz, or for a profiler run of the FILE form).
//
// Exit code 1 when the outputs differ or ours fails where liblzma succeeds;
// a file that both refuse is reported and passes.
#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/common/bench_tree.h"
#include "launcher/lzma/lzma.h"
#include "tests/rar5/rar5_samples.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

bool read_file(const char* path, std::string& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

// liblzma into `out` (capacity bytes); returns the size, or -1 on failure.
int64_t liblzma_decode(const std::string& packed, uint8_t* out, size_t capacity) {
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) return -1;
    s.next_in = reinterpret_cast<const uint8_t*>(packed.data());
    s.avail_in = packed.size();
    s.next_out = out;
    s.avail_out = capacity;
    lzma_ret r = lzma_code(&s, LZMA_FINISH);
    int64_t n = int64_t(capacity - s.avail_out);
    lzma_end(&s);
    return r == LZMA_STREAM_END ? n : -1;
}

// The size a stream decodes to, from liblzma, decoded through one small
// buffer: a truncated or hostile stream costs no memory. -1 when liblzma
// cannot decode it to its end (it stops making progress on a cut stream).
int64_t reference_size(const std::string& packed) {
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) return -1;
    s.next_in = reinterpret_cast<const uint8_t*>(packed.data());
    s.avail_in = packed.size();
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[1 << 16]);
    int64_t total = 0;
    for (;;) {
        s.next_out = chunk.get();
        s.avail_out = 1 << 16;
        lzma_ret r = lzma_code(&s, LZMA_FINISH);
        total += int64_t((1 << 16) - s.avail_out);
        if (r == LZMA_STREAM_END) break;
        if (r != LZMA_OK) total = -1;   // LZMA_BUF_ERROR: no progress is possible
        if (r != LZMA_OK) break;
    }
    lzma_end(&s);
    return total;
}

// Best time of several runs, at least `rounds` and about a second in all.
template <typename F>
double best_time(F&& run, int rounds = 3) {
    double best = 1e30, total = 0;
    for (int i = 0; i < 50 && (i < rounds || total < 1.0); i++) {
        Clock::time_point t = Clock::now();
        run();
        double s = seconds_since(t);
        best = std::min(best, s);
        total += s;
    }
    return best;
}

// One content of the --contents set: its name, a file name for --pack-to,
// and its unpacked bytes.
struct Content {
    std::string name;
    std::string file;
    std::string bytes;
};

// Files under `roots` whose names end in one of `suffixes`, in sorted path
// order, appended until `size` bytes; empty when there are none.
std::string gather(const std::vector<const char*>& roots, const std::vector<const char*>& suffixes, size_t size) {
    namespace fs = std::filesystem;
    std::vector<fs::path> paths;
    for (const char* root : roots) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            std::error_code type_ec;
            if (!it->is_regular_file(type_ec) || it->is_symlink(type_ec)) continue;
            std::string name = it->path().filename().string();
            for (const char* suffix : suffixes) {
                if (name.find(suffix) != std::string::npos) {
                    paths.push_back(it->path());
                    break;
                }
            }
        }
    }
    std::sort(paths.begin(), paths.end());
    std::string out, file;
    for (const fs::path& p : paths) {
        if (out.size() >= size) break;
        if (bench::read_file(p, file)) out += file;
    }
    if (out.size() > size) out.resize(size);
    return out;
}

std::vector<Content> contents() {
    namespace s = rar5_samples;
    const size_t mb = 1u << 20;
    std::vector<Content> v;
    bench::Rng rng{0x2545F4914F6CDD1Dull};
    std::string text;
    bench::make_text(rng, 32 * mb, text);
    v.push_back({"C text, generated pages", "pages", std::move(text)});
    v.push_back({"C text, real headers", "headers", gather({"/usr/include"}, {".h"}, 32 * mb)});
    v.push_back({"Python source", "python", gather({"/usr/lib/python3"}, {".py"}, 32 * mb)});
    v.push_back({"x86-64 shared libraries", "x86", gather({"/usr/lib/x86_64-linux-gnu"}, {".so."}, 32 * mb)});
    v.push_back({"ARM code", "arm", s::arm(24 * mb, 1)});
    std::string binary;
    bench::make_binary(rng, 32 * mb, binary);
    v.push_back({"library-like bytes", "library", std::move(binary)});
    v.push_back({"RGB textures", "rgb", s::rgb(1024, 16 * mb / 3072)});
    std::string save;
    std::string n = s::noise(1 << 16, 5);
    while (save.size() < 16 * mb) save += std::string(4096, '\0') + n.substr(0, 1 + save.size() % 60000) + s::text(20000, 5);
    save.resize(16 * mb);
    v.push_back({"save data, long runs", "save", std::move(save)});
    v.push_back({"noise", "noise", s::noise(4 * mb, 9)});
    return v;
}

// LZMA-alone at preset 6 with the size in the header; empty on failure.
std::string liblzma_pack(const std::string& bytes) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6)) return {};
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&s, &options) != LZMA_OK) return {};
    std::string out(bytes.size() + bytes.size() / 16 + 4096, '\0');
    s.next_in = reinterpret_cast<const uint8_t*>(bytes.data());
    s.avail_in = bytes.size();
    s.next_out = reinterpret_cast<uint8_t*>(out.data());
    s.avail_out = out.size();
    lzma_ret r = lzma_code(&s, LZMA_FINISH);
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    if (r != LZMA_STREAM_END) return {};
    // The bundle's streams carry their size in the header.
    for (int i = 0; i < 8; i++) out[5 + i] = char(uint8_t(uint64_t(bytes.size()) >> (8 * i)));
    return out;
}

double cpu_seconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int run_contents(int pairs, const std::string& only, const std::string& pack_to) {
    int status = 0;
    std::vector<double> all_ours(static_cast<size_t>(pairs), 0.0), all_theirs(all_ours.size(), 0.0);
    std::printf("%-26s %8s %8s %11s %11s   %s\n", "content", "MB", "packs", "ours MB/s", "liblzma MB/s",
                "liblzma time / ours: min / median / max");
    for (Content& c : contents()) {
        if (c.bytes.empty()) {
            std::printf("%-26s (not on this machine)\n", c.name.c_str());
            continue;
        }
        if (!only.empty() && c.name.find(only) == std::string::npos) continue;
        std::string packed = liblzma_pack(c.bytes);
        if (packed.empty()) {
            std::printf("%-26s liblzma cannot pack it\n", c.name.c_str());
            status = 1;
            continue;
        }
        if (!pack_to.empty()) {
            std::filesystem::path path = std::filesystem::path(pack_to) / (c.file + ".lzma");
            if (!bench::write_file(path, packed)) status = 1;
            std::printf("%s\n", path.string().c_str());
            continue;
        }
        size_t size = c.bytes.size();
        std::unique_ptr<uint8_t[]> reference(new uint8_t[size + 1]);
        std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
        std::memset(reference.get(), 0, size + 1);
        std::memset(out.get(), 0xAA, size);
        std::vector<double> ours(all_ours.size()), theirs(all_ours.size()), ratio(all_ours.size());
        bool ok = liblzma_decode(packed, reference.get(), size + 1) == int64_t(size);
        bool ours_ok = lzma_alone_decode(packed, out.get(), size);   // one round each to warm up
        for (int i = 0; i < pairs && ok && ours_ok; i++) {
            double t = cpu_seconds();
            ours_ok = lzma_alone_decode(packed, out.get(), size);
            ours[size_t(i)] = cpu_seconds() - t;
            t = cpu_seconds();
            ok = liblzma_decode(packed, reference.get(), size + 1) == int64_t(size);
            theirs[size_t(i)] = cpu_seconds() - t;
            ratio[size_t(i)] = theirs[size_t(i)] / ours[size_t(i)];
            all_ours[size_t(i)] += ours[size_t(i)];
            all_theirs[size_t(i)] += theirs[size_t(i)];
        }
        if (!ok || !ours_ok || std::memcmp(out.get(), c.bytes.data(), size) != 0 ||
            std::memcmp(reference.get(), c.bytes.data(), size) != 0) {
            std::printf("%-26s %s\n", c.name.c_str(), !ok ? "liblzma FAILS" : !ours_ok ? "ours FAILS" : "the outputs DIFFER");
            status = 1;
            continue;
        }
        double mbytes = double(size) / 1e6;
        std::printf("%-26s %8.1f %7.1f:1 %11.1f %11.1f   %.2f / %.2f / %.2f\n", c.name.c_str(), mbytes,
                    double(size) / double(packed.size()), mbytes / median(ours), mbytes / median(theirs),
                    *std::min_element(ratio.begin(), ratio.end()), median(ratio),
                    *std::max_element(ratio.begin(), ratio.end()));
        std::fflush(stdout);
    }
    if (!pack_to.empty()) return status;
    std::vector<double> total(all_ours.size());
    for (size_t i = 0; i < total.size(); i++) total[i] = all_ours[i] > 0 ? all_theirs[i] / all_ours[i] : 0;
    std::printf("%-26s %50s   %.2f / %.2f / %.2f\n", "all contents", "", *std::min_element(total.begin(), total.end()),
                median(total), *std::max_element(total.begin(), total.end()));
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzma_bench FILE...\n       lzma_bench --contents [--pairs N] [--only NAME] [--pack-to DIR]\n");
        return 2;
    }
    if (std::strcmp(argv[1], "--contents") == 0) {
        int pairs = 5;
        std::string only, pack_to;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--pairs") == 0) pairs = std::max(1, std::atoi(argv[i + 1]));
            if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
            if (std::strcmp(argv[i], "--pack-to") == 0) pack_to = argv[i + 1];
        }
        return run_contents(pairs, only, pack_to);
    }
    int status = 0;
    double ours_bytes = 0, ours_time = 0, theirs_bytes = 0, theirs_time = 0;
    for (int i = 1; i < argc; i++) {
        std::string packed;
        if (!read_file(argv[i], packed)) {
            std::printf("%s: cannot read\n", argv[i]);
            status = 1;
            continue;
        }
        int64_t size = reference_size(packed);
        if (size < 0) {
            // liblzma refuses it. With a size in its header ours can be asked
            // too (it should refuse as well); without one there is nothing to
            // decode into.
            Lzma_Header h;
            lzma_header_check(packed, 0, h);
            if (packed.size() >= lzma_header_size && h.size_field != lzma_size_unknown && h.size_field < (1ull << 32)) {
                // The header's size is the stream's word: memory may refuse it.
                std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[size_t(h.size_field) + 1]);
                if (!out) {
                    std::printf("%s: liblzma refuses it; its size (%llu bytes) is too large to try ours\n", argv[i],
                                static_cast<unsigned long long>(h.size_field));
                    continue;
                }
                bool ours_ok = lzma_alone_decode(packed, out.get(), size_t(h.size_field));
                std::printf("%s: liblzma refuses it; ours %s\n", argv[i], ours_ok ? "accepts it" : "refuses it too");
            } else {
                std::printf("%s: liblzma refuses it\n", argv[i]);
            }
            continue;
        }
        std::unique_ptr<uint8_t[]> reference(new uint8_t[size_t(size) + 1]);
        std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(size) + 1]);
        std::memset(reference.get(), 0, size_t(size) + 1);
        std::memset(out.get(), 0xAA, size_t(size) + 1);
        bool ok = true;
        double theirs = best_time([&] { ok = ok && liblzma_decode(packed, reference.get(), size_t(size) + 1) == size; });
        bool ours_ok = true;
        double ours = best_time([&] { ours_ok = ours_ok && lzma_alone_decode(packed, out.get(), size_t(size)); });
        if (!ok) {
            std::printf("%s: liblzma is not repeatable\n", argv[i]);
            status = 1;
            continue;
        }
        if (!ours_ok) {
            std::printf("%s: ours FAILS where liblzma decodes %lld bytes\n", argv[i], static_cast<long long>(size));
            status = 1;
            continue;
        }
        if (std::memcmp(out.get(), reference.get(), size_t(size)) != 0) {
            std::printf("%s: the outputs DIFFER\n", argv[i]);
            status = 1;
            continue;
        }
        double mb = double(size) / 1e6;
        std::printf("%s: %.1f MB, ours %.1f MB/s, liblzma %.1f MB/s (%.2fx)\n", argv[i], mb,
                    ours > 0 ? mb / ours : 0.0, theirs > 0 ? mb / theirs : 0.0, ours > 0 ? theirs / ours : 0.0);
        ours_bytes += double(size);
        ours_time += ours;
        theirs_bytes += double(size);
        theirs_time += theirs;
    }
    double ratio = (ours_time > 0 && theirs_time > 0) ? (ours_bytes / ours_time) / (theirs_bytes / theirs_time) : 0;
    std::printf("ratio %.3f\n", ratio);
    return status;
}
