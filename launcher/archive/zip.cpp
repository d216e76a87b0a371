#include "launcher/archive/zip.h"

#include <zlib.h>

#include <algorithm>

#include <mutex>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/archive/member_name.h"
#include "launcher/archive/progress.h"

namespace {

constexpr size_t piece_bytes = 4194304;   // 4 MiB: one buffer for every streamed copy
constexpr int64_t tail_bytes = 65577;     // end record + longest comment + ZIP64 locator
constexpr uint64_t dir_limit = 0x10000000;
constexpr int64_t deflate_limit = 0x40000000;

constexpr uint32_t sig_end = 0x06054B50;
constexpr uint32_t sig_locator = 0x07064B50;
constexpr uint32_t sig_end64 = 0x06064B50;
constexpr uint32_t sig_central = 0x02014B50;
constexpr uint32_t sig_local = 0x04034B50;

const char* const damaged_start = "the ZIP is damaged where this file starts -- download it again";
const char* const sizes_disagree = "the ZIP's sizes for it do not agree: the ZIP is damaged -- download it again";
const char* const not_decompressed = "it cannot be decompressed: the ZIP is damaged -- download it again";
const char* const crc_differs =
    "its contents do not match the ZIP's checksum: the ZIP is damaged -- download it again";

std::mutex seam_lock;
std::function<bool(int64_t, std::string&)> read_hook;
void (*pause_hook)(int64_t) = nullptr;

void pause_ms(int64_t ms) {
    void (*p)(int64_t);
    {
        std::lock_guard<std::mutex> guard(seam_lock);
        p = pause_hook;
    }
    if (p) p(ms);
    else sleep_ms(ms);
}

// One read of the archive: bytes read, 0 at its end, -1 on failure.
int64_t read_once(Zip_Archive& a, int64_t offset, void* buf, size_t size, std::string& err) {
    std::function<bool(int64_t, std::string&)> hook;
    {
        std::lock_guard<std::mutex> guard(seam_lock);
        hook = read_hook;
    }
    if (hook && !hook(offset, err)) return -1;
    return file_read_at(a.file, offset, buf, size, &err);
}

bool fail(std::string text) {
    import_error() = std::move(text);
    return false;
}

uint32_t crc_update(uint32_t crc, const char* data, size_t size) {
    while (size > 0) {
        uInt n = uInt(std::min<size_t>(size, piece_bytes));
        crc = uint32_t(crc32(crc, reinterpret_cast<const Bytef*>(data), n));
        data += n;
        size -= n;
    }
    return crc;
}

bool archive_size(Zip_Archive& a, int64_t& size) {
    return a.file.is_open() && file_size(a.file, size) && size >= 0;
}

// Writes one piece of the part file, or removes it and says why.
bool write_piece(File& out, const std::string& part, const void* data, size_t size) {
    std::string err;
    if (file_write(out, data, size, &err)) return true;
    file_close(out);
    fs_remove_file(part);
    return fail(fmt("cannot write %s (%v): is the disk full?", part, err));
}

bool drop_part(File& out, const std::string& part, std::string text) {
    file_close(out);
    fs_remove_file(part);
    return fail(std::move(text));
}

// Closes the finished part file, checks its CRC-32 and puts it in place.
// The rename replaces the old target in one step: until it succeeds, the
// old file is whole.
bool finish_part(File& out, const std::string& part, std::string_view target, uint32_t crc, uint32_t want) {
    std::string err;
    if (!file_close(out, &err)) return drop_part(out, part, fmt("cannot write %s (%v): is the disk full?", part, err));
    if (crc != want) return drop_part(out, part, crc_differs);
    std::string rename_err;
    if (fs_rename(part, target, &rename_err)) return true;
    return drop_part(out, part, fmt("cannot rename %s (%v)", part, rename_err));
}

// Streams a stored member into the part file.
bool copy_stored(Zip_Archive& a, const Zip_Entry& e, int64_t data_at, File& out, const std::string& part,
                 Hd_Progress* progress, uint32_t& crc) {
    std::vector<char> buf(size_t(std::min<int64_t>(e.packed, piece_bytes)));
    for (int64_t done = 0; done < e.packed;) {
        size_t n = size_t(std::min<int64_t>(e.packed - done, piece_bytes));
        if (!zip_read_at(a, buf.data(), n, data_at + done)) return drop_part(out, part, import_error());
        crc = crc_update(crc, buf.data(), n);
        if (!write_piece(out, part, buf.data(), n)) return false;
        done += int64_t(n);
        if (!hd_progress(progress, done)) return drop_part(out, part, "cancelled");
    }
    return true;
}

// Inflates a deflated member into the part file in pieces; the output must
// be exactly the unpacked size and the deflate stream must end.
bool inflate_member(Zip_Archive& a, const Zip_Entry& e, int64_t data_at, File& out, const std::string& part,
                    Hd_Progress* progress, uint32_t& crc) {
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK) return drop_part(out, part, not_decompressed);
    struct Ender {
        z_stream* z;
        ~Ender() { inflateEnd(z); }
    } ender{&z};
    std::vector<unsigned char> in(size_t(std::min<int64_t>(std::max<int64_t>(e.packed, 1), piece_bytes)));
    // Sized for the member: many are small, and every one is unpacked alone.
    std::vector<unsigned char> outbuf(size_t(std::min<int64_t>(e.unpacked + 1, piece_bytes)));
    int64_t read = 0, written = 0;
    bool ended = false;
    while (!ended) {
        if (z.avail_in == 0 && read < e.packed) {
            size_t n = size_t(std::min<int64_t>(e.packed - read, int64_t(in.size())));
            if (!zip_read_at(a, in.data(), n, data_at + read)) return drop_part(out, part, import_error());
            read += int64_t(n);
            z.next_in = in.data();
            z.avail_in = uInt(n);
        }
        // Room for one byte more than wanted shows output beyond the size.
        int64_t room = std::min<int64_t>(int64_t(outbuf.size()), e.unpacked - written + 1);
        z.next_out = outbuf.data();
        z.avail_out = uInt(room);
        int rc = inflate(&z, Z_NO_FLUSH);
        size_t got = size_t(room) - z.avail_out;
        if (rc == Z_STREAM_END) ended = true;
        else if (rc == Z_BUF_ERROR && z.avail_in == 0 && read >= e.packed) return drop_part(out, part, not_decompressed);
        else if (rc != Z_OK && rc != Z_BUF_ERROR) return drop_part(out, part, not_decompressed);
        if (written + int64_t(got) > e.unpacked) return drop_part(out, part, not_decompressed);
        crc = crc_update(crc, reinterpret_cast<const char*>(outbuf.data()), got);
        if (got > 0 && !write_piece(out, part, outbuf.data(), got)) return false;
        written += int64_t(got);
        if (!hd_progress(progress, written)) return drop_part(out, part, "cancelled");
    }
    if (written != e.unpacked) return drop_part(out, part, not_decompressed);
    return true;
}

