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

void unpack_worker(Unpack_Context& ctx) {
    Task& task = *ctx.task;
    while (!task.cancel.load()) {
        size_t k = ctx.next.fetch_add(1);
        if (k >= ctx.order.size()) return;
        uint32_t stream = ctx.order[k];
        Bundle_Block block;
        bool decoded = block_read(stream, block);
        for (uint32_t index : ctx.entries[stream]) {
            const Bundle_Entry& e = bundle_entries[index];
            if (!decoded) {
                record_failure(ctx, e.name, "its packed data is damaged");
                break;
            }
            auto refused = ctx.refused.find(index);
            if (refused != ctx.refused.end()) {
                record_failure(ctx, e.name, refused->second);
                break;
            }
            std::string path = path_join({ctx.dest, e.name});
            bool written = false;
            std::string err;
            if (!put_file(path, block.bytes().substr(size_t(e.offset), size_t(e.size)), written, err)) {
                record_failure(ctx, e.name, err);
                break;
            }
            if (written) ctx.changed.fetch_add(1);
            int done = ctx.done.fetch_add(1) + 1;
            set_status(task, 0.1f * float(done) / float(ctx.selected), "Unpacking the sources: %d of %d", done,
                       ctx.selected);
        }
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
        Bundle_Block block;
        if (!block_read(e.stream, block)) return false;
        out.assign(block.bytes().substr(size_t(e.offset), size_t(e.size)));
        return true;
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
