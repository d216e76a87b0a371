// RAR 5.0 decompressor. See unpack.h.
//
// Reads never go past the 16 spare bytes: a block header must lie within
// the data, every symbol of a block starts at or before the data's end and
// takes at most 10 bytes, and table reading checks the position after each
// length it reads.
#include "launcher/archive/unpack.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>

#include "launcher/archive/rar5.h"

#if defined(__GNUC__)
#define QM_INLINE inline __attribute__((always_inline))
#define QM_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define QM_INLINE inline
#define QM_UNLIKELY(x) (x)
#endif

namespace rar5 {

namespace {

constexpr uint32_t quick_bits = 10;

bool fail(const char* why) {
    rar5_error = why;
    return false;
}

// Length from a length slot (main-table slots and RD slots alike).
QM_INLINE uint32_t slot_to_length(Bit_Reader& in, uint32_t slot) {
    if (slot < 8) return slot + 2;
    uint32_t bits = slot / 4 - 1;
    return 2 + ((4 + (slot & 3)) << bits) + in.take(bits);
}

uint32_t read_distance(Bit_Reader& in, const Table_Set& t) {
    uint32_t slot = decode_symbol(in, t.dd);
    if (slot < 4) return slot + 1;
    uint32_t bits = slot / 2 - 1;
    uint32_t distance = ((2 + (slot & 1)) << bits) + 1;
    if (bits < 4) return distance + in.take(bits);
    uint32_t high = bits - 4;   // at most 26 bits, taken in two parts
    uint32_t v = 0;
    if (high > 16) {
        v = in.take(high - 16) << 16;
        high = 16;
    }
    v |= in.take(high);
    return distance + (v << 4) + decode_symbol(in, t.ldd);
}

// The filters of an entry: at most 8192, or one for every 4 KiB of output
// when that is more, and together at most four times the output (plus
// 4 MiB), so that a flood of filters can neither fill memory nor stall the
// output.
struct Filter_List {
    uint64_t count = 0;
    uint64_t max_count = 0;
    uint64_t max_total = 0;
    uint64_t total = 0;

    explicit Filter_List(uint64_t out_size)
        : max_count(std::max<uint64_t>(8192, out_size / 4096)), max_total(4 * out_size + filter_length_max) {}

    bool add(const Filter& f) {
        if (count >= max_count || total + uint64_t(f.block_length) > max_total) return false;
        total += uint64_t(f.block_length);
        count++;
        return true;
    }
};

}  // namespace

bool read_block_header(Bit_Reader& in, Block_Header& out) {
    if (in.bit != 0) {
        in.pos++;
        in.bit = 0;
    }
    if (in.pos + 2 > in.size) return false;
    uint8_t flags = in.data[in.pos];
    uint8_t checksum = in.data[in.pos + 1];
    uint32_t size_bytes = ((flags >> 3) & 3) + 1;
    if (size_bytes == 4) return false;
    if (in.pos + 2 + size_bytes > in.size) return false;
    size_t block_size = 0;
    uint8_t sum = checksum ^ flags;
    for (uint32_t i = 0; i < size_bytes; i++) {
        uint8_t b = in.data[in.pos + 2 + i];
        sum ^= b;
        block_size |= size_t(b) << (8 * i);
    }
    if (sum != 0x5A) return false;
    in.pos += 2 + size_bytes;
    if (block_size > in.size - in.pos) return false;
    out.block_start = in.pos;
    out.block_size = block_size;
    out.last_bits = (flags & 7) + 1;
    out.last_block = (flags & 0x40) != 0;
    out.table_present = (flags & 0x80) != 0;
    return true;
}

void build_decode_table(const uint8_t* lengths, uint32_t count, Decode_Table& t) {
    t.symbol_count = count;
    uint32_t counts[16] = {};
    for (uint32_t i = 0; i < count; i++) counts[lengths[i] & 15]++;
    counts[0] = 0;
    t.limit[0] = 0;
    t.first_pos[0] = 0;
    uint32_t running = 0;
    for (uint32_t len = 1; len < 16; len++) {
        running += counts[len];
        t.limit[len] = running << (16 - len);
        running *= 2;
        t.first_pos[len] = t.first_pos[len - 1] + counts[len - 1];
    }
    uint32_t next[16];
    std::memcpy(next, t.first_pos, sizeof next);
    std::memset(t.symbols, 0, sizeof t.symbols);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t len = lengths[i] & 15;
        if (len != 0) t.symbols[next[len]++] = uint16_t(i);
    }
    uint32_t len = 1;
    for (uint32_t code = 0; code < (1u << quick_bits); code++) {
        uint32_t value = code << (16 - quick_bits);
        while (len < 16 && value >= t.limit[len]) len++;
        t.quick_len[code] = uint8_t(len);
        if (len < 16) {
            uint32_t pos = t.first_pos[len] + ((value - t.limit[len - 1]) >> (16 - len));
            t.quick_symbol[code] = pos < count ? t.symbols[pos] : 0;
        } else {
            t.quick_symbol[code] = 0;
        }
    }
}