bool make_target_folder(std::string_view target);

// Makes the target's folder and creates its empty part file.
bool start_part(std::string_view target, const std::string& part, File& out) {
    if (!make_target_folder(target)) return false;
    std::string err;
    if (file_create(out, part, &err)) return true;
    return fail(fmt("cannot write %s (%v)", part, err));
}

// Makes the folder that will hold `target`.
bool make_target_folder(std::string_view target) {
    std::string folder = path_dir(target);
    std::string_view shown = folder.empty() ? std::string_view(".") : std::string_view(folder);
    if (fs_make_dirs(shown)) return true;
    return fail(fmt("cannot make the folder %s", shown));
}


}  // namespace

std::string part_path(std::string_view target) {
    std::string part;
    part.reserve(target.size() + 5);
    part.append(target.data(), target.size());
    part.append(".part", 5);
    return part;
}

std::string& import_error() {
    thread_local std::string text;
    return text;
}

std::string import_reason() {
    const std::string& text = import_error();
    return text.empty() ? std::string("unknown error") : text;
}

bool write_checked(std::string_view target, std::string_view data, uint32_t crc32, bool check_crc) {
    Part_File f;
    if (!part_start(f, target)) return false;
    for (size_t done = 0; done < data.size();) {
        size_t n = std::min(piece_bytes, data.size() - done);
        if (!part_write(f, data.data() + done, n)) return false;
        done += n;
    }
    return part_finish(f, crc32, check_crc);
}

