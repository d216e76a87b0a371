// Child processes of the background task and the program lookup.
#include "launcher/core/child_run.h"

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

namespace {

constexpr int64_t look_ms = 200;
constexpr int64_t drain_ns = 2000000000;

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool ends_with_exe(std::string_view s) {
    if (s.size() < 4) return false;
    std::string_view tail = s.substr(s.size() - 4);
    return tail[0] == '.' && lower(tail[1]) == 'e' && lower(tail[2]) == 'x' && lower(tail[3]) == 'e';
}

std::string after_last_separator(std::string_view s) {
    size_t at = s.find_last_of("/\\");
    return std::string(at == std::string_view::npos ? s : s.substr(at + 1));
}

bool is_path_variable(std::string_view v) {
    if (v.size() < 5 || v[4] != '=') return false;
#ifdef _WIN32
    return lower(v[0]) == 'p' && lower(v[1]) == 'a' && lower(v[2]) == 't' && lower(v[3]) == 'h';
#else
    return v.substr(0, 4) == "PATH";
#endif
}

// A capture within child_capture_limit: the head takes lines while they
// fit in half the limit; after that, lines go to the tail, which drops
// whole lines from its front to stay near the other half.
struct Capped_Capture {
    std::string head, tail;
    bool head_full = false;
    uint64_t left_out = 0;

    static constexpr size_t half = child_capture_limit / 2;

    void add(std::string_view line) {
        size_t size = line.size() + 1;
        if (!head_full && head.size() + size <= half) {
            head.append(line);
            head.push_back('\n');
            return;
        }
        head_full = true;
        tail.append(line);
        tail.push_back('\n');
        if (tail.size() >= 2 * half) trim(half);
    }

    // Drops whole lines from the tail's front until at most `keep` bytes are left.
    void trim(size_t keep) {
        if (tail.size() <= keep) return;
        size_t cut = tail.find('\n', tail.size() - keep - 1);
        cut = cut == std::string::npos ? tail.size() : cut + 1;
        left_out += cut;
        tail.erase(0, cut);
    }

    void finish(std::string& out) {
        if (head.size() + tail.size() > child_capture_limit) trim(half);
        out += head;
        if (left_out > 0) out += fmt("[... %d bytes left out ...]\n", left_out);
        out += tail;
    }
};

// A file that can be run: a stray "clang" without execute permission early
// on PATH does not hide the real one.
bool is_program_file(const std::string& path) { return fs_is_executable(path); }

}  // namespace

std::string win_cmdline(const std::vector<std::string>& args) { return child_command_line(args); }

std::string program_dir(std::string_view program) {
    size_t at = std::string_view::npos;
    for (size_t i = 0; i < program.size(); ++i) {
        if (is_separator(program[i])) at = i;
    }
    if (at == std::string_view::npos || at == 0) return std::string();
    return std::string(program.substr(0, at));
}

std::vector<std::string> child_env(const std::vector<std::string>& vars, const std::vector<std::string>& lead) {
    std::string front;
    for (const std::string& folder : lead) {
        if (folder.empty()) continue;
        if (!front.empty()) front.push_back(path_list_separator);
        front += folder;
    }
    if (front.empty()) return vars;
    std::vector<std::string> out;
    out.reserve(vars.size() + 1);
    bool met = false;
    for (const std::string& v : vars) {
        if (!is_path_variable(v)) {
            out.push_back(v);
            continue;
        }
        met = true;
        std::string value = v.substr(5);
        std::string entry = "PATH=" + front;
        if (!value.empty()) {
            entry.push_back(path_list_separator);
            entry += value;
        }
        out.push_back(std::move(entry));
    }
    if (!met) out.push_back("PATH=" + front);
    return out;
}

std::string timeout_name(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (ends_with_exe(a)) return after_last_separator(a);
    }
    return args.empty() ? std::string() : after_last_separator(args[0]);
}

std::vector<std::string> exe_runner_command(const std::vector<std::string>& args) {
#ifdef _WIN32
    return args;
#else
    std::string runner = env_get("QM_EXE_RUNNER");
    if (args.empty() || runner.empty() || !ends_with_exe(args[0])) return args;
    std::vector<std::string> out{runner};
    out.insert(out.end(), args.begin(), args.end());
    return out;
#endif
}

