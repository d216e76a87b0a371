// The source bundle: opening its index, reading single files, unpacking sets
// of files with parallel workers, and pruning files the bundle no longer has.
#include "launcher/core/bundle.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/task.h"
#include "launcher/lzma/lzma.h"

std::vector<Bundle_Stream> bundle_streams;
std::vector<Bundle_Entry> bundle_entries;

namespace {

std::string_view g_bytes;

uint64_t read_le(const uint8_t* p, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; i++) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

// A name the bundle may hold: a relative path of non-empty "/"-separated
// elements, none of them made of dots and blanks only ("." and ".." and
// what Windows trims to them), without "\", ":" or NUL anywhere.
bool plain_relative_name(std::string_view name) {
    if (name.empty()) return false;
    size_t start = 0;
    while (true) {
        size_t end = name.find('/', start);
        std::string_view element = name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (element.empty()) return false;
        bool dots_only = true;
        for (char c : element) {
            if (c == '\\' || c == ':' || c == '\0') return false;
            if (c != '.' && c != ' ') dots_only = false;
        }
        if (dots_only) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool fold_case_here() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// A stream is decoded in pieces of this size; the decoder's window (the
// stream's dictionary) and one piece are all a worker holds of it.
constexpr size_t unpack_piece = size_t(2) << 20;
// Files that already exist are compared in blocks of this size.
constexpr size_t compare_block = size_t(256) << 10;

// What the unpack workers share.
struct Unpack_Context {
    Task* task = nullptr;
    std::string dest;
    std::vector<uint32_t> order;                                   // streams, largest first
    std::vector<std::vector<uint32_t>> entries;                     // stream -> its selected entries
    int selected = 0;
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    std::atomic<int> changed{0};
    std::mutex failure_lock;
    bool failed = false;
    std::string failed_name, failed_reason;
    std::unordered_map<uint32_t, std::string> refused;               // entry -> why its folder could not be made
};

void record_failure(Unpack_Context& ctx, std::string_view name, std::string_view reason) {
    std::lock_guard<std::mutex> guard(ctx.failure_lock);
    ctx.failed = true;
    ctx.failed_name = std::string(name);
    ctx.failed_reason = std::string(reason);
}

// Makes the folder `rel` (a checked entry's folder, "/" separated) under
// `dest` out of real folders: a link met among its elements is removed and
// a folder made in its place, so nothing is written through it to
// wherever it points. `seen` maps the elements already handled this run to
// their failure's reason (empty when made).
bool make_real_dirs(const std::string& dest, std::string_view rel,
                    std::unordered_map<std::string, std::string>& seen, std::string& err) {
    for (size_t end = 0; end != std::string_view::npos;) {
        end = rel.find('/', end + 1);
        std::string part(rel.substr(0, end));
        auto known = seen.find(part);
        if (known != seen.end()) {
            if (known->second.empty()) continue;
            err = known->second;
            return false;
        }
        std::string path = path_join({dest, part});
        File_Info info;
        bool ok = fs_stat(path, info) && info.is_dir;
        if (!ok && info.is_link) ok = fs_remove_file(path, &err) && fs_make_dirs(path, &err);
        else if (!ok) ok = fs_make_dirs(path, &err);
        seen[part] = ok ? std::string() : err;
        if (!ok) return false;
    }
    return true;
}

// Writes one entry's bytes to path unless the file there already holds them.
// A link in the file's place is replaced, never written through.
bool put_file(const std::string& path, std::string_view bytes, bool& written, std::string& err) {
    written = false;
    File_Info info;
    if (fs_stat(path, info) && info.exists) {
        if (info.is_link) {
            fs_remove_file(path);
        } else if (!info.is_dir && info.size == bytes.size()) {
            std::string old;
            if (fs_read(path, old) && old == bytes) return true;
        }
    }
    if (!fs_write(path, bytes, &err)) return false;
    written = true;
    return true;
}

// A file written as its stream's pieces arrive. While its bytes equal the
// existing file's nothing is written; from the first piece that differs the
// content goes to "<path>.part", which replaces the file once it is whole,
// so a stream that fails half-way leaves no cut file behind.
struct Streamed_File {
    uint32_t index = 0;
    std::string path;
    File old;           // open while the bytes so far equal the existing file's
    File out;           // the ".part" file, open once they differ
    bool part = false;  // the ".part" file was made
    uint64_t done = 0;
};

std::string part_path(const std::string& path) { return path + ".part"; }

bool streamed_begin(Streamed_File& f, uint64_t size, std::string& err) {
    File_Info info;
    if (fs_stat(f.path, info) && info.exists) {
        if (info.is_link) {
            fs_remove_file(f.path);
        } else if (!info.is_dir && info.size == size && file_open_read(f.old, f.path)) {
            return true;
        }
    }
    f.part = true;
    return file_create(f.out, part_path(f.path), &err);
}

bool streamed_feed(Streamed_File& f, std::string_view bytes, std::vector<char>& scratch, std::string& err) {
    if (f.old.is_open()) {
        bool same = true;
        for (size_t at = 0; same && at < bytes.size();) {
            size_t n = std::min(scratch.size(), bytes.size() - at);
            same = file_read_at(f.old, int64_t(f.done + at), scratch.data(), n) == int64_t(n) &&
                   std::memcmp(scratch.data(), bytes.data() + at, n) == 0;
            at += n;
        }
        if (same) {
            f.done += bytes.size();
            return true;
        }
        // The bytes so far equal the old file's: they are copied from it.
        f.part = true;
        if (!file_create(f.out, part_path(f.path), &err) || !file_copy(f.out, f.old, 0, f.done, &err)) return false;
        file_close(f.old);
    }
    if (!file_write(f.out, bytes.data(), bytes.size(), &err)) return false;
    f.done += bytes.size();
    return true;
}

bool streamed_end(Streamed_File& f, bool& written, std::string& err) {
    written = false;
    if (!f.part) {
        file_close(f.old);
        return true;
    }
    if (!file_close(f.out, &err) || !fs_rename(part_path(f.path), f.path, &err)) return false;
    f.part = false;
    written = true;
    return true;
}

// Leaves a file unfinished: its ".part" file goes, the old file stays.
void streamed_drop(Streamed_File& f) {
    file_close(f.old);
    file_close(f.out);
    if (f.part) fs_remove_file(part_path(f.path));
    f.part = false;
}

void entry_done(Unpack_Context& ctx, bool written) {
    if (written) ctx.changed.fetch_add(1);
    int done = ctx.done.fetch_add(1) + 1;
    set_status(*ctx.task, 0.1f * float(done) / float(ctx.selected), "Unpacking the sources: %d of %d", done,
               ctx.selected);
}

// Unpacks one stream's selected entries while it is decoded piece by piece:
// a file inside one piece is written from it whole, a longer one as its
// pieces come. The first failure is recorded and ends the stream.
void unpack_stream(Unpack_Context& ctx, uint32_t stream, std::vector<char>& scratch) {
    std::vector<uint32_t> list = ctx.entries[stream];
    std::stable_sort(list.begin(), list.end(),
                     [](uint32_t a, uint32_t b) { return bundle_entries[a].offset < bundle_entries[b].offset; });
    const Bundle_Stream& s = bundle_streams[stream];
    Lzma_Pieces pieces;
    Lzma_Step step = lzma_pieces_start(pieces, g_bytes.substr(size_t(s.offset), size_t(s.packed_size)),
                                       s.unpacked_size, unpack_piece)
                         ? Lzma_Step::More
                         : Lzma_Step::Failed;
    std::vector<Streamed_File> open;   // begun in an earlier piece, in order
    size_t next = 0;                   // the first entry not begun
    uint64_t p0 = 0;
    std::string failed_name, failed_reason;
    while (step == Lzma_Step::More && failed_name.empty()) {
        const uint8_t* data = nullptr;
        size_t size = 0;
        step = lzma_pieces_next(pieces, data, size);
        if (step == Lzma_Step::Failed) break;
        std::string_view piece(reinterpret_cast<const char*>(data), size);
        uint64_t p1 = p0 + size;
        std::string err;
        size_t kept = 0;
        for (Streamed_File& f : open) {
            const Bundle_Entry& e = bundle_entries[f.index];
            uint64_t end = e.offset + e.size;
            bool last = end <= p1;
            bool written = false;
            if (!failed_name.empty()) {
                streamed_drop(f);
            } else if (!streamed_feed(f, piece.substr(0, size_t(std::min(end, p1) - p0)), scratch, err) ||
                       (last && !streamed_end(f, written, err))) {
                streamed_drop(f);
                failed_name = std::string(e.name);
                failed_reason = err;
            } else if (last) {
                entry_done(ctx, written);
            } else {
                if (&open[kept] != &f) open[kept] = std::move(f);
                ++kept;
            }
        }
        open.resize(kept);
        for (; failed_name.empty() && next < list.size(); ++next) {
            uint32_t index = list[next];
            const Bundle_Entry& e = bundle_entries[index];
            uint64_t end = e.offset + e.size;
            if (e.offset >= p1 && end > p1) break;
            auto refused = ctx.refused.find(index);
            if (refused != ctx.refused.end()) {
                failed_name = std::string(e.name);
                failed_reason = refused->second;
                break;
            }
            std::string path = path_join({ctx.dest, e.name});
            std::string_view bytes = piece.substr(size_t(e.offset - p0), size_t(std::min(end, p1) - e.offset));
            bool written = false;
            if (end <= p1) {
                if (!put_file(path, bytes, written, err)) {
                    failed_name = std::string(e.name);
                    failed_reason = err;
                    break;
                }
                entry_done(ctx, written);
                continue;
            }
            Streamed_File f;
            f.index = index;
            f.path = path;
            if (!streamed_begin(f, e.size, err) || !streamed_feed(f, bytes, scratch, err)) {
                streamed_drop(f);
                failed_name = std::string(e.name);
                failed_reason = err;
                break;
            }
            open.push_back(std::move(f));
        }
        p0 = p1;
    }
    for (Streamed_File& f : open) streamed_drop(f);
    if (step == Lzma_Step::Failed && failed_name.empty()) {
        // Named after the first file it did not finish.
        uint32_t index = !open.empty() ? open.front().index : next < list.size() ? list[next] : list.back();
        failed_name = std::string(bundle_entries[index].name);
        failed_reason = "its packed data is damaged";
    }
    if (!failed_name.empty()) record_failure(ctx, failed_name, failed_reason);
}

void unpack_worker(Unpack_Context& ctx) {
    Task& task = *ctx.task;
    std::vector<char> scratch(compare_block);
    while (!task.cancel.load()) {
        size_t k = ctx.next.fetch_add(1);
        if (k >= ctx.order.size()) return;
        unpack_stream(ctx, ctx.order[k], scratch);
    }
}

}  // namespace

bool bundle_open(std::string_view bytes) {
    bundle_streams.clear();
    bundle_entries.clear();
    g_bytes = {};

    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint64_t size = bytes.size();
    if (size < 16 || std::memcmp(p, bundle_magic.data(), bundle_magic.size()) != 0) return false;
    uint64_t stream_count = read_le(p + 8, 4);
    uint64_t entry_count = read_le(p + 12, 4);

    uint64_t pos = 16;
    if (stream_count > (size - pos) / 24) return false;
    std::vector<Bundle_Stream> streams(static_cast<size_t>(stream_count));
    for (Bundle_Stream& s : streams) {
        s.unpacked_size = read_le(p + pos, 8);
        s.packed_size = read_le(p + pos + 8, 8);
        s.offset = read_le(p + pos + 16, 8);
        pos += 24;
    }

    // Every entry takes at least 26 bytes, which bounds the count before any
    // memory is reserved for it.
    if (entry_count > (size - pos) / 26) return false;
    std::vector<Bundle_Entry> entries;
    entries.reserve(size_t(entry_count));
    for (uint64_t i = 0; i < entry_count; i++) {
        if (size - pos < 2) return false;
        uint64_t n = read_le(p + pos, 2);
        pos += 2;
        if (size - pos < n + 24) return false;
        Bundle_Entry e;
        e.name = bytes.substr(size_t(pos), size_t(n));
        pos += n;
        e.flag = uint32_t(read_le(p + pos, 4));
        e.stream = uint32_t(read_le(p + pos + 4, 4));
        e.offset = read_le(p + pos + 8, 8);
        e.size = read_le(p + pos + 16, 8);
        pos += 24;
        if (e.stream >= stream_count) return false;
        uint64_t stream_size = streams[e.stream].unpacked_size;
        if (e.offset > stream_size || e.size > stream_size - e.offset) return false;
        if (!plain_relative_name(e.name)) return false;
        entries.push_back(e);
    }

    // The packed bytes of every stream lie after the index, inside the bundle.
    const uint64_t index_end = pos;
    for (const Bundle_Stream& s : streams) {
        if (s.offset < index_end || s.offset > size || s.packed_size > size - s.offset) return false;
    }

    bundle_streams = std::move(streams);
    bundle_entries = std::move(entries);
    g_bytes = bytes;
    return true;
}

std::string_view bundle_bytes() { return g_bytes; }

bool bundle_has(std::string_view name) {
    for (const Bundle_Entry& e : bundle_entries) {
        if (e.name == name) return true;
    }
    return false;
}

bool block_read(uint32_t stream, Bundle_Block& out) {
    out = Bundle_Block{};
    if (stream >= bundle_streams.size()) return false;
    const Bundle_Stream& s = bundle_streams[stream];
    if (s.unpacked_size > SIZE_MAX - 1) return false;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(s.unpacked_size) + 1]);
    if (!buffer) return false;
    std::string_view packed = g_bytes.substr(size_t(s.offset), size_t(s.packed_size));
    if (!lzma_alone_decode(packed, buffer.get(), size_t(s.unpacked_size))) return false;
    out.data = std::move(buffer);
    out.size = s.unpacked_size;
    return true;
}