QM_INLINE uint32_t decode_symbol_inline(Bit_Reader& in, const Decode_Table& t) {
    uint32_t value = in.peek16() & 0xFFFE;
    if (value < t.limit[quick_bits]) {
        uint32_t code = value >> (16 - quick_bits);
        in.skip(t.quick_len[code]);
        return t.quick_symbol[code];
    }
    uint32_t len = 15;
    for (uint32_t l = quick_bits + 1; l < 15; l++) {
        if (value < t.limit[l]) {
            len = l;
            break;
        }
    }
    in.skip(len);
    uint32_t pos = t.first_pos[len] + ((value - t.limit[len - 1]) >> (16 - len));
    return pos < t.symbol_count ? t.symbols[pos] : t.symbols[0];
}

uint32_t decode_symbol(Bit_Reader& in, const Decode_Table& t) { return decode_symbol_inline(in, t); }

bool read_tables(Bit_Reader& in, Table_Set& tables) {
    uint8_t bc_lengths[bc_count] = {};
    for (uint32_t i = 0; i < bc_count; i++) {
        if (in.past_end()) return false;
        uint32_t len = in.take(4);
        if (len == 15) {
            uint32_t zeros = in.take(4);
            if (zeros == 0) {
                bc_lengths[i] = 15;
            } else {
                for (uint32_t z = 0; z < zeros + 2 && i < bc_count; z++) bc_lengths[i++] = 0;
                i--;
            }
        } else {
            bc_lengths[i] = uint8_t(len);
        }
    }
    if (in.past_end()) return false;
    Decode_Table bc;
    build_decode_table(bc_lengths, bc_count, bc);

    uint8_t lengths[table_lengths] = {};
    for (uint32_t i = 0; i < table_lengths;) {
        if (in.past_end()) return false;
        uint32_t symbol = decode_symbol_inline(in, bc);
        if (symbol < 16) {
            lengths[i++] = uint8_t(symbol);
        } else if (symbol < 18) {
            uint32_t n = symbol == 16 ? 3 + in.take(3) : 11 + in.take(7);
            if (i == 0) return false;
            uint8_t previous = lengths[i - 1];
            for (; n > 0 && i < table_lengths; n--) lengths[i++] = previous;
        } else {
            uint32_t n = symbol == 18 ? 3 + in.take(3) : 11 + in.take(7);
            for (; n > 0 && i < table_lengths; n--) lengths[i++] = 0;
        }
    }
    if (in.past_end()) return false;
    build_decode_table(lengths, ld_count, tables.ld);
    build_decode_table(lengths + ld_count, dd_count, tables.dd);
    build_decode_table(lengths + ld_count + dd_count, ldd_count, tables.ldd);
    build_decode_table(lengths + ld_count + dd_count + ldd_count, rd_count, tables.rd);
    return true;
}

