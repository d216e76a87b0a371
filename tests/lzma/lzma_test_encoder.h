// A small LZMA encoder for tests: the caller chooses every symbol (literal,
// match, rep match, short rep, end marker), so that streams with exactly the
// faults a decoder must refuse can be written, with any lc / lp / pb.
//
// It keeps the bytes a decoder would produce so that literals after a match
// are coded against the right byte; a symbol that a correct decoder must
// refuse (a distance before the start, a rep at the start) adds no bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Test_Lzma_Encoder {
    // --- range encoder ---
    uint64_t low = 0;
    uint32_t range = 0xFFFFFFFFu;
    uint8_t cache = 0;
    uint64_t cache_size = 1;
    std::string packed;

    // --- model ---
    int lc, lp, pb;
    uint32_t state = 0;
    uint32_t reps[4] = {0, 0, 0, 0};
    std::string data;   // what the decoder produces
    std::vector<uint16_t> literal;
    uint16_t is_match[12][16], is_rep[12], is_rep_g0[12], is_rep_g1[12], is_rep_g2[12], is_rep0_long[12][16];
    uint16_t pos_slot[4][64], spec_pos[115], align[16];
    struct Len_Coder {
        uint16_t choice, choice2, low[16][8], mid[16][8], high[256];
    } len_coder, rep_len_coder;

    Test_Lzma_Encoder(int lc_, int lp_, int pb_) : lc(lc_), lp(lp_), pb(pb_) {
        literal.assign(size_t(0x300) << (lc + lp), 1024);
        auto fill = [](uint16_t* p, size_t n) {
            for (size_t i = 0; i < n; i++) p[i] = 1024;
        };
        fill(&is_match[0][0], 12 * 16);
        fill(is_rep, 12);
        fill(is_rep_g0, 12);
        fill(is_rep_g1, 12);
        fill(is_rep_g2, 12);
        fill(&is_rep0_long[0][0], 12 * 16);
        fill(&pos_slot[0][0], 4 * 64);
        fill(spec_pos, 115);
        fill(align, 16);
        for (Len_Coder* l : {&len_coder, &rep_len_coder}) {
            l->choice = l->choice2 = 1024;
            fill(&l->low[0][0], 16 * 8);
            fill(&l->mid[0][0], 16 * 8);
            fill(l->high, 256);
        }
    }

    void shift_low() {
        if (uint32_t(low) < 0xFF000000u || (low >> 32) != 0) {
            uint8_t carry = uint8_t(low >> 32);
            uint8_t temp = cache;
            do {
                packed.push_back(char(uint8_t(temp + carry)));
                temp = 0xFF;
            } while (--cache_size != 0);
            cache = uint8_t(low >> 24);
        }
        cache_size++;
        low = (low & 0x00FFFFFFu) << 8;
    }
    void normalize() {
        while (range < (1u << 24)) {
            range <<= 8;
            shift_low();
        }
    }
    void bit(uint16_t& p, uint32_t b) {
        uint32_t bound = (range >> 11) * p;
        if (b == 0) {
            range = bound;
            p = uint16_t(p + ((2048 - p) >> 5));
        } else {
            low += bound;
            range -= bound;
            p = uint16_t(p - (p >> 5));
        }
        normalize();
    }
    void direct(uint32_t value, int count) {
        while (count--) {
            range >>= 1;
            if ((value >> count) & 1) low += range;
            normalize();
        }
    }
    void tree(uint16_t* probs, int bits, uint32_t value) {
        uint32_t m = 1;
        for (int i = bits - 1; i >= 0; i--) {
            uint32_t b = (value >> i) & 1;
            bit(probs[m], b);
            m = (m << 1) | b;
        }
    }
    void reverse_tree(uint16_t* probs, int bits, uint32_t value) {
        uint32_t m = 1;
        for (int i = 0; i < bits; i++) {
            uint32_t b = value & 1;
            value >>= 1;
            bit(probs[m], b);
            m = (m << 1) | b;
        }
    }
    void length(Len_Coder& c, uint32_t len, uint32_t pos_state) {
        uint32_t l = len - 2;
        if (l < 8) {
            bit(c.choice, 0);
            tree(c.low[pos_state], 3, l);
        } else if (l < 16) {
            bit(c.choice, 1);
            bit(c.choice2, 0);
            tree(c.mid[pos_state], 3, l - 8);
        } else {
            bit(c.choice, 1);
            bit(c.choice2, 1);
            tree(c.high, 8, l - 16);
        }
    }
    uint32_t pos_state() const { return uint32_t(data.size()) & ((1u << pb) - 1); }

    void put_literal(uint8_t byte) {
        size_t pos = data.size();
        uint32_t prev = pos ? uint8_t(data[pos - 1]) : 0;
        bit(is_match[state][pos_state()], 0);
        uint16_t* probs = literal.data() + 0x300 * (((pos & ((size_t(1) << lp) - 1)) << lc) + (prev >> (8 - lc)));
        uint32_t sym = uint32_t(byte) | 0x100;
        if (state < 7) {
            do {
                bit(probs[sym >> 8], (sym >> 7) & 1);
                sym <<= 1;
            } while (sym < 0x10000);
        } else {
            uint32_t match_byte = uint8_t(data[pos - reps[0] - 1]);
            uint32_t offs = 0x100;
            do {
                match_byte <<= 1;
                bit(probs[offs + (match_byte & offs) + (sym >> 8)], (sym >> 7) & 1);
                sym <<= 1;
                offs &= ~(match_byte ^ sym);
            } while (sym < 0x10000);
        }
        static const uint8_t next[12] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};
        state = next[state];
        data.push_back(char(byte));
    }
    void put_literals(const std::string& bytes) {
        for (char c : bytes) put_literal(uint8_t(c));
    }

    void copy(uint32_t len) {
        size_t dist = size_t(reps[0]) + 1;
        if (dist > data.size()) return;   // a decoder refuses this; nothing to add
        for (uint32_t i = 0; i < len; i++) data.push_back(data[data.size() - dist]);
    }

    // A match of `len` (2..273) bytes from `dist` + 1 bytes back.
    void put_match(uint32_t dist, uint32_t len) {
        uint32_t ps = pos_state();
        bit(is_match[state][ps], 1);
        bit(is_rep[state], 0);
        length(len_coder, len, ps);
        state = state < 7 ? 7 : 10;
        uint32_t slot;
        if (dist < 4) {
            slot = dist;
        } else {
            int top = 31;
            while (!((dist >> top) & 1)) top--;
            slot = uint32_t(2 * top) + ((dist >> (top - 1)) & 1);
        }
        uint32_t l = len - 2 < 3 ? len - 2 : 3;
        tree(pos_slot[l], 6, slot);
        if (slot >= 4) {
            int direct_count = int(slot >> 1) - 1;
            uint32_t base = (2 | (slot & 1)) << direct_count;
            uint32_t reduced = dist - base;
            if (slot < 14) {
                reverse_tree(spec_pos + base - slot, direct_count, reduced);
            } else {
                direct(reduced >> 4, direct_count - 4);
                reverse_tree(align, 4, reduced & 15);
            }
        }
        reps[3] = reps[2];
        reps[2] = reps[1];
        reps[1] = reps[0];
        reps[0] = dist;
        if (dist != 0xFFFFFFFFu) copy(len);
    }
    // A match of `len` bytes at the last distance.
    void put_rep0(uint32_t len) {
        uint32_t ps = pos_state();
        bit(is_match[state][ps], 1);
        bit(is_rep[state], 1);
        bit(is_rep_g0[state], 0);
        bit(is_rep0_long[state][ps], 1);
        length(rep_len_coder, len, ps);
        state = state < 7 ? 8 : 11;
        copy(len);
    }
    // One byte at the last distance.
    void put_short_rep() {
        uint32_t ps = pos_state();
        bit(is_match[state][ps], 1);
        bit(is_rep[state], 1);
        bit(is_rep_g0[state], 0);
        bit(is_rep0_long[state][ps], 0);
        state = state < 7 ? 9 : 11;
        copy(1);
    }
    // A match at the second last distance (rep1).
    void put_rep1(uint32_t len) {
        uint32_t ps = pos_state();
        bit(is_match[state][ps], 1);
        bit(is_rep[state], 1);
        bit(is_rep_g0[state], 1);
        bit(is_rep_g1[state], 0);
        std::swap(reps[0], reps[1]);
        length(rep_len_coder, len, ps);
        state = state < 7 ? 8 : 11;
        copy(len);
    }
    void put_end_marker() { put_match(0xFFFFFFFFu, 2); }

    // The range-coder bytes after the header.
    std::string finish() {
        for (int i = 0; i < 5; i++) shift_low();
        return packed;
    }
    // The whole LZMA-alone stream: header with `size_field`, then the data.
    std::string finish_alone(uint64_t size_field, uint32_t dict_size = 1u << 16) {
        std::string out;
        out.push_back(char((pb * 5 + lp) * 9 + lc));
        for (int i = 0; i < 4; i++) out.push_back(char((dict_size >> (8 * i)) & 0xFF));
        for (int i = 0; i < 8; i++) out.push_back(char((size_field >> (8 * i)) & 0xFF));
        return out + finish();
    }
};
