// Child processes on POSIX systems: fork and exec into a process group of
// the child's own, one close-on-exec pipe whose write end becomes the
// child's standard output and error, standard input from /dev/null. On
// Linux the child is killed when the thread that started it ends (so also
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
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cerrno>
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
#ifdef __linux__
        // Ended with this process: a killed launcher leaves no compiler behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
#endif
        struct sigaction plain;
        std::memset(&plain, 0, sizeof plain);
        plain.sa_handler = SIG_DFL;
        for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) sigaction(sig, &plain, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int failure = 0;
        if (!dir.empty() && chdir(dir.c_str()) != 0) failure = errno;
        int null = failure ? -1 : open("/dev/null", O_RDONLY);
        if (!failure && null < 0) failure = errno;
        if (!failure && (dup2(null, 0) < 0 || dup2(fds[1], 1) < 0 || dup2(fds[1], 2) < 0)) failure = errno;
        if (!failure) {
            if (null > 2) close(null);
            execve(program.c_str(), argv.data(), envp.data());
            failure = errno;
        }
        while (write(report[1], &failure, sizeof failure) < 0 && errno == EINTR) {
        }
        _exit(127);
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

int child_signal_of(uint32_t code) {
    return code > child_signal_base && code < child_signal_base + 128 ? static_cast<int>(code - child_signal_base) : 0;
}
