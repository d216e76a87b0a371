// Packs folder trees into the launcher's source bundle. Runs on the build
// machine; one source file, so that a cross build can compile it with the
// host's compiler.
//
//   bundle_writer [--preset N] [--split-mb N] [--group-depth N] [--jobs N] -o OUT ROOT...
//
// The bundle: "EFBUNDL2", u32 stream count, u32 entry count, the stream
// table (u64 unpacked size, u64 packed size, u64 offset), the entry table
// (u16 name length, name, u32 flag, u32 stream, u64 offset, u64 size), then
// the LZMA-alone streams, back to back up to the end.
//
// How it is laid out:
// - every file under the roots is an entry named by its path relative to its
//   root, "/"-separated; a root's own "CMakeLists.txt" and "build.cmake" are
//   build files and stay out; the same name under two roots is an error;
// - entries are sorted by name (byte order); names are at most 93 bytes;
// - files are grouped into streams by their first folders (--group-depth,
//   default 1: the top folder), a group split before a file that would take
//   its stream past --split-mb MiB (default 32); streams follow name order
//   and the files of a stream tile it from offset 0;
// - every stream is LZMA-alone with properties 0x5D (lc 3, lp 0, pb 2), an
//   unpacked size of all ones, an end marker, and a dictionary of the next
//   power of two at or above the stream's size, from 1 MiB to 8 MiB (the
//   launcher unpacks through a window of the dictionary's size, so this
//   bounds its memory per worker whatever the stream's size);
// - flag 1 marks the programs under "tools/": names ending in ".exe" and
//   files with an executable bit.
// The same input gives the same bytes; an unchanged output file is left as
// it was (its time included), so that nothing downstream rebuilds.
#include <lzma.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t max_name_bytes = 93;
constexpr uint64_t min_dict = 1ull << 20;
constexpr uint64_t max_dict = 1ull << 23;

struct File_Item {
    std::string name;   // bundle name
    fs::path path;      // where it is read from
    uint64_t size = 0;
    uint32_t flag = 0;
    uint32_t stream = 0;
    uint64_t offset = 0;
};

struct Stream_Item {
    size_t first = 0, count = 0;   // its files in the sorted list
    uint64_t unpacked = 0;
    std::string packed;
    uint64_t offset = 0;
    std::string error;
};

struct Options {
    uint32_t preset = 6;
    uint64_t split = 32ull << 20;
    size_t group_depth = 1;
    unsigned jobs = 0;
    std::string out;
    std::vector<std::string> roots;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "bundle_writer: %s\n", message.c_str());
    std::exit(1);
}

bool ends_with(const std::string& s, const char* tail) {
    size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool read_file(const fs::path& path, std::string& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return !f.bad();
}

void put_le(std::string& out, uint64_t v, int width) {
    for (int i = 0; i < width; i++) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// The folders that decide a file's stream group: its first `depth` folders.
std::string group_key(const std::string& name, size_t depth) {
    size_t cut = 0;
    for (size_t i = 0; i < depth; i++) {
        size_t slash = name.find('/', cut);
        if (slash == std::string::npos) break;
        cut = slash + 1;
    }
    return name.substr(0, cut);
}

void collect(const std::string& root_text, std::vector<File_Item>& files) {
    fs::path root(root_text);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) fail("not a folder: " + root_text);
    for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
        if (ec) fail("cannot list " + root_text + ": " + ec.message());
        const fs::directory_entry& de = *it;
        fs::path rel = de.path().lexically_relative(root);
        std::string name = rel.generic_string();
        if (de.is_directory(ec) && !de.is_symlink(ec)) continue;
        if (!de.is_regular_file(ec)) fail("not a regular file: " + de.path().string());
        if (name == "CMakeLists.txt" || name == "build.cmake") continue;
        if (name.size() > max_name_bytes) fail("name longer than 93 bytes: " + name);
        if (name.find_first_of("\\:") != std::string::npos) fail("name with \"\\\" or \":\": " + name);
        File_Item f;
        f.name = name;
        f.path = de.path();
        f.size = de.file_size(ec);
        if (ec) fail("cannot read the size of " + de.path().string());
        if (name.rfind("tools/", 0) == 0) {
            fs::perms p = fs::status(de.path(), ec).permissions();
            bool exec = (p & (fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec)) != fs::perms::none;
            if (exec || ends_with(name, ".exe")) f.flag = 1;
        }
        files.push_back(std::move(f));
    }
}

