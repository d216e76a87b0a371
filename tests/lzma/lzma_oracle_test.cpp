// The LZMA decoder against liblzma and the encoders built on it: the xz
// program, Python's lzma module and liblzma's raw LZMA1 encoder (streams of
// a known size without an end marker). Runs on the build machine only.
#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/lzma/lzma.h"
#include "tests/lzma/lzma_test_encoder.h"
#include "tests/support/temp_dir.h"

namespace {

struct Sample {
    const char* name;
    std::string bytes;
};

uint32_t next_random(uint32_t& seed) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
}

// Inputs that reach every kind of symbol: long runs and repeats (long
// matches, reps), text (literals after matches, short distances), noise
// (literals only), and far repeats (large distances with align bits).
const std::vector<Sample>& samples() {
    static const std::vector<Sample> list = [] {
        std::vector<Sample> v;
        uint32_t seed = 0x9E3779B9u;
        v.push_back({"empty", ""});
        v.push_back({"one byte", "x"});
        std::string repetitive(70000, '\0');
        for (size_t i = 0; i < 30000; i++) repetitive[i] = "ab"[i % 2];
        for (size_t i = 50000; i < repetitive.size(); i++) repetitive[i] = char("zqr_"[(i / 7) % 4]);
        v.push_back({"repetitive", repetitive});
        std::string noise(60000, '\0');
        for (char& c : noise) c = char(next_random(seed));
        v.push_back({"random", noise});
        std::string text;
        const char* words[] = {"int ", "return ", "zqr_state ", "s->frame ", "+= ", "0x", "if (", ") {\n", "}\n"};
        while (text.size() < 120000) text += words[next_random(seed) % 9];
        v.push_back({"text", text});
        std::string far = noise.substr(0, 20000) + text.substr(0, 40000) + noise.substr(0, 20000) + text.substr(1000, 3000);
        v.push_back({"far repeats", far});
        return v;
    }();
    return list;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// liblzma's own decoding of an LZMA-alone stream (any size field).
bool liblzma_decode(const std::string& packed, std::string& out, size_t capacity) {
    out.assign(capacity, '\0');
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) return false;
    s.next_in = reinterpret_cast<const uint8_t*>(packed.data());
    s.avail_in = packed.size();
    s.next_out = reinterpret_cast<uint8_t*>(out.data());
    s.avail_out = out.size();
    lzma_ret r = lzma_code(&s, LZMA_FINISH);
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    return r == LZMA_STREAM_END;
}

bool ours(const std::string& packed, size_t size, std::string& out) {
    out.assign(size, '\0');
    return lzma_alone_decode(packed, reinterpret_cast<uint8_t*>(out.data()), size);
}

// Ours piece by piece, the pieces joined.
bool ours_in_pieces(const std::string& packed, size_t size, size_t piece, std::string& out, int& pieces) {
    out.clear();
    pieces = 0;
    Lzma_Pieces d;
    if (!lzma_pieces_start(d, packed, size, piece)) return false;
    for (;;) {
        const uint8_t* data = nullptr;
        size_t n = 0;
        Lzma_Step step = lzma_pieces_next(d, data, n);
        if (step == Lzma_Step::Failed) return false;
        out.append(reinterpret_cast<const char*>(data), n);
        pieces++;
        if (step == Lzma_Step::Done) return true;
    }
}

// liblzma's LZMA-alone encoder (end marker, size field all ones).
std::string alone_encode(const std::string& data, uint32_t dict) {
    lzma_options_lzma o;
    lzma_lzma_preset(&o, 6);
    o.dict_size = dict;
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&s, &o) != LZMA_OK) return "";
    std::string packed(data.size() + data.size() / 8 + 4096, '\0');
    s.next_in = reinterpret_cast<const uint8_t*>(data.data());
    s.avail_in = data.size();
    s.next_out = reinterpret_cast<uint8_t*>(packed.data());
    s.avail_out = packed.size();
    lzma_ret r = lzma_code(&s, LZMA_FINISH);
    packed.resize(packed.size() - s.avail_out);
    lzma_end(&s);
    return r == LZMA_STREAM_END ? packed : "";
}

// A stream of a known size without an end marker: liblzma's LZMA1EXT filter
// with a header written here.
std::string raw_known_size(const std::string& data, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dict) {
    lzma_options_lzma o;
    lzma_lzma_preset(&o, 6);
    o.lc = lc;
    o.lp = lp;
    o.pb = pb;
    o.dict_size = dict;
    o.ext_flags = 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(data.size() + data.size() / 8 + 1024, '\0');
    size_t pos = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                               reinterpret_cast<uint8_t*>(out.data()), &pos, out.size()) != LZMA_OK) {
        return "";
    }
    out.resize(pos);
    std::string header;
    header.push_back(char((pb * 5 + lp) * 9 + lc));
    for (int i = 0; i < 4; i++) header.push_back(char((dict >> (8 * i)) & 0xFF));
    for (int i = 0; i < 8; i++) header.push_back(char((uint64_t(data.size()) >> (8 * i)) & 0xFF));
    return header + out;
}

