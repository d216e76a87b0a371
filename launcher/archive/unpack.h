// RAR 5.0 decompressor (algorithm version 0): blocks of Huffman-coded
// symbols over an LZ77 history with four repeat distances, and the format's
// four filters (delta, E8, E8E9, ARM).
//
// An entry is decoded into a window that keeps the history its dictionary
// declares and hands the bytes on in order as they are done, so that a large
// entry costs its dictionary in memory, not its size; the packed data are
// read in pieces of a few blocks. Filters run on a copy of their block as it
// is handed on, in the order they were read, so matches see the unfiltered
// history.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace rar5 {

// Bits are taken most significant first. The input is followed by
// `read_ahead` (16) readable zero bytes, so a peek near the end is safe.
struct Bit_Reader {
    const uint8_t* data = nullptr;
    size_t size = 0;       // the data length, without the spare bytes
    size_t pos = 0;        // byte position
    uint32_t bit = 0;      // bit position in that byte, 0 to 7

    // The next 16 bits, without consuming them.
    uint32_t peek16() const {
        const uint8_t* p = data + pos;
        uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
        return (v >> (8 - bit)) & 0xFFFF;
    }
    void skip(uint32_t n) {
        n += bit;
        pos += n >> 3;
        bit = n & 7;
    }
    // Takes n bits (0 to 16).
    uint32_t take(uint32_t n) {
        if (n == 0) return 0;
        uint32_t v = peek16() >> (16 - n);
        skip(n);
        return v;
    }
    bool past_end() const { return pos > size; }
};

struct Block_Header {
    size_t block_start = 0;    // byte position of the block's data
    size_t block_size = 0;     // bytes
    uint32_t last_bits = 8;    // bits used in the block's last byte, 1 to 8
    bool last_block = false;
    bool table_present = false;
};

// One canonical Huffman decode table.
struct Decode_Table {
    uint32_t symbol_count = 0;
    uint32_t limit[16] = {};      // left-aligned 16-bit code value below which codes of that length lie
    uint32_t first_pos[16] = {};  // index into `symbols` of the first code of each length
    uint16_t symbols[306] = {};   // sorted by code length, then symbol
    uint8_t quick_len[1024] = {};
    uint16_t quick_symbol[1024] = {};
};

inline constexpr uint32_t ld_count = 306;   // literals, filter, repeats, length slots
inline constexpr uint32_t dd_count = 64;    // distance slots
inline constexpr uint32_t ldd_count = 16;   // low 4 bits of long distances
inline constexpr uint32_t rd_count = 44;    // length slots of repeated distances
inline constexpr uint32_t bc_count = 20;    // the bit-length code
inline constexpr uint32_t table_lengths = ld_count + dd_count + ldd_count + rd_count;   // 430

struct Table_Set {
    Decode_Table ld, dd, ldd, rd;
};

struct Filter {
    int64_t block_start = 0;   // absolute output position
    int64_t block_length = 0;
    int type = 0;              // 0 delta, 1 E8, 2 E8E9, 3 ARM
    int channels = 0;          // delta only, 1 to 32
};

inline constexpr int64_t filter_length_max = 0x400000;   // longer filters are dropped

bool read_block_header(Bit_Reader& in, Block_Header& out);
void build_decode_table(const uint8_t* lengths, uint32_t count, Decode_Table& table);
uint32_t decode_symbol(Bit_Reader& in, const Decode_Table& table);
bool read_tables(Bit_Reader& in, Table_Set& tables);
uint32_t read_filter_number(Bit_Reader& in);
// Runs the filter over its block, `data` being the block's first byte.
void apply_filter(const Filter& f, uint8_t* data);

// Reads `count` bytes at `offset` of the packed data into `out`; false
// (with its own reason set) when it cannot.
using Unpack_Read = std::function<bool(uint64_t offset, size_t count, uint8_t* out)>;
// Takes the next unpacked bytes; false stops the decoding (with its own
// reason set).
using Unpack_Write = std::function<bool(const uint8_t* data, size_t size)>;

// Decodes `packed_size` bytes of packed data into exactly `out_size` bytes,
// handed to `write` in order, keeping `dictionary` bytes of history (a match
// that reaches further back fails). On false `rar5_error` holds the reason,
// unless `read` or `write` failed.
bool unpack_stream(const Unpack_Read& read, uint64_t packed_size, uint64_t out_size, uint64_t dictionary,
                   const Unpack_Write& write);
// Decodes `packed` (`packed_size` bytes followed by 16 zero bytes) into
// exactly `out_size` bytes. On false `rar5_error` holds the reason.
bool unpack(const uint8_t* packed, size_t packed_size, uint8_t* out, size_t out_size);

}  // namespace rar5