uint32_t dict_size_for(uint64_t size) {
    uint64_t d = min_dict;
    while (d < size && d < max_dict) d <<= 1;
    return uint32_t(d);
}

void pack_stream(const Options& opt, const std::vector<File_Item>& files, Stream_Item& s) {
    std::string data;
    data.reserve(size_t(s.unpacked));
    for (size_t i = s.first; i < s.first + s.count; i++) {
        std::string bytes;
        if (!read_file(files[i].path, bytes) || bytes.size() != files[i].size) {
            s.error = "cannot read " + files[i].path.string() + " (or it changed while packing)";
            return;
        }
        data += bytes;
    }
    lzma_options_lzma lz;
    if (lzma_lzma_preset(&lz, opt.preset)) {
        s.error = "bad preset";
        return;
    }
    lz.dict_size = dict_size_for(s.unpacked);
    lz.lc = 3;
    lz.lp = 0;
    lz.pb = 2;
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&strm, &lz) != LZMA_OK) {
        s.error = "the LZMA encoder cannot start (memory?)";
        return;
    }
    std::string out(data.size() + data.size() / 16 + 4096, '\0');
    strm.next_in = reinterpret_cast<const uint8_t*>(data.data());
    strm.avail_in = data.size();
    size_t produced = 0;
    lzma_ret r;
    do {
        if (produced == out.size()) out.resize(out.size() * 2);
        strm.next_out = reinterpret_cast<uint8_t*>(&out[produced]);
        strm.avail_out = out.size() - produced;
        r = lzma_code(&strm, LZMA_FINISH);
        produced = out.size() - strm.avail_out;
    } while (r == LZMA_OK);
    lzma_end(&strm);
    if (r != LZMA_STREAM_END) {
        s.error = "the LZMA encoder failed";
        return;
    }
    out.resize(produced);
    // The header the reader expects: properties 0x5D and an unknown size.
    if (out.size() < 13 || uint8_t(out[0]) != 0x5D) {
        s.error = "unexpected LZMA header";
        return;
    }
    for (int i = 5; i < 13; i++) {
        if (uint8_t(out[i]) != 0xFF) {
            s.error = "unexpected LZMA size field";
            return;
        }
    }
    s.packed = std::move(out);
}

