// ui_bench: what the window's interface costs.
//   home frame: ui_frame of the Home page (with a log of 2000 lines and a
//   task running) into the draw list over the in-memory backend, timed over
//   many frames after a first one that fills the glyph atlases;
//   idle (Linux, --idle): the launcher itself on an X server of its own
//   (Xvfb -displayfd), left alone; its CPU time over 10 s once it has
//   settled, as a share of one core: on Home once "Checking" has ended,
//   and with a dialog open and nothing moving (no compiler on the PATH:
//   "A C compiler is needed"). Goal: 2% or less in both.
//
//   option change (--option-change): the Game Options page drawn frame after
//   frame over a data folder with ten applied HD Models+ files of 2.2 MB in
//   two languages, an option changed every tenth frame and saved the way the
//   page saves it (settings.txt, then Quillmarsh.cfg with the mod data);
//   each frame's time, the longest first; the longest settings.txt write,
//   on the window's thread and on the writer's. --sync writes both files on
//   the window's thread, as the launcher did before, for comparison.
//
//   ui_bench [--frames N] [--idle] [--seconds S] [--launcher PATH] [--option-change [--sync]]
//   (--launcher: another build of the launcher, to compare with)
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
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/ui_fonts.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/hd_models.h"
#include "launcher/ui/ui.h"
#include "tests/mods/mod_data_fixture.h"
#include "tests/support/fake_backend.h"

namespace {

// The window's interface over the in-memory backend, 1080 x 760, with the
// fonts of a start-up.
struct Bench_Window {
    Renderer r;
    Library lib;
    Ui_Fonts fonts;

    explicit Bench_Window(App& app) {
        draw_list_init(r, fake_backend_make(), 1080, 760);
        Ui_Font_Names names = add_startup_fonts(lib, "");
        ui_fonts_load(fonts, lib, r, names, 1.0f, cjk_order_default);
        app.ui.draw_list = &r.draw_list;
        app.ui.font = fonts.regular;
        app.ui.small_font = fonts.small;
        app.ui.bold_font = fonts.bold;
        app.ui.title_font = fonts.heading;
        app.width = 1080;
        app.height = 760;
    }
    ~Bench_Window() {
        ui_fonts_destroy(fonts);
        draw_list_destroy(r);
    }
};

int home_frame(int frames) {
    static App app;
    Bench_Window w(app);
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
                double(times[times.size() * 99 / 100]) / 1e3, w.r.draw_list.vertices.size(),
                w.r.draw_list.commands.size());
    return 0;
}

// A model file of `size` bytes that deflate shrinks about as much as a real
// one: runs of a few kinds of records with some noise.
std::string model_bytes(size_t size, uint32_t seed) {
    std::string out;
    out.reserve(size);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        uint32_t kind = (x >> 16) % 4;
        for (int i = 0; i < 16 && out.size() < size; i++)
            out.push_back(char(kind == 0 ? (x >> (i % 24)) : kind * 37 + i * (kind + 1)));
    }
    return out;
}