bool bundle_read(std::string_view name, std::string& out) {
    out.clear();
    for (const Bundle_Entry& e : bundle_entries) {
        if (e.name != name) continue;
        // The stream decoded in pieces, to its end (which checks it), keeping
        // only the entry's bytes.
        const Bundle_Stream& s = bundle_streams[e.stream];
        Lzma_Pieces pieces;
        if (!lzma_pieces_start(pieces, g_bytes.substr(size_t(s.offset), size_t(s.packed_size)), s.unpacked_size,
                               unpack_piece))
            return false;
        out.reserve(size_t(e.size));
        Lzma_Step step = Lzma_Step::More;
        for (uint64_t p0 = 0; step == Lzma_Step::More;) {
            const uint8_t* data = nullptr;
            size_t size = 0;
            step = lzma_pieces_next(pieces, data, size);
            uint64_t from = std::max(p0, e.offset), to = std::min(p0 + size, e.offset + e.size);
            if (step != Lzma_Step::Failed && from < to)
                out.append(reinterpret_cast<const char*>(data) + (from - p0), size_t(to - from));
            p0 += size;
        }
        if (step == Lzma_Step::Done) return true;
        out.clear();
        return false;
    }
    return false;
}

bool stream_larger(uint32_t a, uint32_t b) { return bundle_streams[a].unpacked_size > bundle_streams[b].unpacked_size; }

