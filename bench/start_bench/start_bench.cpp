// start_bench: start to first frame of the launcher against its peers, each
// a whole process (start to exit) on an X server of its own (Xvfb
// -displayfd): the launcher with QM_EXIT_AFTER_FRAMES=1 in a fresh home
// folder, render_demo --frames 1 at the launcher's size, and minimal_window
// (a window, a Vulkan device and swapchain, one cleared frame). The three
// run in turn, round after round; each ratio is taken within a round and
// printed as min / median / max. The goal is a launcher at most 1.2 times
// its peers.
//
//   start_bench [--rounds N] [--launcher PATH] [--phases]
// --launcher times another build of the launcher (an older one, say)
// against the same peers. --phases also prints when the launcher reached
// each phase of its start ("start: <phase> <ms>" lines, QM_START_TRACE),
// in milliseconds from the moment it was started.
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
// `out` gets what it wrote. With `trace` the process is told the moment it
// was started (QM_START_CLOCK_NS), so that its phases count from there.
double run_ms(const std::vector<std::string>& args, std::vector<std::string> env, bool trace, std::string& out) {
    std::string err;
    int64_t t0 = clock_ns();
    if (trace) env.push_back("QM_START_CLOCK_NS=" + std::to_string(t0));
    Child* c = child_start(args, "", &env, &err);
    if (!c) {
        std::fprintf(stderr, "start_bench: cannot start %s: %s\n", args[0].c_str(), err.c_str());
        return -1;
    }
    out = bench::read_output(c, 60000, [](const std::string&) { return false; });
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

// The launcher's phases in the order they were first seen, each with its
// times over the runs.
struct Phase {
    std::string name;
    std::vector<double> ms;
};

void add_phases(const std::string& out, std::vector<Phase>& phases) {
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(at, end - at);
        at = end + 1;
        if (line.rfind("start: ", 0) != 0) continue;
        size_t space = line.rfind(' ');
        if (space <= 7) continue;
        std::string name = line.substr(7, space - 7);
        double ms = std::atof(line.c_str() + space + 1);
        auto found = std::find_if(phases.begin(), phases.end(), [&](const Phase& p) { return p.name == name; });
        if (found == phases.end()) found = phases.insert(phases.end(), Phase{name, {}});
        found->ms.push_back(ms);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 7;
    std::string launcher = QM_LAUNCHER;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--launcher" && i + 1 < argc) {
            launcher = argv[++i];
        } else if (a == "--phases") {
            trace = true;
        } else {
            std::fprintf(stderr, "usage: start_bench [--rounds N] [--launcher PATH] [--phases]\n");
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
    if (trace) launcher_env.push_back("QM_START_TRACE=1");

    struct Program {
        const char* name;
        std::vector<std::string> args;
        const std::vector<std::string>* env;
        bool trace;
        std::vector<double> ms;
    };
    Program programs[] = {
        {"launcher", {launcher}, &launcher_env, trace, {}},
        {"render_demo --frames 1", {QM_RENDER_DEMO, "--frames", "1", "--size", "1080x760"}, &env, false, {}},
        {"minimal_window", {QM_MINIMAL_WINDOW}, &env, false, {}},
    };
    std::vector<Phase> phases;
    int status = 0;
    // One round of each first, not counted: the page cache and the shader
    // caches of the driver are warm for all three alike.
    for (int r = -1; r < rounds && status == 0; ++r) {
        for (Program& p : programs) {
            std::string out;
            double ms = run_ms(p.args, *p.env, p.trace, out);
            if (ms < 0) status = 1;
            if (r < 0) continue;
            p.ms.push_back(ms);
            if (p.trace) add_phases(out, phases);
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
    if (!phases.empty()) std::printf("%-24s %s\n", "launcher phase, ms", "min / median / max");
    for (const Phase& p : phases) {
        Spread s = spread(p.ms);
        std::printf("  %-30s %.0f / %.0f / %.0f\n", p.name.c_str(), s.min, s.median, s.max);
    }
    for (int peer = 1; peer < 3; ++peer) {
        std::vector<double> ratio;
        for (size_t i = 0; i < programs[0].ms.size(); ++i) ratio.push_back(programs[0].ms[i] / programs[peer].ms[i]);
        Spread s = spread(ratio);
        std::printf("launcher / %-13s %.2f / %.2f / %.2f\n", programs[peer].name, s.min, s.median, s.max);
    }
    return 0;
}
