// Runs the task "HD Textures" on an archive and waits for its end.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "engine/kt_system/clock.h"
#include "launcher/core/task.h"
#include "launcher/mods/mod_import.h"

inline Task_View import_archive(const std::string& path) {
    Task& t = the_task();
    EXPECT_TRUE(hd_import_start(path));
    while (t.running.load()) sleep_ms(2);
    thread_join(t.thread);
    return task_view(t);
}