uint32_t read_filter_number(Bit_Reader& in) {
    uint32_t bytes = in.take(2) + 1;
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; i++) v |= in.take(8) << (8 * i);
    return v;
}

void apply_filter(const Filter& f, uint8_t* data) {
    int64_t length = f.block_length;
    switch (f.type) {
    case 0: {   // delta
        std::vector<uint8_t> scratch(static_cast<size_t>(length));
        size_t k = 0;
        for (int c = 0; c < f.channels; c++) {
            uint8_t running = 0;
            for (int64_t j = c; j < length; j += f.channels) {
                running = uint8_t(running - data[k++]);
                scratch[size_t(j)] = running;
            }
        }
        if (length > 0) std::memcpy(data, scratch.data(), size_t(length));
        break;
    }
    case 1:   // E8
    case 2: { // E8E9
        const uint32_t file_size = 0x1000000;
        for (int64_t i = 0; i + 4 < length;) {
            uint8_t b = data[i];
            if (b == 0xE8 || (f.type == 2 && b == 0xE9)) {
                uint8_t* p = data + i + 1;
                uint32_t raw = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
                int64_t a = int32_t(raw);
                int64_t offset = (f.block_start + i + 1) % file_size;
                bool store = false;
                int64_t v = 0;
                if (a < 0) {
                    if (a + offset >= 0) {
                        v = a + file_size;
                        store = true;
                    }
                } else if (a < int64_t(file_size)) {
                    v = a - offset;
                    store = true;
                }
                if (store) {
                    uint32_t w = uint32_t(v);
                    p[0] = uint8_t(w);
                    p[1] = uint8_t(w >> 8);
                    p[2] = uint8_t(w >> 16);
                    p[3] = uint8_t(w >> 24);
                }
                i += 5;
            } else {
                i++;
            }
        }
        break;
    }
    case 3: {   // ARM
        for (int64_t i = 0; i + 3 < length; i += 4) {
            uint8_t* p = data + i;
            if (p[3] != 0xEB) continue;
            uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            v -= uint32_t((f.block_start + i) / 4);
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
        }
        break;
    }
    default:
        break;
    }
}

namespace {

// A block's header and data: the most the reader needs in its buffer at once.
constexpr size_t block_span = (size_t(1) << 24) + 8;
// More than one symbol can write (a match of at most 4,100 bytes).
constexpr size_t symbol_room = 8192;

// The packed data, read in pieces: before each block header the buffer
// holds at least block_span bytes from the reader's byte on (or the rest
// of the data), followed by read_ahead bytes of the data that follows (or
// zeros at its end), so the reader sees what it would see in one buffer of
// the whole data.
struct Input {
    const Unpack_Read& read;
    uint64_t size = 0;             // of the packed data
    uint64_t base = 0;             // packed offset of buf[0]
    std::vector<uint8_t> buf;
    Bit_Reader in;

    Input(const Unpack_Read& r, uint64_t packed_size) : read(r), size(packed_size) {
        buf.resize(size_t(std::min<uint64_t>(packed_size, 2 * block_span)) + read_ahead);
        in.data = buf.data();
    }