int bundle_extract(Task& task, std::string_view dest, const std::vector<std::string>& prefixes, int max_workers) {
    Unpack_Context ctx;
    ctx.task = &task;
    ctx.dest = std::string(dest);
    ctx.entries.resize(bundle_streams.size());

    // Selection, in bundle order; streams in order of first use.
    std::vector<uint32_t> selected;
    for (uint32_t i = 0; i < bundle_entries.size(); i++) {
        const Bundle_Entry& e = bundle_entries[i];
        bool match = false;
        for (const std::string& prefix : prefixes) {
            if (starts_with(e.name, prefix)) {
                match = true;
                break;
            }
        }
        if (!match) continue;
        selected.push_back(i);
        auto& list = ctx.entries[e.stream];
        if (list.empty()) ctx.order.push_back(e.stream);
        list.push_back(i);
    }
    ctx.selected = int(selected.size());

    // Folders, each made once before the workers start, of real folders
    // only; the files of a folder that cannot be made fail when their turn comes.
    std::unordered_map<std::string, std::string> folders;
    for (uint32_t i : selected) {
        std::string_view name = bundle_entries[i].name;
        size_t slash = name.rfind('/');
        std::string err;
        if (slash != std::string_view::npos && !make_real_dirs(ctx.dest, name.substr(0, slash), folders, err)) {
            ctx.refused[i] = err;
        }
    }
    // (A file at the top gets its folder from the write's failure otherwise.)
    if (ctx.selected > 0) fs_make_dirs(ctx.dest);

    std::sort(ctx.order.begin(), ctx.order.end(), stream_larger);

    // Workers. Should one not start, the calling thread takes its share, so
    // that no stream is left out of a run that reports success.
    size_t cores = size_t(cpu_count());
    if (max_workers > 0) cores = std::min(cores, size_t(max_workers));
    size_t count = std::max<size_t>(1, std::min(ctx.order.size(), cores));
    std::vector<Thread> workers(count);
    bool all_started = true;
    for (Thread& w : workers) {
        if (!thread_start(w, [&ctx] { unpack_worker(ctx); })) all_started = false;
    }
    if (!all_started) unpack_worker(ctx);
    for (Thread& w : workers) thread_join(w);

    if (ctx.failed) {
        logf(task, "Could not unpack %s into %s: %s.", ctx.failed_name, dest, ctx.failed_reason);
        return -1;
    }
    return ctx.changed.load();
}

