// A small RAR 5.0 writer for tests and benchmarks: archive blocks (main,
// file, end) with every field under the caller's control, and a compressor
// for algorithm version 0: greedy LZ77 with a hash chain, the four repeat
// distances and repeat-last, the filters (the writer runs each filter's
// forward transform over its block), and canonical Huffman tables per group
// of blocks (the later blocks of a group reuse the first one's tables).
//
// Everything it writes is checked against two independent readers (bsdtar
// and unar) by the tests.
#pragma once
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <queue>
#include <string>
#include <string_view>
#include <vector>

namespace rar5_writer {

// ---------------------------------------------------------------- basics

inline void put_vint(std::string& s, uint64_t v) {
    do {
        uint8_t b = uint8_t(v & 0x7F);
        v >>= 7;
        if (v) b |= 0x80;
        s.push_back(char(b));
    } while (v);
}

inline void put_u32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; i++) s.push_back(char(uint8_t(v >> (8 * i))));
}

inline uint32_t crc32_of(std::string_view d) {
    uLong c = 0;
    size_t at = 0;
    while (at < d.size()) {
        uInt piece = uInt(std::min<size_t>(d.size() - at, 1u << 30));
        c = ::crc32(c, reinterpret_cast<const Bytef*>(d.data() + at), piece);
        at += piece;
    }
    return uint32_t(c);
}

struct Bit_Writer {
    std::string bytes;
    uint32_t bit = 0;   // bits used in the last byte (0: none started)

    void put(uint32_t value, uint32_t n) {   // n up to 32, most significant first
        for (int i = int(n) - 1; i >= 0; i--) {
            if (bit == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() = char(uint8_t(bytes.back()) | (0x80 >> bit));
            bit = (bit + 1) & 7;
        }
    }
    uint64_t bit_count() const { return bytes.size() * 8 - (bit ? 8 - bit : 0); }
};

// ---------------------------------------------------------------- Huffman

// Code lengths (at most `max_len`) for the frequencies; symbols with
// frequency 0 get no code. At least two symbols get a code when any does.
inline std::vector<uint8_t> code_lengths(std::vector<uint64_t> freq, uint32_t max_len = 15) {
    size_t n = freq.size();
    std::vector<uint8_t> len(n, 0);
    size_t used = 0;
    for (uint64_t f : freq) used += f != 0;
    if (used == 0) return len;
    if (used == 1) {   // a lone symbol gets a partner, so that both have one-bit codes
        for (size_t i = 0; i < n; i++) {
            if (freq[i] == 0) {
                freq[i] = 1;
                break;
            }
        }
    }
    for (;;) {
        struct Node {
            uint64_t f;
            int left, right;
        };
        std::vector<Node> nodes;
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
        for (size_t i = 0; i < n; i++) {
            if (freq[i] == 0) continue;
            nodes.push_back({freq[i], -1, int(i)});
            q.push({freq[i], int(nodes.size() - 1)});
        }
        while (q.size() > 1) {
            auto a = q.top();
            q.pop();
            auto b = q.top();
            q.pop();
            nodes.push_back({a.first + b.first, a.second, b.second});
            q.push({a.first + b.first, int(nodes.size() - 1)});
        }
        std::fill(len.begin(), len.end(), 0);
        uint32_t deepest = 0;
        std::vector<std::pair<int, uint32_t>> stack{{q.top().second, 0}};
        while (!stack.empty()) {
            auto [node, depth] = stack.back();
            stack.pop_back();
            if (nodes[size_t(node)].left < 0) {
                len[size_t(nodes[size_t(node)].right)] = uint8_t(std::max<uint32_t>(depth, 1));
                deepest = std::max(deepest, depth);
            } else {
                stack.push_back({nodes[size_t(node)].left, depth + 1});
                stack.push_back({nodes[size_t(node)].right, depth + 1});
            }
        }
        if (deepest <= max_len) return len;
        for (uint64_t& f : freq)
            if (f) f = (f + 1) / 2;
    }
}

// Canonical codes: shorter codes first, then by symbol number.
inline std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& len) {
    std::vector<uint32_t> code(len.size(), 0);
    uint32_t next = 0;
    for (uint32_t l = 1; l <= 15; l++) {
        for (size_t s = 0; s < len.size(); s++) {
            if (len[s] == l) code[s] = next++;
        }
        next <<= 1;
    }
    return code;
}

// ---------------------------------------------------------------- compressor

struct Filter_Spec {
    size_t start = 0, length = 0;
    int type = 1;        // 0 delta, 1 E8, 2 E8E9, 3 ARM
    int channels = 1;    // delta only
    uint32_t offset = 0; // the start as written: bytes after the position of the filter's symbol
};

