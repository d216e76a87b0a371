// Writes small ZIP archives for tests: stored or deflated members, in the
// given order, with a central directory.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct Zip_Member {
    std::string name;
    std::string data;
    bool deflate = false;
    // `data` is already a raw deflate stream of `size` bytes with this CRC-32.
    bool packed = false;
    uint32_t crc = 0;
    uint64_t size = 0;
};

inline void zip_maker_put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(char(uint8_t(v >> (8 * i))));
}

inline std::string raw_deflate(const std::string& in) {
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, uLong(in.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = uInt(in.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

inline std::string make_zip(const std::vector<Zip_Member>& members) {
    std::string out, central;
    for (const Zip_Member& m : members) {
        std::string stored = m.packed ? m.data : m.deflate ? raw_deflate(m.data) : m.data;
        uint32_t crc = m.packed ? m.crc : uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), uInt(m.data.size())));
        uint64_t size = m.packed ? m.size : m.data.size();
        uint16_t method = m.deflate || m.packed ? 8 : 0;
        size_t offset = out.size();
        zip_maker_put(out, 0x04034b50, 4);
        zip_maker_put(out, 20, 2);
        zip_maker_put(out, 0, 2);
        zip_maker_put(out, method, 2);
        zip_maker_put(out, 0, 4);   // time, date
        zip_maker_put(out, crc, 4);
        zip_maker_put(out, stored.size(), 4);
        zip_maker_put(out, size, 4);
        zip_maker_put(out, m.name.size(), 2);
        zip_maker_put(out, 0, 2);
        out += m.name + stored;
        zip_maker_put(central, 0x02014b50, 4);
        zip_maker_put(central, 20, 2);
        zip_maker_put(central, 20, 2);
        zip_maker_put(central, 0, 2);
        zip_maker_put(central, method, 2);
        zip_maker_put(central, 0, 4);
        zip_maker_put(central, crc, 4);
        zip_maker_put(central, stored.size(), 4);
        zip_maker_put(central, size, 4);
        zip_maker_put(central, m.name.size(), 2);
        zip_maker_put(central, 0, 2 + 2 + 2 + 2);   // extra, comment, disk, internal attributes
        zip_maker_put(central, 0, 4);               // external attributes
        zip_maker_put(central, offset, 4);
        central += m.name;
    }
    size_t central_at = out.size();
    out += central;
    zip_maker_put(out, 0x06054b50, 4);
    zip_maker_put(out, 0, 4);
    zip_maker_put(out, members.size(), 2);
    zip_maker_put(out, members.size(), 2);
    zip_maker_put(out, central.size(), 4);
    zip_maker_put(out, central_at, 4);
    zip_maker_put(out, 0, 2);
    return out;
}

// A deflated member of `mib` MiB of zeros, small to make and to store: one
// flushed block (it refers to nothing before it) repeated, then the end.
inline Zip_Member zeros_member(const std::string& name, int mib) {
    const std::string zeros(1 << 20, '\0');
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string block(deflateBound(&s, uLong(zeros.size())) + 64, '\0'), end(64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    s.avail_in = uInt(zeros.size());
    s.next_out = reinterpret_cast<Bytef*>(block.data());
    s.avail_out = uInt(block.size());
    deflate(&s, Z_FULL_FLUSH);
    block.resize(block.size() - s.avail_out);
    s.next_out = reinterpret_cast<Bytef*>(end.data());
    s.avail_out = uInt(end.size());
    deflate(&s, Z_FINISH);
    end.resize(end.size() - s.avail_out);
    deflateEnd(&s);
    uLong one = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), uInt(zeros.size()));
    uLong crc = 0;
    Zip_Member m{name, "", false, true, 0, uint64_t(mib) << 20};
    for (int i = 0; i < mib; i++) {
        crc = crc32_combine(crc, one, z_off_t(zeros.size()));
        m.data += block;
    }
    m.data += end;
    m.crc = uint32_t(crc);
    return m;
}
