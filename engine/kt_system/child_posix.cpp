// Child processes on POSIX systems: posix_spawn into a process group of the
// child's own, one close-on-exec pipe whose write end becomes the child's
// standard output and error, standard input from /dev/null.
//
// The child is tested for its end with WNOWAIT and reaped only by
// child_close, so its process id, and with it the process group id, cannot
// be taken by another process while the record exists: signalling the group
// never reaches a stranger.
#include "engine/kt_system/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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
    return 128u + static_cast<uint32_t>(sig);
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

}  // namespace

Child* child_start(const std::vector<std::string>& args, std::string_view cwd,
                   const std::vector<std::string>* env, std::string* err) {
    if (args.empty()) {
        if (err) *err = "no program given";
        return nullptr;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (err) *err = error_text("pipe", errno);
        return nullptr;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string dir(cwd);
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // dup2 in the child only; the originals are close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

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

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        if (err) *err = error_text(args[0].c_str(), rc);
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
    // Whatever of the group still runs ends with the record.
    kill(-c->pid, SIGKILL);
    int status = 0;
    while (waitpid(c->pid, &status, 0) < 0 && errno == EINTR) {
    }
    delete c;
}

uint64_t child_pid(const Child* c) { return static_cast<uint64_t>(c->pid); }
