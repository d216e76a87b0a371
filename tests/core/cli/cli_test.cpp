// Choosing the command-line mode and waiting for its task.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "launcher/app/cli.h"
#include "launcher/core/task.h"
#include "tests/support/poll.h"

namespace {

void no_work(Task&) {}

// A table shaped like the program's, with options that take a value.
const Cli_Mode test_modes[] = {
    {.option = "--check", .takes_value = false, .check_first = false, .task_name = "Checking", .proc = no_work,
     .wait = Cli_Wait::Plain, .report = nullptr, .prepare = nullptr, .start = nullptr},
    {.option = "--hd-import", .takes_value = true, .check_first = true, .task_name = "HD Textures", .proc = no_work,
     .wait = Cli_Wait::Steps, .report = nullptr, .prepare = nullptr, .start = nullptr},
    {.option = "--cross-build", .takes_value = true, .check_first = true, .task_name = "Cross-Compile",
     .proc = no_work, .wait = Cli_Wait::Steps, .report = nullptr, .prepare = nullptr, .start = nullptr},
};

struct Choice_Case {
    const char* name;
    std::vector<std::string> args;
    const char* option;   // nullptr: no mode
    bool has_value;
    const char* value;
};

const Choice_Case choice_cases[] = {
    {"no argument", {}, nullptr, false, ""},
    {"only unknown arguments", {"game", "-v"}, nullptr, false, ""},
    {"options are whole arguments, case and all", {"--Check", "--check=1", "-check", "--checks"}, nullptr, false, ""},
    {"an unknown argument before the option", {"--verbose", "--check"}, "--check", false, ""},
    {"the first known option wins", {"--check", "--cross-build", "linux_arm64"}, "--check", false, ""},
    {"the last value pair wins", {"--cross-build", "android_arm64", "--cross-build", "linux_arm64"}, "--cross-build",
     true, "linux_arm64"},
    {"the option as the last argument has no value", {"--hd-import"}, "--hd-import", false, ""},
    {"a repeated option without a value keeps the earlier pair", {"--cross-build", "android_arm64", "--cross-build"},
     "--cross-build", true, "android_arm64"},
    {"the value is the next argument whatever it is", {"--cross-build", "--check"}, "--cross-build", true, "--check"},
    {"a value with blanks and non-ASCII letters", {"x", "--hd-import", "C:/Mods/Pack Ü.zip", "--check"},
     "--hd-import", true, "C:/Mods/Pack Ü.zip"},
};

TEST(Cli_Choose, picks_the_mode_and_its_value) {
    for (const Choice_Case& c : choice_cases) {
        SCOPED_TRACE(c.name);
        Cli_Choice got = cli_choose(c.args, test_modes);
        if (!c.option) {
            EXPECT_EQ(got.mode, nullptr);
            continue;
        }
        ASSERT_NE(got.mode, nullptr);
        EXPECT_EQ(got.mode->option, c.option);
        EXPECT_EQ(got.has_value, c.has_value);
        EXPECT_EQ(got.value, c.value);
    }
}

void finish(Task& t) {
    cli_wait_plain(t);
    thread_join(t.thread);
}

// Waits (with a generous bound) until `flag` is set; whether it was.
bool await(const std::atomic<bool>& flag) {
    return poll_until([&] { return flag.load(); });
}

std::atomic<bool> reader_blocked{false};
std::atomic<bool> task_logged{false};

void logs_while_the_reader_is_blocked(Task& t) {
    set_status(t, 0.5f, "Unpacking %d files", 3);
    await(reader_blocked);
    log_line(t, "Unpacked 3 files.");   // takes the task lock
    task_logged.store(true);
}

TEST(Cli_Wait, a_blocked_output_does_not_hold_up_the_task) {
    reader_blocked = false;
    task_logged = false;
    std::vector<std::string> printed;
    bool task_went_on = false;
    Cli_Out out = [&](std::string_view text) {
        printed.emplace_back(text);
        if (!reader_blocked.load()) {
            // The reader of standard output stalls until the task has logged.
            reader_blocked.store(true);
            task_went_on = await(task_logged);
        }
    };
    Task& t = the_task();
    ASSERT_TRUE(task_start("Build", logs_while_the_reader_is_blocked, 0));
    cli_wait_steps(t, out, 20);
    cli_print_log(t, out);
    finish(t);

    EXPECT_TRUE(task_went_on);
    EXPECT_EQ(printed, (std::vector<std::string>{"Unpacking 3 files\n", "Unpacked 3 files.\n"}));
}

std::atomic<int> printed_count{0};

void steps_with_a_repeat(Task& t) {
    set_status(t, 0.1f, "Compiling");
    poll_until([] { return printed_count.load() >= 1; });
    set_status(t, 0.2f, "Compiling");   // the same text again: not printed again
    sleep_ms(100);
    set_status(t, 0.9f, "Linking");
    poll_until([] { return printed_count.load() >= 2; });
    logf(t, "Built.");
}

TEST(Cli_Wait, prints_each_step_text_once_when_it_changes) {
    printed_count = 0;
    std::vector<std::string> printed;
    Cli_Out out = [&](std::string_view text) {
        printed.emplace_back(text);
        printed_count.fetch_add(1);
    };
    Task& t = the_task();
    ASSERT_TRUE(task_start("Build", steps_with_a_repeat, 0));
    cli_wait_steps(t, out, 20);
    cli_print_log(t, out);
    finish(t);

    EXPECT_EQ(printed, (std::vector<std::string>{"Compiling\n", "Linking\n", "Built.\n"}));
}

}  // namespace
