#include "launcher/gamebuild/compile_jobs.h"

#include <algorithm>
#include <unordered_map>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/child_run.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/task.h"

namespace {

// The milliseconds of each object name in a times file; lines that do not
// read as a name, a tab and a number are left out.
std::unordered_map<std::string, int64_t> read_times(std::string_view text) {
    std::unordered_map<std::string, int64_t> times;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        size_t tab = line.rfind('\t');
        int64_t ms = 0;
        if (tab == std::string_view::npos || tab == 0 || !parse_int(line.substr(tab + 1), ms) || ms < 0) continue;
        times[std::string(line.substr(0, tab))] = ms;
    }
    return times;
}

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
        int64_t start = clock_ns();
        bool started = child_run(t, compile_command(pool.compiler, job), "", Output_Mode::Quiet, &output, nullptr, 0,
                                 &code);
        if (started && code == 0 && size_t(index) < pool.took_ns.size()) pool.took_ns[size_t(index)] = clock_ns() - start;
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
    pool.took_ns.assign(pool.jobs.size(), 0);
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

void order_longest_first(std::vector<Compile_Job>& jobs, std::string_view times_text) {
    std::unordered_map<std::string, int64_t> times = read_times(times_text);
    struct Length {
        double known = -1;   // ms from the last build that compiled it
        double size = 0;     // bytes of its source
    };
    std::vector<Length> lengths(jobs.size());
    std::vector<double> rates;   // ms per byte of the jobs with both
    for (size_t i = 0; i < jobs.size(); ++i) {
        File_Info info;
        if (fs_stat(jobs[i].src, info)) lengths[i].size = double(info.size);
        auto found = times.find(std::string(path_base(jobs[i].obj)));
        if (found == times.end()) continue;
        lengths[i].known = double(found->second);
        if (lengths[i].size > 0) rates.push_back(lengths[i].known / lengths[i].size);
    }
    double rate = 1;
    if (!rates.empty()) {
        std::nth_element(rates.begin(), rates.begin() + std::ptrdiff_t(rates.size() / 2), rates.end());
        rate = rates[rates.size() / 2];
    }
    std::vector<size_t> order(jobs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto length = [&](size_t i) { return lengths[i].known >= 0 ? lengths[i].known : lengths[i].size * rate; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return length(a) > length(b); });
    std::vector<Compile_Job> sorted;
    sorted.reserve(jobs.size());
    for (size_t i : order) sorted.push_back(std::move(jobs[i]));
    jobs = std::move(sorted);
}

std::string compile_times_text(std::string_view old_text, const Compile_Pool& pool) {
    std::unordered_map<std::string, int64_t> times = read_times(old_text);
    for (size_t i = 0; i < pool.jobs.size() && i < pool.took_ns.size(); ++i) {
        if (pool.took_ns[i] > 0) times[std::string(path_base(pool.jobs[i].obj))] = (pool.took_ns[i] + 500000) / 1000000;
    }
    std::vector<std::pair<std::string, int64_t>> lines(times.begin(), times.end());
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& [name, ms] : lines) text += name + "\t" + std::to_string(ms) + "\n";
    return text;
}
