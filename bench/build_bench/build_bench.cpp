// Compares the launcher's compile workers with ninja on the same work:
// N generated C files of the shape of the game's pages, compiled with the
// same command lines, first from nothing, then the up-to-date check of a
// tree where nothing changed.
//
//   build_bench [--files N] [--jobs J] [--rounds R] [--compiler PATH] [--dir FOLDER] [--keep]
//
// Prints both wall times and their ratio (ours / ninja's). With more than one
// round the two take turns going first and the best time of each counts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/compile_jobs.h"
#include "launcher/core/child_run.h"
#include "launcher/core/format.h"
#include "launcher/core/task.h"

namespace {

struct Options {
    int files = 2000;
    int jobs = 0;
    int rounds = 1;
    std::string compiler;
    std::string dir;
    bool keep = false;
};

uint32_t next_random(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// One page: a function over the guest's registers with a dispatch of
// blocks, as the recompiler writes them.
std::string page_text(int index) {
    uint32_t r = uint32_t(index) * 2654435761u + 1;
    std::string s = fmt("/* page %d */\n#include \"ctx.h\"\n\nvoid page_%05d(Ctx *c) {\n", index, index);
    s += "    uint32_t pc = c->pc;\n    for (int guard = 0; guard < 64; guard++) {\n        switch (pc) {\n";
    int blocks = 12 + int(next_random(r) % 12);
    for (int b = 0; b < blocks; ++b) {
        uint32_t addr = 0x401000u + uint32_t(index) * 0x400u + uint32_t(b) * 0x20u;
        s += fmt("        case 0x%x:\n", addr);
        int ops = 4 + int(next_random(r) % 8);
        for (int o = 0; o < ops; ++o) {
            int d = int(next_random(r) % 8), a = int(next_random(r) % 8), k = int(next_random(r) % 4096);
            switch (next_random(r) % 5) {
                case 0: s += fmt("            c->r[%d] = c->r[%d] + 0x%x;\n", d, a, k); break;
                case 1: s += fmt("            c->r[%d] ^= c->r[%d] << %d;\n", d, a, k % 31); break;
                case 2: s += fmt("            c->r[%d] = mem_read32(c, c->r[%d] + %d);\n", d, a, k); break;
                case 3: s += fmt("            mem_write32(c, c->r[%d] - %d, c->r[%d]);\n", a, k, d); break;
                default: s += fmt("            c->flags = (int32_t)c->r[%d] < (int32_t)c->r[%d];\n", d, a); break;
            }
        }
        uint32_t target = 0x401000u + uint32_t(index) * 0x400u + uint32_t(next_random(r) % uint32_t(blocks)) * 0x20u;
        s += fmt("            if (c->flags) { pc = 0x%x; break; }\n            pc = 0x%x; break;\n", target,
                 b + 1 < blocks ? addr + 0x20u : 0u);
    }
    s += "        default:\n            c->pc = pc;\n            return;\n        }\n    }\n    c->pc = pc;\n}\n";
    return s;
}

const char ctx_header[] =
    "#include <stdint.h>\n"
    "typedef struct Ctx { uint32_t r[8]; uint32_t pc; int flags; uint8_t *mem; } Ctx;\n"
    "static inline uint32_t mem_read32(Ctx *c, uint32_t a) { uint32_t v; __builtin_memcpy(&v, c->mem + (a & 0xffff), 4); return v; }\n"
    "static inline void mem_write32(Ctx *c, uint32_t a, uint32_t v) { __builtin_memcpy(c->mem + (a & 0xffff), &v, 4); }\n";

double seconds(int64_t ns) { return double(ns) / 1e9; }

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--files" && value(v)) o.files = std::atoi(v.c_str());
        else if (a == "--jobs" && value(v)) o.jobs = std::atoi(v.c_str());
        else if (a == "--rounds" && value(v)) o.rounds = std::atoi(v.c_str());
        else if (a == "--compiler" && value(v)) o.compiler = v;
        else if (a == "--dir" && value(v)) o.dir = v;
        else if (a == "--keep") o.keep = true;
        else return false;
    }
    return o.files > 0 && o.rounds > 0;
}

