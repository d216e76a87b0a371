// The RAR5 reader and decompressor on archives made by the test writer
// (which bsdtar and unar read the same way, see rar5_peer_test.cpp): the
// block walk, every symbol and filter, the refusals and damaged data.
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "launcher/archive/rar5.h"
#include "launcher/archive/unpack.h"
#include "tests/rar5/rar5_samples.h"
#include "tests/rar5/rar5_test_writer.h"

namespace {

namespace w = rar5_writer;
using rar5::Rar5_Entry;

bool list_bytes(const std::string& bytes, std::vector<Rar5_Entry>& entries) {
    return rar5::list(rar5::from_memory(bytes), entries);
}

// Lists an archive made of `entries` and extracts its one file entry.
bool extract_one(const std::vector<w::Entry>& entries, std::string& out, size_t index = 0) {
    std::string bytes = w::archive(entries);
    std::vector<Rar5_Entry> listed;
    EXPECT_TRUE(list_bytes(bytes, listed));
    if (listed.size() <= index) return false;
    return rar5::extract_to_memory(rar5::from_memory(bytes), listed[index], out);
}

// An entry whose packed data is the given token stream.
w::Entry crafted(const std::vector<w::Token>& tokens, const std::string& expected, int64_t unpacked_size = -1,
                 std::vector<w::Filter_Spec> filters = {}, size_t block_tokens = 1 << 16) {
    static std::list<std::string> keep;   // Entry points at its packed data
    w::Compress_Options o;
    o.filters = std::move(filters);
    o.block_tokens = block_tokens;
    keep.push_back(w::encode(tokens, o));
    w::Entry e;
    e.name = "crafted.bin";
    e.content = expected;
    e.packed = &keep.back();
    e.unpacked_size = unpacked_size;
    return e;
}

std::vector<w::Token> literals(std::string_view s) {
    std::vector<w::Token> t;
    for (char c : s) t.push_back({w::Token::Literal, uint8_t(c), 0});
    return t;
}

TEST(Rar5Vint, ReadsTheFormatsIntegers) {
    struct Case {
        std::string bytes;
        bool ok;
        uint64_t value;
        size_t end;
    };
    const Case cases[] = {
        {std::string(1, '\0'), true, 0, 1},
        {"\x7f", true, 127, 1},
        {"\x80\x01", true, 128, 2},
        {"\xff\x7f\x55", true, 0x3FFF, 2},   // stops at the byte without the high bit
        {std::string("\x80\x80\x80\x00", 4), true, 0, 4},   // padded
        {std::string(9, '\xff') + "\x01", true, ~uint64_t(0), 10},
        {std::string(9, '\x80') + "\x02", false, 0, 0},      // a tenth byte beyond bit 63
        {std::string(10, '\x80') + "\x00", false, 0, 0},     // eleven bytes
        {"\x80", false, 0, 0},                               // ends inside the vint
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        size_t pos = 0;
        uint64_t value = 12345;
        bool ok = rar5::read_vint(c.bytes, pos, value);
        EXPECT_EQ(ok, c.ok) << testing::PrintToString(c.bytes);
        if (ok) {
            EXPECT_EQ(value, c.value);
            EXPECT_EQ(pos, c.end);
        }
    }
}

TEST(Rar5List, SignatureAloneListsNothing) {
    std::vector<Rar5_Entry> entries(3);
    EXPECT_TRUE(list_bytes(w::signature(), entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(list_bytes(w::signature().substr(0, 7), entries));
    EXPECT_FALSE(list_bytes("Rar!\x1a\x07\x00\x00", entries));   // RAR 4
}

TEST(Rar5List, EntriesKeepArchiveOrderAndTheirFields) {
    std::vector<w::Entry> in(4);
    in[0].name = "fonts";
    in[0].directory = true;
    in[1].name = "fonts\\gui\\main.ttf";   // stored with backslashes
    in[1].content = rar5_samples::text(5000);
    in[1].method = 5;
    in[2].name = "readme.txt";
    in[2].content = "stored";
    in[2].method = 0;
    in[2].with_crc = false;
    in[3].name = "old.bin";
    in[3].content = "x";
    in[3].version = 1;   // RAR 7
    std::string bytes = w::archive(in);
    std::vector<Rar5_Entry> e;
    ASSERT_TRUE(list_bytes(bytes, e));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].name, "fonts");
    EXPECT_TRUE(e[0].is_directory);
    EXPECT_EQ(e[1].name, "fonts/gui/main.ttf");
    EXPECT_EQ(e[1].method, 5);
    EXPECT_EQ(e[1].unpacked_size, 5000);
    EXPECT_TRUE(e[1].has_crc);
    EXPECT_EQ(e[1].crc32, w::crc32_of(in[1].content));
    EXPECT_EQ(e[2].packed_size, 6);
    EXPECT_EQ(bytes.substr(size_t(e[2].data_offset), 6), "stored");
    EXPECT_FALSE(e[2].has_crc);
    EXPECT_EQ(e[2].crc32, 0u);
    EXPECT_EQ(e[3].algorithm_version, 1);
    for (const Rar5_Entry& x : e) EXPECT_FALSE(x.solid || x.split || x.encrypted) << x.name;

    // Without its end block the archive is listed up to its last block.
    std::string no_end = w::archive(in, false);
    ASSERT_TRUE(list_bytes(no_end, e));
    EXPECT_EQ(e.size(), 4u);
    // Blocks after the end block are not read.
    ASSERT_TRUE(list_bytes(bytes + "garbage after the end", e));
    EXPECT_EQ(e.size(), 4u);
}

TEST(Rar5List, RefusesDamagedOrEncryptedHeaders) {
    w::Entry file;
    file.name = "a.txt";
    file.content = "hello";
    std::string good = w::archive({file});
    std::string main_and_sig = w::signature() + w::main_header();
    auto corrupt_main_crc = [&] {
        std::string b = good;
        b[8] ^= 1;
        return b;
    };
    // File-header fields: flags, size, attributes, CRC (4 bytes), info, host, name length, name.
    auto file_header = [](const std::string& fields) { return w::block(2, 2, fields, 0, 0); };
    std::string crc_cut;
    w::put_vint(crc_cut, 4);
    w::put_vint(crc_cut, 0);
    w::put_vint(crc_cut, 0);
    crc_cut += "\x01\x02";   // two of the CRC's four bytes
    std::string name_cut;
    w::put_vint(name_cut, 0);
    w::put_vint(name_cut, 0);
    w::put_vint(name_cut, 0);
    w::put_vint(name_cut, 0);
    w::put_vint(name_cut, 0);
    w::put_vint(name_cut, 9);
    name_cut += "short";
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"header CRC mismatch", corrupt_main_crc()},
        {"header size 0", main_and_sig + std::string("\x00\x00\x00\x00\x00", 5)},
        {"header size in four bytes", main_and_sig + std::string("\x00\x00\x00\x00\x80\x80\x80\x01", 8)},
        {"header runs past the end", good.substr(0, good.size() - 2)},
        {"fewer than 5 bytes of a block", main_and_sig + "\x01\x02\x03"},
        {"archive encryption header", main_and_sig + w::block(4, 0, std::string(1, '\0')) + w::end_header()},
        {"data area runs past the end", w::signature() + w::block(2, 2, "", 0, 1000)},
        {"data size near 2^64", w::signature() + w::block(3, 2, "", 0, ~uint64_t(0) - 5)},
        {"CRC field past the header", main_and_sig + file_header(crc_cut)},
        {"name past the header", main_and_sig + file_header(name_cut)},
    };
    for (const Case& c : cases) {
        std::vector<Rar5_Entry> e;
        EXPECT_FALSE(list_bytes(c.bytes, e)) << c.what;
    }
    std::vector<Rar5_Entry> e;
    EXPECT_TRUE(list_bytes(good, e));
}