struct Compress_Options {
    size_t block_tokens = 1 << 16;   // symbols per block
    size_t blocks_per_table = 1;     // later blocks of a group reuse the first one's tables
    size_t window = 4 << 20;         // the farthest match distance
    int chain = 16;                  // hash-chain steps per position
    bool matches = true;             // false: literals only
    bool reps = true;                // use the repeat distances and repeat-last
    std::vector<Filter_Spec> filters;   // in order of start, not overlapping
};

// The forward transform of a filter over its block (the decoder undoes it).
inline void filter_forward(const Filter_Spec& f, uint8_t* d) {
    const int64_t file_size = 0x1000000;
    if (f.type == 1 || f.type == 2) {
        for (size_t i = 0; i + 4 < f.length;) {
            if (d[i] == 0xE8 || (f.type == 2 && d[i] == 0xE9)) {
                uint8_t* p = d + i + 1;
                int64_t r = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
                int64_t offset = int64_t((f.start + i + 1) % uint64_t(file_size));
                int64_t e = r;
                if (r >= -offset && r < file_size - offset) e = r + offset;
                else if (r >= file_size - offset && r < file_size) e = r - file_size;
                uint32_t w = uint32_t(e);
                for (int k = 0; k < 4; k++) p[k] = uint8_t(w >> (8 * k));
                i += 5;
            } else {
                i++;
            }
        }
    } else if (f.type == 3) {
        for (size_t i = 0; i + 3 < f.length; i += 4) {
            uint8_t* p = d + i;
            if (p[3] != 0xEB) continue;
            uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            v += uint32_t((f.start + i) / 4);
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
        }
    } else if (f.type == 0) {
        std::vector<uint8_t> enc(f.length);
        size_t k = 0;
        for (int c = 0; c < f.channels; c++) {
            uint8_t prev = 0;
            for (size_t j = size_t(c); j < f.length; j += size_t(f.channels)) {
                enc[k++] = uint8_t(prev - d[j]);
                prev = d[j];
            }
        }
        std::memcpy(d, enc.data(), f.length);
    }
}

struct Token {
    enum Kind : uint8_t { Literal, Match, Rep, Repeat_Last, Filter } kind;
    uint32_t a = 0;   // literal byte, match / rep length, filter index
    uint32_t b = 0;   // match distance, rep index
};

inline uint32_t length_slot(uint32_t length, uint32_t& extra, uint32_t& extra_bits) {
    uint32_t v = length - 2;
    if (v < 8) {
        extra_bits = 0;
        extra = 0;
        return v;
    }
    for (uint32_t s = 8; s < 44; s++) {
        uint32_t bits = s / 4 - 1;
        uint32_t base = (4 + (s & 3)) << bits;
        if (v >= base && v < base + (1u << bits)) {
            extra_bits = bits;
            extra = v - base;
            return s;
        }
    }
    extra_bits = 0;
    extra = 0;
    return 0;   // not reached for lengths up to 4097
}

inline uint32_t distance_bonus(uint32_t d) { return (d > 0x100) + (d > 0x2000) + (d > 0x40000); }

inline constexpr uint32_t max_length = 4097;

