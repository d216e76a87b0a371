// The LZMA decoder on streams of real encoders kept as fixtures, and on
// streams written symbol by symbol to hold exactly one fault each.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/lzma/lzma.h"
#include "tests/lzma/lzma_test_encoder.h"

namespace {

std::string fixture_path(const char* name) {
    std::string dir = env_get("QM_SOURCE_DIR");
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
    return path_join({dir, "tests", "lzma", "fixtures", name});
}

std::string fixture(const char* name) {
    std::string bytes;
    EXPECT_TRUE(fs_read(fixture_path(name), bytes)) << fixture_path(name);
    return bytes;
}

// Decodes a whole LZMA-alone stream into `size` bytes.
bool decode(const std::string& packed, size_t size, std::string& out) {
    out.assign(size, '\0');
    return lzma_alone_decode(packed, reinterpret_cast<uint8_t*>(out.data()), size);
}

TEST(Lzma_Fixtures, streams_of_real_encoders_decode_to_their_source) {
    const std::string sample = fixture("sample.bin");
    ASSERT_FALSE(sample.empty());
    for (const char* name : {"sample_xz6.lzma", "sample_lc0_lp2_pb0.lzma", "sample_lc4_lp0_pb4.lzma",
                             "sample_known_size.lzma"}) {
        SCOPED_TRACE(name);
        std::string packed = fixture(name), out;
        ASSERT_TRUE(decode(packed, sample.size(), out));
        EXPECT_TRUE(out == sample);

        // One byte short fails: every stream ends on bytes its last symbols
        // (or the final normalisation) still need.
        std::string shorter = packed.substr(0, packed.size() - 1);
        EXPECT_FALSE(decode(shorter, sample.size(), out));
        // So does any other length than the stream's.
        EXPECT_FALSE(decode(packed, sample.size() + 1, out));
    }
    std::string out;
    EXPECT_TRUE(decode(fixture("empty.lzma"), 0, out));
    EXPECT_FALSE(decode(fixture("empty.lzma"), 1, out));
}

TEST(Lzma_Fixtures, the_header_size_field_must_be_unknown_or_the_expected_size) {
    const std::string sample = fixture("sample.bin");
    std::string known = fixture("sample_known_size.lzma"), out;
    ASSERT_TRUE(decode(known, sample.size(), out));
    // The same data, its header now claiming one byte more.
    std::string wrong = known;
    uint64_t claimed = sample.size() + 1;
    for (int i = 0; i < 8; i++) wrong[5 + i] = char((claimed >> (8 * i)) & 0xFF);
    EXPECT_FALSE(decode(wrong, sample.size(), out));
    Lzma_Header h;
    EXPECT_TRUE(lzma_header_check(known, sample.size(), h));
    EXPECT_EQ(h.size_field, sample.size());
    EXPECT_FALSE(lzma_header_check(known, sample.size() - 1, h));
    EXPECT_FALSE(lzma_header_check(known.substr(0, 12), sample.size(), h));
}

// One crafted stream and what decoding it must give.
struct Crafted_Case {
    const char* name;
    int lc, lp, pb;
    std::function<void(Test_Lzma_Encoder&)> symbols;
    bool end_marker;
    int size_delta;   // decode into the stream's own size plus this
    bool ok;
};

std::string text_of(size_t n) {
    std::string s;
    for (size_t i = 0; s.size() < n; i++) s += "zqr_page_" + std::to_string(i % 37) + "(s);\n";
    s.resize(n);
    return s;
}

const std::vector<Crafted_Case>& crafted_cases() {
    static const std::vector<Crafted_Case> cases = {
        {"literals, matches and reps fill the output", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals(text_of(300));
             e.put_match(99, 40);     // overlapping nothing
             e.put_match(2, 200);     // overlapping, distance 3
             e.put_literals("xy");
             e.put_rep0(17);
             e.put_short_rep();
             e.put_match(63, 273);    // long and overlapping at distance 64
             e.put_rep1(5);
             e.put_match(0, 50);      // a run
             e.put_literal('!');
         },
         false, 0, true},
        {"the widest properties, 224 (lc 8, lp 4, pb 4)", 8, 4, 4,
         [](Test_Lzma_Encoder& e) {
             e.put_literals(text_of(500));
             e.put_match(120, 30);
             e.put_literals("tail");
         },
         true, 0, true},
        {"an end marker exactly at the end", 3, 0, 2, [](Test_Lzma_Encoder& e) { e.put_literals(text_of(64)); },
         true, 0, true},
        {"an end marker one byte early", 3, 0, 2, [](Test_Lzma_Encoder& e) { e.put_literals(text_of(64)); }, true,
         1, false},
        {"no end marker, symbols fill the output", 0, 2, 0, [](Test_Lzma_Encoder& e) { e.put_literals(text_of(64)); },
         false, 0, true},
        {"a match at the farthest distance", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals(text_of(1000));
             e.put_match(999, 10);
         },
         false, 0, true},
        {"a match one byte before the start", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals(text_of(1000));
             e.put_match(1000, 10);
         },
         false, 10, false},
        {"a match at the start", 3, 0, 2, [](Test_Lzma_Encoder& e) { e.put_match(0, 2); }, false, 2, false},
        {"a rep match at the start", 3, 0, 2, [](Test_Lzma_Encoder& e) { e.put_rep0(4); }, false, 4, false},
        {"a short rep at the start", 3, 0, 2, [](Test_Lzma_Encoder& e) { e.put_short_rep(); }, false, 1, false},
        {"a match that ends exactly at the end", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals("abc");
             e.put_match(2, 273);
         },
         false, 0, true},
        {"a match one byte past the end", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals("abc");
             e.put_match(2, 273);
         },
         false, -1, false},
        {"a rep match past the end", 3, 0, 2,
         [](Test_Lzma_Encoder& e) {
             e.put_literals("abcd");
             e.put_match(3, 4);
             e.put_rep0(20);
         },
         false, -19, false},
    };
    return cases;
}

