// Child processes: a console program started with standard input from the
// null device, standard output and error on one pipe that only this process
// reads, and no window. Everything the program starts in turn stays with it,
// so that stopping it stops the whole tree:
//   Windows: the process is created suspended and put into a job object of
//            its own (kill on close) before it runs;
//   POSIX:   the process leads a process group of its own; on Linux it is
//            killed when the thread that started it ends, so a killed
//            launcher leaves none behind.
// Only the handles the child needs are passed to it (an explicit handle list
// on Windows; close-on-exec on every descriptor on POSIX), so children that
// several threads start at the same moment never hold each other's pipes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One started program, owned by whoever started it until child_close.
struct Child;

// Starts args[0] with the arguments that follow. A program given without a
// folder is searched the system's way (Windows: CreateProcess's search, with
// ".exe" added; POSIX: this process's PATH). `cwd` empty = this process's
// current folder. `env` holds every variable of the child as "NAME=value";
// nullptr = this process's own environment. On failure the result is
// nullptr and `err` (when given) says why.
Child* child_start(const std::vector<std::string>& args, std::string_view cwd,
                   const std::vector<std::string>* env, std::string* err = nullptr);

// Waits up to `wait_ms` for the pipe. True when a read should follow: data
// is there, or every writer has closed it, or it broke. False after an idle
// wait. (Windows looks every 20 ms; POSIX polls.)
bool child_look(Child* c, int wait_ms);
// Reads what the pipe holds, up to `size` bytes, waiting when it is empty.
// Result: bytes read, 0 once every writer has closed the pipe, -1 on failure.
int64_t child_read(Child* c, char* buf, size_t size);
// Closes this process's end of the pipe (a later write of the tree fails).
void child_close_output(Child* c);

// Exit codes are the program's 32-bit exit code taken as unsigned: on
// Windows the process exit code as it is (a crash 0xC0000005 reads
// 3221225477); on POSIX the exit status (0..255), and for a program ended by
// a signal child_signal_base + the signal's number (SIGSEGV 267, SIGKILL
// 265), which no exit status can be: a program's own "exit 139" is not a
// crash. After child_terminate, see below.
inline constexpr uint32_t child_signal_base = 256;
// The signal that ended the program with exit code `code` (POSIX), else 0.
int child_signal_of(uint32_t code);

// Whether the program has ended, without waiting; `code` gets its exit code.
bool child_ended(Child* c, uint32_t& code);
// Waits up to `wait_ms` (negative: without limit) for the program to end.
// True with `code` when it ended, false when it still runs.
bool child_wait(Child* c, int64_t wait_ms, uint32_t& code);

// Stops the program and everything it started. The program then reports
// `code` as its exit code on both systems (unless it had already ended on
// its own). Does not wait. Safe from another thread while the owner looks,
// reads or waits, until child_close.
void child_terminate(Child* c, uint32_t code);

// Releases the record and closes the pipe. A program that still runs, or
// was stopped by child_terminate, is ended with everything it started; what
// a program that ended by itself left running is left alone.
void child_close(Child* c);

// Process id (for messages and tests).
uint64_t child_pid(const Child* c);

// This process's id.
uint64_t process_own_id();
// Whether a process with this id runs now (also one of another user).
bool process_running(uint64_t pid);

// The Windows command line for an argument list, quoted so that the C
// runtime's parser gives back exactly these arguments: arguments joined by
// one blank; one that is not empty and holds no blank, TAB or double quote
// is copied as it is; any other is put in double quotes, where a run of n
// backslashes becomes 2n+1 backslashes before a double quote (and the
// quote), 2n at the end, and stays n elsewhere.
std::string child_command_line(const std::vector<std::string>& args);
