// idle_bench: window_demo left idle at the main loop's idle pacing (one
// frame, then 50 ms of sleep) for 10 s on an X server of its own (Xvfb
// -displayfd, a free display number); prints the CPU time the demo used
// from its first frame on, as a share of one core. The goal is 1% or less.
//
//   idle_bench [--seconds S]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common/own_xvfb.h"
#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: idle_bench [--seconds S]\n");
            return 2;
        }
    }
    if (seconds < 1) seconds = 1;

    std::string display;
    Child* xvfb = bench::start_xvfb("idle_bench", display);
    if (!xvfb) return 1;

    std::vector<std::string> env;
    for (const std::string& v : env_all()) {
        if (v.rfind("DISPLAY=", 0) != 0) env.push_back(v);
    }
    env.push_back("DISPLAY=:" + display);
    const int frame_ms = 50;
    std::string frames = std::to_string(seconds * 1000 / frame_ms);
    std::string err;
    Child* demo = child_start({QM_WINDOW_DEMO, "--frames", frames, "--sleep-ms", std::to_string(frame_ms), "--cpu"},
                              "", &env, &err);
    if (!demo) {
        std::fprintf(stderr, "idle_bench: cannot start window_demo: %s\n", err.c_str());
        bench::stop(xvfb);
        return 1;
    }
    std::string out = bench::read_output(demo, (seconds + 30) * 1000LL, [](const std::string&) { return false; });
    bench::stop(demo);
    bench::stop(xvfb);
    size_t at = out.find("\ncpu ");
    if (at == std::string::npos) {
        std::fprintf(stderr, "idle_bench: window_demo reported no CPU time:\n%s", out.c_str());
        return 1;
    }
    std::string line = out.substr(at + 1);
    line = line.substr(0, line.find('\n'));
    std::printf("idle_bench: window_demo idle at one frame per %d ms for %d s: %s\n", frame_ms, seconds, line.c_str());
    return 0;
}