struct Props {
    uint32_t lc, lp, pb, dict;
};

// Every lc / lp pair liblzma accepts (lc + lp <= 4), pb and the dictionary
// size varying along with them.
std::vector<Props> prop_table() {
    std::vector<Props> v;
    const uint32_t dicts[] = {4096, 1u << 16, 1u << 20};
    int k = 0;
    for (uint32_t lc = 0; lc <= 4; lc++) {
        for (uint32_t lp = 0; lc + lp <= 4; lp++) {
            v.push_back({lc, lp, uint32_t(k % 5), dicts[k % 3]});
            k++;
        }
    }
    return v;
}

TEST(Lzma_Oracle, streams_of_the_xz_program_decode_like_liblzma) {
    Temp_Dir tmp;
    for (const Sample& sample : samples()) {
        std::string in = path_join({tmp.path, "in.bin"});
        ASSERT_TRUE(fs_write(in, sample.bytes));
        for (const Props& p : prop_table()) {
            SCOPED_TRACE(std::string(sample.name) + " lc " + std::to_string(p.lc) + " lp " + std::to_string(p.lp) +
                         " pb " + std::to_string(p.pb) + " dict " + std::to_string(p.dict));
            std::string out_path = path_join({tmp.path, "out.lzma"});
            std::string cmd = "xz --format=lzma --stdout --lzma1=preset=6,lc=" + std::to_string(p.lc) +
                              ",lp=" + std::to_string(p.lp) + ",pb=" + std::to_string(p.pb) +
                              ",dict=" + std::to_string(p.dict) + " '" + in + "' > '" + out_path + "'";
            ASSERT_TRUE(run(cmd));
            std::string packed, reference, out;
            ASSERT_TRUE(fs_read(out_path, packed));
            ASSERT_TRUE(liblzma_decode(packed, reference, sample.bytes.size() + 1));
            ASSERT_TRUE(reference == sample.bytes);
            EXPECT_TRUE(ours(packed, sample.bytes.size(), out));
            EXPECT_TRUE(out == sample.bytes);
        }
    }
}

TEST(Lzma_Oracle, streams_of_pythons_lzma_module_decode) {
    Temp_Dir tmp;
    // Every third property set: the module is liblzma again, its own part is
    // the container it writes. One Python run writes all the streams.
    std::vector<Props> props;
    for (size_t i = 0; i < prop_table().size(); i += 3) props.push_back(prop_table()[i]);
    std::string table = "[";
    for (const Props& p : props) {
        table += "(" + std::to_string(p.lc) + "," + std::to_string(p.lp) + "," + std::to_string(p.pb) + "," +
                 std::to_string(p.dict) + "),";
    }
    table += "]";
    std::string base = path_join({tmp.path, "s"});
    for (size_t k = 0; k < samples().size(); k++) ASSERT_TRUE(fs_write(base + std::to_string(k), samples()[k].bytes));
    std::string script = path_join({tmp.path, "make.py"});
    std::string code =
        "import lzma, sys\n"
        "base, count, table = sys.argv[1], int(sys.argv[2]), eval(sys.argv[3])\n"
        "for k in range(count):\n"
        "    data = open(base + str(k), 'rb').read()\n"
        "    for i, (lc, lp, pb, d) in enumerate(table):\n"
        "        f = [{'id': lzma.FILTER_LZMA1, 'preset': 6, 'lc': lc, 'lp': lp, 'pb': pb, 'dict_size': d}]\n"
        "        out = lzma.compress(data, format=lzma.FORMAT_ALONE, filters=f)\n"
        "        open('%s%d.%d' % (base, k, i), 'wb').write(out)\n";
    ASSERT_TRUE(fs_write(script, code));
    ASSERT_TRUE(run("python3 '" + script + "' '" + base + "' " + std::to_string(samples().size()) + " '" + table + "'"));
    for (size_t k = 0; k < samples().size(); k++) {
        const Sample& sample = samples()[k];
        for (size_t i = 0; i < props.size(); i++) {
            SCOPED_TRACE(std::string(sample.name) + " set " + std::to_string(i));
            std::string packed, out;
            ASSERT_TRUE(fs_read(base + std::to_string(k) + "." + std::to_string(i), packed));
            EXPECT_TRUE(ours(packed, sample.bytes.size(), out));
            EXPECT_TRUE(out == sample.bytes);
        }
    }
}

