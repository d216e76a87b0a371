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
        std::string stored = m.deflate ? raw_deflate(m.data) : m.data;
        uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), uInt(m.data.size())));
        uint16_t method = m.deflate ? 8 : 0;
        size_t offset = out.size();
        zip_maker_put(out, 0x04034b50, 4);
        zip_maker_put(out, 20, 2);
        zip_maker_put(out, 0, 2);
        zip_maker_put(out, method, 2);
        zip_maker_put(out, 0, 4);   // time, date
        zip_maker_put(out, crc, 4);
        zip_maker_put(out, stored.size(), 4);
        zip_maker_put(out, m.data.size(), 4);
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
        zip_maker_put(central, m.data.size(), 4);
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