bool part_start(Part_File& f, std::string_view target) {
    f.target = std::string(target);
    f.part = part_path(target);
    f.crc = 0;
    return start_part(target, f.part, f.out);
}

bool part_write(Part_File& f, const void* data, size_t size) {
    f.crc = crc_update(f.crc, static_cast<const char*>(data), size);
    return write_piece(f.out, f.part, data, size);
}

bool part_finish(Part_File& f, uint32_t crc32, bool check_crc) {
    return finish_part(f.out, f.part, f.target, f.crc, check_crc ? crc32 : f.crc);
}

void part_drop(Part_File& f) {
    file_close(f.out);
    fs_remove_file(f.part);
}

uint16_t zip_u16(const unsigned char* b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
uint32_t zip_u32(const unsigned char* b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}
uint64_t zip_u64(const unsigned char* b, size_t at) { return uint64_t(zip_u32(b, at)) | (uint64_t(zip_u32(b, at + 4)) << 32); }

void zip_set_read_hook(std::function<bool(int64_t offset, std::string& err)> hook) {
    std::lock_guard<std::mutex> guard(seam_lock);
    read_hook = std::move(hook);
}

void zip_set_pause_hook(void (*pause)(int64_t ms)) {
    std::lock_guard<std::mutex> guard(seam_lock);
    pause_hook = pause;
}

bool zip_open(Zip_Archive& a, std::string_view path) {
    a.path = std::string(path);
    std::string err;
    if (file_open_read(a.file, path, &err)) return true;
    return fail(fmt("cannot read %s (%v)", path, err));
}

bool zip_read_at(Zip_Archive& a, void* buf, size_t size, int64_t offset) {
    if (size == 0) return true;
    char* p = static_cast<char*>(buf);
    int64_t end = offset + int64_t(size);
    size_t done = 0;
    int failures = 0;
    static const int64_t pauses[] = {200, 400, 600, 800, 1000};
    while (done < size) {
        std::string err;
        int64_t n = read_once(a, offset + int64_t(done), p + done, size - done, err);
        if (n > 0) {
            done += size_t(n);
            failures = 0;
            continue;
        }
        if (n == 0) return fail(fmt("the ZIP ends early (at %d of the %d bytes needed): it is not whole -- download it again",
                                    offset + int64_t(done), end));
        if (failures == 5)
            return fail(fmt("the ZIP cannot be read at byte %d (%v): is the disk or drive it is on still there?",
                            offset + int64_t(done), err));
        pause_ms(pauses[failures++]);
    }
    return true;
}

bool zip_entries(Zip_Archive& a, std::vector<Zip_Entry>& out) {
    out.clear();
    int64_t size = 0;
    if (!archive_size(a, size) || size < 22) return false;
    int64_t tail_len = std::min(size, tail_bytes);
    std::vector<unsigned char> tail(size_t(tail_len), 0);
    if (!zip_read_at(a, tail.data(), tail.size(), size - tail_len)) return false;
    int64_t at = -1;
    for (int64_t i = tail_len - 22; i >= 0; --i) {
        if (zip_u32(tail.data(), size_t(i)) == sig_end) {
            at = i;
            break;
        }
    }
    if (at < 0) return false;
    uint64_t count = zip_u16(tail.data(), size_t(at) + 10);
    uint64_t dir_size = zip_u32(tail.data(), size_t(at) + 12);
    uint64_t dir_at = zip_u32(tail.data(), size_t(at) + 16);
    if (at >= 20 && (count == 0xFFFF || dir_size == 0xFFFFFFFF || dir_at == 0xFFFFFFFF) &&
        zip_u32(tail.data(), size_t(at) - 20) == sig_locator) {
        uint64_t end64 = zip_u64(tail.data(), size_t(at) - 20 + 8);
        unsigned char rec[56];
        if (end64 > uint64_t(size) || uint64_t(size) - end64 < sizeof rec) return false;
        if (!zip_read_at(a, rec, sizeof rec, int64_t(end64)) || zip_u32(rec, 0) != sig_end64) return false;
        count = zip_u64(rec, 32);
        dir_size = zip_u64(rec, 40);
        dir_at = zip_u64(rec, 48);
    }
    // Checked in 64 bits without overflow: dir_at + dir_size <= size.
    if (dir_size > dir_limit || dir_at > uint64_t(size) || dir_size > uint64_t(size) - dir_at) return false;
    std::vector<unsigned char> dir(size_t(dir_size), 0);
    if (!zip_read_at(a, dir.data(), dir.size(), int64_t(dir_at))) return false;
    const unsigned char* d = dir.data();
    size_t p = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (dir.size() < 46 || p > dir.size() - 46 || zip_u32(d, p) != sig_central) return false;
        size_t name_len = zip_u16(d, p + 28), extra_len = zip_u16(d, p + 30), comment_len = zip_u16(d, p + 32);
        size_t name_at = p + 46, extra_at = name_at + name_len, next = extra_at + extra_len + comment_len;
        if (next > dir.size()) return false;
        Zip_Entry e;
        e.method = zip_u16(d, p + 10);
        e.crc32 = zip_u32(d, p + 16);
        uint64_t packed = zip_u32(d, p + 20), unpacked = zip_u32(d, p + 24), offset = zip_u32(d, p + 42);
        if (extra_len >= 4) {
            size_t x = extra_at, x_end = extra_at + extra_len;
            while (x + 4 <= x_end) {
                uint16_t id = zip_u16(d, x), len = zip_u16(d, x + 2);
                size_t data = x + 4, data_end = std::min(data + len, x_end);
                if (id == 0x0001) {
                    size_t q = data;
                    for (uint64_t* field : {&unpacked, &packed, &offset}) {
                        if (*field != 0xFFFFFFFF) continue;
                        if (q + 8 > data_end) break;
                        *field = zip_u64(d, q);
                        q += 8;
                    }
                }
                x = data + len;
            }
        }
        // Values of 2^63 and above read as negative here; zip_extract refuses them.
        e.packed = int64_t(packed);
        e.unpacked = int64_t(unpacked);
        e.offset = int64_t(offset);
        e.name.assign(reinterpret_cast<const char*>(d + name_at), name_len);
        std::replace(e.name.begin(), e.name.end(), '\\', '/');
        out.push_back(std::move(e));
        p = next;
    }
    return true;
}