bool child_run(Task& t, const std::vector<std::string>& args, std::string_view cwd, Output_Mode mode,
               std::string* capture, const Line_Proc& on_line, int64_t timeout_ns, int64_t* exit_code,
               const std::vector<std::string>& extra_path) {
    if (exit_code) *exit_code = -1;
    std::vector<std::string> lead;
    if (!args.empty()) lead.push_back(program_dir(args[0]));
    lead.insert(lead.end(), extra_path.begin(), extra_path.end());
    bool any_lead = false;
    for (const std::string& folder : lead) any_lead = any_lead || !folder.empty();
    std::vector<std::string> env;
    if (any_lead) env = child_env(env_all(), lead);

    Child* c = args.empty() ? nullptr : child_start(exe_runner_command(args), cwd, any_lead ? &env : nullptr);
    if (!c) {
        if (mode == Output_Mode::Log) logf(t, "Could not start %s", args.empty() ? std::string() : args[0]);
        return false;
    }
    task_add_child(t, c);
    int64_t start = clock_ns();

    bool ended = false, stopped = false;
    int64_t drain_start = 0;
    uint32_t code = 0;
    auto stop = [&] {
        logf(t, "%s did not finish within %d seconds: stopped.", timeout_name(args), timeout_ns / 1000000000);
        child_terminate(c, 1);
        stopped = true;
    };
    // The time-out and the drain are looked at after every read as well as
    // after a quiet look: a program that never stops printing is held to
    // its time-out all the same.
    auto deadlines = [&](bool quiet) -> bool {
        int64_t now = clock_ns();
        if (!ended && (quiet || (timeout_ns > 0 && !stopped && now - start > timeout_ns))) {
            if (child_ended(c, code)) {
                ended = true;
                drain_start = now;
            } else if (timeout_ns > 0 && !stopped && now - start > timeout_ns) {
                stop();
                drain_start = now;
            }
        }
        // A program may leave a process of its own holding the pipe.
        return (ended || stopped) && now - drain_start > drain_ns;
    };

    Emit_State state;
    Capped_Capture kept;
    std::string line;
    bool after_cr = false;   // the byte before was a CR (also across reads)
    char buf[4096];
    for (;;) {
        if (!child_look(c, int(look_ms))) {
            if (deadlines(true)) break;
            continue;
        }
        if (deadlines(false)) break;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) break;
        for (int64_t i = 0; i < n; ++i) {
            char b = buf[i];
            if (b == '\r' || b == '\n') {
                // Windows programs end their lines with CR LF: the LF after
                // a CR ends an empty line for the log, but the capture,
                // which callers read as text lines, takes the pair as one
                // line end.
                if (capture && !(b == '\n' && after_cr)) kept.add(line);
                emit(t, line, b == '\r', state, mode, nullptr, on_line);
                line.clear();
                after_cr = b == '\r';
            } else {
                after_cr = false;
                line.push_back(b);
                if (line.size() >= child_line_limit) {
                    if (capture) kept.add(line);
                    emit(t, line, false, state, mode, nullptr, on_line);
                    line.clear();
                }
            }
        }
    }
    if (!line.empty()) {
        if (capture) kept.add(line);
        emit(t, line, false, state, mode, nullptr, on_line);
    }
    if (capture) kept.finish(*capture);
    child_close_output(c);
    if (!ended) {
        // The pipe closed while the program may still run: its time-out
        // holds, tested as in the loop only after a quiet look's time, so a
        // program that is just ending is not stopped.
        bool done = false;
        if (timeout_ns > 0 && !stopped) {
            int64_t left_ms = (start + timeout_ns - clock_ns() + 999999) / 1000000;
            done = child_wait(c, left_ms > look_ms ? left_ms : look_ms, code);
            if (!done) stop();
        }
        if (!done) child_wait(c, -1, code);
    }
    if (exit_code) *exit_code = stopped ? -1 : int64_t(code);

    task_remove_child(t, c);
    child_close(c);
    return true;
}

std::string reg_path_value(Reg_Root root, std::string_view key) { return reg_string(root, key, "Path"); }

std::string find_program(std::string_view name) {
    if (name.empty()) return std::string();
    if (path_is_absolute(name)) {
        std::string path(name);
        return is_program_file(path) ? path : std::string();
    }
    std::string file(name);
#ifdef _WIN32
    if (!ends_with_exe(file)) file += ".exe";
#endif
    std::string list = env_get("PATH");
    list.push_back(path_list_separator);
    list += reg_path_value(Reg_Root::Current_User, "Environment");
    list.push_back(path_list_separator);
    list += reg_path_value(Reg_Root::Local_Machine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");

    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find(path_list_separator, pos);
        if (end == std::string::npos) end = list.size();
        std::string_view entry(list.data() + pos, end - pos);
        pos = end + 1;
        while (!entry.empty() && entry.front() == '"') entry.remove_prefix(1);
        while (!entry.empty() && entry.back() == '"') entry.remove_suffix(1);
        if (entry.empty()) continue;
        std::string candidate = path_join({entry, file});
        if (is_program_file(candidate)) return candidate;
    }
    return std::string();
}
