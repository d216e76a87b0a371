// The LZMA decoder on any bytes. Input: the output size (u32, little-endian,
// at most 1 MiB is used), then an LZMA-alone stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "launcher/lzma/lzma.h"

namespace {

constexpr size_t out_limit = size_t(1) << 20;

// One buffer for every input (clearing a fresh megabyte per input was most
// of the time). The output is placed at its end, so a write past the output
// still meets AddressSanitizer's guard after the buffer.
uint8_t* output_of_size(size_t size) {
    static std::unique_ptr<uint8_t[]> buffer(new uint8_t[out_limit]);
    return buffer.get() + (out_limit - size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    size_t out_size = (size_t(data[0]) | size_t(data[1]) << 8 | size_t(data[2]) << 16 | size_t(data[3]) << 24) &
                      (out_limit - 1);
    uint8_t* out = output_of_size(out_size);
    std::string_view stream(reinterpret_cast<const char*>(data) + 4, size - 4);
    bool whole = lzma_alone_decode(stream, out, out_size);
    // Piece by piece through a small window: never the end of a stream the
    // whole decode refuses (its first pieces may come before the damage),
    // never other bytes, never more or fewer than the output.
    Lzma_Pieces pieces;
    if (lzma_pieces_start(pieces, stream, out_size, 4096)) {
        size_t at = 0;
        for (;;) {
            const uint8_t* piece = nullptr;
            size_t n = 0;
            Lzma_Step step = lzma_pieces_next(pieces, piece, n);
            if (step == Lzma_Step::Failed) break;
            if (n > out_size - at || (whole && std::memcmp(piece, out + at, n) != 0)) std::abort();
            at += n;
            if (step == Lzma_Step::Done) {
                if (!whole || at != out_size) std::abort();
                break;
            }
        }
    }
    // The decoder proper with every property set, on the same bytes.
    if (stream.size() > 13) {
        uint8_t props = uint8_t(stream[0]) % (lzma_props_max + 1);
        decode_raw(stream.substr(13), props % 9, (props / 9) % 5, props / 45, out, out_size, (stream[1] & 1) != 0);
    }
    return 0;
}