TEST(Lzma_Oracle, known_size_streams_without_an_end_marker_decode) {
    for (const Sample& sample : samples()) {
        for (const Props& p : prop_table()) {
            SCOPED_TRACE(std::string(sample.name) + " lc " + std::to_string(p.lc) + " lp " + std::to_string(p.lp) +
                         " pb " + std::to_string(p.pb));
            std::string packed = raw_known_size(sample.bytes, p.lc, p.lp, p.pb, p.dict), out;
            ASSERT_FALSE(packed.empty());
            EXPECT_TRUE(ours(packed, sample.bytes.size(), out));
            EXPECT_TRUE(out == sample.bytes);
            // One byte short, and the last byte read by the final
            // normalisation missing, both fail.
            EXPECT_FALSE(ours(packed.substr(0, packed.size() - 1), sample.bytes.size(), out));
        }
    }
}

// The test encoder that writes the faulty streams elsewhere is itself
// checked here: its valid streams decode with liblzma to what it meant.
TEST(Lzma_Oracle, the_test_encoder_writes_streams_liblzma_reads) {
    for (const Props& p : prop_table()) {
        Test_Lzma_Encoder e(int(p.lc), int(p.lp), int(p.pb));
        e.put_literals(samples()[4].bytes.substr(0, 3000));
        e.put_match(2999, 273);
        e.put_match(0, 20);
        e.put_rep0(7);
        e.put_short_rep();
        e.put_rep1(9);
        e.put_literals("end");
        e.put_match(1u << 11, 100);
        e.put_literal('.');
        std::string expected = e.data;
        e.put_end_marker();
        std::string packed = e.finish_alone(lzma_size_unknown), reference, out;
        ASSERT_TRUE(liblzma_decode(packed, reference, expected.size() + 1));
        EXPECT_TRUE(reference == expected);
        EXPECT_TRUE(ours(packed, expected.size(), out));
        EXPECT_TRUE(out == expected);
    }
}

// Damaged streams decoded by both: neither may crash, and whenever both
// succeed on the same length they agree on every byte.
TEST(Lzma_Oracle, damaged_streams_agree_with_liblzma_or_fail) {
    const std::string& data = samples()[4].bytes;
    std::string packed = alone_encode(data, 1u << 23);
    ASSERT_FALSE(packed.empty());

    uint32_t seed = 77;
    int both = 0;
    for (int round = 0; round < 400; round++) {
        std::string bad = packed;
        int flips = 1 + int(next_random(seed) % 3);
        for (int k = 0; k < flips; k++) bad[14 + next_random(seed) % (bad.size() - 14)] = char(next_random(seed));
        std::string reference, out;
        bool theirs = liblzma_decode(bad, reference, data.size() * 2);
        if (theirs && ours(bad, reference.size(), out)) {
            both++;
            EXPECT_TRUE(out == reference) << "round " << round;
        } else {
            ours(bad, data.size(), out);
        }
    }
    RecordProperty("both_decoded", both);
}

// Piece by piece through a window of the dictionary's size: the same bytes
// as the whole decode, for repeats nearer and farther than the dictionary
// reaches and pieces from the smallest to more than the stream. Damaged, the pieces never give what the whole
// decode refuses or other bytes than it.
TEST(Lzma_Oracle, streams_decoded_in_pieces_equal_the_whole_decode) {
    const std::string& text = samples()[4].bytes;
    const std::string& noise = samples()[3].bytes;
    std::string data;
    for (size_t far : {4000u, 60000u, 65000u, 200000u}) data += text.substr(0, far) + noise.substr(0, 20000);
    data += data.substr(data.size() - 70000, 70000) + data.substr(0, 50000);
    struct Case {
        uint32_t dict;
        size_t piece;
        bool several;
    };
    const Case cases[] = {{4096, 4096, true}, {1u << 16, 1, true}, {1u << 16, 100003, true},
                          {1u << 20, 1u << 20, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("dict " + std::to_string(c.dict) + " piece " + std::to_string(c.piece));
        std::string packed = alone_encode(data, c.dict), out, whole;
        ASSERT_FALSE(packed.empty());
        int pieces = 0;
        EXPECT_TRUE(ours_in_pieces(packed, data.size(), c.piece, out, pieces));
        EXPECT_TRUE(out == data);
        EXPECT_EQ(pieces > 1, c.several) << pieces;
        // Cut short or one size too long: the pieces fail as the whole does.
        EXPECT_FALSE(ours_in_pieces(packed.substr(0, packed.size() - 1), data.size(), c.piece, out, pieces));
        EXPECT_FALSE(ours_in_pieces(packed, data.size() + 1, c.piece, out, pieces));

        uint32_t seed = c.dict;
        for (int round = 0; round < 40; round++) {
            std::string bad = packed;
            bad[14 + next_random(seed) % (bad.size() - 14)] = char(next_random(seed));
            if (!ours_in_pieces(bad, data.size(), c.piece, out, pieces)) continue;
            EXPECT_TRUE(ours(bad, data.size(), whole)) << "round " << round;
            EXPECT_TRUE(out == whole) << "round " << round;
        }
    }
}

}  // namespace