TEST(Rar5List, MarksEncryptedSplitAndSolidEntries) {
    std::vector<w::Entry> in(4);
    for (size_t i = 0; i < in.size(); i++) {
        in[i].name = "f" + std::to_string(i);
        in[i].content = "data";
    }
    in[0].encrypted = true;
    in[1].header_flags_extra = 0x0008;
    in[2].header_flags_extra = 0x0010;
    in[3].solid = true;
    std::vector<Rar5_Entry> e;
    ASSERT_TRUE(list_bytes(w::archive(in), e));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_TRUE(e[0].encrypted);
    EXPECT_TRUE(e[1].split);
    EXPECT_TRUE(e[2].split);
    EXPECT_TRUE(e[3].solid);
    EXPECT_FALSE(e[3].encrypted || e[3].split);
}

TEST(Rar5Extract, EveryFixtureDecodesToItsContent) {
    for (const rar5_samples::Fixture& f : rar5_samples::fixtures()) {
        std::string bytes = w::archive(f.entries);
        std::vector<Rar5_Entry> listed;
        ASSERT_TRUE(list_bytes(bytes, listed)) << f.name;
        ASSERT_EQ(listed.size(), f.entries.size()) << f.name;
        for (size_t i = 0; i < listed.size(); i++) {
            if (listed[i].is_directory) continue;
            std::string out;
            EXPECT_TRUE(rar5::extract_to_memory(rar5::from_memory(bytes), listed[i], out))
                << f.name << " " << listed[i].name << ": " << rar5_error;
            EXPECT_TRUE(out == f.entries[i].content) << f.name << " " << listed[i].name;
        }
    }
}