bool zip_extract(Zip_Archive& a, const Zip_Entry& e, std::string_view target, Hd_Progress* progress) {
    import_error().clear();
    if (e.method != 0 && e.method != 8)
        return fail(fmt("it is compressed in a way this launcher does not read (method %d): make the ZIP again with plain ZIP compression",
                        e.method));
    int64_t size = 0;
    if (!archive_size(a, size)) return fail(fmt("cannot read %s", a.path));
    // Every offset and size is checked against the archive in 64 bits
    // before anything is read or allocated.
    if (e.offset < 0 || e.offset > size) return fail(damaged_start);
    unsigned char local[30];
    if (!zip_read_at(a, local, sizeof local, e.offset)) return false;
    if (zip_u32(local, 0) != sig_local) return fail(damaged_start);
    int64_t data_at = e.offset + 30 + zip_u16(local, 26) + zip_u16(local, 28);
    if (e.packed < 0 || e.unpacked < 0) return fail(sizes_disagree);
    if (e.method == 8 && (e.packed > deflate_limit || e.unpacked > deflate_limit))
        return fail(fmt("it is too big to unpack compressed (%d MB): make the ZIP again storing the big files uncompressed",
                        e.unpacked / 1048576));
    if (e.method == 0 && e.packed != e.unpacked) return fail(sizes_disagree);
    if (data_at > size || e.packed > size - data_at) {
        int64_t needed = data_at > size ? data_at : e.packed > INT64_MAX - data_at ? INT64_MAX : data_at + e.packed;
        return fail(fmt("the ZIP ends early (at %d of the %d bytes needed): it is not whole -- download it again",
                        size, needed));
    }
    std::string part = part_path(target);
    File out;
    if (!start_part(target, part, out)) return false;
    uint32_t crc = 0;
    bool copied = e.method == 0 ? copy_stored(a, e, data_at, out, part, progress, crc)
                                : inflate_member(a, e, data_at, out, part, progress, crc);
    if (!copied) return false;
    return finish_part(out, part, target, crc, e.crc32);
}

