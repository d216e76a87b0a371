// Child processes on POSIX systems: a process group of the child's own, one
// close-on-exec pipe whose write end becomes the child's standard output and
// error, standard input from /dev/null. The group's first process is a guard
// (see guard_and_run) that runs the program in a second one; on Linux the
// guard ends the whole group when the thread that started it ends (so also
// when the launcher is killed).
//
// The child is tested for its end with WNOWAIT and reaped only by
// child_close, so its process id, and with it the process group id, cannot
// be taken by another process while the record exists: signalling the group
// never reaches a stranger.
#include "engine/kt_system/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"

struct Child {
    pid_t pid = -1;
    int out = -1;                        // read end of the pipe, -1 once closed
    bool ended = false;                  // the end has been seen (not yet reaped)
    uint32_t code = 0;
    std::atomic<bool> stopped{false};    // child_terminate was called
    std::atomic<uint32_t> stop_code{0};
};

namespace {

std::string error_text(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

// Takes the end of the child from `info` as an exit code.
uint32_t code_of(Child* c, const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return static_cast<uint32_t>(info.si_status) & 0xff;
    int sig = info.si_status;
    if (sig == SIGKILL && c->stopped.load()) return c->stop_code.load();
    return child_signal_base + static_cast<uint32_t>(sig);
}

// Looks at the child's state without reaping it; with `block` it waits.
bool see_end(Child* c, bool block) {
    if (c->ended) return true;
    for (;;) {
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        int flags = WEXITED | WNOWAIT | (block ? 0 : WNOHANG);
        if (waitid(P_PID, static_cast<id_t>(c->pid), &info, flags) == 0) {
            if (info.si_pid != c->pid) return false;   // still running
            c->code = code_of(c, info);
            c->ended = true;
            return true;
        }
        if (errno == EINTR) continue;
        // ECHILD: someone else reaped it (SIGCHLD ignored); nothing more to learn.
        c->code = c->stopped.load() ? c->stop_code.load() : 1;
        c->ended = true;
        return true;
    }
}

// The file that execvp would run for `name`: a name with a "/" as it is,
// else the first executable file of that name in this process's PATH.
// Empty when there is none, with `err` saying why.
std::string program_path(const std::string& name, int& err) {
    err = ENOENT;
    if (name.empty()) return std::string();
    if (name.find('/') != std::string::npos) return name;
    std::string path = env_get("PATH");
    if (path.empty()) path = "/bin:/usr/bin";
    size_t start = 0;
    for (;;) {
        size_t end = path.find(':', start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
            err = EACCES;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string();
}

// --- Between fork and exec: system calls only ------------------------------

void report_and_exit(int fd, int failure) {
    while (write(fd, &failure, sizeof failure) < 0 && errno == EINTR) {
    }
    _exit(127);
}

// Closes every descriptor from `first` on.
void close_from(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0) == 0) return;
#endif
    struct rlimit limit;
    int last = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? int(limit.rlim_cur) : 65536;
    for (int fd = first; fd < last; ++fd) close(fd);
}

// Signals the guard passes on to the program, so that signalling the
// child's process id reaches the program as before.
constexpr int passed_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGWINCH};

void default_signals() {
    struct sigaction plain;
    std::memset(&plain, 0, sizeof plain);
    plain.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGCHLD, SIGUSR1}) sigaction(sig, &plain, nullptr);
    for (int sig : passed_signals) sigaction(sig, &plain, nullptr);
}

// The launcher is gone: the group it started goes with it.
void end_group(int) { kill(0, SIGKILL); }

// The guard's program (its process id once started).
volatile sig_atomic_t guarded = 0;

void pass_on(int sig) {
    if (guarded > 0) kill(static_cast<pid_t>(guarded), sig);
}

// The first process of a new group. It stays as the group's guard while the
// program runs in a second process of the same group: when the thread that
// started it ends (the launcher killed, even by SIGKILL), the system signals
// the guard, which ends the whole group, the program's own children
// (a compiler's "clang -cc1") included. The guard ends as the program ended:
// with its exit status, or by the same signal.
[[noreturn]] void guard_and_run(pid_t parent, const char* program, char* const* argv, char* const* envp,
                                const char* dir, int pipe_in, int report_in) {
    default_signals();
#ifdef __linux__
    struct sigaction gone;
    std::memset(&gone, 0, sizeof gone);
    gone.sa_handler = end_group;
    sigaction(SIGUSR1, &gone, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGUSR1);
    if (getppid() != parent) _exit(127);
#else
    (void)parent;
#endif
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dir && chdir(dir) != 0) report_and_exit(report_in, errno);
    int null = open("/dev/null", O_RDONLY);
    if (null < 0) report_and_exit(report_in, errno);
    // Standard input from the null device, output and error into the pipe,
    // the failure report on 3, and nothing else open (the launcher's other
    // descriptors, other children's pipes among them, stay out).
    int copies[3] = {fcntl(null, F_DUPFD, 10), fcntl(pipe_in, F_DUPFD, 10), fcntl(report_in, F_DUPFD, 10)};
    for (int fd : copies) {
        if (fd < 0) report_and_exit(report_in, errno);
    }
    if (dup2(copies[0], 0) < 0 || dup2(copies[1], 1) < 0 || dup2(copies[1], 2) < 0 || dup2(copies[2], 3) < 0 ||
        fcntl(3, F_SETFD, FD_CLOEXEC) < 0)
        report_and_exit(copies[2], errno);
    close_from(4);

    struct sigaction relay;
    std::memset(&relay, 0, sizeof relay);
    relay.sa_handler = pass_on;
    sigset_t passed;
    sigemptyset(&passed);
    for (int sig : passed_signals) {
        sigaction(sig, &relay, nullptr);
        sigaddset(&passed, sig);
    }
    // Held until the program's id is known, then passed on.
    sigprocmask(SIG_BLOCK, &passed, nullptr);
    pid_t run = fork();
    if (run == 0) {
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        default_signals();
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(program, argv, envp);
        report_and_exit(3, errno);
    }
    if (run < 0) report_and_exit(3, errno);
    guarded = run;
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // The guard holds no end of the pipes: the launcher sees their end when
    // the program's tree closes them.
    close(3);
    dup2(0, 1);
    dup2(0, 2);
    int status = 0;
    while (waitpid(run, &status, 0) < 0) {
        if (errno != EINTR) _exit(127);
    }
    if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
    int sig = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    struct sigaction plain;
    std::memset(&plain, 0, sizeof plain);
    plain.sa_handler = SIG_DFL;
    sigaction(sig, &plain, nullptr);
    kill(getpid(), sig);
    _exit(128 + sig);
}

}  // namespace