TEST(Lzma_Crafted, each_stream_decodes_or_fails_as_stated) {
    for (const Crafted_Case& c : crafted_cases()) {
        SCOPED_TRACE(c.name);
        Test_Lzma_Encoder e(c.lc, c.lp, c.pb);
        c.symbols(e);
        std::string expected = e.data;
        if (c.end_marker) e.put_end_marker();
        std::string packed = e.finish();
        size_t size = size_t(int64_t(expected.size()) + c.size_delta);
        std::string out(size, '\0');
        bool ok = decode_raw(packed, c.lc, c.lp, c.pb, reinterpret_cast<uint8_t*>(out.data()), size);
        EXPECT_EQ(ok, c.ok);
        if (c.ok && ok) {
            EXPECT_TRUE(out == expected);
        }
    }
}

// Faults of the header and of the range coder's first bytes, on one good
// stream changed a little per case.
TEST(Lzma_Crafted, header_and_range_coder_start_faults_fail) {
    Test_Lzma_Encoder e(3, 0, 2);
    e.put_literals(text_of(200));
    e.put_end_marker();
    const std::string good = e.finish_alone(lzma_size_unknown);
    const size_t size = 200;
    struct Case {
        const char* name;
        std::function<std::string()> make;
        size_t size;
        bool ok;
    };
    const Case cases[] = {
        {"the good stream", [&] { return good; }, size, true},
        {"properties byte 225", [&] { std::string s = good; s[0] = char(225); return s; }, size, false},
        {"first range-coder byte not zero", [&] { std::string s = good; s[13] = 1; return s; }, size, false},
        {"header only", [&] { return good.substr(0, 13); }, size, false},
        {"four range-coder bytes", [&] { return good.substr(0, 17); }, size, false},
        {"four range-coder bytes, empty output", [&] { return good.substr(0, 17); }, 0, false},
        {"five range-coder bytes, empty output", [&] { return good.substr(0, 18); }, 0, true},
        {"initial code 0xFFFFFFFF",
         [&] {
             std::string s = good.substr(0, 14) + std::string(4, char(0xFF));
             return s;
         },
         0, false},
        {"a header of 12 bytes", [&] { return good.substr(0, 12); }, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        EXPECT_EQ(decode(c.make(), c.size, out), c.ok);
    }
    // Whether the end marker must follow the data depends on the size field.
    Test_Lzma_Encoder plain(3, 0, 2);
    plain.put_literals(text_of(200));
    Test_Lzma_Encoder marked = plain;
    marked.put_end_marker();
    std::string out;
    EXPECT_FALSE(decode(plain.finish_alone(lzma_size_unknown), size, out)) << "no marker, size unknown";
    EXPECT_TRUE(decode(plain.finish_alone(size), size, out)) << "no marker, size known";
    EXPECT_TRUE(decode(marked.finish_alone(size), size, out)) << "a marker, size known";

    // 224 is the largest properties byte a stream may carry.
    Test_Lzma_Encoder wide(8, 4, 4);
    wide.put_literals(text_of(50));
    std::string stream = wide.finish_alone(50);
    ASSERT_EQ(uint8_t(stream[0]), 224);
    EXPECT_TRUE(decode(stream, 50, out));
    EXPECT_EQ(out, text_of(50));
}

// The match-length coder on its own: the three ranges and their borders.
TEST(Lzma_Crafted, decode_len_reads_the_three_length_ranges) {
    const uint32_t lengths[] = {2, 9, 10, 17, 18, 100, 273};
    for (uint32_t pb : {0u, 2u, 4u}) {
        Test_Lzma_Encoder e(3, 0, int(pb));
        for (uint32_t pos_state = 0; pos_state < (1u << pb); pos_state++) {
            for (uint32_t len : lengths) e.length(e.len_coder, len, pos_state);
        }
        std::string packed = e.finish();
        Lzma_Range rc;
        rc.in = reinterpret_cast<const uint8_t*>(packed.data());
        rc.in_size = packed.size();
        rc.in_pos = 5;
        rc.range = 0xFFFFFFFFu;
        rc.code = uint32_t(uint8_t(packed[1])) << 24 | uint32_t(uint8_t(packed[2])) << 16 |
                  uint32_t(uint8_t(packed[3])) << 8 | uint32_t(uint8_t(packed[4]));
        Lzma_Len_Probs probs;
        probs.choice = probs.choice2 = 1024;
        for (auto& row : probs.low) for (uint16_t& c : row) c = 1024;
        for (auto& row : probs.mid) for (uint16_t& c : row) c = 1024;
        for (uint16_t& c : probs.high) c = 1024;
        for (uint32_t pos_state = 0; pos_state < (1u << pb); pos_state++) {
            for (uint32_t len : lengths) EXPECT_EQ(decode_len(rc, probs, pos_state) + 2, len) << "pb " << pb;
        }
        EXPECT_FALSE(rc.exhausted);
    }
}

// Damaged streams: every byte value at many places and every truncation
// must end in a clean success or failure (the sanitizer build watches the
// memory accesses).
TEST(Lzma_Robustness, damaged_streams_never_go_out_of_bounds) {
    const std::string sample = fixture("sample.bin");
    const std::string packed = fixture("sample_xz6.lzma");
    ASSERT_FALSE(packed.empty());
    std::string out;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 300; round++) {
        std::string bad = packed;
        int flips = 1 + int(next() % 4);
        for (int k = 0; k < flips; k++) bad[13 + next() % (bad.size() - 13)] = char(next());
        size_t size = sample.size() + (round % 3 == 0 ? next() % 64 : 0);
        decode(bad, size, out);
    }
    for (size_t cut = 13; cut < packed.size(); cut += 97) {
        EXPECT_FALSE(decode(packed.substr(0, cut), sample.size(), out)) << cut;
    }
}

}  // namespace
