// LZMA decoder for LZMA-alone streams (13-byte header, then range-coded
// data). It decodes a whole stream into a caller's buffer that holds the
// complete output, which is also the dictionary window; or, for streams too
// large to hold, piece by piece through a window of the dictionary's size.
//
// Every input is safe: the decoder never reads past its input nor writes past
// its output, whatever the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

inline constexpr size_t lzma_header_size = 13;
inline constexpr uint8_t lzma_props_max = 224;          // (4 * 5 + 4) * 9 + 8: lc 8, lp 4, pb 4
inline constexpr uint64_t lzma_size_unknown = ~uint64_t(0);

// Range decoder: the input is the data after the 13-byte header, starting
// with the five range-coder bytes.
struct Lzma_Range {
    uint32_t range = 0;
    uint32_t code = 0;
    const uint8_t* in = nullptr;
    size_t in_size = 0;
    size_t in_pos = 0;
    bool exhausted = false;   // the input ran out and a zero byte was taken instead
};

// Probabilities of one length coder (11-bit, in 16-bit cells). Up to 16
// position states (pb up to 4).
struct Lzma_Len_Probs {
    uint16_t choice;
    uint16_t choice2;
    uint16_t low[16][8];
    uint16_t mid[16][8];
    uint16_t high[256];
};

// Decodes a match-length index 0..271 (the match length is this + 2).
uint32_t decode_len(Lzma_Range& rc, Lzma_Len_Probs& probs, uint32_t pos_state);

struct Lzma_Header {
    uint8_t props = 0;
    int lc = 0, lp = 0, pb = 0;
    uint32_t dict_size = 0;      // read, but the decoder's window is the whole output
    uint64_t size_field = 0;     // lzma_size_unknown when the stream ends with an end marker
};

// Checks the 13-byte header of `packed` against the unpacked size the caller
// expects: at least 13 bytes, properties byte at most 224, size field all
// ones or equal to `expected_size`.
bool lzma_header_check(std::string_view packed, uint64_t expected_size, Lzma_Header& out);

// The decoder proper. `input` starts at the range coder's first byte; the
// output is exactly `out_size` bytes. With `end_marker` the stream must also
// carry its end marker right after the last byte (it always may, earlier it
// fails). Fails on any damaged or inconsistent stream (see lzma.cpp); on
// failure the output holds garbage.
bool decode_raw(std::string_view input, int lc, int lp, int pb, uint8_t* out, size_t out_size,
                bool end_marker = false);

// Header check plus decode_raw of a whole LZMA-alone stream whose unpacked
// size the caller knows. A size field of all ones means the stream ends
// with an end marker, which is then read and required (so that a stream cut
// short inside its marker fails too); an empty output succeeds at once.
bool lzma_alone_decode(std::string_view packed, uint8_t* out, size_t out_size);

// Piece by piece: the decoder keeps the header's dictionary size of output
// behind the newest byte (the reach of every match an encoder may make) and
// hands out the new bytes a piece at a time, so its memory is the window
// and one piece whatever the stream's size. A distance beyond the
// dictionary fails here, as it does in liblzma; every other check is the
// whole-stream decoder's.
struct Lzma_Core;
struct Lzma_Pieces {
    Lzma_Pieces();
    ~Lzma_Pieces();
    Lzma_Pieces(const Lzma_Pieces&) = delete;
    Lzma_Pieces& operator=(const Lzma_Pieces&) = delete;
    std::unique_ptr<Lzma_Core> core;   // null once finished or failed
    std::unique_ptr<uint8_t[]> window;
    size_t capacity = 0, history = 0, piece = 0;
    size_t pos = 0;        // the next byte's place in the window
    uint64_t base = 0;     // the output position of window[0]
    uint64_t size = 0;     // the whole output
    bool end_marker = false;
};
enum class Lzma_Step { More, Done, Failed };

// Checks the header of the LZMA-alone stream `packed` (kept alive by the
// caller) against `out_size` as lzma_alone_decode does and readies pieces of
// about `piece` bytes. False when the header fails or memory cannot be had.
bool lzma_pieces_start(Lzma_Pieces& d, std::string_view packed, uint64_t out_size, size_t piece);
// Decodes the next piece: `data` and `size` give its bytes, valid until the
// next call. More: further pieces follow; Done: this was the last and the
// stream ended as it must; Failed: the stream is damaged (every later call
// fails too).
Lzma_Step lzma_pieces_next(Lzma_Pieces& d, const uint8_t*& data, size_t& size);