Child* child_start(const std::vector<std::string>& args, std::string_view cwd,
                   const std::vector<std::string>* env, std::string* err) {
    if (args.empty()) {
        if (err) *err = "no program given";
        return nullptr;
    }
    int not_found = 0;
    std::string program = program_path(args[0], not_found);
    if (program.empty()) {
        if (err) *err = error_text(args[0].c_str(), not_found);
        return nullptr;
    }
    // Everything the new process needs is made before the fork: between the
    // fork and the exec it may only make system calls.
    std::string dir(cwd);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> own_env;
    if (!env) {
        own_env = env_all();
        env = &own_env;
    }
    std::vector<char*> envp;
    for (const std::string& v : *env) envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (err) *err = error_text("pipe", errno);
        return nullptr;
    }
    // The exec's failure comes back through a second pipe; its success closes it.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        if (err) *err = error_text("pipe", errno);
        close(fds[0]);
        close(fds[1]);
        return nullptr;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        close(fds[0]);
        setpgid(0, 0);
        guard_and_run(parent, program.c_str(), argv.data(), envp.data(), dir.empty() ? nullptr : dir.c_str(), fds[1],
                      report[1]);
    }
    int fork_error = errno;
    close(fds[1]);
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        close(fds[0]);
        if (err) *err = error_text("fork", fork_error);
        return nullptr;
    }
    // Also here, so that the group exists before anyone signals it.
    setpgid(pid, pid);
    int failure = 0;
    ssize_t got;
    while ((got = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        close(fds[0]);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (err) *err = error_text(args[0].c_str(), failure);
        return nullptr;
    }
    Child* c = new Child;
    c->pid = pid;
    c->out = fds[0];
    return c;
}

bool child_look(Child* c, int wait_ms) {
    if (c->out < 0) return true;
    int64_t deadline = clock_system_ns() + int64_t(wait_ms) * 1000000;
    for (;;) {
        pollfd p{c->out, POLLIN, 0};
        int64_t left = (deadline - clock_system_ns()) / 1000000;
        int rc = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc > 0) return true;   // data, hang-up or error: the read tells
        if (rc == 0) return false;
        if (errno != EINTR) return true;
    }
}

int64_t child_read(Child* c, char* buf, size_t size) {
    if (c->out < 0) return -1;
    for (;;) {
        ssize_t n = read(c->out, buf, size);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

void child_close_output(Child* c) {
    if (c->out >= 0) close(c->out);
    c->out = -1;
}

bool child_ended(Child* c, uint32_t& code) {
    if (!see_end(c, false)) return false;
    code = c->code;
    return true;
}

bool child_wait(Child* c, int64_t wait_ms, uint32_t& code) {
    if (wait_ms < 0) {
        see_end(c, true);
        code = c->code;
        return true;
    }
    int64_t deadline = clock_system_ns() + wait_ms * 1000000;
    for (;;) {
        if (see_end(c, false)) {
            code = c->code;
            return true;
        }
        int64_t left = (deadline - clock_system_ns()) / 1000000;
        if (left <= 0) return false;
        sleep_ms(left < 10 ? left : 10);
    }
}

void child_terminate(Child* c, uint32_t code) {
    c->stop_code.store(code);
    c->stopped.store(true);
    kill(-c->pid, SIGKILL);
}

void child_close(Child* c) {
    if (!c) return;
    child_close_output(c);
    // A program that ended by itself may have left something running on
    // purpose; one that still runs, or was stopped, goes with its group.
    if (!see_end(c, false) || c->stopped.load()) kill(-c->pid, SIGKILL);
    int status = 0;
    while (waitpid(c->pid, &status, 0) < 0 && errno == EINTR) {
    }
    delete c;
}

uint64_t child_pid(const Child* c) { return static_cast<uint64_t>(c->pid); }

uint64_t process_own_id() { return static_cast<uint64_t>(getpid()); }

bool process_running(uint64_t pid) {
    if (pid == 0 || pid > static_cast<uint64_t>(INT32_MAX)) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    // A process that has ended but is not yet reaped (its parent died
    // first, and nothing has collected it) still answers kill: its state in
    // /proc says it is a zombie.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%llu/stat", static_cast<unsigned long long>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0) return true;
    buf[n] = '\0';
    const char* end = std::strrchr(buf, ')');   // the name may hold spaces and brackets
    if (!end || end[1] != ' ') return true;
    return end[2] != 'Z' && end[2] != 'X';
}

int child_signal_of(uint32_t code) {
    return code > child_signal_base && code < child_signal_base + 128 ? static_cast<int>(code - child_signal_base) : 0;
}
