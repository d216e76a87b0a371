// LZMA decoder: range coder with 11-bit probabilities, the 12-state
// literal / match / rep machine, and matches copied straight out of the
// output buffer, which is the window: the whole output, or when decoding
// piece by piece the dictionary's reach behind the newest byte.
//
// Checks beyond plain LZMA: the first range-coder byte must be 0 and the
// initial code below 0xFFFFFFFF; running out of input fails at the next
// symbol; a rep match before anything was written, a distance that points
// before the start, a match longer than the room left, and an end marker
// before the output is full all fail; a stream whose header gives no size
// must carry its end marker right after the last byte.
#include "launcher/lzma/lzma.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if defined(__GNUC__)
#define QM_INLINE inline __attribute__((always_inline))
#define QM_LIKELY(x) __builtin_expect(!!(x), 1)
#define QM_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define QM_INLINE inline
#define QM_LIKELY(x) (x)
#define QM_UNLIKELY(x) (x)
#endif

namespace {

constexpr uint32_t top_value = 1u << 24;
constexpr uint32_t prob_bits = 11;
constexpr uint32_t prob_init = 1u << (prob_bits - 1);
constexpr uint32_t move_bits = 5;
constexpr uint32_t num_states = 12;
constexpr uint32_t end_pos_model_index = 14;
constexpr uint32_t match_min_len = 2;
constexpr uint32_t literal_coder_size = 0x300;

// The fixed part of the probability model.
struct Lzma_Model {
    uint16_t is_match[num_states][16];
    uint16_t is_rep[num_states];
    uint16_t is_rep_g0[num_states];
    uint16_t is_rep_g1[num_states];
    uint16_t is_rep_g2[num_states];
    uint16_t is_rep0_long[num_states][16];
    uint16_t pos_slot[4][64];
    uint16_t spec_pos[1 + 128 - end_pos_model_index];   // indexed from 1 inside each slot's tree
    uint16_t align[16];
    Lzma_Len_Probs len;
    Lzma_Len_Probs rep_len;
};

template <size_t N>
void fill(uint16_t (&cells)[N]) {
    for (auto& c : cells) c = prob_init;
}
template <size_t N, size_t M>
void fill(uint16_t (&cells)[N][M]) {
    for (auto& row : cells) fill(row);
}
void fill(Lzma_Len_Probs& p) {
    p.choice = prob_init;
    p.choice2 = prob_init;
    fill(p.low);
    fill(p.mid);
    fill(p.high);
}
void fill(Lzma_Model& m) {
    fill(m.is_match);
    fill(m.is_rep);
    fill(m.is_rep_g0);
    fill(m.is_rep_g1);
    fill(m.is_rep_g2);
    fill(m.is_rep0_long);
    fill(m.pos_slot);
    fill(m.spec_pos);
    fill(m.align);
    fill(m.len);
    fill(m.rep_len);
}

// Takes one input byte into the code when the range got too small. Past the
// end of the input a zero byte enters and the exhausted flag is set. The
// unguarded form is for the stretches where the caller has made sure that
// enough input is left for the next symbol.
template <bool Guarded = true>
QM_INLINE void normalize(Lzma_Range& rc) {
    if (rc.range < top_value) {
        rc.range <<= 8;
        uint32_t b = 0;
        if (!Guarded || QM_LIKELY(rc.in_pos < rc.in_size)) {
            b = rc.in[rc.in_pos++];
        } else {
            rc.exhausted = true;
        }
        rc.code = (rc.code << 8) | b;
    }
}

template <bool Guarded = true>
QM_INLINE uint32_t bit(Lzma_Range& rc, uint16_t* p) {
    uint32_t prob = *p;
    uint32_t bound = (rc.range >> prob_bits) * prob;
    uint32_t result;
    if (rc.code < bound) {
        rc.range = bound;
        *p = uint16_t(prob + (((1u << prob_bits) - prob) >> move_bits));
        result = 0;
    } else {
        rc.range -= bound;
        rc.code -= bound;
        *p = uint16_t(prob - (prob >> move_bits));
        result = 1;
    }
    normalize<Guarded>(rc);
    return result;
}

// The same as bit() without a branch on the decoded bit: literal and tree
// bits are hard to predict, so selecting the results is cheaper than jumping.
template <bool Guarded = true>
QM_INLINE uint32_t bit_flat(Lzma_Range& rc, uint16_t* p) {
    uint32_t prob = *p;
    uint32_t bound = (rc.range >> prob_bits) * prob;
    uint32_t b = rc.code >= bound;
    uint32_t mask = 0u - b;
    rc.range = b ? rc.range - bound : bound;
    rc.code -= bound & mask;
    // bit 0: prob += (2048 - prob) >> 5; bit 1: prob -= prob >> 5
    uint32_t target = ((1u << prob_bits) - 31u) & ~mask;   // 2017 pulls up, 0 pulls down
    *p = uint16_t(prob - ((int32_t(prob) - int32_t(target)) >> move_bits));
    normalize<Guarded>(rc);
    return b;
}

// A tree of Bits levels, most significant bit first; returns 0..2^Bits-1.
// Flat trees decode without a branch per bit; the branching form is faster
// where the bits are skewed enough for the branch predictor (the low length
// tree, whose short lengths repeat on regular content).
template <uint32_t Bits, bool Guarded = true, bool Flat = true>
QM_INLINE uint32_t tree(Lzma_Range& rc, uint16_t* probs) {
    uint32_t m = 1;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 8
#endif
    for (uint32_t i = 0; i < Bits; i++)
        m = (m << 1) | (Flat ? bit_flat<Guarded>(rc, probs + m) : bit<Guarded>(rc, probs + m));
    return m - (1u << Bits);
}

// A tree read least significant bit first.
template <bool Guarded = true>
QM_INLINE uint32_t reverse_tree(Lzma_Range& rc, uint16_t* probs, uint32_t bits) {
    uint32_t m = 1, symbol = 0;
    for (uint32_t i = 0; i < bits; i++) {
        uint32_t b = bit_flat<Guarded>(rc, probs + m);
        m = (m << 1) | b;
        symbol |= b << i;
    }
    return symbol;
}

template <bool Guarded = true>
QM_INLINE uint32_t direct_bits(Lzma_Range& rc, uint32_t value, uint32_t count) {
    do {
        rc.range >>= 1;
        rc.code -= rc.range;
        uint32_t t = 0u - (rc.code >> 31);   // all ones when the code went below zero
        rc.code += rc.range & t;
        value = (value << 1) + (t + 1);
        normalize<Guarded>(rc);
    } while (--count);
    return value;
}

template <bool Guarded = true>
QM_INLINE uint32_t len_index(Lzma_Range& rc, Lzma_Len_Probs& p, uint32_t pos_state) {
    if (bit<Guarded>(rc, &p.choice) == 0) return tree<3, Guarded, false>(rc, p.low[pos_state]);
    if (bit<Guarded>(rc, &p.choice2) == 0) return 8 + tree<3, Guarded>(rc, p.mid[pos_state]);
    return 16 + tree<8, Guarded>(rc, p.high);
}

template <bool Guarded = true>
QM_INLINE uint32_t literal_plain(Lzma_Range& rc, uint16_t* probs) {
    uint32_t m = 1;
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
    return m & 0xFF;
}

// A literal after a match: while its bits agree with the byte at rep0 the
// upper half of the coder's cells is used.
template <bool Guarded = true>
QM_INLINE uint32_t literal_matched(Lzma_Range& rc, uint16_t* probs, uint32_t match_byte) {
    uint32_t m = 1;
    do {
        uint32_t match_bit = (match_byte >> 7) & 1;
        match_byte <<= 1;
        uint32_t b = bit_flat<Guarded>(rc, probs + ((1 + match_bit) << 8) + m);
        m = (m << 1) | b;
        if (b != match_bit) {
            // Past the first differing bit the literal is a plain one.
            while (m < 0x100) m = (m << 1) | bit_flat<Guarded>(rc, probs + m);
            break;
        }
    } while (m < 0x100);
    return m & 0xFF;
}

// Copies a match of `len` bytes from `dist` bytes back. The caller has made
// sure that dist <= pos and pos + len <= size. Bytes past pos + len may be
// overwritten when there is room (which Room promises: 32 bytes at least);
// later symbols write them again.
template <bool Room = false>
QM_INLINE void copy_match(uint8_t* out, size_t pos, size_t size, size_t dist, size_t len) {
    uint8_t* dst = out + pos;
    const uint8_t* src = dst - dist;
    if (Room || size - pos - len >= 32) {
        // Room behind the match: whole chunks, the last one running over.
        uint8_t* end = dst + len;
        if (dist >= 16) {
            // Most matches are at most 32 bytes: two chunks without a loop.
            std::memcpy(dst, src, 16);
            std::memcpy(dst + 16, src + 16, 16);
            if (QM_UNLIKELY(len > 32)) {
                dst += 32;
                src += 32;
                do {
                    std::memcpy(dst, src, 16);
                    dst += 16;
                    src += 16;
                } while (dst < end);
            }
            return;
        }
        if (dist >= 8) {
            do {
                std::memcpy(dst, src, 8);
                dst += 8;
                src += 8;
            } while (dst < end);
            return;
        }
        if (dist == 1) {
            std::memset(dst, *src, len);
            return;
        }
        do {
            *dst++ = *src++;
        } while (dst < end);
        return;
    }
    if (dist >= len) {
        if (len >= 8 && len <= 16) {
            uint64_t a, b;
            std::memcpy(&a, src, 8);
            std::memcpy(&b, src + len - 8, 8);
            std::memcpy(dst, &a, 8);
            std::memcpy(dst + len - 8, &b, 8);
        } else {
            std::memcpy(dst, src, len);
        }
        return;
    }
    if (dist >= 32) {
        while (len >= 32) {
            std::memcpy(dst, src, 32);
            dst += 32;
            src += 32;
            len -= 32;
        }
    }
    while (len--) *dst++ = *src++;
}

// The distance of a new match whose length index is len: a position slot,
// then direct bits (from the slot tree's neighbours or plain, then 4 align
// bits). 0xFFFFFFFF is the end marker.
template <bool Guarded = true>
QM_INLINE uint32_t distance(Lzma_Range& rc, Lzma_Model& m, uint32_t len, uintptr_t here = 0) {
    uint32_t len_state = len < 3 ? len : 3;
    uint32_t slot = tree<6, Guarded>(rc, m.pos_slot[len_state]);
    if (slot < 4) return slot;
    uint32_t direct = (slot >> 1) - 1;
    uint32_t dist = 2 | (slot & 1);
    if (slot < end_pos_model_index) {
        dist <<= direct;
        return dist + reverse_tree<Guarded>(rc, m.spec_pos + dist - slot, direct);
    }
    dist = direct_bits<Guarded>(rc, dist, direct - 4) << 4;
#if defined(__GNUC__)
    // All but the last four bits are known: the source of a far match starts
    // loading while they are decoded, its end too (the next literal's context
    // and match byte). A prefetch never faults, wherever it points.
    if (here) {
        __builtin_prefetch(reinterpret_cast<const void*>(here - dist - 8));
        __builtin_prefetch(reinterpret_cast<const void*>(here - dist - 8 + len + match_min_len));
    }
#endif
    return dist + reverse_tree<Guarded>(rc, m.align, 4);
}

const uint8_t literal_next_state[num_states] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 4, 5};