Options parse(int argc, char** argv) {
    Options o;
    auto number = [&](int& i, const char* what) -> uint64_t {
        if (i + 1 >= argc) fail(std::string("missing value after ") + what);
        char* end = nullptr;
        unsigned long long v = std::strtoull(argv[++i], &end, 10);
        if (!end || *end) fail(std::string("bad number after ") + what);
        return v;
    };
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-o") {
            if (i + 1 >= argc) fail("missing file after -o");
            o.out = argv[++i];
        } else if (a == "--preset") {
            o.preset = uint32_t(number(i, "--preset"));
            if (o.preset > 9) fail("--preset takes 0 to 9");
        } else if (a == "--split-mb") {
            o.split = number(i, "--split-mb") << 20;
            if (o.split == 0) fail("--split-mb must be above 0");
        } else if (a == "--group-depth") {
            o.group_depth = size_t(number(i, "--group-depth"));
        } else if (a == "--jobs") {
            o.jobs = unsigned(number(i, "--jobs"));
        } else if (!a.empty() && a[0] == '-') {
            fail("unknown option " + a);
        } else {
            o.roots.push_back(a);
        }
    }
    if (o.out.empty() || o.roots.empty()) {
        fail("usage: bundle_writer [--preset N] [--split-mb N] [--group-depth N] [--jobs N] -o OUT ROOT...");
    }
    if (o.jobs == 0) o.jobs = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt = parse(argc, argv);

    std::vector<File_Item> files;
    for (const std::string& root : opt.roots) collect(root, files);
    std::sort(files.begin(), files.end(), [](const File_Item& a, const File_Item& b) { return a.name < b.name; });
    for (size_t i = 1; i < files.size(); i++) {
        if (files[i].name == files[i - 1].name) fail("two files named " + files[i].name);
    }

    // Streams: a new one where the group changes or the size limit is met.
    std::vector<Stream_Item> streams;
    std::string current_key;
    for (size_t i = 0; i < files.size(); i++) {
        std::string key = group_key(files[i].name, opt.group_depth);
        bool fresh = streams.empty() || key != current_key ||
                     (streams.back().count > 0 && streams.back().unpacked + files[i].size > opt.split);
        if (fresh) {
            Stream_Item s;
            s.first = i;
            streams.push_back(s);
            current_key = key;
        }
        Stream_Item& s = streams.back();
        files[i].stream = uint32_t(streams.size() - 1);
        files[i].offset = s.unpacked;
        s.unpacked += files[i].size;
        s.count++;
    }

    // Compress the streams in parallel, largest first.
    std::vector<size_t> order(streams.size());
    for (size_t i = 0; i < order.size(); i++) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return streams[a].unpacked > streams[b].unpacked; });
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t k = next++; k < order.size(); k = next++) pack_stream(opt, files, streams[order[k]]);
    };
    std::vector<std::thread> threads;
    unsigned jobs = unsigned(std::min<size_t>(opt.jobs, std::max<size_t>(1, streams.size())));
    for (unsigned j = 1; j < jobs; j++) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    for (const Stream_Item& s : streams) {
        if (!s.error.empty()) fail(s.error);
    }

    // The index, then the streams.
    std::string out;
    out.append("EFBUNDL2", 8);
    put_le(out, streams.size(), 4);
    put_le(out, files.size(), 4);
    uint64_t index_size = 16 + 24 * uint64_t(streams.size());
    for (const File_Item& f : files) index_size += 26 + f.name.size();
    uint64_t offset = index_size;
    uint64_t unpacked_total = 0;
    for (Stream_Item& s : streams) {
        s.offset = offset;
        offset += s.packed.size();
        unpacked_total += s.unpacked;
        put_le(out, s.unpacked, 8);
        put_le(out, s.packed.size(), 8);
        put_le(out, s.offset, 8);
    }
    for (const File_Item& f : files) {
        put_le(out, f.name.size(), 2);
        out += f.name;
        put_le(out, f.flag, 4);
        put_le(out, f.stream, 4);
        put_le(out, f.offset, 8);
        put_le(out, f.size, 8);
    }
    if (out.size() != index_size) fail("internal error: index size");
    for (const Stream_Item& s : streams) out += s.packed;

    std::string old;
    if (read_file(opt.out, old) && old == out) {
        std::printf("bundle_writer: %s unchanged (%zu files, %zu streams)\n", opt.out.c_str(), files.size(),
                    streams.size());
        return 0;
    }
    std::error_code ec;
    fs::path target(opt.out);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    std::string temp = opt.out + ".part";
    {
        std::ofstream f(temp, std::ios::binary | std::ios::trunc);
        f.write(out.data(), std::streamsize(out.size()));
        if (!f.good()) fail("cannot write " + temp);
    }
    fs::rename(temp, target, ec);
    if (ec) fail("cannot rename " + temp + " to " + opt.out + ": " + ec.message());
    std::printf("bundle_writer: %s: %zu files, %zu streams, %llu bytes packed to %zu\n", opt.out.c_str(),
                files.size(), streams.size(), static_cast<unsigned long long>(unpacked_total), out.size());
    return 0;
}