bool zip_extract_into(Zip_Archive& a, const Zip_Entry& e, std::string_view folder, Hd_Progress* progress,
                      std::string* target) {
    import_error().clear();
    std::string path, why;
    if (target) target->clear();
    if (!member_path(folder, e.name, path, &why)) return fail(fmt("its name is not safe to unpack (%s)", why));
    if (target) *target = path;
    if (path.back() == '/') {
        if (fs_make_dirs(path)) return true;
        return fail(fmt("cannot make the folder %s", path));
    }
    return zip_extract(a, e, path, progress);
}

File_Crc file_crc32(std::string_view path, Hd_Progress* progress) {
    File_Crc r;
    File in;
    int64_t size = 0;
    if (!file_open_read(in, path) || !file_size(in, size)) return r;
    std::vector<char> buf(size_t(std::clamp<int64_t>(size, 1, piece_bytes)));
    uint32_t crc = 0;
    int64_t count = 0;
    for (;;) {
        int64_t n = file_read_at(in, count, buf.data(), buf.size());
        if (n < 0) return r;
        if (n == 0) break;
        crc = crc_update(crc, buf.data(), size_t(n));
        count += n;
        if (!hd_progress(progress, count)) return r;
    }
    r.ok = true;
    r.crc32 = crc;
    r.size = count;
    return r;
}

bool member_on_disk(const Zip_Entry& e, std::string_view target, Hd_Progress* progress) {
    File_Info info;
    if (!fs_stat(target, info) || info.is_dir || info.is_link || int64_t(info.size) != e.unpacked) return false;
    if (progress) progress->checking = true;
    File_Crc c = file_crc32(target, progress);
    if (progress) progress->checking = false;
    return c.ok && c.size == e.unpacked && c.crc32 == e.crc32;
}

bool prune_tree(std::string_view root, std::string_view rel, const Keep_Set& keep) {
    std::string folder = rel.empty() ? std::string(root) : member_join(root, rel);
    std::vector<Dir_Entry> entries;
    bool ok = fs_list(folder, entries);
    if (!ok) return false;
    for (const Dir_Entry& e : entries) {
        std::string path = rel.empty() ? e.name : std::string(rel) + "/" + e.name;
        if (e.is_dir) {
            ok = prune_tree(root, path, keep);
            continue;
        }
        // Files and links alike: a link is deleted itself, never followed.
        auto it = keep.find(ascii_lower(path));
        if (it != keep.end() && it->second) {
            ok = true;
            continue;
        }
        ok = fs_remove_file(member_join(folder, e.name));
    }
    return ok;
}