// Turns data (already filtered) into tokens.
inline std::vector<Token> tokenize(const std::string& data, const Compress_Options& o) {
    std::vector<Token> out;
    const auto* d = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    const uint32_t hash_bits = 18;
    std::vector<int64_t> head(size_t(1) << hash_bits, -1);
    std::vector<int64_t> prev(o.matches ? n : 0, -1);
    auto hash = [&](size_t i) { return (uint32_t(d[i]) | uint32_t(d[i + 1]) << 8 | uint32_t(d[i + 2]) << 16 | uint32_t(d[i + 3]) << 24) * 2654435761u >> (32 - hash_bits); };
    auto insert = [&](size_t i) {
        if (!o.matches || i + 4 > n) return;
        uint32_t h = hash(i);
        prev[i] = head[h];
        head[h] = int64_t(i);
    };
    uint32_t history[4] = {0, 0, 0, 0};
    uint32_t last_length = 0;
    size_t next_filter = 0;
    size_t pos = 0;
    while (pos < n) {
        while (next_filter < o.filters.size() && o.filters[next_filter].start == pos) {
            out.push_back({Token::Filter, uint32_t(next_filter), 0});
            next_filter++;
        }
        size_t limit = n - pos;
        if (next_filter < o.filters.size()) limit = std::min(limit, o.filters[next_filter].start - pos);
        limit = std::min<size_t>(limit, max_length);
        auto match_len = [&](size_t from) {
            size_t l = 0;
            while (l < limit && d[from + l] == d[pos + l]) l++;
            return l;
        };
        uint32_t best_len = 0, best_dist = 0, rep_len = 0, rep_index = 0;
        if (o.matches && limit >= 2) {
            if (o.reps) {
                for (uint32_t k = 0; k < 4; k++) {
                    if (history[k] == 0 || history[k] > pos) continue;
                    uint32_t l = uint32_t(match_len(pos - history[k]));
                    if (l > rep_len) {
                        rep_len = l;
                        rep_index = k;
                    }
                }
            }
            if (limit >= 4 && pos + 4 <= n) {
                int64_t cand = head[hash(pos)];
                for (int steps = 0; cand >= 0 && steps < o.chain; steps++) {
                    size_t dist = pos - size_t(cand);
                    if (dist > o.window) break;
                    uint32_t l = uint32_t(match_len(size_t(cand)));
                    if (l > best_len && l >= 2 + distance_bonus(uint32_t(dist)) + 1) {
                        best_len = l;
                        best_dist = uint32_t(dist);
                        if (l == limit) break;
                    }
                    cand = prev[size_t(cand)];
                }
            }
        }
        uint32_t taken = 1;
        if (rep_len >= 2 && rep_len + 1 >= best_len) {
            if (rep_index == 0 && rep_len == last_length) {
                out.push_back({Token::Repeat_Last, rep_len, 0});
            } else {
                out.push_back({Token::Rep, rep_len, rep_index});
                uint32_t dist = history[rep_index];
                for (uint32_t i = rep_index; i > 0; i--) history[i] = history[i - 1];
                history[0] = dist;
                last_length = rep_len;
            }
            taken = rep_len;
        } else if (best_len >= 3) {
            out.push_back({Token::Match, best_len, best_dist});
            history[3] = history[2];
            history[2] = history[1];
            history[1] = history[0];
            history[0] = best_dist;
            last_length = best_len;
            taken = best_len;
        } else {
            out.push_back({Token::Literal, d[pos], 0});
        }
        for (uint32_t i = 0; i < taken; i++) insert(pos + i);
        pos += taken;
    }
    while (next_filter < o.filters.size() && o.filters[next_filter].start <= n) {   // an empty filter at the end
        out.push_back({Token::Filter, uint32_t(next_filter), 0});
        next_filter++;
    }
    return out;
}

struct Tables {
    std::vector<uint8_t> len[4];      // LD, DD, LDD, RD
    std::vector<uint32_t> code[4];
};

inline void filter_number(Bit_Writer& w, uint32_t v) {
    uint32_t bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
    w.put(bytes - 1, 2);
    for (uint32_t i = 0; i < bytes; i++) w.put((v >> (8 * i)) & 0xFF, 8);
}

// Calls sym(table, symbol) and bits(value, count) for one token.
template <typename Sym, typename Bits>
void token_symbols(const Token& t, const std::vector<Filter_Spec>& filters, Sym sym, Bits bits) {
    switch (t.kind) {
    case Token::Literal:
        sym(0, t.a);
        break;
    case Token::Filter: {
        const Filter_Spec& f = filters[t.a];
        sym(0, 256);
        bits(0xFFFFFFFF, 0);   // marker: the filter numbers follow (written by the caller)
        (void)f;
        break;
    }
    case Token::Repeat_Last:
        sym(0, 257);
        break;
    case Token::Rep: {
        sym(0, 258 + t.b);
        uint32_t extra, extra_bits;
        sym(3, length_slot(t.a, extra, extra_bits));
        bits(extra, extra_bits);
        break;
    }
    case Token::Match: {
        uint32_t extra, extra_bits;
        uint32_t slot = length_slot(t.a - distance_bonus(t.b), extra, extra_bits);
        sym(0, 262 + slot);
        bits(extra, extra_bits);
        uint32_t v = t.b - 1;
        if (v < 4) {
            sym(1, v);
        } else {
            uint32_t top = 31 - uint32_t(__builtin_clz(v));
            uint32_t dbits = top - 1;
            uint32_t dslot = 2 * (dbits + 1) + ((v >> dbits) & 1);
            uint32_t low = v & ((1u << dbits) - 1);
            sym(1, dslot);
            if (dbits < 4) {
                bits(low, dbits);
            } else {
                bits(low >> 4, dbits - 4);
                sym(2, low & 15);
            }
        }
        break;
    }
    }
}

