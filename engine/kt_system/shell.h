// The shell: opening documents, folders and links with the system's handler.
#pragma once
#include <cstdint>
#include <string_view>

// Opens `target` ("open" verb on Windows, xdg-open elsewhere). False when the
// system refused.
bool shell_open(std::string_view target);

// A program started with administrator rights.
struct Elevated_Process;

// Starts `program` with administrator rights through the shell ("runas"
// verb, shown normally, returning once the start is complete) with
// `params` as its command line. nullptr when the shell refused or the player
// declined the permission prompt; always nullptr where there is no such
// elevation (the launcher offers no elevated install there).
Elevated_Process* shell_run_elevated(std::string_view program, std::string_view params);
// Waits up to `wait_ms` (negative: without limit); true with `code` once the
// program has ended.
bool shell_elevated_wait(Elevated_Process* p, int64_t wait_ms, uint32_t& code);
// Stops the program with `code` as its exit code; does not wait.
void shell_elevated_terminate(Elevated_Process* p, uint32_t code);
// Releases the record.
void shell_elevated_close(Elevated_Process* p);

// A program started on its own, independent of this process: it gets no
// arguments, the given working folder, and it outlives the launcher.
struct Started_Program;

// Starts `program` in the folder `cwd`:
//   Windows: ShellExecuteExW with the verb "open" and SEE_MASK_NOCLOSEPROCESS,
//            shown normally;
//   POSIX:   posix_spawn in a session of its own, the working folder set in
//            the child before the program runs.
// nullptr when the system refused (no such file, not a program, access
// denied) or gave no process to wait for.
Started_Program* shell_start_program(std::string_view program, std::string_view cwd);
// Waits without limit until the program ends (its exit code is not looked at).
void shell_program_wait(Started_Program* p);
// Releases the record; the program itself is left running.
void shell_program_close(Started_Program* p);
