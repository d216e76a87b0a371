// Our zlib stream writer: streams checked by zlib's own inflate, and the
// matcher's choices read back token by token.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/mods/zlib_writer.h"
#include "tests/mods/deflate_tokens.h"

namespace {

uint32_t next_random(uint32_t& seed) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

std::string random_bytes(size_t n, uint32_t seed, int alphabet = 256) {
    std::string s(n, '\0');
    for (char& c : s) c = char(next_random(seed) % uint32_t(alphabet));
    return s;
}

std::string text_sample(size_t n) {
    uint32_t seed = 12345;
    const char* words[] = {"int ", "return ", "zqr_state ", "s->frame ", "+= ", "0x", "if (", ") {\n", "}\n", "\t"};
    std::string text;
    while (text.size() < n) text += words[next_random(seed) % 10];
    return text;
}

// Random bytes where the 100 bytes at `distance` repeat the first 100.
std::string repeat_at(size_t distance) {
    std::string s = random_bytes(distance + 100, uint32_t(distance));
    std::copy(s.begin(), s.begin() + 100, s.begin() + long(distance));
    return s;
}

std::string compress(std::string_view in) {
    std::string out;
    zlib_compress(out, in);
    return out;
}

bool zlib_inflate(const std::string& z, size_t size, std::string& out) {
    out.assign(size + 1, '\0');
    uLongf got = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &got, reinterpret_cast<const Bytef*>(z.data()),
                   uLong(z.size())) != Z_OK)
        return false;
    out.resize(got);
    return true;
}

// Machine code: the launcher's library, which this test links (ELF objects
// on Linux, COFF ones on Windows).
std::string machine_code() {
    std::string path = path_join({env_get("QM_BINARY_DIR"), "launcher", "libqm_launcher.a"});
    std::string bytes;
    fs_read_at(path, 0, 1 << 20, bytes);
    return bytes;
}

}  // namespace

TEST(ZlibWriter, EmptyInputIsTheGoldenStream) {
    EXPECT_EQ(compress(""), std::string("\x78\x01\x03\x00\x00\x00\x00\x01", 8));
    // Appends, never replaces.
    std::string out = "keep";
    zlib_compress(out, "");
    EXPECT_EQ(out.substr(0, 4), "keep");
    EXPECT_EQ(out.size(), 12u);
}

TEST(ZlibWriter, RoundTripsThroughZlib) {
    struct Case { const char* what; std::string data; };
    std::vector<Case> cases = {
        {"one byte", "a"},
        {"two bytes", "\xff\x00"},
        {"three bytes", "abc"},
        {"run", std::string(100000, 'x')},
        {"distance 32767", repeat_at(32767)},
        {"distance 32768", repeat_at(32768)},
        {"distance 32769", repeat_at(32769)},
        {"random", random_bytes(200000, 7)},
        {"every byte value", random_bytes(70000, 9, 256) + std::string(300, '\xff')},
        {"text", text_sample(300000)},
        {"machine code", machine_code()},
    };
    ASSERT_GT(cases.back().data.size(), 10000u) << "the launcher library was not found";
    for (const Case& c : cases) {
        std::string z = compress(c.data);
        std::string back;
        ASSERT_TRUE(zlib_inflate(z, c.data.size(), back)) << c.what;
        EXPECT_TRUE(back == c.data) << c.what;
        EXPECT_EQ(compress(c.data), z) << c.what << ": not deterministic";
        uint32_t adler = uint32_t(adler32(1, reinterpret_cast<const Bytef*>(c.data.data()), uInt(c.data.size())));
        EXPECT_EQ(adler32_of(c.data), adler) << c.what;
        std::vector<Deflate_Token> tokens;
        ASSERT_TRUE(deflate_tokens(z, tokens)) << c.what;
        int farthest = 0;
        for (const Deflate_Token& t : tokens) farthest = std::max(farthest, t.distance);
        EXPECT_LE(farthest, 32767) << c.what;
    }
}

TEST(ZlibWriter, ReachesBackExactly32767Bytes) {
    std::vector<Deflate_Token> tokens;
    ASSERT_TRUE(deflate_tokens(compress(repeat_at(32767)), tokens));
    EXPECT_NE(std::find(tokens.begin(), tokens.end(), match(100, 32767)), tokens.end());
    // One byte further is out of reach: the repeat goes out as literals.
    ASSERT_TRUE(deflate_tokens(compress(repeat_at(32768)), tokens));
    EXPECT_TRUE(std::all_of(tokens.begin(), tokens.end(), [](const Deflate_Token& t) { return t.length < 50; }));
}