// The most input one symbol can take: a match with every length and
// distance bit (2 + 1 + 1 + 8 + 6 + 26 + 4 bits, each at most one byte).
constexpr size_t symbol_input_max = 48;
constexpr size_t match_len_max = match_min_len + 271;

struct Decoder {
    Lzma_Range rc;
    Lzma_Model* m = nullptr;
    uint16_t* lit = nullptr;
    uint8_t* out = nullptr;
    size_t out_size = 0;
    size_t pb_mask = 0;
    uint32_t literal_mask = 0;   // (pos << 8) + prev: the bits that choose the literal coder
    uint32_t lc = 0;
    uint32_t state = 0;
    uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
    size_t pos = 0;
};

enum class Run { Full, Marker, Failed };

// Decodes symbols while the output position is below `pos_limit`. The
// guarded form checks every input byte and every match against the output's
// end; the unguarded one runs only while at least symbol_input_max bytes of
// input and match_len_max + 32 bytes of output are left, and stops when the
// next symbol might need more (Run::Full then only means "stopped").
template <bool Guarded>
QM_INLINE Run decode_symbols(Decoder& d, size_t pos_limit, size_t in_limit) {
    Lzma_Range rc = d.rc;
    Lzma_Model& m = *d.m;
    uint16_t* const lit = d.lit;
    uint8_t* const out = d.out;
    const size_t pb_mask = d.pb_mask;
    const uint32_t literal_mask = d.literal_mask;
    const uint32_t lc = d.lc;
    uint32_t state = d.state;
    uint32_t rep0 = d.rep0, rep1 = d.rep1, rep2 = d.rep2, rep3 = d.rep3;
    size_t pos = d.pos;
    Run result = Run::Full;

    while (pos < pos_limit) {
        if (Guarded) {
            if (QM_UNLIKELY(rc.exhausted)) {
                result = Run::Failed;
                break;
            }
        } else if (rc.in_pos >= in_limit) {
            break;
        }
        uint32_t pos_state = uint32_t(pos & pb_mask);

        if (bit<Guarded>(rc, &m.is_match[state][pos_state]) == 0) {
            uint32_t prev = pos > 0 ? out[pos - 1] : 0;
            // The coder of pos's low lp bits and prev's high lc bits, through one mask.
            uint16_t* probs = lit + 3 * ((((uint32_t(pos) << 8) + prev) & literal_mask) << lc);
            if (state < 7) {
                out[pos] = uint8_t(literal_plain<Guarded>(rc, probs));
            } else {
                out[pos] = uint8_t(literal_matched<Guarded>(rc, probs, out[pos - rep0 - 1]));
            }
            pos++;
            state = literal_next_state[state];
            continue;
        }

        uint32_t len;
        if (bit<Guarded>(rc, &m.is_rep[state]) == 0) {
            // A new match: length, then distance.
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            len = len_index<Guarded>(rc, m.len, pos_state);
            state = state < 7 ? 7 : 10;
            uint32_t dist = distance<Guarded>(rc, m, len, reinterpret_cast<uintptr_t>(out + pos));
            if (dist == 0xFFFFFFFFu) {   // end marker
                result = Run::Marker;
                break;
            }
            if (QM_UNLIKELY(dist >= pos)) {
                result = Run::Failed;
                break;
            }
            rep0 = dist;
        } else {
            if (QM_UNLIKELY(pos == 0)) {
                result = Run::Failed;
                break;
            }
            if (bit<Guarded>(rc, &m.is_rep_g0[state]) == 0) {
                if (bit<Guarded>(rc, &m.is_rep0_long[state][pos_state]) == 0) {
                    // Short rep: one byte from rep0.
                    state = state < 7 ? 9 : 11;
                    out[pos] = out[pos - rep0 - 1];
                    pos++;
                    continue;
                }
            } else {
                uint32_t dist;
                if (bit<Guarded>(rc, &m.is_rep_g1[state]) == 0) {
                    dist = rep1;
                } else {
                    if (bit<Guarded>(rc, &m.is_rep_g2[state]) == 0) {
                        dist = rep2;
                    } else {
                        dist = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = dist;
            }
            len = len_index<Guarded>(rc, m.rep_len, pos_state);
            state = state < 7 ? 8 : 11;
        }

        size_t length = size_t(len) + match_min_len;
        if (Guarded && QM_UNLIKELY(length > d.out_size - pos)) {
            result = Run::Failed;
            break;
        }
        copy_match<!Guarded>(out, pos, d.out_size, size_t(rep0) + 1, length);
        pos += length;
    }

    d.rc = rc;
    d.state = state;
    d.rep0 = rep0;
    d.rep1 = rep1;
    d.rep2 = rep2;
    d.rep3 = rep3;
    d.pos = pos;
    return result;
}

}  // namespace

uint32_t decode_len(Lzma_Range& rc, Lzma_Len_Probs& probs, uint32_t pos_state) {
    return len_index(rc, probs, pos_state & 15);
}

bool lzma_header_check(std::string_view packed, uint64_t expected_size, Lzma_Header& out) {
    if (packed.size() < lzma_header_size) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(packed.data());
    if (p[0] > lzma_props_max) return false;
    out.props = p[0];
    out.lc = p[0] % 9;
    out.lp = (p[0] / 9) % 5;
    out.pb = p[0] / 45;
    out.dict_size = uint32_t(p[1]) | uint32_t(p[2]) << 8 | uint32_t(p[3]) << 16 | uint32_t(p[4]) << 24;
    uint64_t size = 0;
    for (int i = 0; i < 8; i++) size |= uint64_t(p[5 + i]) << (8 * i);
    out.size_field = size;
    return size == lzma_size_unknown || size == expected_size;
}

// One stream's decoder state between calls.
struct Lzma_Core {
    Lzma_Model model;
    std::unique_ptr<uint16_t[]> literals;
    Lzma_Range rc;
    int lc = 0, lp = 0, pb = 0;
    uint32_t state = 0;
    uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
    bool marker_seen = false;   // an end marker came before the output was full
};

namespace {

// Sets up the model and the range coder over `input` (the bytes after the
// header). False on properties out of range, a missing or nonzero first
// byte, an initial code of all ones, or no memory.
bool core_start(Lzma_Core& c, std::string_view input, int lc, int lp, int pb) {
    if (lc < 0 || lc > 8 || lp < 0 || lp > 4 || pb < 0 || pb > 4) return false;
    size_t literal_cells = size_t(literal_coder_size) << (lc + lp);
    c.literals.reset(new (std::nothrow) uint16_t[literal_cells]);
    if (!c.literals) return false;
    fill(c.model);
    for (size_t i = 0; i < literal_cells; i++) c.literals[i] = prob_init;
    c.lc = lc;
    c.lp = lp;
    c.pb = pb;

    // Range-coder start: a zero byte, then the first code in big-endian order.
    const auto* in = reinterpret_cast<const uint8_t*>(input.data());
    if (input.size() < 5 || in[0] != 0) return false;
    Lzma_Range& rc = c.rc;
    rc.range = 0xFFFFFFFFu;
    rc.code = uint32_t(in[1]) << 24 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 8 | uint32_t(in[4]);
    rc.in = in;
    rc.in_size = input.size();
    rc.in_pos = 5;
    return rc.code != 0xFFFFFFFFu;
}

// Decodes symbols into `out` from `pos` until it reaches `stop`. Bytes
// before `pos` are the window; `limit` is the end of the output or of the
// buffer, whichever comes first (matches never run past it). A window that
// slides keeps positions congruent modulo 16, so the position states stay
// right. Most of it runs without a bound check per byte, the rest checked.
// False on a damaged stream.
bool core_run(Lzma_Core& c, uint8_t* out, size_t& pos_io, size_t stop, size_t limit) {
    Decoder d;
    d.rc = c.rc;
    d.m = &c.model;
    d.lit = c.literals.get();
    d.out = out;
    d.out_size = limit;
    d.pb_mask = (size_t(1) << c.pb) - 1;
    d.literal_mask = (0x100u << c.lp) - (0x100u >> c.lc);
    d.lc = uint32_t(c.lc);
    d.state = c.state;
    d.rep0 = c.rep0;
    d.rep1 = c.rep1;
    d.rep2 = c.rep2;
    d.rep3 = c.rep3;
    d.pos = pos_io;

    Run run = Run::Full;
    const size_t in_size = d.rc.in_size;
    if (in_size > symbol_input_max && limit > match_len_max + 32) {
        size_t fast_stop = std::min(stop, limit - match_len_max - 32);
        if (d.pos < fast_stop) run = decode_symbols<false>(d, fast_stop, in_size - symbol_input_max);
    }
    if (run == Run::Full) run = decode_symbols<true>(d, stop, 0);
    if (run == Run::Failed) return false;

    c.rc = d.rc;
    c.state = d.state;
    c.rep0 = d.rep0;
    c.rep1 = d.rep1;
    c.rep2 = d.rep2;
    c.rep3 = d.rep3;
    c.marker_seen = run == Run::Marker;
    pos_io = d.pos;
    return true;
}

// After the output is full: a stream that must end with its marker has it
// as the next symbol; no input may have been missing.
bool core_finish(Lzma_Core& c, size_t pos, bool end_marker) {
    Lzma_Range& rc = c.rc;
    Lzma_Model& m = c.model;
    if (c.marker_seen) return false;
    if (end_marker) {
        if (rc.exhausted) return false;
        uint32_t pos_state = uint32_t(pos & ((size_t(1) << c.pb) - 1));
        if (bit(rc, &m.is_match[c.state][pos_state]) == 0) return false;
        if (bit(rc, &m.is_rep[c.state]) != 0) return false;
        uint32_t len = len_index(rc, m.len, pos_state);
        if (distance(rc, m, len) != 0xFFFFFFFFu) return false;
    }
    return !rc.exhausted;
}

}  // namespace

bool decode_raw(std::string_view input, int lc, int lp, int pb, uint8_t* out, size_t out_size, bool end_marker) {
    std::unique_ptr<Lzma_Core> core(new (std::nothrow) Lzma_Core);
    if (!core || !core_start(*core, input, lc, lp, pb)) return false;
    if (out_size == 0) return true;
    size_t pos = 0;
    if (!core_run(*core, out, pos, out_size, out_size)) return false;
    return pos == out_size && core_finish(*core, pos, end_marker);
}

bool lzma_alone_decode(std::string_view packed, uint8_t* out, size_t out_size) {
    Lzma_Header h;
    if (!lzma_header_check(packed, out_size, h)) return false;
    return decode_raw(packed.substr(lzma_header_size), h.lc, h.lp, h.pb, out, out_size,
                      h.size_field == lzma_size_unknown);
}

Lzma_Pieces::Lzma_Pieces() = default;
Lzma_Pieces::~Lzma_Pieces() = default;

namespace {

// Room behind a piece for the longest match and copy_match's overrun.
constexpr size_t piece_margin = 512;

}  // namespace

bool lzma_pieces_start(Lzma_Pieces& d, std::string_view packed, uint64_t out_size, size_t piece) {
    d.core.reset();
    d.window.reset();
    Lzma_Header h;
    if (!lzma_header_check(packed, out_size, h)) return false;
    std::unique_ptr<Lzma_Core> core(new (std::nothrow) Lzma_Core);
    if (!core || !core_start(*core, packed.substr(lzma_header_size), h.lc, h.lp, h.pb)) return false;
    // The window keeps the dictionary's reach (at least 4 KiB, as encoders
    // count it) behind the newest byte, never more than the whole output.
    uint64_t history = std::max<uint64_t>(h.dict_size, 4096) + 16;
    history = std::min(history, out_size);
    piece = std::max<size_t>(piece, 4096);
    if (history > SIZE_MAX / 2 || piece > SIZE_MAX / 4) return false;
    d.capacity = size_t(history) + piece + piece_margin;
    d.window.reset(new (std::nothrow) uint8_t[d.capacity]);
    if (!d.window) return false;
    d.core = std::move(core);
    d.history = size_t(history);
    d.piece = piece;
    d.base = 0;
    d.pos = 0;
    d.size = out_size;
    d.end_marker = h.size_field == lzma_size_unknown;
    return true;
}

Lzma_Step lzma_pieces_next(Lzma_Pieces& d, const uint8_t*& data, size_t& size) {
    data = nullptr;
    size = 0;
    if (!d.core) return Lzma_Step::Failed;
    // Slide the window so that a piece and the margin fit behind its
    // history, by a multiple of 16 bytes.
    if (d.capacity - d.pos < d.piece + piece_margin) {
        size_t shift = (d.pos - d.history) & ~size_t(15);
        std::memmove(d.window.get(), d.window.get() + shift, d.pos - shift);
        d.pos -= shift;
        d.base += shift;
    }
    size_t start = d.pos;
    uint64_t left = d.size - (d.base + d.pos);
    size_t stop = start + d.piece, limit = d.capacity;
    if (left <= d.capacity - start) stop = limit = start + size_t(left);
    if (!core_run(*d.core, d.window.get(), d.pos, stop, limit) || d.core->marker_seen) {
        d.core.reset();
        return Lzma_Step::Failed;
    }
    data = d.window.get() + start;
    size = d.pos - start;
    if (d.base + d.pos < d.size) return Lzma_Step::More;
    // As lzma_alone_decode: an empty output succeeds at once.
    bool ok = d.size == 0 || core_finish(*d.core, d.pos, d.end_marker);
    d.core.reset();
    return ok ? Lzma_Step::Done : Lzma_Step::Failed;
}
