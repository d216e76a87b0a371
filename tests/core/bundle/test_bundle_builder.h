// Builds small bundles in memory for tests: each file names the stream it
// goes into; the streams are LZMA-alone with an end marker, as the real
// bundle's are. Names are taken as given (also ones a reader must refuse).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tests/lzma/lzma_test_encoder.h"

struct Test_Bundle_File {
    std::string name;
    std::string bytes;
    uint32_t stream = 0;
    uint32_t flag = 0;
};

inline void test_put_le(std::string& out, uint64_t v, int width) {
    for (int i = 0; i < width; i++) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// Streams are numbered 0..count-1; the files of each stream follow each
// other in the order given.
inline std::string build_test_bundle(const std::vector<Test_Bundle_File>& files, uint32_t stream_count) {
    std::vector<std::string> content(stream_count);
    std::vector<uint64_t> offsets;
    for (const Test_Bundle_File& f : files) {
        offsets.push_back(content[f.stream].size());
        content[f.stream] += f.bytes;
    }
    std::vector<std::string> packed;
    for (const std::string& c : content) {
        Test_Lzma_Encoder e(3, 0, 2);
        // Literals, with one match where the data repeats itself at once.
        size_t i = 0;
        while (i < c.size()) {
            if (i >= 8 && i + 8 <= c.size() && c.compare(i, 8, c, i - 8, 8) == 0) {
                size_t len = 8;
                while (len < 273 && i + len < c.size() && c[i + len] == c[i + len - 8]) len++;
                e.put_match(7, uint32_t(len));
                i += len;
            } else {
                e.put_literal(uint8_t(c[i]));
                i++;
            }
        }
        e.put_end_marker();
        packed.push_back(e.finish_alone(~uint64_t(0)));
    }
    uint64_t index = 16 + 24 * uint64_t(stream_count);
    for (const Test_Bundle_File& f : files) index += 26 + f.name.size();
    std::string out = "EFBUNDL2";
    test_put_le(out, stream_count, 4);
    test_put_le(out, files.size(), 4);
    uint64_t at = index;
    for (uint32_t s = 0; s < stream_count; s++) {
        test_put_le(out, content[s].size(), 8);
        test_put_le(out, packed[s].size(), 8);
        test_put_le(out, at, 8);
        at += packed[s].size();
    }
    for (size_t i = 0; i < files.size(); i++) {
        test_put_le(out, files[i].name.size(), 2);
        out += files[i].name;
        test_put_le(out, files[i].flag, 4);
        test_put_le(out, files[i].stream, 4);
        test_put_le(out, offsets[i], 8);
        test_put_le(out, files[i].bytes.size(), 8);
    }
    for (const std::string& p : packed) out += p;
    return out;
}
