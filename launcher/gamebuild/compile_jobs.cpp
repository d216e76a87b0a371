#include "launcher/gamebuild/compile_jobs.h"

#include <algorithm>
#include <unordered_map>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/child_run.h"
#include "launcher/core/task.h"

namespace {

// Adds a job for every C source of `dir`, its object named `prefix`<name>".o".
void add_folder(std::vector<Compile_Job>& out, std::string_view dir, std::string_view obj, std::string_view prefix,
                Job_Group group, const std::shared_ptr<const Cmd>& flags) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(dir, entries)) return;
    for (const Dir_Entry& e : entries) {
        if (e.is_dir || !is_job_source(e.name)) continue;
        std::string stem = e.name.substr(0, e.name.size() - 2);
        out.push_back(Compile_Job{path_join({dir, e.name}), path_join({obj, std::string(prefix) + stem + ".o"}), group,
                                  flags});
    }
}

#ifdef _WIN32
constexpr bool fold_case = true;
#else
constexpr bool fold_case = false;
#endif

std::string name_key(std::string_view path) {
    std::string key(path);
    if (fold_case) {
        for (char& c : key) {
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            if (c == '/') c = '\\';
        }
    }
    return key;
}

}  // namespace

bool is_job_source(std::string_view name) {
    return name.size() > 1 && name.size() >= 2 && name.substr(name.size() - 2) == ".c";
}

bool job_less(const Compile_Job& a, const Compile_Job& b) { return a.src < b.src; }

std::vector<Compile_Job> compile_job_list(std::string_view src, std::string_view obj, const Job_Flags& flags,
                                          std::string_view glue_src) {
    auto page = std::make_shared<const Cmd>(flags.page);
    auto match = std::make_shared<const Cmd>(flags.match);
    auto runtime = std::make_shared<const Cmd>(flags.runtime);
    std::vector<Compile_Job> jobs;
    add_folder(jobs, path_join({src, "gen", "src"}), obj, "", Job_Group::Page, page);
    jobs.push_back(Compile_Job{path_join({src, "gen", "zqr_table.c"}), path_join({obj, "zqr_table.o"}),
                               Job_Group::Runtime, runtime});
    add_folder(jobs, path_join({src, "gen", "match"}), obj, "m_", Job_Group::Match, match);
    add_folder(jobs, path_join({src, "runtime"}), obj, "rt_", Job_Group::Runtime, runtime);
    add_folder(jobs, path_join({src, "gen", "src", "overrides"}), obj, "ovr_", Job_Group::Runtime, runtime);
    if (!glue_src.empty()) {
        jobs.push_back(Compile_Job{std::string(glue_src), path_join({obj, "rt_android_native_app_glue.o"}),
                                   Job_Group::Glue, std::make_shared<const Cmd>(flags.glue)});
    }
    if (jobs.size() > 1) std::sort(jobs.begin(), jobs.end(), job_less);
    return jobs;
}

bool compile_jobs_unique(const std::vector<Compile_Job>& jobs, std::string& message) {
    std::unordered_map<std::string, size_t> seen;
    for (size_t i = 0; i < jobs.size(); ++i) {
        auto [it, fresh] = seen.emplace(name_key(jobs[i].obj), i);
        if (fresh) continue;
        message = fmt("%s and %s would both be compiled into %s: rename one of them.", jobs[it->second].src, jobs[i].src,
                      jobs[i].obj);
        return false;
    }
    return true;
}

Cmd compile_command(std::string_view compiler, const Compile_Job& job) {
    Cmd cmd;
    cmd.reserve(job.flags->size() + 6);
    cmd.emplace_back(compiler);
    cmd.insert(cmd.end(), job.flags->begin(), job.flags->end());
    for (std::string_view a : {std::string_view("-c"), std::string_view(job.src), std::string_view("-o"),
                               std::string_view(job.obj)})
        cmd.emplace_back(a);
    return cmd;
}

void log_compile_errors(Task& t, std::string_view src, std::string_view output) {
    logf(t, "%s does not compile:", path_base(src));
    int shown = 0;
    size_t start = 0;
    while (start < output.size()) {
        size_t nl = output.find('\n', start);
        std::string_view line = output.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (shown == compile_error_lines) {
            log_line(t, "  ...");
            return;
        }
        log_line(t, line);
        ++shown;
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
}

void compile_worker(Compile_Pool& pool) {
    Task& t = *pool.task;
    int64_t count = int64_t(pool.jobs.size());
    std::string output;
    for (;;) {
        if (t.cancel.load() || pool.failed.load()) return;
        int64_t index = pool.next.fetch_add(1);
        if (index >= count) return;
        const Compile_Job& job = pool.jobs[size_t(index)];
        // A failed compile must never leave an older object that a later
        // build would take as up to date.
        fs_remove_file(job.obj);
        output.clear();
        int64_t code = -1;
        bool started = child_run(t, compile_command(pool.compiler, job), "", Output_Mode::Quiet, &output, nullptr, 0,
                                 &code);
        if (!t.cancel.load() && (!started || code != 0)) {
            pool.failed.exchange(1);
            if (!started) output = fmt("Could not start %s\n", pool.compiler);
            log_compile_errors(t, job.src, output);
        }
        int64_t d = pool.done.fetch_add(1) + 1;
        float fraction = 0.1f + 0.8f * float(d) / float(count);
        set_status(t, fraction, "Compiling: %d of %d (%s)", d, count, path_base(job.src));
    }
}

bool compile_pool_run(Compile_Pool& pool, int workers) {
    if (workers < 1) workers = 1;
    std::vector<Thread> threads(static_cast<size_t>(workers));
    int started = 0;
    for (Thread& th : threads) {
        if (thread_start(th, [&pool] { compile_worker(pool); })) ++started;
    }
    // Without any thread of its own the build still goes on, on this one.
    if (started == 0) compile_worker(pool);
    for (Thread& th : threads) thread_join(th);
    return !pool.failed.load() && !pool.task->cancel.load();
}
