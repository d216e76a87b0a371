// Extracts every entry of a RAR5 archive with our reader (into memory, CRC
// checked) and with bsdtar (`bsdtar -xOf ARCHIVE > /dev/null`), and prints
// each one's throughput in unpacked MB/s; the last line is "ratio X", ours
// over bsdtar's.
//
//   rar5_bench [--mb N] [ARCHIVE]
//
// Without an archive one of about N MB (default 300) of game-like data is
// written first with the tests' RAR5 writer: C sources, x86 code under E8
// and E8E9 filters, ARM code under the ARM filter, RGB textures under the
// delta filter, save data with long runs, and some incompressible bytes.
// Exit code 1 when ours fails or bsdtar does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "launcher/archive/rar5.h"
#include "tests/rar5/rar5_samples.h"
#include "tests/rar5/rar5_test_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::vector<rar5_writer::Entry> game_like(size_t total) {
    namespace s = rar5_samples;
    std::vector<rar5_writer::Entry> v;
    size_t piece = 8u << 20;
    size_t made = 0;
    for (uint32_t i = 0; made < total; i++) {
        rar5_writer::Entry e;
        e.options.chain = 8;
        switch (i % 6) {
        case 0:
            e.name = "src/part" + std::to_string(i) + ".c";
            e.content = s::text(piece, i + 1);
            break;
        case 1:
            e.name = "bin/game" + std::to_string(i) + ".exe";
            e.content = s::x86(piece, i + 1);
            for (size_t at = 0; at + (4u << 20) <= piece; at += 4u << 20)
                e.options.filters.push_back({at, (4u << 20) - 16, i % 2 ? 1 : 2, 1});
            break;
        case 2:
            e.name = "lib/arm64/libgame" + std::to_string(i) + ".so";
            e.content = s::arm(piece, i + 1);
            for (size_t at = 0; at + (4u << 20) <= piece; at += 4u << 20)
                e.options.filters.push_back({at, (4u << 20) - 16, 3, 1});
            break;
        case 3: {
            e.name = "textures/t" + std::to_string(i) + ".rgb";
            e.content = s::rgb(1024, piece / 3072);
            for (size_t at = 0; at + (3u << 20) <= e.content.size(); at += 3u << 20)
                e.options.filters.push_back({at, (3u << 20) - 16, 0, 3});
            break;
        }
        case 4: {
            e.name = "save/slot" + std::to_string(i) + ".dat";
            std::string n = s::noise(1 << 16, i + 1);
            while (e.content.size() < piece) e.content += std::string(4096, '\0') + n.substr(0, 1 + e.content.size() % 60000) + s::text(20000, i);
            e.content.resize(piece);
            break;
        }
        default:
            e.name = "movies/m" + std::to_string(i) + ".bk2";
            e.content = s::noise(piece / 4, i + 1);
            break;
        }
        made += e.content.size();
        v.push_back(std::move(e));
    }
    return v;
}

// Best time of `rounds` runs.
template <typename F>
double best_time(F&& run, int rounds = 3) {
    double best = 1e30;
    for (int i = 0; i < rounds; i++) {
        Clock::time_point t = Clock::now();
        run();
        best = std::min(best, seconds_since(t));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mb = 300;
    std::string path;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--mb") == 0 && i + 1 < argc) mb = size_t(std::atol(argv[++i]));
        else path = argv[i];
    }
    Temp_Dir dir;
    if (path.empty()) {
        path = dir.path + "/game.rar";
        std::printf("writing %zu MB of game-like data to %s ...\n", mb, path.c_str());
        std::fflush(stdout);
        Clock::time_point t = Clock::now();
        std::string bytes = rar5_writer::archive(game_like(mb << 20));
        if (!fs_write(path, bytes)) {
            std::printf("cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("archive: %.1f MB packed, written in %.1f s\n", double(bytes.size()) / 1e6, seconds_since(t));
    }
    rar5::Rar5_Archive archive;
    std::vector<rar5::Rar5_Entry> entries;
    if (!rar5::open_file(path, archive) || !rar5::list(archive, entries)) {
        std::printf("%s: our reader cannot list it\n", path.c_str());
        return 1;
    }
    double unpacked = 0;
    for (const rar5::Rar5_Entry& e : entries) unpacked += double(e.unpacked_size);
    double mbytes = unpacked / 1e6;

    bool ours_ok = true;
    std::string out;
    double ours = best_time([&] {
        for (const rar5::Rar5_Entry& e : entries) {
            if (e.is_directory) continue;
            if (!rar5::extract_to_memory(archive, e, out)) {
                std::printf("%s: ours fails: %s\n", e.name.c_str(), rar5_error.c_str());
                ours_ok = false;
            }
        }
    });
    bool theirs_ok = true;
    std::string command = "bsdtar -xOf '" + path + "' > /dev/null";
    double theirs = best_time([&] { theirs_ok = theirs_ok && std::system(command.c_str()) == 0; });
    if (!ours_ok || !theirs_ok) {
        std::printf("%s\n", ours_ok ? "bsdtar fails" : "ours fails");
        return 1;
    }
    std::printf("%zu entries, %.1f MB unpacked\n", entries.size(), mbytes);
    std::printf("ours   %.1f MB/s (%.2f s)\n", mbytes / ours, ours);
    std::printf("bsdtar %.1f MB/s (%.2f s)\n", mbytes / theirs, theirs);
    std::printf("ratio %.3f\n", theirs / ours);
    return 0;
}