int option_change(int frames, bool sync) {
    Mod_Game g;
    std::string launcher = path_join({g.data.dir.path, "launcher"});
    fs_make_dirs(launcher);
    paths_set_exe_dir(launcher);
    // Ten applied files: the first variant of each character that has
    // models, until five models (a .trb and an .imgb each) are chosen.
    std::vector<Fixture_Member> members = {{"zone/z1.bin", "zone one", false}};
    int models = 0;
    Settings s = settings_copy();
    s.hd_models_on = true;
    for (int row = 0; row < hdm_character_count && models < 5; row++) {
        const Hdm_Variant& v = hdm_characters[row].variants[1];
        s.hd_models[size_t(row)] = 1;
        fs_make_dirs(data_path({"hdmodels", "out"}));
        fs_write(data_path({"hdmodels", "out", ascii_lower(hdm_characters[row].name) + ".txt"}),
                 std::string(v.label) + "\n");
        for (std::string_view id : v.models) {
            for (std::string_view ext : {".trb", ".imgb"}) {
                std::string out = hdm_out_path(id, ext);
                fs_make_dirs(path_dir(out));
                fs_write(out, model_bytes(2200000, uint32_t(models * 2 + (ext == ".trb"))));
                members.push_back({fmt("chr/pc/%s/bin/%s.win32%s", id, id, ext), "original", false});
            }
            models++;
        }
    }
    settings_replace(s);
    for (const char* letter : {"u", "c"})
        write_pair(g.game, fmt("sys/filelist_scr%s.win32.bin", letter), fmt("sys/amber_scr%s.win32.bin", letter),
                   members, 1 << 20);
    fs_write(path_join({launcher, cfg_file_name}), "# cfg\n");
    // The first rebuild makes the caches; every later one finds them valid.
    cfg_write_file(launcher, Cfg_When::If_Present);

    static App app;
    Bench_Window w(app);
    app.procs = ui_real_procs();
    if (sync) {
        app.procs.save_settings = [] { return save_settings(); };
        app.procs.cfg_rewrite = [] { return cfg_write_file(exe_dir(), Cfg_When::If_Present); };
    }
    // The settings.txt save of the same frames, timed on its own: what the
    // window's thread spends on it (the request, or the write with --sync).
    static int64_t settings_longest = 0;
    app.procs.save_settings = [save = app.procs.save_settings] {
        int64_t start = clock_ns();
        bool ok = save();
        settings_longest = std::max(settings_longest, clock_ns() - start);
        return ok;
    };
    app.shared.current_page = Page::Game_Options;

    Input_State input{};
    ui_frame(app, input, clock_ns());
    std::vector<int64_t> times;
    int changes = 0;
    int64_t began = clock_ns();
    for (int i = 0; i < frames; ++i) {
        if (i % 10 == 5) {
            // What a click on an option row leaves for the frame's save.
            settings_edit([](Settings& live) { live.fullscreen = !live.fullscreen; });
            app.shared.options_unsaved = 1;
            app.shared.options_cfg_unsaved = 1;
            changes++;
        }
        int64_t start = clock_ns();
        ui_frame(app, input, start);
        times.push_back(clock_ns() - start);
    }
    int64_t drawn = clock_ns();
    save_settings_wait();
    cfg_rewrite_wait();
    int64_t settled = clock_ns();
    std::vector<int64_t> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    int over = 0, over_at_change = 0;
    for (size_t i = 0; i < times.size(); i++) {
        over += times[i] > 50'000'000;
        over_at_change += times[i] > 50'000'000 && i % 10 == 5;
    }
    std::printf("option change (%s): %d frames, %d changes, %d models of 2.2 MB; frame median %.1f ms, p99 %.1f ms, "
                "longest %.1f ms; %d frames over 50 ms (%d of them saving a change); frames drawn in %.2f s, last write done %.2f s after\n",
                sync ? "written on the window's thread" : "written off the window's thread", frames, changes,
                models * 2, double(sorted[sorted.size() / 2]) / 1e6, double(sorted[sorted.size() * 99 / 100]) / 1e6,
                double(sorted.back()) / 1e6, over, over_at_change, double(drawn - began) / 1e9, double(settled - drawn) / 1e9);
    // The frames that saved a change against the others: what the change
    // itself still costs the window's thread.
    std::vector<int64_t> at_change, between;
    for (size_t i = 0; i < times.size(); i++) (i % 10 == 5 ? at_change : between).push_back(times[i]);
    std::sort(at_change.begin(), at_change.end());
    std::sort(between.begin(), between.end());
    if (!at_change.empty() && !between.empty())
        std::printf("frames saving a change: median %.1f ms, longest %.1f ms; the others: median %.1f ms, longest %.1f ms\n",
                    double(at_change[at_change.size() / 2]) / 1e6, double(at_change.back()) / 1e6,
                    double(between[between.size() / 2]) / 1e6, double(between.back()) / 1e6);
    std::string cfg;
    fs_read(path_join({launcher, cfg_file_name}), cfg);
    bool current = cfg == cfg_text();
    std::string saved;
    fs_read(data_path({"settings.txt"}), saved);
    bool saved_current = saved == settings_text(settings_copy());
    Settings_Save_Stats writer = settings_save_stats();
    std::printf("Quillmarsh.cfg follows the last change: %s; mod data: %s; settings.txt follows it: %s\n"
                "settings.txt: longest save on the window's thread %.2f ms; on the writer's thread %lld writes "
                "(%lld failed), longest %.2f ms\n",
                current ? "yes" : "NO", cfg.find("ZQR_MOD_DIR=") != std::string::npos ? "made" : "NOT MADE",
                saved_current ? "yes" : "NO", double(settings_longest) / 1e6, (long long)writer.writes,
                (long long)writer.failed, double(writer.longest_ns) / 1e6);
    paths_set_exe_dir("");
    return current && saved_current ? 0 : 1;
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

// Reads the child's output into `out` for `ms` milliseconds.
void drain(Child* c, int64_t ms, std::string& out) {
    char buf[4096];
    const int64_t until = clock_ns() + ms * 1'000'000;
    for (int64_t now = clock_ns(); now < until; now = clock_ns()) {
        if (!child_look(c, int(std::min<int64_t>(100, (until - now) / 1'000'000 + 1)))) continue;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) {
            sleep_ms((until - clock_ns()) / 1'000'000);
            break;
        }
        out.append(buf, size_t(n));
    }
}

