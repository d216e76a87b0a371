// A Ctrl-C the command-line mode sees ends it as cancelled, also one that
// comes just as the task ends by itself. (A program of its own: the signal
// is noted for the rest of the process.)
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "launcher/app/cli.h"
#include "launcher/core/task.h"

namespace {

// The task's last act is the Ctrl-C, so the wait may find the task already
// ended, or cancel it, depending on the moment: the same end either way.
void ends_with_ctrl_c(Task&) { std::raise(SIGINT); }

const Cli_Mode modes[] = {
    {.option = "--check", .takes_value = false, .check_first = false, .task_name = "Checking",
     .proc = ends_with_ctrl_c, .wait = Cli_Wait::Plain, .report = nullptr, .prepare = nullptr, .start = nullptr},
};

TEST(Cli_Interrupt, a_ctrl_c_as_the_task_ends_is_a_cancel_not_a_success) {
    Cli_Choice choice = cli_choose({"--check"}, modes);
    ASSERT_NE(choice.mode, nullptr);
    std::string printed;
    int code = cli_run(choice, [&](std::string_view text) { printed += text; });
    EXPECT_EQ(code, 130);
    EXPECT_EQ(printed, "Cancelled.\n");
}

}  // namespace