bool Bundle_Name_Set::has(std::string_view name) const {
    if (fold_case) return names.count(ascii_lower(name)) > 0;
    return names.count(std::string(name)) > 0;
}

void walk(Task& task, std::string_view root, const std::string& rel, const Bundle_Name_Set& names, int& count) {
    std::vector<Dir_Entry> items;
    if (!fs_list(path_join({root, rel}), items) || items.empty()) return;
    for (const Dir_Entry& item : items) {
        std::string child = rel + item.name;
        // A link is never followed: it is an item of this folder like a file.
        if (item.is_dir && !item.is_link) {
            walk(task, root, child + "/", names, count);
            continue;
        }
        if (names.has(child)) continue;
        std::string full = path_join({root, child});
        if (!fs_remove_file(full)) {
            logf(task, "Could not delete the old source %s", full);
        } else {
            count += 1;
        }
    }
}

void bundle_prune(Task& task, std::string_view dest, const std::vector<std::string>& prefixes) {
    Bundle_Name_Set names;
    names.fold_case = fold_case_here();
    for (const Bundle_Entry& e : bundle_entries) {
        names.names.insert(names.fold_case ? ascii_lower(e.name) : std::string(e.name));
    }
    int count = 0;
    for (const std::string& prefix : prefixes) {
        std::string rel = prefix;
        if (!rel.empty() && rel.back() != '/') rel.push_back('/');
        if (!rel.empty() && !plain_relative_name(std::string_view(rel).substr(0, rel.size() - 1))) continue;
        // A prefix folder reached through a link is left alone.
        bool through_link = false;
        for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1)) {
            File_Info info;
            if (fs_stat(path_join({dest, std::string_view(rel).substr(0, slash)}), info) && info.is_link) {
                through_link = true;
                break;
            }
        }
        if (through_link) continue;
        walk(task, dest, rel, names, count);
    }
    if (count > 0) logf(task, "Deleted %d old source files", count);
}
