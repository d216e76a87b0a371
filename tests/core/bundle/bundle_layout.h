// Checks that a bundle is laid out the way the bundle writer promises:
// names sorted (byte order) and at most 93 bytes, each stream's files tiling
// it from offset 0 in entry order, streams numbered in name order and packed
// back to back from the end of the index to the end of the bundle, every
// stream LZMA-alone with properties 0x5D, a dictionary of 1 MiB to 128 MiB
// and a size field of all ones, flag 1 only under "tools/".
// Returns "" when it is, else what is wrong. Leaves the bundle open.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/core/bundle.h"

inline std::string bundle_layout_fault(std::string_view bytes) {
    if (!bundle_open(bytes)) return "the index does not open";
    const auto& entries = bundle_entries;
    const auto& streams = bundle_streams;
    uint64_t index_end = 16 + 24 * uint64_t(streams.size());
    for (size_t i = 0; i < entries.size(); i++) {
        const Bundle_Entry& e = entries[i];
        std::string name(e.name);
        index_end += 26 + e.name.size();
        if (e.name.size() > 93) return "name longer than 93 bytes: " + name;
        if (i > 0 && !(entries[i - 1].name < e.name)) return "not sorted at " + name;
        if (e.flag > 1 || (e.flag == 1 && e.name.substr(0, 6) != "tools/")) return "unexpected flag on " + name;
    }
    uint32_t stream = 0;
    uint64_t offset = 0;
    for (const Bundle_Entry& e : entries) {
        if (e.stream != stream) {
            if (e.stream != stream + 1) return "streams out of order at " + std::string(e.name);
            if (offset != streams[stream].unpacked_size) return "a gap at the end of a stream";
            stream = e.stream;
            offset = 0;
        }
        if (e.offset != offset) return "a gap before " + std::string(e.name);
        offset += e.size;
    }
    if (!streams.empty() && (stream + 1 != streams.size() || offset != streams[stream].unpacked_size)) {
        return "the last stream is not tiled";
    }
    uint64_t at = index_end;
    for (const Bundle_Stream& s : streams) {
        if (s.offset != at) return "the streams do not follow each other";
        at += s.packed_size;
        if (s.packed_size < 13) return "a stream shorter than its header";
        auto byte = [&](size_t k) { return uint8_t(bytes[size_t(s.offset) + k]); };
        if (byte(0) != 0x5D) return "properties byte is not 0x5D";
        uint32_t dict = uint32_t(byte(1)) | uint32_t(byte(2)) << 8 | uint32_t(byte(3)) << 16 | uint32_t(byte(4)) << 24;
        if (dict < (1u << 20) || dict > (1u << 27)) return "dictionary size out of range";
        for (size_t k = 5; k < 13; k++) {
            if (byte(k) != 0xFF) return "size field is not all ones";
        }
    }
    if (at != bytes.size()) return "the streams do not end at the end of the bundle";
    return "";
}
