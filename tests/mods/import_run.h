// Runs the task "HD Textures" on an archive and waits for its end.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "engine/kt_system/clock.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"
#include "launcher/mod_tasks/mod_import.h"

inline Task_View import_archive(const std::string& path) {
    Task& t = the_task();
    EXPECT_TRUE(hd_import_start(path));
    while (t.running.load()) sleep_ms(2);
    thread_join(t.thread);
    return task_view(t);
}

// Starts the import, cancels it once the file `cancel_at` exists (a member
// is being written) and waits for the end; false when it did not end
// within the hang guard.
inline bool import_cancelled_at(const std::string& path, const std::string& cancel_at, Task_View& view) {
    Task& t = the_task();
    EXPECT_TRUE(hd_import_start(path));
    const int64_t guard = clock_ns() + 120'000'000'000;
    while (t.running.load() && !file_exists(cancel_at) && clock_ns() < guard) sleep_ms(1);
    task_cancel(t);
    while (t.running.load() && clock_ns() < guard) sleep_ms(5);
    if (t.running.load()) return false;
    thread_join(t.thread);
    view = task_view(t);
    return true;
}
