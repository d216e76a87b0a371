#include "launcher/mods/zlib_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace {

constexpr int hash_size = 32768;
constexpr int window_mask = 32767;

constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t distance_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

uint32_t reverse_bits(uint32_t v, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; i++) r |= ((v >> i) & 1u) << (n - 1 - i);
    return r;
}

// The fixed code of a symbol as RFC 1951 gives it (value, length).
void fixed_code_of(int symbol, uint32_t& code, int& length) {
    if (symbol < 144) { code = 0x30 + uint32_t(symbol); length = 8; }
    else if (symbol < 256) { code = 0x190 + uint32_t(symbol - 144); length = 9; }
    else if (symbol < 280) { code = uint32_t(symbol - 256); length = 7; }
    else { code = 0xC0 + uint32_t(symbol - 280); length = 8; }
}

// A code ready for the bit writer: the bits in output order and their count.
struct Code {
    uint32_t bits = 0;
    uint32_t length = 0;
};

struct Tables {
    Code literal[256];
    Code length[deflate_max_match + 1];   // symbol and extra bits of a match length
    uint8_t distance_index[512];          // see distance_code
    Code distance_symbol[30];
};

const Tables& tables() {
    static const Tables t = [] {
        Tables t{};
        for (int s = 0; s < 256; s++) {
            uint32_t code = 0;
            int n = 0;
            fixed_code_of(s, code, n);
            t.literal[s] = {reverse_bits(code, n), uint32_t(n)};
        }
        for (int len = 3; len <= deflate_max_match; len++) {
            int i = 28;
            while (length_base[i] > len) i--;
            uint32_t code = 0;
            int n = 0;
            fixed_code_of(257 + i, code, n);
            t.length[len] = {reverse_bits(code, n) | uint32_t(len - length_base[i]) << n,
                             uint32_t(n + length_extra[i])};
        }
        for (int j = 0; j < 30; j++) t.distance_symbol[j] = {reverse_bits(uint32_t(j), 5), 5};
        // Distances up to 256 by d - 1, longer ones by (d - 1) >> 7: every
        // code from 16 on covers whole blocks of 128.
        for (int d = 1; d <= deflate_max_distance + 1; d++) {
            int j = 29;
            while (distance_base[j] > d) j--;
            int slot = d <= 256 ? d - 1 : 256 + ((d - 1) >> 7);
            t.distance_index[slot] = uint8_t(j);
        }
        return t;
    }();
    return t;
}

inline uint32_t hash_at(const uint8_t* p) {
    uint32_t v = (uint32_t(p[0]) << 10) ^ (uint32_t(p[1]) << 5) ^ uint32_t(p[2]);
    return (v * 2654435761u) >> 17;
}