    // False when the data cannot be read (the read has said why).
    bool refill() {
        if (base + in.size >= size && (base > 0 || in.size > 0 || size == 0)) return true;
        if (in.pos <= in.size && in.size - in.pos >= block_span) return true;
        size_t shift = in.pos;
        size_t keep = in.pos <= in.size ? in.size - in.pos : 0;
        if (keep > 0) std::memmove(buf.data(), buf.data() + shift, keep);
        base += shift;
        in.pos = 0;
        size_t window = buf.size() - read_ahead;
        size_t valid = size_t(std::min<uint64_t>(window, size - base));
        size_t with_spare = size_t(std::min<uint64_t>(valid + read_ahead, size - base));
        if (with_spare > keep && !read(base + keep, with_spare - keep, buf.data() + keep)) return false;
        std::memset(buf.data() + with_spare, 0, buf.size() - with_spare);
        in.size = valid;
        return true;
    }
};

// The unpacked bytes: a window that holds the history the matches reach
// (the dictionary) and what is not yet handed on, moved down as the output
// grows. Filters are applied to a copy as their bytes are handed on, so the
// history stays unfiltered.
struct Output {
    const Unpack_Write& write;
    uint64_t size = 0;             // of the unpacked data
    uint64_t keep = 0;             // history kept for matches
    uint8_t* win = nullptr;
    size_t cap = 0;
    uint64_t base = 0;             // absolute position of win[0]
    uint64_t pos = 0;              // bytes decoded
    uint64_t written = 0;          // bytes handed on
    std::deque<Filter> pending;    // in the order they were read
    std::vector<uint8_t> scratch;

    explicit Output(const Unpack_Write& w) : write(w) {}

    // Hands on what is decoded, up to the next filter that is not whole yet.
    bool flush() {
        while (written < pos) {
            uint64_t upto = pos;
            if (!pending.empty()) {
                const Filter& f = pending.front();
                uint64_t start = uint64_t(f.block_start), end = start + uint64_t(f.block_length);
                if (start < written) return fail("filter out of range");
                if (start == written) {
                    if (pos < end) return true;
                    scratch.assign(win + (start - base), win + (end - base));
                    apply_filter(f, scratch.data());
                    if (!scratch.empty() && !write(scratch.data(), scratch.size())) return false;
                    written = end;
                    pending.pop_front();
                    continue;
                }
                upto = std::min(upto, start);
            }
            if (!write(win + (written - base), size_t(upto - written))) return false;
            written = upto;
        }
        // Zero-length filters at the end.
        while (!pending.empty() && uint64_t(pending.front().block_start) == written && pending.front().block_length == 0)
            pending.pop_front();
        return true;
    }

    // Makes room for one more symbol: hands on what it can and drops what
    // is neither history nor waiting for a filter.
    bool make_room() {
        if (!flush()) return false;
        uint64_t drop = std::min(written, pos - std::min(pos, keep));
        if (drop > base) {
            std::memmove(win, win + (drop - base), size_t(pos - drop));
            base = drop;
        }
        if (pos - base + symbol_room > cap) return fail("filter out of range");
        return true;
    }
};

}  // namespace

