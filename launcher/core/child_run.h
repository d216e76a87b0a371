// Running console programs for the background task, and finding programs.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_system/registry.h"
#include "launcher/core/task.h"

// Runs a console program for task `t` and waits for it.
//   args      the program (a path or a bare name), then its arguments; on
//             Windows quoted with win_cmdline.
//   cwd       working folder; empty = the launcher's current folder.
//   mode      Log: output lines also go to the task log; Quiet: only to
//             `capture` and `on_line`, and nothing is logged but the time-out.
//   capture   when given, every output line is appended with a "\n" (a CR
//             LF pair ends one line here, unlike in the log),
//             within child_capture_limit bytes: past it the first and
//             the last half are kept (whole lines), joined by the line
//             "[... N bytes left out ...]".
//   on_line   when given, called with every output line (on this thread).
//   timeout_ns  0 = none; tested only after 200 ms without output.
//   exit_code always written: the program's exit code (unsigned 32-bit, see
//             engine/kt_system/child.h), -1 when it could not start or was
//             stopped by the time-out. May be nullptr.
//   extra_path  folders put in front of the child's PATH after the
//             program's own folder.
// Standard output and error are one pipe, split into lines at CR and LF (a
// line longer than child_line_limit bytes is split there too; a
// CR-ended line is a progress line that replaces the same program's
// previous one, see emit). The program and what it starts are registered
// with the task, so task_cancel stops them (the result is then true with
// exit code 1). Result: true when the program was started.
bool child_run(Task& t, const std::vector<std::string>& args, std::string_view cwd, Output_Mode mode,
               std::string* capture, const Line_Proc& on_line, int64_t timeout_ns, int64_t* exit_code,
               const std::vector<std::string>& extra_path = {});

// The command child_run starts for `args`. Outside Windows, a program whose
// path ends in ".exe" (any case) runs through the program named by the
// environment variable QM_EXE_RUNNER when it is set (e.g. "wine"): the
// runner, then the arguments as they are. Otherwise the arguments as they are.
std::vector<std::string> exe_runner_command(const std::vector<std::string>& args);

inline constexpr size_t child_capture_limit = size_t(4) << 20;
inline constexpr size_t child_line_limit = size_t(64) << 10;

// The Windows command line for the arguments (quoting that the C runtime's
// argument parser undoes exactly).
std::string win_cmdline(const std::vector<std::string>& args);

// The separator of PATH lists: ";" on Windows, ":" elsewhere.
#ifdef _WIN32
inline constexpr char path_list_separator = ';';
#else
inline constexpr char path_list_separator = ':';
#endif

// The folder of a program path: up to its last separator; empty when there
// is none or when it is the first byte.
std::string program_dir(std::string_view program);
// A child's environment: `vars` ("NAME=value", in order) with `lead` (the
// non-empty folders, in order) put in front of PATH. The PATH variable
// (any spelling of the name on Windows) becomes "PATH=" + the folders + the
// old value after a separator, or just the folders when it was empty; when
// there is none, it is added at the end. With no folders nothing changes.
std::vector<std::string> child_env(const std::vector<std::string>& vars, const std::vector<std::string>& lead);
// The program's name in the time-out message: the first argument ending in
// ".exe" (any case), else the first argument, after its last "/" or "\".
std::string timeout_name(const std::vector<std::string>& args);

// The full path of a program, searched the way a shell would and also
// through the user's and the machine's stored "Path" values; empty when not
// found. An absolute path is returned when it names an existing file that
// is not a folder (no search). On Windows ".exe" is added to a name that
// lacks it; elsewhere the name is looked for as it is.
std::string find_program(std::string_view name);
// The "Path" value of a registry key (UTF-8), empty when missing.
std::string reg_path_value(Reg_Root root, std::string_view key);
