// A stand-in for the outside programs the toolchain discovery runs. Copied
// under a chosen name, it acts by that name (without ".exe"):
//   fake-clang, clang
//                  a compiler that works: "--version" names clang and the
//                  folder it lies in; "-o X" makes X, a copy of this
//                  program that prints "ok 4"
//   gnu-cc         the same, but "--version" names GCC
//   fail-cc        fails to build: a first line with blanks around it, exit 1
//   crash-cc       crashes whenever it runs
//   exit139-cc     fails to build with the exit code 139 (not a crash)
//   hang-cc        never answers (sleeps ten minutes)
//   ok5-cc         makes a program that prints "ok 5"
//   crashprog-cc   makes a program that crashes
//   ffmpeg-x264, ffmpeg
//                  "-encoders" lists libx264 and aac
//   ffmpeg-nox264  "-encoders" lists aac and others, but no libx264
//   ffmpeg-fail    exits 1
// A program made with "-o X" finds its behaviour in the file X.mode.
// With the arguments "exit N" any name ends with code N; with "sleep MS" it
// waits that long first.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

// Ends the way a crash does: an access violation on Windows, SIGSEGV
// elsewhere (raised with the default action, so that a sanitizer's own
// handler does not turn it into an ordinary exit).
[[noreturn]] void crash() {
#ifdef _WIN32
    volatile int* nowhere = nullptr;
    *nowhere = 1;
#else
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
#endif
    std::abort();
}

int make_program(const std::vector<std::string>& args, const std::string& self, const std::string& mode) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "-o") continue;
        const std::string& out = args[i + 1];
        if (!fs_copy_file(self, out) || !fs_write(out + ".mode", mode)) return 1;
        return 0;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string self = exe_path();
    std::string name = path_base(self);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0) name.resize(name.size() - 4);

    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(std::atoll(args[i + 1].c_str())));
        if (args[i] == "exit") return std::atoi(args[i + 1].c_str());
    }

    std::string mode;
    if (fs_read(self + ".mode", mode)) {
        if (mode == "crash") crash();
        std::printf("%s\n", mode.c_str());
        return 0;
    }
    bool version = !args.empty() && args[0] == "--version";
    if (name == "crash-cc") crash();
    if (name == "fail-cc") {
        std::printf("  fail-cc: error: cannot find the thread library  \nsecond line\n");
        return 1;
    }
    if (name == "fake-clang" || name == "clang") {
        if (version) {
            std::printf("fake clang version 99.0.0 (fixture)\nInstalledDir: %s\n", path_dir(self).c_str());
            return 0;
        }
        return make_program(args, self, "ok 4");
    }
    if (name == "gnu-cc") {
        if (version) {
            std::printf("gnu-cc (GCC) 12.2.0\nCopyright (C) 2022 Free Software Foundation, Inc.\n");
            return 0;
        }
        return make_program(args, self, "ok 4");
    }
    if (name == "exit139-cc") {
        std::printf("exit139-cc: error: gave up\n");
        return 139;
    }
    if (name == "hang-cc") std::this_thread::sleep_for(std::chrono::minutes(10));
    if (name == "ok5-cc") return make_program(args, self, "ok 5");
    if (name == "crashprog-cc") return make_program(args, self, "crash");
    if (name == "ffmpeg") name = "ffmpeg-x264";
    if (name.rfind("ffmpeg-", 0) == 0) {
        if (name == "ffmpeg-fail") return 1;
        std::printf("Encoders:\n V..... = Video\n ------\n");
        if (name == "ffmpeg-x264") std::printf(" V....D libx264              libx264 H.264 / AVC / MPEG-4 AVC\n");
        std::printf(" V....D mpeg4                MPEG-4 part 2\n A....D aac                  AAC (Advanced Audio Coding)\n");
        return 0;
    }
    std::fprintf(stderr, "fake_tool: nothing to do as %s\n", name.c_str());
    return 2;
}