bool unpack_stream(const Unpack_Read& read, uint64_t packed_size, uint64_t out_size, uint64_t dictionary,
                   const Unpack_Write& write) {
    Input input(read, packed_size);
    Bit_Reader& in = input.in;
    Output o(write);
    o.size = out_size;
    o.keep = std::min(out_size, std::max<uint64_t>(dictionary, 1));
    // The whole output when it is not much larger than the history a match
    // may reach; otherwise twice that history and a filter's block, so that
    // moving the window down costs at most one more copy of each byte.
    uint64_t span = o.keep + uint64_t(filter_length_max) + symbol_room;
    uint64_t cap = out_size + symbol_room <= 2 * span ? out_size + symbol_room : 2 * span;
    std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[size_t(cap)]);
    if (!storage) return fail("not enough memory");
    o.win = storage.get();
    o.cap = size_t(cap);

    if (!input.refill()) return false;
    Block_Header block;
    if (!read_block_header(in, block)) return fail("bad first block header");
    Table_Set tables;
    if (!block.table_present || !read_tables(in, tables)) return fail("bad first tables");

    uint64_t history[4] = {0, 0, 0, 0};
    uint32_t last_length = 0;
    Filter_List filters(out_size);
    size_t block_last = block.block_start + block.block_size - 1;   // may wrap for an empty block

    // Copies a match, cut at the end of the output.
    auto copy_match = [&](uint32_t length, uint64_t distance) -> bool {
        if (QM_UNLIKELY(distance == 0 || distance > o.pos)) return fail("distance before the start");
        if (QM_UNLIKELY(distance > o.pos - o.base)) return fail("distance past the dictionary");
        size_t n = size_t(std::min<uint64_t>(length, o.size - o.pos));
        uint8_t* dst = o.win + (o.pos - o.base);
        const uint8_t* src = dst - distance;
        if (distance >= n) {
            std::memcpy(dst, src, n);
        } else if (distance == 1) {
            std::memset(dst, src[0], n);
        } else {
            for (size_t i = 0; i < n; i++) dst[i] = src[i];
        }
        o.pos += n;
        return true;
    };

    while (o.pos < o.size) {
        if (QM_UNLIKELY(o.pos - o.base + symbol_room > o.cap) && !o.make_room()) return false;
        if (in.pos + 1 > block.block_start + block.block_size ||   // past the last byte (or an empty block)
            (in.pos == block_last && in.bit >= block.last_bits)) {
            if (block.last_block) break;
            if (in.bit != 0) {
                in.pos++;
                in.bit = 0;
            }
            if (!input.refill()) return false;
            if (!read_block_header(in, block)) return fail("bad block header");
            if (block.table_present && !read_tables(in, tables)) return fail("bad tables");
            block_last = block.block_start + block.block_size - 1;
            continue;
        }
        if (QM_UNLIKELY(in.past_end())) return fail("read past the data");

        uint32_t symbol = decode_symbol_inline(in, tables.ld);
        if (symbol < 256) {
            o.win[o.pos++ - o.base] = uint8_t(symbol);
            continue;
        }
        if (symbol >= 262) {
            uint32_t length = slot_to_length(in, symbol - 262);
            uint64_t distance = read_distance(in, tables);
            if (distance > 0x100) {
                length++;
                if (distance > 0x2000) {
                    length++;
                    if (distance > 0x40000) length++;
                }
            }
            history[3] = history[2];
            history[2] = history[1];
            history[1] = history[0];
            history[0] = distance;
            last_length = length;
            if (!copy_match(length, distance)) return false;
            continue;
        }
        if (symbol == 256) {
            Filter f;
            f.block_start = int64_t(o.pos) + read_filter_number(in);
            f.block_length = read_filter_number(in);
            f.type = int(in.take(3));
            if (f.type == 0) f.channels = int(in.take(5)) + 1;
            if (f.type < 4 && f.block_length <= filter_length_max) {
                if (uint64_t(f.block_start) + uint64_t(f.block_length) > o.size) return fail("filter out of range");
                if (!filters.add(f)) return fail("too many filters");
                o.pending.push_back(f);
            }
            continue;
        }
        if (symbol == 257) {
            if (last_length != 0 && !copy_match(last_length, history[0])) return false;
            continue;
        }
        uint32_t index = symbol - 258;
        uint64_t distance = history[index];
        for (uint32_t i = index; i > 0; i--) history[i] = history[i - 1];
        history[0] = distance;
        uint32_t length = slot_to_length(in, decode_symbol_inline(in, tables.rd));
        last_length = length;
        if (!copy_match(length, distance)) return false;
    }
    if (o.pos < o.size) return fail("data ended early");
    if (!o.flush()) return false;
    if (o.written < o.size || !o.pending.empty()) return fail("filter out of range");
    return true;
}

bool unpack(const uint8_t* packed, size_t packed_size, uint8_t* out, size_t out_size) {
    size_t at = 0;
    Unpack_Read read = [&](uint64_t offset, size_t count, uint8_t* to) {
        std::memcpy(to, packed + offset, count);
        return true;
    };
    Unpack_Write write = [&](const uint8_t* data, size_t size) {
        std::memcpy(out + at, data, size);
        at += size;
        return true;
    };
    return unpack_stream(read, packed_size, out_size, out_size, write);
}

}  // namespace rar5
