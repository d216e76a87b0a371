// The compile jobs of the game build: one object per C source of the
// unpacked bundle, compiled by one worker per processor core that all take
// the next job from one shared counter.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/options.h"

struct Task;

// Which flag list a job is compiled with. The rebuild rule keeps one stamp
// for the groups of the runtime flags (Runtime and the Android glue, whose
// list is the runtime list and one more flag) and one for the others.
enum class Job_Group : uint8_t { Page, Match, Runtime, Glue };

struct Compile_Job {
    std::string src;
    std::string obj;
    Job_Group group = Job_Group::Page;
    std::shared_ptr<const Cmd> flags;   // shared by every job of the group
};

// The flag lists of one build.
struct Job_Flags {
    Cmd page, match, runtime;
    Cmd glue;   // the runtime flags and "-fvisibility=default" (Android only)
};

// The jobs of the unpacked sources `src` with objects in `obj`, sorted by
// source path (byte-wise). `glue_src` is the Android glue source, "" for
// other targets. A folder that cannot be listed adds nothing.
std::vector<Compile_Job> compile_job_list(std::string_view src, std::string_view obj, const Job_Flags& flags,
                                          std::string_view glue_src);
// Byte-wise order of the source paths.
bool job_less(const Compile_Job& a, const Compile_Job& b);
// Whether a listed name is a C source of the job table: longer than one
// character and ending in ".c".
bool is_job_source(std::string_view name);
// Every object path names one job (compared the way this system's file
// system compares names). Otherwise false with `message` naming the object
// and both sources.
bool compile_jobs_unique(const std::vector<Compile_Job>& jobs, std::string& message);

struct Compile_Pool {
    Task* task = nullptr;
    std::string compiler;
    std::vector<Compile_Job> jobs;   // the jobs to compile, in order
    std::atomic<int64_t> next{0};
    std::atomic<int64_t> done{0};
    std::atomic<uint8_t> failed{0};
    // Per job, the ns its compiler took (0: not run); each written by the
    // worker that ran the job, read once the workers are joined.
    std::vector<int64_t> took_ns;
};

// The file in the object folder that keeps how long each object's compile
// took, one line per object file name: the name, a tab, the milliseconds.
inline constexpr std::string_view compile_times_name = "compile_times.txt";

// Orders the jobs longest first, so that no core idles at the end of a
// build behind one long compile started last. A job's length is the time
// its compile took when `times_text` (the text of compile_times_name) has
// it; otherwise its source's size at the known jobs' median ms per byte (the
// size alone when none is known). Equal lengths keep their order.
void order_longest_first(std::vector<Compile_Job>& jobs, std::string_view times_text);

// The times file after a build: a line for every job of `pool` that ran,
// and the lines of `old_text` for the objects it did not compile.
std::string compile_times_text(std::string_view old_text, const Compile_Pool& pool);

// At most this many lines of a compiler's output are logged; "  ..." stands
// for the rest.
inline constexpr int compile_error_lines = 30;

// The command of one job: the compiler, the job's flags, "-c", the source,
// "-o", the object.
Cmd compile_command(std::string_view compiler, const Compile_Job& job);
// One worker: takes jobs until none is left, the pool failed or the task was
// cancelled.
void compile_worker(Compile_Pool& pool);
// Runs `workers` workers (at least one) and waits for all of them. False
// when a job failed or the task was cancelled.
bool compile_pool_run(Compile_Pool& pool, int workers);
// Logs a failed job's compiler output: "%s does not compile:" and at most
// compile_error_lines lines.
void log_compile_errors(Task& t, std::string_view src, std::string_view output);
