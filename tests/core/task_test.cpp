// The task record: log limit, progress lines, step text, and the worker's
// start (held or not), refusal, cancellation and failed start.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/task.h"

namespace {

using Lines = std::vector<std::string>;

bool wait_until(const std::function<bool()>& done, int64_t ms = 10000) {
    int64_t end = clock_system_ns() + ms * 1000000;
    while (!done()) {
        if (clock_system_ns() > end) return false;
        sleep_ms(5);
    }
    return true;
}

void wait_idle() { ASSERT_TRUE(wait_until([] { return the_task().running.load() == 0; })); }

TEST(TaskLog, TheOldestLineIsDroppedPastTheLimit) {
    Task t;
    for (int i = 0; i <= 2000; ++i) log_line(t, "line " + std::to_string(i));
    ASSERT_EQ(t.log.size(), 2000u);
    EXPECT_EQ(t.log.front(), "line 1");
    EXPECT_EQ(t.log[1], "line 2");
    EXPECT_EQ(t.log.back(), "line 2000");
    EXPECT_EQ(t.log_dropped, 1);
}

TEST(TaskLog, ReplaceOverwritesTheLastLineAndAppendsToAnEmptyLog) {
    Task t;
    log_line(t, "first", true);
    EXPECT_EQ(t.log, Lines{"first"});
    log_line(t, "second");
    log_line(t, "third", true);
    EXPECT_EQ(t.log, (Lines{"first", "third"}));
}

struct Out_Line {
    const char* text;
    bool cr;
};

TEST(TaskEmit, OutputLinesReachTheLogAndTheCapture) {
    struct Case {
        const char* name;
        Output_Mode mode;
        std::vector<Out_Line> lines;
        Lines log;
        const char* capture;
    };
    const Case cases[] = {
        {"progress then done", Output_Mode::Log,
         {{"10%", true}, {"20%", true}, {"30%", true}, {"done", false}}, {"30%", "done"}, "10%\n20%\n30%\ndone\n"},
        {"CR LF ends an empty line", Output_Mode::Log, {{"a", true}, {"", false}}, {"a", ""}, "a\n\n"},
        {"empty CR line dropped", Output_Mode::Log, {{"", true}, {"x", true}, {"", true}, {"y", true}}, {"y"},
         "\nx\n\ny\n"},
        {"CR line after an LF line appends", Output_Mode::Log, {{"1%", true}, {"text", false}, {"2%", true}},
         {"1%", "text", "2%"}, "1%\ntext\n2%\n"},
        {"quiet logs nothing", Output_Mode::Quiet, {{"10%", true}, {"done", false}}, {}, "10%\ndone\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Task t;
        Emit_State state;
        std::string capture;
        Lines handed;
        Line_Proc on_line = [&](Task& task, std::string_view line) {
            EXPECT_EQ(&task, &t);
            handed.emplace_back(line);
        };
        for (const Out_Line& l : c.lines) emit(t, l.text, l.cr, state, c.mode, &capture, on_line);
        EXPECT_EQ(t.log, c.log);
        EXPECT_EQ(capture, c.capture);
        EXPECT_EQ(handed.size(), c.lines.size());
    }
}

TEST(TaskEmit, EachChildReplacesOnlyItsOwnProgressLine) {
    Task t;
    Emit_State a, b;
    auto put = [&](Emit_State& s, const char* line, bool cr) { emit(t, line, cr, s, Output_Mode::Log, nullptr, nullptr); };
    put(a, "A 1%", true);
    put(b, "B 1%", true);
    put(a, "A 2%", true);
    log_line(t, "a task line");
    put(b, "B 2%", true);
    put(a, "A done", false);
    put(b, "B 3%", true);
    EXPECT_EQ(t.log, (Lines{"A 2%", "B 3%", "a task line", "A done"}));
}

TEST(TaskEmit, AProgressLineDroppedByTheLimitIsAppendedAgain) {
    Task t;
    Emit_State s;
    emit(t, "p 1%", true, s, Output_Mode::Log, nullptr, nullptr);
    for (int i = 0; i < 2000; ++i) log_line(t, "filler");
    ASSERT_EQ(t.log.front(), "filler");
    emit(t, "p 2%", true, s, Output_Mode::Log, nullptr, nullptr);
    EXPECT_EQ(t.log.size(), 2000u);
    EXPECT_EQ(t.log.back(), "p 2%");
    emit(t, "p 3%", true, s, Output_Mode::Log, nullptr, nullptr);
    EXPECT_EQ(t.log.back(), "p 3%");
    EXPECT_EQ(t.log[t.log.size() - 2], "filler");
}

std::atomic<int64_t> fake_now{0};
int64_t fake_clock() { return fake_now.load(); }

TEST(TaskStatus, TheStepTimeChangesOnlyWithTheText) {
    Task t;
    clock_set_hook(fake_clock);
    fake_now = 100;
    set_status(t, 0.25f, "Compiling: %d of %d (%s)", 1, 4, "a.c");
    fake_now = 200;
    set_status(t, 0.5f, "Compiling: %d of %d (%s)", 1, 4, "a.c");
    EXPECT_EQ(t.status_time, 100);
    EXPECT_EQ(t.progress, 0.5f);
    fake_now = 300;
    set_status(t, 0.75f, "Linking");
    clock_set_hook(nullptr);
    EXPECT_EQ(t.status, "Linking");
    EXPECT_EQ(t.status_time, 300);
}

std::atomic<bool> release{false};

void blocked_proc(Task& t) {
    logf(t, "working on %d", int(t.data));
    set_status(t, -1, "Waiting");
    while (!release.load()) sleep_ms(2);   // never looks at cancel
}

void quick_proc(Task& t) { logf(t, "quick"); }

TEST(TaskRunner, AStartWhileRunningIsRefusedAndChangesNothing) {
    release = false;
    ASSERT_TRUE(task_start("First", blocked_proc, 7));
    ASSERT_TRUE(wait_until([] { return task_view(the_task()).status == "Waiting"; }));
    EXPECT_FALSE(task_start("Second", quick_proc, 0));
    Task_View v = task_view(the_task());
    EXPECT_EQ(v.name, "First");
    EXPECT_EQ(v.log, Lines{"working on 7"});
    EXPECT_EQ(v.status, "Waiting");
    EXPECT_TRUE(v.running);
    release = true;
    wait_idle();
    EXPECT_FALSE(the_task().failed.load());

    // The next start resets the record.
    ASSERT_TRUE(task_start("Second", quick_proc, 0));
    wait_idle();
    v = task_view(the_task());
    EXPECT_EQ(v.name, "Second");
    EXPECT_EQ(v.log, Lines{"quick"});
    EXPECT_EQ(v.status, "");
    EXPECT_EQ(v.progress, -1);
}

TEST(TaskRunner, ACancelledTaskEndsFailedWithCancelled) {
    release = false;
    ASSERT_TRUE(task_start("Ignores cancel", blocked_proc, 1));
    task_cancel(the_task());
    EXPECT_TRUE(the_task().running.load());   // cancel does not wait
    release = true;
    wait_idle();
    Task_View v = task_view(the_task());
    ASSERT_FALSE(v.log.empty());
    EXPECT_EQ(v.log.back(), "Cancelled.");
    EXPECT_TRUE(v.failed);
}

TEST(TaskRunner, AHeldTaskShowsAsRunningAndWorksOnlyOnceReleased) {
    wait_idle();
    ASSERT_TRUE(task_start_held("Held", quick_proc, 0));
    Task& t = the_task();
    EXPECT_FALSE(t.thread.started());
    Task_View v = task_view(t);
    EXPECT_EQ(v.name, "Held");
    EXPECT_TRUE(v.running);
    EXPECT_TRUE(v.log.empty());
    EXPECT_FALSE(task_start("Second", quick_proc, 0));

    ASSERT_TRUE(task_release());
    wait_idle();
    EXPECT_EQ(task_view(t).log, Lines{"quick"});
    EXPECT_FALSE(t.failed.load());
    EXPECT_FALSE(task_release());   // nothing held any more
}

TEST(TaskRunner, AHeldTaskCancelledEndsAtOnceWithoutItsWork) {
    wait_idle();
    ASSERT_TRUE(task_start_held("Held", quick_proc, 0));
    Task& t = the_task();
    task_cancel(t);
    EXPECT_EQ(t.running.load(), 0);
    EXPECT_TRUE(t.failed.load());
    EXPECT_FALSE(t.thread.started());
    EXPECT_EQ(task_view(t).log, Lines{"Cancelled."});
    EXPECT_FALSE(task_release());
    EXPECT_EQ(task_view(t).log, Lines{"Cancelled."});
}

TEST(TaskRunner, AFailedThreadStartIsRolledBack) {
    wait_idle();
    thread_fail_next(1);
    EXPECT_FALSE(task_start("No thread", quick_proc, 0));
    Task& t = the_task();
    EXPECT_EQ(t.running.load(), 0);
    EXPECT_FALSE(t.thread.started());
    EXPECT_TRUE(t.failed.load());
    Task_View v = task_view(t);
    EXPECT_EQ(v.name, "No thread");
    ASSERT_EQ(v.log.size(), 1u);
    EXPECT_NE(v.log[0].find("No thread"), std::string::npos);

    ASSERT_TRUE(task_start("After", quick_proc, 0));
    wait_idle();
    EXPECT_EQ(task_view(t).log, Lines{"quick"});
    EXPECT_FALSE(t.failed.load());
}

}  // namespace