// Runs a program and waits; true when it exited with 0.
bool run(Task& t, const Cmd& cmd) {
    int64_t code = -1;
    std::string out;
    bool ok = child_run(t, cmd, "", Output_Mode::Quiet, &out, nullptr, 0, &code) && code == 0;
    if (!ok) std::fprintf(stderr, "%s", out.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: build_bench [--files N] [--jobs J] [--rounds R] [--compiler PATH] [--dir FOLDER] [--keep]\n");
        return 2;
    }
    if (o.jobs <= 0) o.jobs = cpu_count();
    if (o.compiler.empty()) o.compiler = find_program("clang");
    if (o.compiler.empty()) o.compiler = find_program("cc");
    if (o.compiler.empty()) {
        std::fprintf(stderr, "build_bench: no C compiler found\n");
        return 1;
    }
    std::string ninja = find_program("ninja");
    if (o.dir.empty()) o.dir = path_join({current_dir(), "build_bench.work"});
    fs_remove_tree(o.dir);
    std::string src = path_join({o.dir, "src"});
    std::string pages = path_join({src, "gen", "src"});
    std::string include = path_join({src, "include"});
    std::string obj_ours = path_join({o.dir, "obj_ours"});
    std::string obj_ninja = path_join({o.dir, "obj_ninja"});
    for (const std::string& d : {pages, include, obj_ours, obj_ninja}) fs_make_dirs(d);
    fs_write(path_join({include, "ctx.h"}), ctx_header);
    fs_write(path_join({include, "zqr.h"}), "/* the game's header */\n");
    for (int i = 0; i < o.files; ++i) fs_write(path_join({pages, fmt("page_%05d.c", i)}), page_text(i));
    // The table the job list always holds.
    fs_write(path_join({src, "gen", "zqr_table.c"}), "const int zqr_table_size = 0;\n");

    Job_Flags flags;
    flags.page = {"-O1", "-w", "-fwrapv", "-fno-strict-aliasing", "-I", include};
    flags.runtime = flags.page;
    flags.match = flags.page;
    std::printf("build_bench: %d files, %d jobs at a time, %s\n", o.files + 1, o.jobs, o.compiler.c_str());

    Task t;
    // Warm the compiler's files into the cache before either side is timed.
    if (!run(t, {o.compiler, "-O1", "-w", "-I", include, "-c", path_join({pages, "page_00000.c"}), "-o",
                 path_join({o.dir, "warm.o"})}))
        return 1;

    std::vector<Compile_Job> jobs = compile_job_list(src, obj_ours, flags, "");
    std::string stamp = stamp_text(o.compiler, flags.page, 0, 1);
    if (!ninja.empty()) {
        std::string text = "rule cc\n  command = " + o.compiler + " $flags -c $in -o $out\n\n";
        std::string flag_text;
        for (const std::string& f : flags.page) flag_text += " " + f;
        for (const Compile_Job& j : compile_job_list(src, obj_ninja, flags, ""))
            text += "build " + j.obj + ": cc " + j.src + "\n  flags =" + flag_text + "\n";
        fs_write(path_join({o.dir, "build.ninja"}), text);
    }

    // Ours: the job table and the workers, from an empty object folder.
    // The compile times of our last round, kept beside the objects' folder,
    // which every round empties (the first round orders by source size).
    std::string times_path = path_join({o.dir, std::string(compile_times_name)});
    auto time_ours = [&]() -> int64_t {
        fs_remove_tree(obj_ours);
        fs_make_dirs(obj_ours);
        Compile_Pool pool;
        pool.task = &t;
        pool.compiler = o.compiler;
        pool.jobs = jobs;
        std::string old_times;
        fs_read(times_path, old_times);
        order_longest_first(pool.jobs, old_times);
        int64_t begin = clock_ns();
        bool done = compile_pool_run(pool, o.jobs);
        int64_t took = clock_ns() - begin;
        fs_write(times_path, compile_times_text(old_times, pool));
        if (!done) {
            for (const std::string& line : task_view(t).log) std::fprintf(stderr, "%s\n", line.c_str());
            return -1;
        }
        fs_write(path_join({obj_ours, "pages.stamp"}), stamp);
        fs_write(path_join({obj_ours, "runtime.stamp"}), stamp);
        return took;
    };
    // Ninja with the identical command lines, from nothing. Its log stays
    // from round to round, as our times do (a ninja that orders by the
    // log's times gets them too).
    auto time_ninja = [&]() -> int64_t {
        fs_remove_tree(obj_ninja);
        fs_make_dirs(obj_ninja);
        int64_t begin = clock_ns();
        if (!run(t, {ninja, "-C", o.dir, "-j", fmt("%d", o.jobs)})) return -1;
        return clock_ns() - begin;
    };
    int64_t ours = INT64_MAX, theirs = ninja.empty() ? 0 : INT64_MAX;
    for (int round = 0; round < o.rounds; ++round) {
        bool ninja_first = !ninja.empty() && round % 2 == 1;
        int64_t a = 0, b = 0;
        if (ninja_first) b = time_ninja();
        a = time_ours();
        if (!ninja.empty() && !ninja_first) b = time_ninja();
        if (a < 0 || b < 0) return 1;
        ours = std::min(ours, a);
        if (!ninja.empty()) theirs = std::min(theirs, b);
    }

    std::printf("full build:    ours %.2f s", seconds(ours));
    if (theirs > 0) std::printf(", ninja %.2f s, ratio %.3f (goal <= 0.95)", seconds(theirs), double(ours) / double(theirs));
    std::printf("\n");

    // Nothing changed: what each takes to find that out (best of five).
    int64_t ours_check = INT64_MAX, ninja_check = INT64_MAX;
    size_t left = 0;
    for (int round = 0; round < 5; ++round) {
        int64_t start = clock_ns();
        std::string page = stamp_text(o.compiler, flags.page, 0, 1);
        std::vector<Compile_Job> all = compile_job_list(src, obj_ours, flags, "");
        left = jobs_to_compile(all, rebuild_inputs(src, obj_ours, page, page)).size();
        ours_check = std::min(ours_check, clock_ns() - start);
        if (!ninja.empty()) {
            start = clock_ns();
            run(t, {ninja, "-C", o.dir, "-j", fmt("%d", o.jobs)});
            ninja_check = std::min(ninja_check, clock_ns() - start);
        }
    }
    std::printf("up-to-date check: ours %.1f ms (%zu to compile)", double(ours_check) / 1e6, left);
    if (!ninja.empty()) std::printf(", ninja %.1f ms (goal: ours <= ninja's)", double(ninja_check) / 1e6);
    std::printf("\n");
    if (ninja.empty()) std::printf("ninja not found: only our figures\n");
    if (!o.keep) fs_remove_tree(o.dir);
    return 0;
}
