#include "launcher/mods/filelist.h"

#include <zlib.h>

#include <algorithm>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/zlib_writer.h"

namespace {

void put_u32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(char(uint8_t(v >> (8 * i))));
}
void put_u16(std::string& out, uint32_t v) {
    out.push_back(char(uint8_t(v)));
    out.push_back(char(uint8_t(v >> 8)));
}

// A whole hexadecimal number without prefix that fits 64 bits.
bool parse_hex(std::string_view text, uint64_t& out) {
    if (text.empty() || text.size() > 16) return false;
    uint64_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v << 4 | uint64_t(d);
    }
    out = v;
    return true;
}

// Deflate cannot expand a byte into more than 1032 (RFC 1951's longest
// match from the shortest code), plus the stream's few fixed bytes.
bool size_reachable(uint64_t packed, uint64_t size) { return size <= packed * 1032 + 64; }

}  // namespace

uint32_t filelist_u32(std::string_view bytes, size_t offset) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool zlib_inflate_exact(std::string_view packed, uint64_t size, std::string& out) {
    out.clear();
    if (!size_reachable(packed.size(), size) || size > filelist_member_max) return false;
    // One byte more than wanted: a stream that goes on past the size is
    // caught by its count, and an empty result still has a buffer.
    out.assign(size_t(size) + 1, '\0');
    z_stream s{};
    if (inflateInit(&s) != Z_OK) return false;
    int r = Z_OK;
    size_t in_at = 0, out_at = 0;
    // zlib counts in 32 bits: feed and drain in pieces.
    const size_t piece = size_t(1) << 30;
    for (;;) {
        if (s.avail_in == 0 && in_at < packed.size()) {
            size_t n = std::min(piece, packed.size() - in_at);
            s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + in_at));
            s.avail_in = uInt(n);
            in_at += n;
        }
        if (s.avail_out == 0 && out_at < out.size()) {
            size_t n = std::min(piece, out.size() - out_at);
            s.next_out = reinterpret_cast<Bytef*>(out.data() + out_at);
            s.avail_out = uInt(n);
            out_at += n;
        }
        r = inflate(&s, Z_NO_FLUSH);
        if (r != Z_OK) break;
        bool in_done = s.avail_in == 0 && in_at == packed.size();
        bool out_full = s.avail_out == 0 && out_at == out.size();
        if (out_full || (in_done && s.avail_out > 0)) break;
    }
    uint64_t produced = s.total_out;
    inflateEnd(&s);
    if (r != Z_STREAM_END || produced != size) {
        out.clear();
        return false;
    }
    out.resize(size_t(size));
    return true;
}

bool filelist_read(std::string_view bytes, Filelist& out) {
    out = Filelist{};
    const uint64_t file_size = bytes.size();
    if (file_size < 12) return false;
    const uint64_t t = filelist_u32(bytes, 0), d = filelist_u32(bytes, 4), n = filelist_u32(bytes, 8);
    if (t < 8 * n + 12 || d < t || (d - t) % 12 != 0 || d > file_size) return false;
    const uint64_t chunks = (d - t) / 12;

    Filelist list;
    std::vector<std::string> unpacked(chunks);
    uint64_t data_end = d;
    for (uint64_t i = 0; i < chunks; i++) {
        size_t rec = size_t(t + 12 * i);
        uint64_t u = filelist_u32(bytes, rec), p = filelist_u32(bytes, rec + 4), o = filelist_u32(bytes, rec + 8);
        if (d + o + p > file_size) return false;
        std::string_view packed = bytes.substr(size_t(d + o), size_t(p));
        if (!zlib_inflate_exact(packed, u, unpacked[i])) return false;
        list.packed.push_back(packed);
        list.unpacked_sizes.push_back(uint32_t(u));
        if (d + o + p > data_end) data_end = d + o + p;
    }
    list.tail = bytes.substr(size_t(data_end));
    list.entries.reserve(size_t(n));
    for (uint64_t j = 0; j < n; j++) {
        size_t at = size_t(12 + 8 * j);
        Filelist_Entry e;
        e.value = filelist_u32(bytes, at);
        e.chunk = uint32_t(uint8_t(bytes[at + 4])) | uint32_t(uint8_t(bytes[at + 5])) << 8;
        e.offset = uint32_t(uint8_t(bytes[at + 6])) | uint32_t(uint8_t(bytes[at + 7])) << 8;
        if (e.chunk >= chunks || e.offset >= list.unpacked_sizes[e.chunk]) return false;
        std::string_view chunk = unpacked[e.chunk];
        size_t end = chunk.find('\0', e.offset);
        e.text = std::string(chunk.substr(e.offset, end == std::string_view::npos ? end : end - e.offset));
        list.entries.push_back(std::move(e));
    }
    out = std::move(list);
    return true;
}

