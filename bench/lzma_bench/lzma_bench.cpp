// Decodes each LZMA-alone file with our decoder and with liblzma, checks
// that the bytes agree and prints each one's throughput; the last line is
// "ratio X", our throughput over liblzma's over all files.
//
//   lzma_bench FILE...
//
// Exit code 1 when the outputs differ or ours fails where liblzma succeeds;
// a file that both refuse is reported and passes.
#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include "launcher/lzma/lzma.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzma_bench FILE...\n");
        return 2;
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
