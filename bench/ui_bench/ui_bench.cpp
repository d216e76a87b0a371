// ui_bench: what the window's interface costs.
//   home frame: ui_frame of the Home page (with a log of 2000 lines and a
//   task running) into the draw list over the in-memory backend, timed over
//   many frames after a first one that fills the glyph atlases;
//   idle (Linux, --idle): the launcher itself on an X server of its own
//   (Xvfb -displayfd), left alone; its CPU time over 10 s once it has
//   settled at the idle pacing, as a share of one core (goal: 1% or less).
//
//   ui_bench [--frames N] [--idle] [--seconds S]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common/own_xvfb.h"
#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "launcher/core/ui_fonts.h"
#include "launcher/ui/ui.h"
#include "tests/support/fake_backend.h"

namespace {

int home_frame(int frames) {
    Renderer r;
    draw_list_init(r, fake_backend_make(), 1080, 760);
    Library lib;
    Ui_Font_Names names = add_startup_fonts(lib, "");
    Ui_Fonts fonts;
    ui_fonts_load(fonts, lib, r, names, 1.0f, cjk_order_default);
    static App app;
    app.ui.draw_list = &r.draw_list;
    app.ui.font = fonts.regular;
    app.ui.small_font = fonts.small;
    app.ui.bold_font = fonts.bold;
    app.ui.title_font = fonts.heading;
    app.width = 1080;
    app.height = 760;
    Game_State g;
    g.checked = g.ok = true;
    g.edition = "EN";
    g.to_convert = 12;
    Dependency cc, ff;
    cc.name = "C compiler";
    cc.found = "/usr/bin/clang";
    cc.status = "Clang 16.0.6 builds and runs the probe";
    ff.name = "FFmpeg";
    ff.found = "/usr/bin/ffmpeg";
    ff.ok = true;
    app.procs.task_running = [] { return true; };
    app.procs.game_running = [] { return false; };
    app.procs.game_state = [g] { return g; };
    app.procs.dependency = [cc, ff](Dep_Kind k) { return k == Dep_Kind::Compiler ? cc : ff; };
    app.procs.deps_checked = [] { return true; };
    app.procs.compilers = [] { return std::vector<Compiler>{{"/usr/bin/clang", true, "Clang 16"}}; };
    app.procs.built_exe = [] { return std::string("/games/launcher/Quillmarsh"); };
    app.procs.build_stale = [] { return false; };
    app.procs.build_outdated = [] { return false; };
    app.procs.game_dir = [] { return std::string("/games/EMBERFALL SAGA"); };
    Task& t = the_task();
    t.name = "Build";
    for (int i = 0; i < 2000; ++i) logf(t, "Compiling: %d of %d (pages/page_%04d.c)", i + 1, 2000, i);
    set_status(t, 0.4f, "Compiling: %d of %d (%s)", 800, 2000, "pages/page_0800.c");

    Input_State input{};
    input.mouse_x = 600;
    input.mouse_y = 720;
    ui_frame(app, input, clock_ns());
    std::vector<int64_t> times;
    for (int i = 0; i < frames; ++i) {
        int64_t start = clock_ns();
        ui_frame(app, input, start);
        times.push_back(clock_ns() - start);
    }
    std::sort(times.begin(), times.end());
    int64_t sum = 0;
    for (int64_t v : times) sum += v;
    std::printf("home frame: %d frames, median %.1f us, mean %.1f us, p99 %.1f us; %zu vertices, %zu commands\n",
                frames, double(times[times.size() / 2]) / 1e3, double(sum) / double(times.size()) / 1e3,
                double(times[times.size() * 99 / 100]) / 1e3, r.draw_list.vertices.size(),
                r.draw_list.commands.size());
    ui_fonts_destroy(fonts);
    draw_list_destroy(r);
    return 0;
}

#ifdef QM_LAUNCHER
// utime + stime of a process, in clock ticks.
int64_t cpu_ticks(uint64_t pid) {
    std::string stat;
    if (!fs_read("/proc/" + std::to_string(pid) + "/stat", stat)) return -1;
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < stat.size()) {
        size_t end = stat.find(' ', pos);
        if (end == std::string::npos) end = stat.size();
        fields.push_back(stat.substr(pos, end - pos));
        pos = end + 1;
    }
    if (fields.size() < 15) return -1;
    return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

int idle(int seconds) {
    std::string display;
    Child* xvfb = bench::start_xvfb("ui_bench", display);
    if (!xvfb) return 1;
    std::string local = path_join({env_get("TMPDIR").empty() ? "/tmp" : env_get("TMPDIR"),
                                   "ui_bench-" + std::to_string(clock_ns())});
    fs_make_dirs(local);
    std::vector<std::string> env;
    for (const std::string& v : env_all()) {
        if (v.rfind("DISPLAY=", 0) != 0 && v.rfind("LOCALAPPDATA=", 0) != 0) env.push_back(v);
    }
    env.push_back("DISPLAY=:" + display);
    env.push_back("LOCALAPPDATA=" + local);
    std::string err;
    Child* launcher = child_start({QM_LAUNCHER}, local, &env, &err);
    if (!launcher) {
        std::fprintf(stderr, "ui_bench: cannot start the launcher: %s\n", err.c_str());
        bench::stop(xvfb);
        fs_remove_tree(local);
        return 1;
    }
    uint64_t pid = child_pid(launcher);
    sleep_ms(10000);   // start-up, the first check, then quiet seconds
    int64_t t0 = cpu_ticks(pid), w0 = clock_ns();
    sleep_ms(int64_t(seconds) * 1000);
    int64_t t1 = cpu_ticks(pid), w1 = clock_ns();
    bench::stop(launcher);
    bench::stop(xvfb);
    fs_remove_tree(local);
    if (t0 < 0 || t1 < 0) {
        std::fprintf(stderr, "ui_bench: the launcher ended early\n");
        return 1;
    }
    double cpu_ms = double(t1 - t0) * 10.0;   // USER_HZ: 100 ticks a second
    double wall_ms = double(w1 - w0) / 1e6;
    std::printf("launcher idle: cpu %.0f ms in %.0f ms: %.2f%% of one core\n", cpu_ms, wall_ms, 100.0 * cpu_ms / wall_ms);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    int frames = 2000, seconds = 10;
    bool run_idle = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--idle") {
            run_idle = true;
        } else {
            std::fprintf(stderr, "usage: ui_bench [--frames N] [--idle] [--seconds S]\n");
            return 2;
        }
    }
    int rc = home_frame(frames);
#ifdef QM_LAUNCHER
    if (run_idle && rc == 0) rc = idle(seconds);
#else
    (void)seconds;
    if (run_idle) std::printf("launcher idle: measured on Linux only\n");
#endif
    return rc;
}