inline void write_tables(Bit_Writer& w, const Tables& t) {
    std::vector<uint8_t> all;
    for (int k = 0; k < 4; k++) all.insert(all.end(), t.len[k].begin(), t.len[k].end());
    // Run-length form with the bit-length code's symbols 0..19.
    struct Item {
        uint32_t sym, extra, extra_bits;
    };
    std::vector<Item> items;
    for (size_t i = 0; i < all.size();) {
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i]) run++;
        if (all[i] == 0 && run >= 3) {
            run = std::min<size_t>(run, 138);
            if (run < 11) items.push_back({18, uint32_t(run - 3), 3});
            else items.push_back({19, uint32_t(run - 11), 7});
            i += run;
        } else if (i > 0 && all[i] == all[i - 1] && run >= 3) {
            run = std::min<size_t>(run, 138);
            if (run < 11) items.push_back({16, uint32_t(run - 3), 3});
            else items.push_back({17, uint32_t(run - 11), 7});
            i += run;
        } else {
            items.push_back({all[i], 0, 0});
            i++;
        }
    }
    std::vector<uint64_t> freq(20, 0);
    for (const Item& it : items) freq[it.sym]++;
    std::vector<uint8_t> bc = code_lengths(freq, 15);
    std::vector<uint32_t> bc_code = canonical_codes(bc);
    for (uint32_t i = 0; i < 20; i++) {
        w.put(bc[i], 4);
        if (bc[i] == 15) w.put(0, 4);
    }
    for (const Item& it : items) {
        w.put(bc_code[it.sym], bc[it.sym]);
        w.put(it.extra, it.extra_bits);
    }
}

// Codes a token list as blocks of `o.block_tokens` symbols (any tokens, so
// that tests can write streams a decoder must refuse).
inline std::string encode(const std::vector<Token>& tokens, const Compress_Options& o) {
    if (tokens.empty()) return {};
    const uint32_t counts[4] = {306, 64, 16, 44};
    std::string out;
    size_t block_tokens = std::max<size_t>(1, o.block_tokens);
    size_t group_tokens = block_tokens * std::max<size_t>(1, o.blocks_per_table);
    Tables tables;
    for (size_t start = 0; start < tokens.size(); start += block_tokens) {
        size_t end = std::min(tokens.size(), start + block_tokens);
        bool with_tables = start % group_tokens == 0;
        if (with_tables) {
            size_t group_end = std::min(tokens.size(), start + group_tokens);
            std::vector<uint64_t> freq[4];
            for (int k = 0; k < 4; k++) freq[k].assign(counts[k], 0);
            for (size_t i = start; i < group_end; i++)
                token_symbols(tokens[i], o.filters, [&](int k, uint32_t s) { freq[k][s]++; }, [](uint32_t, uint32_t) {});
            for (int k = 0; k < 4; k++) {
                tables.len[k] = code_lengths(freq[k], 15);
                tables.code[k] = canonical_codes(tables.len[k]);
            }
        }
        Bit_Writer w;
        if (with_tables) write_tables(w, tables);
        for (size_t i = start; i < end; i++) {
            const Token& t = tokens[i];
            token_symbols(
                t, o.filters, [&](int k, uint32_t s) { w.put(tables.code[k][s], tables.len[k][s]); },
                [&](uint32_t v, uint32_t n) {
                    if (n == 0 && v == 0xFFFFFFFF) {   // the filter's own fields
                        const Filter_Spec& f = o.filters[t.a];
                        filter_number(w, f.offset);
                        filter_number(w, uint32_t(f.length));
                        w.put(uint32_t(f.type), 3);
                        if (f.type == 0) w.put(uint32_t(f.channels - 1), 5);
                    } else if (n > 16) {
                        w.put(v >> 16, n - 16);
                        w.put(v & 0xFFFF, 16);
                    } else {
                        w.put(v, n);
                    }
                });
        }
        uint64_t bits = w.bit_count();
        size_t size = w.bytes.size();
        uint32_t last_bits = uint32_t(bits - 8 * (size - 1));
        uint32_t size_bytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
        uint8_t flags = uint8_t((last_bits - 1) | ((size_bytes - 1) << 3) | (end == tokens.size() ? 0x40 : 0) |
                                (with_tables ? 0x80 : 0));
        uint8_t check = 0x5A ^ flags;
        for (uint32_t i = 0; i < size_bytes; i++) check ^= uint8_t(size >> (8 * i));
        out.push_back(char(flags));
        out.push_back(char(check));
        for (uint32_t i = 0; i < size_bytes; i++) out.push_back(char(uint8_t(size >> (8 * i))));
        out += w.bytes;
    }
    return out;
}