// Equal bytes at a and b, at most `limit`.
inline int match_length(const uint8_t* a, const uint8_t* b, int limit) {
    int n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        uint64_t diff = x ^ y;
        if (diff) {
            if constexpr (std::endian::native == std::endian::little) return n + std::countr_zero(diff) / 8;
            else return n + std::countl_zero(diff) / 8;
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// Output of the block: bits gather in a 64-bit accumulator and leave four
// bytes at a time into a buffer sized for the worst case.
struct Fast_Bits {
    uint8_t* at;
    uint64_t acc = 0;
    uint32_t count = 0;
    // At most 32 bits at a time.
    inline void put(uint32_t bits, uint32_t n) {
        acc |= uint64_t(bits) << count;
        count += n;
        if (count >= 32) {
            for (int i = 0; i < 4; i++) at[i] = uint8_t(acc >> (8 * i));
            at += 4;
            acc >>= 32;
            count -= 32;
        }
    }
};

struct Match_Tables {
    std::unique_ptr<int32_t[]> head{new int32_t[hash_size]};
    std::unique_ptr<int32_t[]> prev{new int32_t[hash_size]()};
    Match_Tables() { std::fill(head.get(), head.get() + hash_size, -1); }
};

Match_Tables& match_tables() {
    thread_local Match_Tables tables;
    return tables;
}

}  // namespace

void bits_put(Bit_Writer& w, uint32_t value, int count) {
    w.acc |= uint64_t(value) << w.count;
    w.count += count;
    while (w.count >= 8) {
        w.out->push_back(char(w.acc & 0xFF));
        w.acc >>= 8;
        w.count -= 8;
    }
}

void fixed_code(Bit_Writer& w, int symbol) {
    uint32_t code = 0;
    int n = 0;
    fixed_code_of(symbol, code, n);
    bits_put(w, reverse_bits(code, n), n);
}

uint32_t hash3(const uint8_t* in, size_t p) { return hash_at(in + p); }

uint32_t adler32_of(std::string_view in, uint32_t adler) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(in.data());
    size_t n = in.size();
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    // 5552 bytes is the most that cannot overflow 32 bits before the modulus.
    while (n > 0) {
        size_t block = n < 5552 ? n : 5552;
        n -= block;
        while (block--) {
            a += *p++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

void zlib_compress(std::string& out, std::string_view in) { zlib_compress_rebased(out, in, int64_t(1) << 30); }

void zlib_compress_rebased(std::string& out, std::string_view input, int64_t rebase_every) {
    const Tables& t = tables();
    const uint8_t* in = reinterpret_cast<const uint8_t*>(input.data());
    const int64_t n = int64_t(input.size());

    // Header (deflate, 32 KiB window, fastest), then: last block, fixed codes.
    size_t start = out.size();
    // A literal takes at most 9 bits; matches are shorter than their bytes.
    out.resize(start + 2 + size_t(n) + size_t(n) / 8 + 16);
    uint8_t* base = reinterpret_cast<uint8_t*>(out.data()) + start;
    base[0] = 0x78;
    base[1] = 0x01;
    Fast_Bits bits{base + 2};
    bits.put(1 | 1 << 1, 3);

    // Positions are stored relative to `offset`, which moves forward (in
    // whole windows) so that they always fit 32 bits. The tables live as
    // long as the thread: a fresh pair per stream costs more than packing a
    // small file. Between streams every head is -1; `prev` needs no reset,
    // as a link is only read at a position inserted by this stream.
    Match_Tables& m = match_tables();
    int32_t* head = m.head.get();
    int32_t* prev = m.prev.get();
    int64_t offset = 0;
    // A move keeps the last two windows, so it must be rarer than that.
    rebase_every = std::max<int64_t>(rebase_every, 4 * hash_size);

    auto insert = [&](int64_t q) {
        uint32_t h = hash_at(in + q);
        prev[size_t(q & window_mask)] = head[h];
        head[h] = int32_t(q - offset);
    };

    int64_t p = 0;
    while (p < n) {
        if (p - offset >= rebase_every && p >= 2 * hash_size) {
            int64_t next = (p - 2 * hash_size) & ~int64_t(window_mask);
            int64_t shift = next - offset;
            for (int32_t* table : {head, prev}) {
                for (int i = 0; i < hash_size; i++) {
                    int64_t v = int64_t(table[i]) - shift;
                    table[i] = table[i] < 0 || v < 0 ? -1 : int32_t(v);
                }
            }
            offset = next;
        }
        int best = 0;
        int64_t best_distance = 0;
        if (p + 2 < n) {
            const int32_t p_rel = int32_t(p - offset);
            const int limit = int(n - p < deflate_max_match ? n - p : deflate_max_match);
            const uint8_t* here = in + p;
            int32_t c = head[hash_at(here)];
            int steps = 0;
            while (c >= 0) {
                int64_t d = int64_t(p_rel) - c;
                if (d > deflate_max_distance || steps >= deflate_chain_limit) break;
                const uint8_t* there = here - d;
                // A candidate can only beat `best` when its bytes up to and
                // including there[best] agree: the last four are looked at
                // first (best is 3 or more once a match was kept).
                bool worth = best == 0;
                if (!worth && best < limit) {
                    if (best >= 3) {
                        uint32_t a, b;
                        std::memcpy(&a, there + best - 3, 4);
                        std::memcpy(&b, here + best - 3, 4);
                        worth = a == b;
                    } else {
                        worth = there[best] == here[best];
                    }
                }
                if (worth) {
                    int len = match_length(there, here, limit);
                    if (len == deflate_max_match) {
                        best = len;
                        best_distance = d;
                        break;
                    }
                    if (len > best) {
                        best = len;
                        best_distance = d;
                    }
                }
                int32_t next = prev[size_t((c + offset) & window_mask)];
                if (!(next < c)) break;
                steps++;
                c = next;
            }
        }
        if (best >= 3) {
            const Code& lc = t.length[best];
            bits.put(lc.bits, lc.length);
            uint32_t d = uint32_t(best_distance);
            int j = t.distance_index[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)];
            const Code& dc = t.distance_symbol[j];
            bits.put(dc.bits | (d - distance_base[j]) << 5, 5 + distance_extra[j]);
            int64_t end = p + best;
            int64_t last = end < n - 2 ? end : n - 2;
            for (int64_t q = p; q < last; q++) insert(q);
            p = end;
        } else {
            const Code& c = t.literal[in[p]];
            bits.put(c.bits, c.length);
            if (p + 2 < n) insert(p);
            p++;
        }
    }
    // Leave every head at -1 for the next stream: a short input clears what
    // it set, a long one clears the whole table.
    if (n < hash_size / 4) {
        for (int64_t q = 0; q + 2 < n; q++) head[hash_at(in + q)] = -1;
    } else {
        std::fill(head, head + hash_size, -1);
    }
    // End of block: symbol 256 is seven zero bits.
    bits.count += 7;
    while (bits.count > 0) {
        *bits.at++ = uint8_t(bits.acc);
        bits.acc >>= 8;
        bits.count = bits.count >= 8 ? bits.count - 8 : 0;
    }
    uint32_t adler = adler32_of(input);
    for (int i = 3; i >= 0; i--) *bits.at++ = uint8_t(adler >> (8 * i));
    out.resize(size_t(bits.at - reinterpret_cast<uint8_t*>(out.data())));
}