TEST(Rar5Extract, RefusesWhatItCannotRead) {
    struct Case {
        const char* what;
        void (*change)(w::Entry&);
    };
    const Case cases[] = {
        {"folder", [](w::Entry& e) { e.directory = true; }},
        {"solid", [](w::Entry& e) { e.solid = true; }},
        {"continued from the previous volume", [](w::Entry& e) { e.header_flags_extra = 0x0008; }},
        {"continued in the next volume", [](w::Entry& e) { e.header_flags_extra = 0x0010; }},
        {"encrypted", [](w::Entry& e) { e.encrypted = true; }},
        {"RAR 7", [](w::Entry& e) { e.version = 1; }},
        {"unpacked size over 2 GiB", [](w::Entry& e) { e.unpacked_size = int64_t(0x80000001); }},
    };
    for (const Case& c : cases) {
        w::Entry e;
        e.name = "x.bin";
        e.content = "some data";
        c.change(e);
        std::string out;
        rar5_error = "left over";
        EXPECT_FALSE(extract_one({e}, out)) << c.what;
        EXPECT_EQ(rar5_error, "unsupported (encrypted, solid, split or RAR 7)") << c.what;
    }
    // An entry record that claims more than the archive holds is refused
    // before anything is read or allocated.
    w::Entry e;
    e.name = "x.bin";
    e.content = "some data";
    std::string bytes = w::archive({e});
    std::vector<Rar5_Entry> listed;
    ASSERT_TRUE(list_bytes(bytes, listed));
    Rar5_Entry forged = listed[0];
    forged.packed_size = int64_t(0x7FFFFFFF);
    std::string out;
    EXPECT_FALSE(rar5::extract_to_memory(rar5::from_memory(bytes), forged, out));
    EXPECT_FALSE(rar5_error.empty());
    // So is a size that no stream of that length can decode to.
    e.unpacked_size = int64_t(1) << 30;
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_EQ(rar5_error, "corrupt data");
}

// Stored data shorter than the entry's size are made up with zeros only
// when a CRC-32 vouches for the whole file; without one, a few bytes could
// claim gigabytes.
TEST(Rar5Extract, StoredDataShorterThanItsSizeNeedsACrc) {
    static const std::string five = "12345";
    w::Entry e;
    e.name = "short.bin";
    e.method = 0;
    e.content = std::string("12345") + std::string(3, '\0');
    e.packed = &five;
    e.with_crc = true;
    std::string out;
    EXPECT_TRUE(extract_one({e}, out)) << rar5_error;
    EXPECT_EQ(out, e.content);
    e.content = "12345678";   // the CRC is of the whole file, the padding differs
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_EQ(rar5_error, "CRC32 mismatch");
    e.content = std::string("12345") + std::string(3, '\0');
    e.with_crc = false;
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_EQ(rar5_error, "corrupt data");
    EXPECT_EQ(out, "");
}

TEST(Rar5Extract, WrongCrcIsReported) {
    for (int method : {0, 3}) {
        w::Entry e;
        e.name = "a.c";
        e.content = rar5_samples::text(2000);
        e.method = method;
        e.bad_crc = true;
        std::string out;
        EXPECT_FALSE(extract_one({e}, out));
        EXPECT_EQ(rar5_error, "CRC32 mismatch");
        EXPECT_TRUE(out.empty());
    }
}

