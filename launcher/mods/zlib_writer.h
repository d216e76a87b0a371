// Our own zlib stream writer: one final deflate block with the fixed Huffman
// codes, greedy LZ77 over a hash chain, and the zlib wrapper. The same input
// always gives the same bytes (the ".z" caches of the mod data rely on it).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends one complete zlib stream holding `in` to `out`. Any length works:
// positions are kept 64-bit wide (see zlib_compress_rebased).
void zlib_compress(std::string& out, std::string_view in);

// The bit writer: bytes go out least significant bit first.
struct Bit_Writer {
    std::string* out = nullptr;
    uint64_t acc = 0;
    int count = 0;
};
// ORs `value` (at most 32 bits) in above the bits held and moves out whole
// bytes, low byte first.
void bits_put(Bit_Writer& w, uint32_t value, int count);
// The fixed Huffman code of a literal/length symbol (0..287), most
// significant code bit first.
void fixed_code(Bit_Writer& w, int symbol);
// The 15-bit hash of the three bytes at in[p] (the caller guarantees them).
uint32_t hash3(const uint8_t* in, size_t p);
// Adler-32 of the bytes (RFC 1950), continuing from `adler` (1 to start).
uint32_t adler32_of(std::string_view in, uint32_t adler = 1);

// The longest back-reference and how far the match search walks.
inline constexpr int deflate_max_match = 258;
inline constexpr int64_t deflate_max_distance = 32767;
inline constexpr int deflate_chain_limit = 64;

// zlib_compress with the hash tables' positions kept as 32-bit offsets from
// a base that moves forward once a position is `rebase_every` bytes past it
// (zlib_compress uses 1 GiB; at least 128 KiB). Positions that fall out of reach on a move are
// forgotten, so the output never depends on where the base lies; tests use a
// small value to show that.
void zlib_compress_rebased(std::string& out, std::string_view in, int64_t rebase_every);
