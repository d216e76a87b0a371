// Builds game file lists for tests, packing the chunks with zlib itself so
// that the reader is checked against lists our writer did not make.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct Fixture_Entry {
    uint32_t value;
    uint32_t chunk;
    uint32_t offset;
};

inline void fixture_u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(char(uint8_t(v >> (8 * i))));
}

inline std::string zlib_pack(const std::string& in, int level = 6) {
    uLongf size = compressBound(uLong(in.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(in.data()), uLong(in.size()),
              level);
    out.resize(size);
    return out;
}

// Chunks are given unpacked (lines with their NULs). `gap` bytes stand
// between the entries and the chunk records.
inline std::string fixture_list(const std::vector<std::string>& chunks, const std::vector<Fixture_Entry>& entries,
                                const std::string& tail = "", uint32_t gap = 0) {
    uint32_t t = uint32_t(12 + 8 * entries.size()) + gap;
    uint32_t d = t + uint32_t(12 * chunks.size());
    std::string out, records, data;
    fixture_u32(out, t);
    fixture_u32(out, d);
    fixture_u32(out, uint32_t(entries.size()));
    for (const Fixture_Entry& e : entries) {
        fixture_u32(out, e.value);
        out.push_back(char(e.chunk & 0xFF));
        out.push_back(char(e.chunk >> 8));
        out.push_back(char(e.offset & 0xFF));
        out.push_back(char(e.offset >> 8));
    }
    out.append(gap, '\0');
    for (const std::string& c : chunks) {
        std::string packed = zlib_pack(c);
        fixture_u32(records, uint32_t(c.size()));
        fixture_u32(records, uint32_t(packed.size()));
        fixture_u32(records, uint32_t(data.size()));
        data += packed;
    }
    return out + records + data + tail;
}
