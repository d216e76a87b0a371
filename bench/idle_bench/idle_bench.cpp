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

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"

namespace {

// Reads a child's output until it ends or `until` returns true for what
// was read so far; gives up after `wait_ms`.
template <typename Until>
std::string read_output(Child* c, int64_t wait_ms, Until until) {
    std::string out;
    char buf[4096];
    int64_t deadline = clock_ns() + wait_ms * 1000000;
    while (clock_ns() < deadline && !until(out)) {
        if (!child_look(c, 100)) continue;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

void stop(Child* c) {
    uint32_t code;
    child_terminate(c, 0);
    child_wait(c, 5000, code);
    child_close(c);
}

}  // namespace

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

    std::string err;
    Child* xvfb = child_start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "",
                              nullptr, &err);
    if (!xvfb) {
        std::fprintf(stderr, "idle_bench: cannot start Xvfb: %s\n", err.c_str());
        return 1;
    }
    std::string display = read_output(xvfb, 10000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
    while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) display.pop_back();
    if (display.empty()) {
        std::fprintf(stderr, "idle_bench: Xvfb gave no display number\n");
        stop(xvfb);
        return 1;
    }

    std::vector<std::string> env;
    for (const std::string& v : env_all()) {
        if (v.rfind("DISPLAY=", 0) != 0) env.push_back(v);
    }
    env.push_back("DISPLAY=:" + display);
    const int frame_ms = 50;
    std::string frames = std::to_string(seconds * 1000 / frame_ms);
    Child* demo = child_start({QM_WINDOW_DEMO, "--frames", frames, "--sleep-ms", std::to_string(frame_ms), "--cpu"},
                              "", &env, &err);
    if (!demo) {
        std::fprintf(stderr, "idle_bench: cannot start window_demo: %s\n", err.c_str());
        stop(xvfb);
        return 1;
    }
    std::string out = read_output(demo, (seconds + 30) * 1000LL, [](const std::string&) { return false; });
    stop(demo);
    stop(xvfb);
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