// Compresses `input` into a RAR5 packed stream (algorithm version 0).
inline std::string compress(std::string input, const Compress_Options& o = {}) {
    for (const Filter_Spec& f : o.filters) {
        if (f.start + f.length <= input.size()) filter_forward(f, reinterpret_cast<uint8_t*>(input.data()) + f.start);
    }
    return encode(tokenize(input, o), o);
}

// ---------------------------------------------------------------- archive

struct Entry {
    std::string name;
    std::string content;          // the unpacked bytes
    int method = 3;               // 0 stored, 1 to 5 compressed (all written by the same compressor)
    Compress_Options options;
    bool directory = false;
    // Overrides for crafted archives.
    bool solid = false;
    int version = 0;
    uint64_t header_flags_extra = 0;   // e.g. 0x0008 / 0x0010 (split)
    bool encrypted = false;            // adds a file encryption record
    bool with_crc = true;
    bool bad_crc = false;              // stores a wrong data CRC
    const std::string* packed = nullptr;   // packed data to store instead of compressing
    int64_t unpacked_size = -1;        // stored instead of content.size() when >= 0
};

inline std::string block(uint64_t type, uint64_t flags, const std::string& fields, uint64_t extra_size = 0,
                         uint64_t data_size = 0) {
    std::string h;
    put_vint(h, type);
    put_vint(h, flags);
    if (flags & 1) put_vint(h, extra_size);
    if (flags & 2) put_vint(h, data_size);
    h += fields;
    std::string size;
    put_vint(size, h.size());
    std::string out;
    put_u32(out, crc32_of(size + h));
    return out + size + h;
}

inline std::string signature() { return std::string("Rar!\x1A\x07\x01\x00", 8); }
inline std::string main_header() { return block(1, 0, std::string(1, '\0')); }
inline std::string end_header() { return block(5, 0, std::string(1, '\0')); }

// The dictionary size field: 128 KiB << n covering the window.
inline uint32_t dictionary_bits(size_t window) {
    uint32_t n = 0;
    while (n < 15 && (size_t(128) << 10 << n) < window) n++;
    return n;
}

// The dictionary an entry declares: its match window, and room for its
// filters (libarchive refuses a filter block longer than half the window).
inline size_t window_of(const Entry& e) {
    size_t w = std::min(e.options.window, std::max<size_t>(e.content.size(), 1));
    for (const Filter_Spec& f : e.options.filters) w = std::max(w, 2 * f.length);
    return w;
}

inline std::string file_block(const Entry& e) {
    std::string packed;
    if (e.packed) packed = *e.packed;
    else if (e.directory || e.content.empty()) packed.clear();   // archivers store no data for an empty file
    else if (e.method == 0) packed = e.content;
    else packed = compress(e.content, e.options);
    uint64_t file_flags = (e.directory ? 1 : 0) | (e.with_crc && !e.directory ? 4 : 0);
    std::string f;
    put_vint(f, file_flags);
    put_vint(f, e.unpacked_size >= 0 ? uint64_t(e.unpacked_size) : e.content.size());
    put_vint(f, e.directory ? 040755 : 0100644);   // attributes (Unix)
    if (file_flags & 4) put_u32(f, crc32_of(e.content) ^ (e.bad_crc ? 1u : 0u));
    uint64_t info = uint64_t(e.version) | (e.solid ? 0x40 : 0) | (uint64_t(e.directory || (e.content.empty() && !e.packed) ? 0 : e.method) << 7) |
                    (uint64_t(dictionary_bits(window_of(e))) << 10);
    put_vint(f, info);
    put_vint(f, 1);   // host OS: Unix
    put_vint(f, e.name.size());
    f += e.name;
    std::string extra;
    if (e.encrypted) {
        std::string rec;
        put_vint(rec, 1);                // type: file encryption
        rec += std::string(49, '\0');    // version, flags, KDF count, salt, IV, check value (unused here)
        put_vint(extra, rec.size());
        extra += rec;
    }
    f += extra;
    uint64_t flags = (extra.empty() ? 0 : 1) | 2 | e.header_flags_extra;   // a data area always, empty for folders
    return block(2, flags, f, extra.size(), packed.size()) + packed;
}

inline std::string archive(const std::vector<Entry>& entries, bool with_end = true) {
    std::string out = signature() + main_header();
    for (const Entry& e : entries) out += file_block(e);
    if (with_end) out += end_header();
    return out;
}

}  // namespace rar5_writer
