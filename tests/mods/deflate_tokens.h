// Lists the literals and matches of a zlib stream made of one fixed-Huffman
// block, the only kind our writer makes: what the greedy matcher chose, not
// just what it decodes to.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Deflate_Token {
    int length = 0;      // 0 for a literal
    int distance = 0;
    uint8_t literal = 0;
    bool operator==(const Deflate_Token&) const = default;
};

inline Deflate_Token lit(char c) { return {0, 0, uint8_t(c)}; }
inline Deflate_Token match(int length, int distance) { return {length, distance, 0}; }

// False when the stream is not one final fixed block after a 78 01 header.
inline bool deflate_tokens(std::string_view z, std::vector<Deflate_Token>& out) {
    static const int len_base[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int dist_base[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513,
                                      769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const int dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    out.clear();
    if (z.size() < 2 || uint8_t(z[0]) != 0x78 || uint8_t(z[1]) != 0x01) return false;
    size_t bitpos = 16;
    bool bad = false;
    auto bit = [&]() -> int {
        if (bitpos / 8 >= z.size()) { bad = true; return 0; }
        int b = (uint8_t(z[bitpos / 8]) >> (bitpos % 8)) & 1;
        bitpos++;
        return b;
    };
    auto bits = [&](int n) { int v = 0; for (int i = 0; i < n; i++) v |= bit() << i; return v; };
    auto msb_first = [&](int n) { int v = 0; for (int i = 0; i < n; i++) v = v << 1 | bit(); return v; };
    if (bits(1) != 1 || bits(2) != 1) return false;
    for (;;) {
        if (bad) return false;
        int code = msb_first(7), symbol;
        if (code <= 0x17) symbol = 256 + code;
        else {
            code = code << 1 | bit();
            if (code >= 0x30 && code <= 0xBF) symbol = code - 0x30;
            else if (code >= 0xC0 && code <= 0xC7) symbol = 280 + code - 0xC0;
            else symbol = 144 + ((code << 1 | bit()) - 0x190);
        }
        if (symbol < 256) { out.push_back(lit(char(symbol))); continue; }
        if (symbol == 256) return !bad;
        if (symbol > 285) return false;
        int i = symbol - 257;
        int length = len_base[i] + bits(len_extra[i]);
        int j = msb_first(5);
        if (j > 29) return false;
        out.push_back(match(length, dist_base[j] + bits(dist_extra[j])));
    }
}