TEST(ZlibWriter, GreedyChoicesNearestWins) {
    struct Case { const char* what; std::string in; std::vector<Deflate_Token> want; };
    std::vector<Deflate_Token> run = {lit('z'), match(258, 1), match(258, 1), match(83, 1)};
    const Case cases[] = {
        {"under three bytes", "zz", {lit('z'), lit('z')}},
        {"short run", "aaaaaaaaaa", {lit('a'), match(9, 1)}},
        {"long run", std::string(600, 'z'), run},
        {"nearest of equal lengths", "abcdXabcdYabcd",
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('X'), match(4, 5), lit('Y'), match(4, 5)}},
        {"longest over nearest", "abcdefXabcdYabcdef",
         {lit('a'), lit('b'), lit('c'), lit('d'), lit('e'), lit('f'), lit('X'), match(4, 7), lit('Y'), match(6, 12)}},
        // A lazy matcher would emit "a" and then the 5-byte "bcdef".
        {"greedy, not lazy", "abcdbcdefabcdef",
         {lit('a'), lit('b'), lit('c'), lit('d'), match(3, 3), lit('e'), lit('f'), match(4, 9), lit('e'), lit('f')}},
    };
    for (const Case& c : cases) {
        std::vector<Deflate_Token> got;
        ASSERT_TRUE(deflate_tokens(compress(c.in), got)) << c.what;
        EXPECT_EQ(got, c.want) << c.what;
    }
}

// On inputs too short for any chain to reach its limit, the matcher must
// find what an exhaustive search finds: the longest match within reach,
// the nearest of equal ones, literals below three bytes.
TEST(ZlibWriter, MatchesAnExhaustiveSearchOnShortInputs) {
    for (uint32_t seed = 1; seed <= 400; seed++) {
        std::string in = random_bytes(40 + seed % 27, seed, 2 + int(seed % 3));
        std::vector<Deflate_Token> want;
        for (size_t p = 0; p < in.size();) {
            int best = 0, distance = 0;
            if (p + 2 < in.size()) {
                for (size_t c = p; c-- > 0;) {
                    int len = 0;
                    while (p + size_t(len) < in.size() && len < 258 && in[c + size_t(len)] == in[p + size_t(len)]) len++;
                    if (len > best) { best = len; distance = int(p - c); }
                }
            }
            if (best >= 3) { want.push_back(match(best, distance)); p += size_t(best); }
            else want.push_back(lit(in[p++]));
        }
        std::vector<Deflate_Token> got;
        ASSERT_TRUE(deflate_tokens(compress(in), got));
        ASSERT_EQ(got, want) << "seed " << seed << ": " << in.size() << " bytes";
    }
}

// Positions are kept relative to a base that moves on long inputs; where it
// lies must never change a byte of the output.
TEST(ZlibWriter, MovingTheBaseChangesNothing) {
    std::string in = text_sample(250000) + random_bytes(40000, 3) + text_sample(90000) + std::string(70000, 'q');
    std::string plain = compress(in);
    for (int64_t every : {int64_t(131072), int64_t(200001), int64_t(300000)}) {
        std::string moved;
        zlib_compress_rebased(moved, in, every);
        EXPECT_TRUE(moved == plain) << "rebased every " << every;
    }
    std::string back;
    ASSERT_TRUE(zlib_inflate(plain, in.size(), back));
    EXPECT_TRUE(back == in);
}

TEST(ZlibWriter, BitWriterAndFixedCodes) {
    std::string out;
    Bit_Writer w{&out};
    bits_put(w, 1, 1);
    bits_put(w, 1, 2);
    EXPECT_EQ(out, "");
    fixed_code(w, 256);   // seven zero bits
    bits_put(w, 0, 6);    // pad to two bytes
    EXPECT_EQ(out, std::string("\x03\x00", 2));
    struct Case { int symbol; uint32_t code; int length; };
    const Case cases[] = {{0, 0x30, 8}, {143, 0xBF, 8}, {144, 0x190, 9}, {255, 0x1FF, 9},
                          {256, 0, 7},  {279, 0x17, 7}, {280, 0xC0, 8},  {287, 0xC7, 8}};
    for (const Case& c : cases) {
        std::string bytes;
        Bit_Writer b{&bytes};
        fixed_code(b, c.symbol);
        bits_put(b, 0, 16 - c.length);
        uint32_t read = 0;
        uint32_t all = uint8_t(bytes[0]) | uint32_t(uint8_t(bytes[1])) << 8;
        for (int i = 0; i < c.length; i++) read = read << 1 | ((all >> i) & 1);
        EXPECT_EQ(read, c.code) << "symbol " << c.symbol;
    }
    // The hash of three bytes, worked out apart from the writer (Python):
    // ((b0 << 10) ^ (b1 << 5) ^ b2) * 2654435761 in 32 bits, shifted right by 17.
    struct Hash_Case { uint8_t bytes[4]; uint32_t hash; };
    const Hash_Case hashes[] = {{{0xFF, 0xFF, 0xFF}, 25433}, {{0, 0, 0}, 0}, {{1, 2, 3}, 9013},
                                {{'a', 'b', 'c'}, 18934},     {{0x80, 0x7F, 0x01}, 8482}};
    for (const Hash_Case& c : hashes) EXPECT_EQ(hash3(c.bytes, 0), c.hash) << int(c.bytes[0]);
    const uint8_t shifted[4] = {9, 'a', 'b', 'c'};
    EXPECT_EQ(hash3(shifted, 1), 18934u);
}
