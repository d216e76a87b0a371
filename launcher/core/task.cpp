// The background task: its worker thread, the activity log and step text.
#include "launcher/core/task.h"

#include <algorithm>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "launcher/core/settings.h"

// Lives for the whole run and is never destroyed: the last worker thread is
// joined only by a next start, so it may still be joinable at exit.
Task& the_task() {
    static Task& task = *new Task;
    return task;
}

namespace {

void task_thread(Task& t) {
    // The window writes settings.txt on a thread of its own: a task that
    // reads the file (Clear Cache tests it) sees the last change.
    save_settings_wait();
    t.proc(t);
    if (t.cancel.load()) {
        log_line(t, "Cancelled.", false);
        t.failed.store(1);
    }
    t.running.exchange(0);
}

// Appends under the lock already held; the result is the line's absolute
// number (lines dropped before it + its index).
int64_t append_locked(Task& t, std::string_view line) {
    if (t.log.size() >= task_log_limit) {
        t.log.erase(t.log.begin());
        t.log_dropped++;
    }
    if (t.log.size() == t.log.capacity()) t.log.reserve(std::max<size_t>(8, t.log.capacity() * 2));
    t.log.emplace_back(line);
    return t.log_dropped + int64_t(t.log.size()) - 1;
}

}  // namespace

namespace {

// The new task's record, running from now on; its thread is not started.
bool task_prepare(Task& t, std::string_view name, Task_Proc proc, uint64_t data) {
    if (t.running.load()) return false;
    thread_join(t.thread);
    t.thread = Thread{};
    {
        Lock_Guard guard(t.lock);
        t.log.clear();
        t.log_dropped = 0;
        t.status.clear();
        t.progress = -1;
        t.name = std::string(name);
        t.cancel.store(0);
        t.failed.store(0);
        t.proc = proc;
        t.data = data;
    }
    t.running.exchange(1);
    return true;
}

bool task_launch(Task& t) {
    if (!thread_start(t.thread, [&t] { task_thread(t); })) {
        t.thread = Thread{};
        std::string name;
        {
            Lock_Guard guard(t.lock);
            name = t.name;
        }
        logf(t, "Could not start a worker thread for %s.", name);
        t.failed.store(1);
        t.running.exchange(0);
        return false;
    }
    return true;
}

}  // namespace

bool task_start(std::string_view name, Task_Proc proc, uint64_t data) {
    Task& t = the_task();
    return task_prepare(t, name, proc, data) && task_launch(t);
}

bool task_start_held(std::string_view name, Task_Proc proc, uint64_t data) {
    Task& t = the_task();
    if (!task_prepare(t, name, proc, data)) return false;
    t.held = true;
    return true;
}

bool task_release() {
    Task& t = the_task();
    if (!t.held) return false;
    t.held = false;
    return task_launch(t);
}

void log_line(Task& t, std::string_view line, bool replace) {
    std::string copy(line);
    Lock_Guard guard(t.lock);
    if (replace && !t.log.empty()) {
        t.log.back() = std::move(copy);
        return;
    }
    append_locked(t, copy);
}

void set_status_text(Task& t, float progress, std::string text) {
    Lock_Guard guard(t.lock);
    if (text != t.status) t.status_time = clock_ns();
    t.status = std::move(text);
    t.progress = progress;
}

void task_cancel(Task& t) {
    if (!t.running.load()) return;
    t.cancel.exchange(1);
    if (t.held) {
        // Never begun: it ends as a task that saw the cancel at once.
        t.held = false;
        log_line(t, "Cancelled.", false);
        t.failed.store(1);
        t.running.exchange(0);
        return;
    }
    Lock_Guard guard(t.lock);
    for (Child_Handle c : t.children) child_terminate(static_cast<Child*>(c), 1);
}

void task_add_child(Task& t, Child_Handle c) {
    Lock_Guard guard(t.lock);
    t.children.push_back(c);
    if (t.cancel.load()) child_terminate(static_cast<Child*>(c), 1);
}

void task_remove_child(Task& t, Child_Handle c) {
    Lock_Guard guard(t.lock);
    for (size_t i = 0; i < t.children.size(); ++i) {
        if (t.children[i] == c) {
            t.children[i] = t.children.back();
            t.children.pop_back();
            return;
        }
    }
}

void emit(Task& t, std::string_view line, bool cr, Emit_State& state, Output_Mode mode,
          std::string* capture, const Line_Proc& on_line) {
    if (capture) {
        capture->append(line);
        capture->push_back('\n');
    }
    if (on_line) on_line(t, line);
    if (mode == Output_Mode::Log && !(cr && line.empty())) {
        Lock_Guard guard(t.lock);
        int64_t at = cr && state.prev_cr ? state.progress_line - t.log_dropped : -1;
        if (at >= 0 && at < int64_t(t.log.size())) {
            t.log[size_t(at)] = std::string(line);
        } else {
            int64_t n = append_locked(t, line);
            state.progress_line = cr ? n : -1;
        }
    }
    state.prev_cr = cr;
}

Task_View task_view(Task& t) {
    Task_View v;
    {
        Lock_Guard guard(t.lock);
        v.name = t.name;
        v.status = t.status;
        v.log = t.log;
        v.progress = t.progress;
        v.status_time = t.status_time;
    }
    v.running = t.running.load() != 0;
    v.failed = t.failed.load() != 0;
    return v;
}
