// Command-line modes: a known option runs its work as background tasks
// without a window, prints to standard output and gives the exit code.
#pragma once
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/task.h"

// Where a mode's text goes (standard output, or a test's collector).
using Cli_Out = std::function<void(std::string_view text)>;

enum class Cli_Wait {
    Plain,   // look at the running flag every 10 ms
    Steps,   // also print the step text when it changed, every 2 s
};

// One command-line mode. Adding a mode is adding one row to the table.
struct Cli_Mode {
    std::string_view option;          // compared as a whole argument
    bool takes_value;                 // the next argument is its value (the last pair wins)
    bool check_first;                 // the task "Checking" runs (and is waited for) first
    std::string_view task_name;
    Task_Proc proc;                   // receives the address of the chosen value in `data`
    Cli_Wait wait;
    void (*report)(const Cli_Out& out);   // printed after the log; the exit code is then 0
    // Optional: called with the value (nullptr for none) before any task starts.
    void (*prepare)(const std::string* value);
    // Optional: starts the work itself in place of task_start(task_name, proc).
    void (*start)(const std::string* value);
};

// The known modes.
std::span<const Cli_Mode> cli_modes();

struct Cli_Choice {
    const Cli_Mode* mode = nullptr;   // none: no known option
    bool has_value = false;
    std::string value;
};

// Picks the mode from the arguments after the program name: the first
// argument equal to a known option wins; for an option with a value, every
// occurrence followed by another argument gives that argument, the last one
// counting.
Cli_Choice cli_choose(const std::vector<std::string>& args, std::span<const Cli_Mode> modes);
Cli_Choice cli_choose(const std::vector<std::string>& args);

// Runs the chosen mode to its end and returns the process's exit code.
// Ctrl-C (SIGINT, SIGTERM; Ctrl+Break and closing the console on Windows)
// cancels the running task as the window's Cancel does, starts no further
// task, prints the log (ending with "Cancelled.") and gives 130.
int cli_run(const Cli_Choice& choice, const Cli_Out& out);

// Standard output, flushed after every piece.
void cli_stdout(std::string_view text);

// The two ways of waiting for the task after task_start. The step text is
// copied under the task lock and printed after it is released, so a slow
// reader of the output never holds up the task.
void cli_wait_plain(Task& t);
void cli_wait_steps(Task& t, const Cli_Out& out, int64_t interval_ms = 2000);
// Prints every line of the task's log, each with a line break.
void cli_print_log(Task& t, const Cli_Out& out);

// The task procedure of "Cross-Compile": the cross build of the target and
// CPU the settings name.
void cli_task_cross_build(Task& t);

// The report of "--check": prints check_report_text to `out`.
void cli_check_report(const Cli_Out& out);
