// RAR 5.0 archive reader. See rar5.h.
#include "launcher/archive/rar5.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/kt_system/fs.h"
#include "launcher/archive/member_name.h"
#include "launcher/archive/progress.h"
#include "launcher/archive/zip.h"
#include "launcher/archive/unpack.h"

std::string rar5_error;

namespace rar5 {

namespace {

// Header types and flags.
constexpr uint64_t type_file = 2;
constexpr uint64_t type_archive_encryption = 4;
constexpr uint64_t type_end = 5;
constexpr uint64_t flag_extra = 0x0001;
constexpr uint64_t flag_data = 0x0002;
constexpr uint64_t flag_split = 0x0008 | 0x0010;
constexpr uint64_t file_directory = 0x0001;
constexpr uint64_t file_mtime = 0x0002;
constexpr uint64_t file_crc = 0x0004;
constexpr uint64_t extra_file_encryption = 1;

uint32_t crc32_of(const uint8_t* p, size_t n, uint32_t crc = 0) {
    uLong c = crc;
    while (n > 0) {
        uInt piece = uInt(std::min<size_t>(n, 1u << 30));
        c = ::crc32(c, p, piece);
        p += piece;
        n -= piece;
    }
    return uint32_t(c);
}

uint32_t u32_at(std::string_view b, size_t pos) {
    const auto* p = reinterpret_cast<const uint8_t*>(b.data()) + pos;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int64_t to_i64(uint64_t v) { return v > uint64_t(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max() : int64_t(v); }

// The type's own fields of a file header, from `pos` of the header data.
bool read_file_header(std::string_view header, size_t pos, uint64_t extra_size, Rar5_Entry& e) {
    uint64_t flags = 0, unpacked = 0, attributes = 0, info = 0, host = 0, name_length = 0;
    if (!read_vint(header, pos, flags) || !read_vint(header, pos, unpacked) || !read_vint(header, pos, attributes))
        return false;
    if (flags & file_mtime) {
        if (header.size() - pos < 4) return false;
        pos += 4;
    }
    if (flags & file_crc) {
        if (header.size() - pos < 4) return false;
        e.has_crc = true;
        e.crc32 = u32_at(header, pos);
        pos += 4;
    }
    if (!read_vint(header, pos, info) || !read_vint(header, pos, host) || !read_vint(header, pos, name_length))
        return false;
    if (name_length > header.size() - pos) return false;
    e.name = clone_name(header, pos, size_t(name_length));
    e.unpacked_size = to_i64(unpacked);
    e.algorithm_version = int(info & 0x3F);
    e.solid = (info & 0x40) != 0;
    e.method = int((info >> 7) & 7);
    e.is_directory = (flags & file_directory) != 0;
    e.dictionary = uint64_t(0x20000) << ((info >> 10) & 0xF);

    // Extra area records: size, type, data. Only the encryption record matters.
    if (extra_size >= 1 && extra_size <= header.size()) {
        size_t at = header.size() - size_t(extra_size);
        while (at < header.size()) {
            uint64_t record_size = 0, record_type = 0;
            if (!read_vint(header, at, record_size) || record_size == 0 || record_size > header.size()) break;
            size_t next = at + size_t(record_size);
            if (read_vint(header, at, record_type) && record_type == extra_file_encryption) e.encrypted = true;
            at = next;
        }
    }
    return true;
}

}  // namespace

bool open_file(std::string_view path, Rar5_Archive& out) {
    out = Rar5_Archive{};
    out.path = std::string(path);
    // Sized through the opened file: a link reads as the file it names.
    File f;
    int64_t size = 0;
    if (!file_open_read(f, path) || !file_size(f, size) || size < 0) return false;
    out.size = size;
    return true;
}

Rar5_Archive from_memory(std::string_view bytes) {
    Rar5_Archive a;
    a.memory = reinterpret_cast<const uint8_t*>(bytes.data());
    a.size = int64_t(bytes.size());
    return a;
}

bool read_at(const Rar5_Archive& archive, int64_t offset, size_t count, std::string& out) {
    out.clear();
    if (archive.size < 0 || offset < 0) return false;
    if (offset >= archive.size) return true;
    count = size_t(std::min<uint64_t>(count, uint64_t(archive.size - offset)));
    if (archive.memory) {
        out.assign(reinterpret_cast<const char*>(archive.memory) + offset, count);
        return true;
    }
    return fs_read_at(archive.path, uint64_t(offset), count, out);
}

bool read_vint(std::string_view bytes, size_t& pos, uint64_t& value) {
    value = 0;
    for (int i = 0; i < 10; i++) {
        if (pos >= bytes.size()) return false;
        uint8_t b = uint8_t(bytes[pos++]);
        if (i == 9 && b > 1) return false;   // only bit 63 is left, and no further byte
        value |= uint64_t(b & 0x7F) << (7 * i);
        if ((b & 0x80) == 0) return true;
    }
    return false;
}

std::string clone_name(std::string_view header, size_t pos, size_t length) {
    std::string name(header.substr(pos, length));
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool list(const Rar5_Archive& archive, std::vector<Rar5_Entry>& entries) {
    entries.clear();
    if (archive.size < 8) return false;
    std::string bytes;
    if (!read_at(archive, 0, 8, bytes) || bytes.size() != 8 || std::memcmp(bytes.data(), signature, 8) != 0)
        return false;
    int64_t p = 8;
    std::string header;
    while (p < archive.size) {
        // CRC (4 bytes) and the header size (a vint of at most 3 bytes here).
        if (!read_at(archive, p, 7, bytes) || bytes.size() < 5) return false;
        size_t pos = 4;
        uint64_t header_size = 0;
        if (!read_vint(bytes, pos, header_size) || header_size < 1 || header_size > header_size_max) return false;
        size_t size_length = pos - 4;
        int64_t header_start = p + 4 + int64_t(size_length);
        if (!read_at(archive, header_start, size_t(header_size), header) || header.size() != header_size) return false;
        uint32_t crc = crc32_of(reinterpret_cast<const uint8_t*>(bytes.data()) + 4, size_length);
        crc = crc32_of(reinterpret_cast<const uint8_t*>(header.data()), header.size(), crc);
        if (crc != u32_at(bytes, 0)) return false;

        size_t at = 0;
        uint64_t type = 0, flags = 0, extra_size = 0, data_size = 0;
        if (!read_vint(header, at, type) || !read_vint(header, at, flags)) return false;
        if ((flags & flag_extra) && !read_vint(header, at, extra_size)) return false;
        if ((flags & flag_data) && !read_vint(header, at, data_size)) return false;
        int64_t data_start = header_start + int64_t(header_size);
        if (data_size > uint64_t(archive.size - data_start)) return false;   // the data area is cut short

        if (type == type_archive_encryption) return false;
        if (type == type_end) return true;
        if (type == type_file) {
            Rar5_Entry e;
            if (!read_file_header(header, at, extra_size, e)) return false;
            e.packed_size = int64_t(data_size);
            e.data_offset = data_start;
            e.split = (flags & flag_split) != 0;
            entries.push_back(std::move(e));
        }
        p = data_start + int64_t(data_size);
    }
    return true;
}

namespace {

const char* const error_ends_early = "the archive ends early: it is not whole -- download it again";
constexpr size_t stored_piece = size_t(1) << 20;

// Unpacks an entry, handing its bytes to `write` in order; the CRC-32 of
// what was handed on is checked at the end. On false `rar5_error` holds the
// reason, unless `write` failed (then it says why itself).
bool extract_stream(const Rar5_Archive& archive, const Rar5_Entry& e, const Unpack_Write& write) {
    rar5_error.clear();
    if (e.is_directory || e.solid || e.split || e.encrypted || e.algorithm_version != 0 || e.method > 5 ||
        e.packed_size < 0 || e.unpacked_size < 0 || uint64_t(e.packed_size) > entry_size_max ||
        uint64_t(e.unpacked_size) > entry_size_max) {
        rar5_error = error_unsupported;
        return false;
    }
    // A compressed byte yields at most 8 repeat symbols of 4,100 bytes each:
    // a larger size cannot be true, and is refused before it costs anything.
    if (e.method != 0 && uint64_t(e.unpacked_size) > uint64_t(e.packed_size) * 8 * 4100 + 65536) {
        rar5_error = error_corrupt;
        return false;
    }
    // A stored entry is its data. Shorter data would be made up to the size
    // with zeros: only a CRC-32 can say that those are the file's bytes.
    if (e.method == 0 && e.packed_size < e.unpacked_size && !e.has_crc) {
        rar5_error = error_corrupt;
        return false;
    }
    if (e.data_offset < 0 || e.packed_size > archive.size - std::min(archive.size, e.data_offset)) {
        rar5_error = error_ends_early;
        return false;
    }
    uint32_t crc = 0;
    bool write_failed = false;
    Unpack_Write checked = [&](const uint8_t* data, size_t size) {
        crc = crc32_of(data, size, crc);
        if (write(data, size)) return true;
        write_failed = true;
        return false;
    };
    std::string piece;
    Unpack_Read read = [&](uint64_t offset, size_t count, uint8_t* to) {
        if (!read_at(archive, e.data_offset + int64_t(offset), count, piece) || piece.size() != count) {
            rar5_error = error_ends_early;
            return false;
        }
        std::memcpy(to, piece.data(), count);
        return true;
    };
    if (e.method == 0) {
        // The data, then zeros up to the size (only with a CRC-32, above).
        std::vector<uint8_t> buf(size_t(std::min<int64_t>(std::max(e.packed_size, e.unpacked_size), stored_piece)));
        for (int64_t done = 0; done < e.unpacked_size;) {
            size_t n = size_t(std::min<int64_t>(e.unpacked_size - done, int64_t(buf.size())));
            size_t from_data = size_t(std::clamp<int64_t>(e.packed_size - done, 0, int64_t(n)));
            if (from_data > 0 && !read(uint64_t(done), from_data, buf.data())) return false;
            std::memset(buf.data() + from_data, 0, n - from_data);
            if (!checked(buf.data(), n)) return false;
            done += int64_t(n);
        }
    } else if (e.unpacked_size > 0) {
        // An empty file needs no data (archivers store it without any).
        if (!unpack_stream(read, uint64_t(e.packed_size), uint64_t(e.unpacked_size), e.dictionary, checked)) {
            if (!write_failed && rar5_error.empty()) rar5_error = error_corrupt;
            return false;
        }
    }
    if (e.has_crc && crc != e.crc32) {
        rar5_error = error_crc;
        return false;
    }
    return true;
}

}  // namespace

bool extract_to_memory(const Rar5_Archive& archive, const Rar5_Entry& e, std::string& out) {
    out.clear();
    bool ok = extract_stream(archive, e, [&](const uint8_t* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
    });
    if (!ok) out.clear();
    return ok;
}

bool extract(const Rar5_Archive& archive, const Rar5_Entry& entry, std::string_view target, Hd_Progress* progress) {
    import_error().clear();
    Part_File f;
    bool started = false;
    int64_t done = 0;
    bool ok = extract_stream(archive, entry, [&](const uint8_t* data, size_t size) {
        if (!started && !part_start(f, target)) return false;
        started = true;
        if (!part_write(f, data, size)) return false;
        done += int64_t(size);
        if (hd_progress(progress, done)) return true;
        part_drop(f);
        import_error() = "cancelled";
        return false;
    });
    if (!ok) {
        if (started && f.out.is_open()) part_drop(f);
        return false;
    }
    if (!started && !part_start(f, target)) return false;
    return part_finish(f, 0, false);   // the CRC was checked above
}

bool extract_into(const Rar5_Archive& archive, const Rar5_Entry& entry, std::string_view folder, std::string* target) {
    rar5_error.clear();
    std::string path, why;
    if (!member_path(folder, entry.name, path, &why)) {
        rar5_error = "its name is not safe to unpack (" + why + ")";
        return false;
    }
    if (target) *target = path;
    return extract(archive, entry, path);
}

}  // namespace rar5