// Streams written token by token: what the decoder must do with symbols an
// ordinary compressor would not write, and the faults it must refuse.
TEST(Rar5Unpack, CraftedStreams) {
    using T = w::Token;
    struct Case {
        const char* what;
        std::vector<T> tokens;
        std::string content;        // the expected output, or the file's content on failure
        int64_t unpacked_size;      // -1: the content's size
        std::vector<w::Filter_Spec> filters;
        const char* error;          // nullptr: succeeds
    };
    auto cat = [](std::vector<T> a, const std::vector<T>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    std::vector<T> flood;
    for (int i = 0; i < 9000; i++) flood.push_back({T::Filter, 0, 0});
    flood = cat(flood, literals("abcdefgh"));
    const std::string call5("\xe8\x01\x00\x00\x00", 5), call4("\xe8\x01\x00\x00", 4);
    const Case cases[] = {
        {"repeat-last before any match copies nothing", cat({{T::Repeat_Last, 0, 0}}, literals("ab")), "ab", -1, {}, nullptr},
        {"overlapping match repeats its bytes", cat(literals("ab"), {{T::Match, 7, 2}}), "ababababa", -1, {}, nullptr},
        {"repeat-last and a rep", cat(literals("xyz"), {{T::Match, 3, 3}, {T::Repeat_Last, 3, 0}, {T::Rep, 2, 0}}),
         "xyzxyzxyzxy", -1, {}, nullptr},
        {"match cut at the end of the output", cat(literals("ab"), {{T::Match, 40, 2}}), "abababab", -1, {}, nullptr},
        {"distance before the start", cat(literals("ab"), {{T::Match, 3, 3}}), "abxyz", -1, {}, "distance before the start"},
        {"data ended early", literals("abc"), "abcde", -1, {}, "data ended early"},
        {"filter out of range", cat({{T::Filter, 0, 0}}, literals("abcdefgh")), "abcdefgh", -1, {{0, 64, 1, 1, 2}},
         "filter out of range"},
        {"a filter flood is refused", flood, "abcdefgh", -1, {{0, 4, 1, 1, 0}}, "too many filters"},
        {"filters longer than 4 MiB are dropped", cat({{T::Filter, 0, 0}}, literals(call5)), call5, -1, {{0, 0x400001, 1, 1, 0}}, nullptr},
        {"E8 over exactly 4 bytes changes nothing", cat({{T::Filter, 0, 0}}, literals(call4)), call4, -1, {{0, 4, 1, 1, 0}}, nullptr},
    };
    for (const Case& c : cases) {
        std::string out;
        bool ok = extract_one({crafted(c.tokens, c.content, c.unpacked_size, c.filters)}, out);
        if (c.error) {
            EXPECT_FALSE(ok) << c.what;
            EXPECT_EQ(rar5_error, c.error) << c.what;
        } else {
            EXPECT_TRUE(ok) << c.what << ": " << rar5_error;
            EXPECT_EQ(out, c.content) << c.what;
        }
    }
}

// The block header: checksum 0x5A ^ flags ^ size bytes, at most 3 size
// bytes, and a block that lies within the data.
TEST(Rar5Unpack, BlockHeaders) {
    struct Case {
        std::string header;
        size_t data_size;   // bytes of block data after the header
        bool ok;
    };
    auto header = [](uint8_t flags, std::string size, int checksum_change = 0) {
        uint8_t check = 0x5A ^ flags;
        for (char c : size) check ^= uint8_t(c);
        return std::string(1, char(flags)) + char(check ^ checksum_change) + size;
    };
    const Case cases[] = {
        {header(0xC7, "\x03"), 3, true},
        {header(0xC7, "\x03", 1), 3, false},                       // wrong checksum
        {header(0xCF, std::string("\x03\x00", 2)), 3, true},      // two size bytes
        {header(0xD7, std::string("\x03\x00\x00", 3)), 3, true},
        {header(0xDF, std::string("\x03\x00\x00\x00", 4)), 3, false},   // four size bytes
        {header(0xC7, "\x04"), 3, false},                           // the block passes the data
        {header(0xC7, ""), 0, false},                               // the header itself is cut
    };
    for (const Case& c : cases) {
        std::string data = c.header + std::string(c.data_size, '\x55') + std::string(rar5::read_ahead, '\0');
        rar5::Bit_Reader in;
        in.data = reinterpret_cast<const uint8_t*>(data.data());
        in.size = data.size() - rar5::read_ahead;
        rar5::Block_Header b;
        EXPECT_EQ(rar5::read_block_header(in, b), c.ok) << testing::PrintToString(c.header);
        if (c.ok) {
            EXPECT_EQ(b.block_start, c.header.size());
            EXPECT_EQ(b.block_size, 3u);
            EXPECT_EQ(b.last_bits, 8u);
            EXPECT_TRUE(b.last_block && b.table_present);
        }
    }
    // The decoder's own texts for the first block.
    std::string out;
    static const std::string bad_first = header(0xC7, "\x03", 1) + "abc";
    w::Entry e = crafted({}, "abc");
    e.packed = &bad_first;
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_EQ(rar5_error, "bad first block header");
    static const std::string no_tables = header(0x47, "\x03") + "abc";
    e.packed = &no_tables;
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_EQ(rar5_error, "bad first tables");
}

TEST(Rar5Unpack, DeltaFilterRunsChannelByChannel) {
    uint8_t data[] = {1, 2, 3, 4, 5, 6};
    rar5::Filter f;
    f.block_start = 0;
    f.block_length = 6;
    f.type = 0;
    f.channels = 3;
    rar5::apply_filter(f, data);
    const uint8_t expected[] = {255, 253, 251, 253, 249, 245};
    EXPECT_EQ(std::vector<uint8_t>(data, data + 6), std::vector<uint8_t>(expected, expected + 6));
}

// Later blocks without tables use the tables in force; a stream that stops
// after a block that is not the last fails with a text of its own.
TEST(Rar5Unpack, BlocksReuseTablesAndMustContinue) {
    std::string content = rar5_samples::text(20000, 11);
    w::Compress_Options o;
    o.block_tokens = 300;
    o.blocks_per_table = 1000;   // only the first block carries tables
    std::string packed = w::compress(content, o);
    ASSERT_EQ(uint8_t(packed[0]) & 0x80, 0x80);
    size_t second = 2 + ((uint8_t(packed[0]) >> 3) & 3) + 1;
    size_t first_size = 0;
    for (size_t i = 2; i < second; i++) first_size |= size_t(uint8_t(packed[i])) << (8 * (i - 2));
    ASSERT_EQ(uint8_t(packed[second + first_size]) & 0xC0, 0);   // no tables, not the last
    std::string out;
    w::Entry e = crafted({}, content);
    e.packed = &packed;
    EXPECT_TRUE(extract_one({e}, out)) << rar5_error;
    EXPECT_EQ(out, content);

    static std::string cut;
    cut = packed.substr(0, second + first_size);
    e.packed = &cut;
    EXPECT_FALSE(extract_one({e}, out));
    EXPECT_TRUE(rar5_error == "bad block header" || rar5_error == "read past the data") << rar5_error;
}

// Damaged archives fail with a reason (or, for a cut archive, at the
// listing) and never read or write outside their buffers (the sanitizer
// build runs this too). A flip the data does not depend on (an unused bit
// of a block's last byte) may pass, with the right bytes.
TEST(Rar5Damage, TruncationsAndBitFlipsFail) {
    std::vector<w::Entry> in;
    for (const rar5_samples::Fixture& f : rar5_samples::fixtures()) {
        if (f.name == "e8e9.rar" || f.name == "delta.rar" || f.name == "multiblock.rar") {
            in.push_back(f.entries[0]);
            in.back().content.resize(std::min<size_t>(in.back().content.size(), 30000));
            for (auto& flt : in.back().options.filters) flt.length = std::min<size_t>(flt.length, 30000 - flt.start);
        }
    }
    in[0].options.filters = {{1000, 20000, 2, 1}};
    std::string bytes = w::archive(in);
    std::vector<Rar5_Entry> whole;
    ASSERT_TRUE(list_bytes(bytes, whole));
    ASSERT_EQ(whole.size(), in.size());

    auto check = [&](const std::string& damaged, const std::string& what) {
        std::vector<Rar5_Entry> listed;
        bool all_good = list_bytes(damaged, listed) && listed.size() == in.size();
        for (size_t i = 0; all_good && i < listed.size(); i++) {
            std::string out;
            bool ok = rar5::extract_to_memory(rar5::from_memory(damaged), listed[i], out);
            if (!ok) {
                EXPECT_FALSE(rar5_error.empty()) << what;
                all_good = false;
            } else {
                EXPECT_EQ(out, in[i].content) << what;   // a change the data does not depend on
            }
        }
        return all_good;
    };
    for (size_t cut = 0; cut < bytes.size(); cut += 97) {
        EXPECT_FALSE(check(bytes.substr(0, cut), "cut at " + std::to_string(cut)));
    }
    for (size_t bit = 5; bit < bytes.size() * 8; bit += 331) {
        std::string damaged = bytes;
        damaged[bit / 8] ^= char(1 << (bit % 8));
        check(damaged, "bit " + std::to_string(bit));
    }
}

}  // namespace
