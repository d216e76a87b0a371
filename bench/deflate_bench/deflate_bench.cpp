// Compresses every file under the given folders (default: the stand-in
// game's tree that the bundle packs) one stream per file, as the mod data
// packs its members, with our writer and with zlib at levels 1 and 6. Prints
// one row per compressor: input MB/s and packed size over input size.
//
//   deflate_bench [FOLDER_OR_FILE...]
//
// Exit code 1 when a stream of ours does not inflate back to its file.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/mods/zlib_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

void gather(const std::string& path, std::vector<std::string>& files) {
    if (!fs_is_dir(path)) {
        std::string bytes;
        if (fs_read(path, bytes)) files.push_back(std::move(bytes));
        return;
    }
    std::vector<Dir_Entry> entries;
    if (!fs_list(path, entries)) return;
    std::sort(entries.begin(), entries.end(), [](const Dir_Entry& a, const Dir_Entry& b) { return a.name < b.name; });
    for (const Dir_Entry& e : entries) {
        if (e.is_link) continue;
        gather(path_join({path, e.name}), files);
    }
}

// zlib with one stream per level kept and reset between files, so that its
// set-up is not counted for every small file (ours keeps its tables too).
std::string zlib_level(const std::string& in, int level) {
    static z_stream streams[10];
    static bool ready[10];
    z_stream& s = streams[level];
    if (!ready[level]) {
        deflateInit(&s, level);
        ready[level] = true;
    } else {
        deflateReset(&s);
    }
    std::string out(deflateBound(&s, uLong(in.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    s.avail_in = uInt(in.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.resize(out.size() - s.avail_out);
    return out;
}

struct Row {
    const char* name;
    std::function<std::string(const std::string&)> pack;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    if (argc < 2) gather(QM_DEFAULT_TREE, files);
    for (int i = 1; i < argc; i++) gather(argv[i], files);
    double total = 0;
    for (const std::string& f : files) total += double(f.size());
    if (files.empty() || total == 0) {
        std::fprintf(stderr, "deflate_bench: no input files\n");
        return 2;
    }
    int status = 0;
    for (const std::string& f : files) {
        std::string z, back(f.size() + 1, '\0');
        zlib_compress(z, f);
        uLongf got = uLongf(back.size());
        if (uncompress(reinterpret_cast<Bytef*>(back.data()), &got, reinterpret_cast<const Bytef*>(z.data()),
                       uLong(z.size())) != Z_OK ||
            got != f.size() || back.compare(0, got, f) != 0) {
            std::printf("ours: a stream does NOT inflate back to its file (%zu bytes)\n", f.size());
            status = 1;
        }
    }
    const Row rows[] = {
        {"ours (fixed Huffman, greedy)", [](const std::string& in) { std::string z; zlib_compress(z, in); return z; }},
        {"zlib level 1", [](const std::string& in) { return zlib_level(in, 1); }},
        {"zlib level 6", [](const std::string& in) { return zlib_level(in, 6); }},
    };
    std::string whole;
    for (const std::string& f : files) whole += f;
    std::vector<std::string> one = {whole};
    for (int table = 0; table < 2; table++) {
        const std::vector<std::string>& inputs = table == 0 ? files : one;
        if (table == 0) std::printf("%zu files, one stream each, %.3f MB\n", files.size(), total / 1e6);
        else std::printf("\nthe same files as one stream\n");
    std::printf("| %-28s | %9s | %7s |\n", "compressor", "MB/s", "ratio");
    std::printf("|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(11, '-').c_str(), std::string(9, '-').c_str());
    for (const Row& r : rows) {
        double best = 1e30, spent = 0, packed = 0;
        for (int round = 0; round < 200 && (round < 3 || spent < 1.0); round++) {
            Clock::time_point t = Clock::now();
            double size = 0;
            for (const std::string& f : inputs) size += double(r.pack(f).size());
            double s = std::chrono::duration<double>(Clock::now() - t).count();
            best = std::min(best, s);
            spent += s;
            packed = size;
        }
        std::printf("| %-28s | %9.1f | %7.3f |\n", r.name, total / 1e6 / best, packed / total);
    }
    }
    return status;
}
