// start_bench: start to first frame of the launcher against its peers, each
// a whole process (start to exit) on an X server of its own (Xvfb
// -displayfd): the launcher with QM_EXIT_AFTER_FRAMES=1 in a fresh home
// folder, render_demo --frames 1 at the launcher's size, and minimal_window
// (a window, a Vulkan device and swapchain, one cleared frame). The three
// run in turn, round after round; each ratio is taken within a round and
// printed as min / median / max. The goal is a launcher at most 1.2 times
// its peers.
//
//   start_bench [--rounds N] [--launcher PATH]
// --launcher times another build of the launcher (an older one, say)
// against the same peers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/common/own_xvfb.h"
#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

// Milliseconds from start to exit, or -1 when it did not start or failed.
double run_ms(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::string err;
    int64_t t0 = clock_ns();
    Child* c = child_start(args, "", &env, &err);
    if (!c) {
        std::fprintf(stderr, "start_bench: cannot start %s: %s\n", args[0].c_str(), err.c_str());
        return -1;
    }
    std::string out = bench::read_output(c, 60000, [](const std::string&) { return false; });
    uint32_t code = 1;
    bool ended = child_wait(c, 60000, code);
    double ms = double(clock_ns() - t0) / 1e6;
    if (!ended) child_terminate(c, 1);
    child_close(c);
    if (!ended || code != 0) {
        std::fprintf(stderr, "start_bench: %s ended with %u:\n%s", args[0].c_str(), code, out.c_str());
        return -1;
    }
    return ms;
}

struct Spread {
    double min, median, max;
};

Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 7;
    std::string launcher = QM_LAUNCHER;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--launcher" && i + 1 < argc) {
            launcher = argv[++i];
        } else {
            std::fprintf(stderr, "usage: start_bench [--rounds N] [--launcher PATH]\n");
            return 2;
        }
    }

    std::string display;
    Child* xvfb = bench::start_xvfb("start_bench", display);
    if (!xvfb) return 1;

    // The launcher's home: a fresh folder, so that its settings and data
    // folder are a first start's.
    std::string home = path_join({std::filesystem::temp_directory_path().string(), "start_bench_" + std::to_string(clock_ns())});
    std::vector<std::string> env;
    for (const std::string& v : env_all()) {
        if (v.rfind("DISPLAY=", 0) != 0 && v.rfind("HOME=", 0) != 0 && v.rfind("XDG_", 0) != 0) env.push_back(v);
    }
    env.push_back("DISPLAY=:" + display);
    env.push_back("HOME=" + home);
    std::vector<std::string> launcher_env = env;
    launcher_env.push_back("QM_EXIT_AFTER_FRAMES=1");

    struct Program {
        const char* name;
        std::vector<std::string> args;
        const std::vector<std::string>* env;
        std::vector<double> ms;
    };
    Program programs[] = {
        {"launcher", {launcher}, &launcher_env, {}},
        {"render_demo --frames 1", {QM_RENDER_DEMO, "--frames", "1", "--size", "1080x760"}, &env, {}},
        {"minimal_window", {QM_MINIMAL_WINDOW}, &env, {}},
    };
    int status = 0;
    // One round of each first, not counted: the page cache and the shader
    // caches of the driver are warm for all three alike.
    for (int r = -1; r < rounds && status == 0; ++r) {
        for (Program& p : programs) {
            double ms = run_ms(p.args, *p.env);
            if (ms < 0) status = 1;
            if (r >= 0) p.ms.push_back(ms);
        }
    }
    bench::stop(xvfb);
    fs_remove_tree(home);
    if (status != 0) return status;

    std::printf("%-24s %s\n", "whole process, ms", "min / median / max");
    for (const Program& p : programs) {
        Spread s = spread(p.ms);
        std::printf("%-24s %.0f / %.0f / %.0f\n", p.name, s.min, s.median, s.max);
    }
    for (int peer = 1; peer < 3; ++peer) {
        std::vector<double> ratio;
        for (size_t i = 0; i < programs[0].ms.size(); ++i) ratio.push_back(programs[0].ms[i] / programs[peer].ms[i]);
        Spread s = spread(ratio);
        std::printf("launcher / %-13s %.2f / %.2f / %.2f\n", programs[peer].name, s.min, s.median, s.max);
    }
    return 0;
}