bool filelist_write(const Filelist& list, std::string& out) {
    out.clear();
    const size_t chunks = list.packed.size();
    const uint64_t n = list.entries.size();
    if (list.unpacked_sizes.size() != chunks || chunks > 0xFFFF) return false;
    std::vector<bool> dirty(chunks, false);
    for (const Filelist_Entry& e : list.entries) {
        if (e.chunk >= chunks) return false;
        if (e.changed) dirty[e.chunk] = true;
    }
    std::vector<std::string> rebuilt(chunks);
    std::vector<uint32_t> offsets(list.entries.size());
    for (size_t i = 0; i < list.entries.size(); i++) {
        const Filelist_Entry& e = list.entries[i];
        if (!dirty[e.chunk]) {
            offsets[i] = e.offset;
            continue;
        }
        std::string& chunk = rebuilt[e.chunk];
        if (chunk.size() > 0xFFFF) return false;
        offsets[i] = uint32_t(chunk.size());
        chunk += e.text;
        chunk.push_back('\0');
    }

    const uint64_t t = 8 * n + 12, d = t + 12 * uint64_t(chunks);
    std::string packed_data, records;
    for (size_t c = 0; c < chunks; c++) {
        uint64_t unpacked_size = list.unpacked_sizes[c];
        size_t start = packed_data.size();
        if (dirty[c]) {
            if (rebuilt[c].size() > filelist_chunk_max) return false;
            unpacked_size = rebuilt[c].size();
            zlib_compress(packed_data, rebuilt[c]);
        } else {
            packed_data.append(list.packed[c]);
        }
        put_u32(records, uint32_t(unpacked_size));
        put_u32(records, uint32_t(packed_data.size() - start));
        put_u32(records, uint32_t(start));
    }
    if (d + packed_data.size() + list.tail.size() > 0xFFFFFFFFu) return false;
    out.reserve(size_t(d) + packed_data.size() + list.tail.size());
    put_u32(out, uint32_t(t));
    put_u32(out, uint32_t(d));
    put_u32(out, uint32_t(n));
    for (size_t i = 0; i < list.entries.size(); i++) {
        put_u32(out, list.entries[i].value);
        put_u16(out, list.entries[i].chunk);
        put_u16(out, offsets[i]);
    }
    out += records;
    out += packed_data;
    out.append(list.tail);
    return true;
}

bool game_archive_open(std::string_view path, Game_Archive& out) {
    File_Info info;
    if (!fs_stat(path, info) || !info.exists || info.is_dir) return false;
    out.path = std::string(path);
    out.size = info.size;
    return true;
}

bool archive_entry(const Game_Archive& archive, const std::vector<std::string_view>& fields, std::string& out) {
    out.clear();
    uint64_t position = 0, unpacked = 0, stored = 0;
    if (fields.size() < 3 || !parse_hex(fields[0], position) || !parse_hex(fields[1], unpacked) ||
        !parse_hex(fields[2], stored))
        return false;
    if (unpacked > filelist_member_max || stored > filelist_member_max) return false;
    // position x 2048 + stored must lie within the archive, in 64 bits.
    if (position > archive.size / 2048 || position * 2048 + stored > archive.size) return false;
    if (unpacked != stored && !size_reachable(stored, unpacked)) return false;
    std::string bytes;
    if (!fs_read_at(archive.path, position * 2048, size_t(stored), bytes) || bytes.size() != stored) return false;
    if (unpacked == stored) {
        out = std::move(bytes);
        return true;
    }
    return zlib_inflate_exact(bytes, unpacked, out);
}

std::string mods_data_path(std::string_view relative) {
    Settings s = settings_copy();
    if (s.hd || hd_discarded()) {
        std::string hd = hd_dir();
        if (!hd.empty()) {
            std::string candidate = path_join({hd, relative});
            if (file_exists(candidate)) return candidate;
        }
    }
    return path_join({s.game_dir, "amber_data", relative});
}
