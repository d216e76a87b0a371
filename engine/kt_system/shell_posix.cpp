// Opening documents, folders and links with the desktop's handler.
#include "engine/kt_system/shell.h"

#include "engine/kt_system/thread.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

extern char** environ;

bool shell_open(std::string_view target) {
    std::string program = "xdg-open";
    std::string arg(target);
    char* argv[] = {program.data(), arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
    // Nobody waits for the handler; a detached thread reaps it when it ends.
    bool reaped = thread_start_detached([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    });
    (void)reaped;
    return true;
}

// No elevation is offered here: installs are the system's package manager's.
struct Elevated_Process {};

Elevated_Process* shell_run_elevated(std::string_view, std::string_view) { return nullptr; }
bool shell_elevated_wait(Elevated_Process*, int64_t, uint32_t& code) {
    code = 0;
    return true;
}
void shell_elevated_terminate(Elevated_Process*, uint32_t) {}
void shell_elevated_close(Elevated_Process* p) { delete p; }

struct Started_Program {
    pid_t pid = 0;
};

Started_Program* shell_start_program(std::string_view program, std::string_view cwd) {
    std::string path(program);
    std::string folder(cwd);
    char* argv[] = {path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return nullptr;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return nullptr;
    }
    bool ok = true;
    if (!folder.empty()) ok = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0;
    // A session of its own: the terminal's signals to the launcher's group
    // (Ctrl+C, a closed console) do not reach the game.
    if (ok) ok = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID) == 0;
    pid_t pid = 0;
    // glibc's posix_spawn reports a failed exec (and a failed chdir) as its result.
    if (ok) ok = posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ) == 0;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (!ok) return nullptr;
    auto* p = new Started_Program;
    p->pid = pid;
    return p;
}

void shell_program_wait(Started_Program* p) {
    if (!p || p->pid <= 0) return;
    int status = 0;
    while (waitpid(p->pid, &status, 0) < 0 && errno == EINTR) {
    }
    p->pid = 0;
}

void shell_program_close(Started_Program* p) { delete p; }
