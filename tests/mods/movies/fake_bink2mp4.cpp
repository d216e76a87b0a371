// Stands in for the cutscene converter "bink2mp4.exe" on Linux:
//   --dll DLL --ffmpeg FFMPEG --threads N all IN OUT
// For every stream of every movie container in IN whose MP4 is missing in
// OUT, it runs the given FFmpeg to make an H.264 MP4 of the stream's size,
// frame count and rate (a test picture: the fixture containers hold no real
// video), written as "<name>.mp4.part" and renamed when complete. It prints
// the converter's three kinds of line:
//   "<container>: N frames at A/B fps -> <mp4>", "frame K / N", "done in S s".
// With FAKE_CONVERTER_REALTIME set, FFmpeg makes the video at its own pace
// (a long cutscene then takes its running time).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

struct Stream {
    uint64_t offset;
    uint32_t frames, width, height, num, den;
};

uint32_t le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

std::vector<Stream> streams_of(const std::string& path) {
    std::vector<Stream> out;
    std::string head;
    if (!fs_read_at(path, 0, 16, head) || head.size() != 16 || head.compare(0, 3, "WMP") != 0) return out;
    uint64_t at = 16;
    while (out.size() < 256) {
        std::string h;
        if (!fs_read_at(path, at, 48, h) || h.size() != 48 || h.compare(0, 3, "KB2") != 0) break;
        out.push_back({at, le32(h, 8), le32(h, 20), le32(h, 24), le32(h, 28), le32(h, 32)});
        uint32_t size = le32(h, 4);
        if (size == 0) break;
        at += uint64_t(size) + 8;
    }
    return out;
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() != 9 || a[0] != "--dll" || a[2] != "--ffmpeg" || a[4] != "--threads" || a[6] != "all") {
        std::fprintf(stderr, "usage: --dll DLL --ffmpeg FFMPEG --threads N all IN OUT\n");
        return 2;
    }
    File_Info dll;
    if (!fs_stat(a[1], dll) || !dll.exists || dll.is_dir) {
        std::printf("cannot load %s\n", a[1].c_str());
        return 3;
    }
    std::vector<Dir_Entry> entries;
    if (!fs_list(a[7], entries)) return 4;
    std::vector<std::string> names;
    for (const Dir_Entry& e : entries) {
        std::string lower = e.name;
        for (char& c : lower) c = char(std::tolower(uint8_t(c)));
        if (!e.is_dir && lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".wmp") == 0 && e.size > 4096)
            names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    const bool realtime = !env_get("FAKE_CONVERTER_REALTIME").empty();
    for (const std::string& name : names) {
        std::string in = path_join({a[7], name});
        for (const Stream& s : streams_of(in)) {
            std::string stem = name.substr(0, name.size() - 4);
            std::string mp4 = path_join({a[8], s.offset == 16 ? stem + ".mp4" : stem + "_" + std::to_string(s.offset) + ".mp4"});
            File_Info have;
            if (fs_stat(mp4, have) && have.exists && !have.is_dir) continue;
            auto start = std::chrono::steady_clock::now();
            std::printf("%s: %u frames at %u/%u fps -> %s\n", in.c_str(), s.frames, s.num, s.den, mp4.c_str());
            std::fflush(stdout);
            std::string part = mp4 + ".part";
            std::string command = quoted(a[3]) + " -hide_banner -loglevel error -nostats -y" + (realtime ? " -re" : "") +
                                  " -f lavfi -i testsrc=size=" + std::to_string(s.width) + "x" +
                                  std::to_string(s.height) + ":rate=" + std::to_string(s.num) + "/" +
                                  std::to_string(s.den) + " -frames:v " + std::to_string(s.frames) +
                                  " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -threads " + a[5] +
                                  " -progress pipe:1 -f mp4 " + quoted(part);
            FILE* p = popen(command.c_str(), "r");
            if (!p) return 5;
            char line[256];
            while (std::fgets(line, sizeof line, p)) {
                if (std::strncmp(line, "frame=", 6) == 0) {
                    std::printf("frame %ld / %u\n", std::atol(line + 6), s.frames);
                    std::fflush(stdout);
                }
            }
            if (pclose(p) != 0 || !fs_rename(part, mp4)) {
                std::printf("ffmpeg failed on %s\n", in.c_str());
                return 1;
            }
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("done in %.2f s\n", seconds);
            std::fflush(stdout);
        }
    }
    return 0;
}
