// The one background task: a named procedure on a worker thread, reporting
// through the shared Task record (log, step text, progress, failed flag).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_system/thread.h"
#include "launcher/core/format.h"

struct Task;
using Task_Proc = void (*)(Task&);

// A running child process: a `Child*` of engine/kt_system/child.h.
using Child_Handle = void*;
// Called with every output line of a child (see child_run).
using Line_Proc = std::function<void(Task&, std::string_view)>;

enum class Output_Mode : uint64_t { Log = 0, Quiet = 1 };

struct Task {
    std::string name;
    Slim_Lock lock;                    // guards name, log, progress, status, status_time, children
    std::vector<std::string> log;      // at most task_log_limit lines, oldest first
    int64_t log_dropped = 0;           // lines dropped from the front since the task started
    float progress = -1;               // 0..1, -1 = none
    std::string status;
    int64_t status_time = 0;           // clock_ns() when status last changed
    std::atomic<uint8_t> running{0};
    std::atomic<uint8_t> cancel{0};
    std::atomic<uint8_t> failed{0};
    std::vector<Child_Handle> children;
    Thread thread;
    Task_Proc proc = nullptr;
    uint64_t data = 0;
    bool held = false;                 // started held: no thread until task_release (main thread only)
};

inline constexpr size_t task_log_limit = 2000;

// The task of the run.
Task& the_task();

// Starts the task on a worker thread of its own. False, with nothing
// changed, while a task runs. False too when no thread could be made: the
// record then holds the new name, the log line saying so and `failed`.
bool task_start(std::string_view name, Task_Proc proc, uint64_t data);
// Like task_start, but the worker thread is made only by task_release: the
// task runs (and shows as running) from now on, and its work begins once
// the caller lets it go. The window starts its first check this way, so
// that the check's work does not slow the first frame.
bool task_start_held(std::string_view name, Task_Proc proc, uint64_t data);
// Starts the held task's thread: false when no task is held or no thread
// could be made (then as task_start).
bool task_release();
// Appends a line (the oldest is dropped once task_log_limit lines are held),
// or with `replace` overwrites the last line (appends on an empty log).
void log_line(Task& t, std::string_view line, bool replace = false);
// Stores the step text and progress; the step's start time changes only
// when the text does.
void set_status_text(Task& t, float progress, std::string text);
// Only while a task runs: sets `cancel` and stops every registered child
// with everything it started (exit code 1). Does not wait. A held task ends
// here, cancelled, without its thread ever starting.
void task_cancel(Task& t);
// Registers and unregisters a running child (under the lock). A child
// registered after `cancel` was set is stopped at once.
void task_add_child(Task& t, Child_Handle c);
void task_remove_child(Task& t, Child_Handle c);
// What emit keeps for one child between its lines: whether the previous
// line ended with CR, and which log line holds that child's progress line
// (its absolute number: lines dropped from the front + index), -1 for none.
// A progress line replaces only the same child's previous progress line,
// even when other children's lines came in between.
struct Emit_State {
    bool prev_cr = false;
    int64_t progress_line = -1;
};
// Called by the child-process layer for every output line of a child.
// The line goes to `capture` with a "\n", then to `on_line`, then (mode Log)
// to the log: an empty CR-ended line is dropped; a CR-ended line that
// follows the same child's CR-ended line replaces that child's progress
// line while the log still holds it.
void emit(Task& t, std::string_view line, bool cr, Emit_State& state, Output_Mode mode,
          std::string* capture, const Line_Proc& on_line);

template <typename... A>
void logf(Task& t, std::string_view format, const A&... args) { log_line(t, fmt(format, args...), false); }
template <typename... A>
void set_status(Task& t, float progress, std::string_view format, const A&... args) {
    set_status_text(t, progress, fmt(format, args...));
}

// A consistent copy of what the interface and the command line show.
struct Task_View {
    std::string name, status;
    std::vector<std::string> log;
    float progress = -1;
    int64_t status_time = 0;
    bool running = false, failed = false;
};
Task_View task_view(Task& t);