// Whether any thread of the process has a child process running.
bool has_children(uint64_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::vector<Dir_Entry> threads;
    fs_list(tasks, threads);
    for (const Dir_Entry& tid : threads) {
        std::string children;
        if (fs_read(tasks + "/" + tid.name + "/children", children) && children.find_first_not_of(" \n") != std::string::npos)
            return true;
    }
    return false;
}

int idle(const std::string& program, int seconds, bool dialog) {
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
    if (dialog) {
        // No compiler to be found: the compiler dialog stays open.
        for (std::string& v : env) {
            if (v.rfind("PATH=", 0) == 0) v = "PATH=" + local;
        }
    }
    std::string err;
    Child* launcher = child_start({program}, local, &env, &err);
    if (!launcher) {
        std::fprintf(stderr, "ui_bench: cannot start the launcher: %s\n", err.c_str());
        bench::stop(xvfb);
        fs_remove_tree(local);
        return 1;
    }
    uint64_t pid = child_pid(launcher);
    // Start-up and the first check (it runs the compiler and FFmpeg: it
    // has ended once the launcher has had no child for 3 s), then quiet
    // seconds.
    // What the launcher prints is read all along (a full pipe would stop it).
    std::string out;
    drain(launcher, 5000, out);
    int64_t give_up = clock_ns() + 180'000'000'000;
    for (int quiet = 0; quiet < 30 && clock_ns() < give_up; drain(launcher, 100, out)) {
        quiet = has_children(pid) ? 0 : quiet + 1;
    }
    drain(launcher, 10000, out);
    int64_t t0 = cpu_ticks(pid), w0 = clock_ns();
    drain(launcher, int64_t(seconds) * 1000, out);
    int64_t t1 = cpu_ticks(pid), w1 = clock_ns();
    uint32_t code = 0;
    const bool ended = child_ended(launcher, code);
    bench::stop(launcher);
    bench::stop(xvfb);
    fs_remove_tree(local);
    if (t0 < 0 || t1 < 0 || ended) {
        std::fprintf(stderr, "ui_bench: the launcher on :%s ended early (exit code %u):\n%s\n", display.c_str(), code,
                     out.c_str());
        return 1;
    }
    double cpu_ms = double(t1 - t0) * 10.0;   // USER_HZ: 100 ticks a second
    double wall_ms = double(w1 - w0) / 1e6;
    const bool vulkan = out.find("ren_vulkan: swapchain") != std::string::npos;
    std::printf("launcher idle, %s%s: cpu %.0f ms in %.0f ms: %.2f%% of one core\n",
                dialog ? "a dialog open" : "Home", vulkan ? "" : " (no Vulkan swapchain: not drawn)", cpu_ms, wall_ms,
                100.0 * cpu_ms / wall_ms);
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    int frames = 2000, seconds = 10;
    std::string launcher;
    bool run_idle = false, run_option = false, sync = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--launcher" && i + 1 < argc) {
            launcher = argv[++i];
        } else if (a == "--idle") {
            run_idle = true;
        } else if (a == "--option-change") {
            run_option = true;
        } else if (a == "--sync") {
            sync = true;
        } else {
            std::fprintf(stderr, "usage: ui_bench [--frames N] [--idle] [--seconds S] [--launcher PATH] "
                                 "[--option-change [--sync]]\n");
            return 2;
        }
    }
    if (run_option) return option_change(std::min(frames, 200), sync);
    int rc = home_frame(frames);
#ifdef QM_LAUNCHER
    if (launcher.empty()) launcher = QM_LAUNCHER;
    if (run_idle && rc == 0) rc = idle(launcher, seconds, false);
    if (run_idle && rc == 0) rc = idle(launcher, seconds, true);
#else
    (void)seconds;
    (void)launcher;
    if (run_idle) std::printf("launcher idle: measured on Linux only\n");
#endif
    return rc;
}
