// Child processes run for the task, against a small program of our own
// (qm_test_child), and the program lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "tests/support/poll.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;
constexpr int64_t second = 1000000000;

#ifdef _WIN32
constexpr bool windows = true;
#else
constexpr bool windows = false;
#endif

std::string test_child() { return path_join({path_dir(exe_path()), QM_TEST_CHILD}); }

std::vector<std::string> child_args(std::initializer_list<std::string> commands) {
    std::vector<std::string> args{test_child()};
    args.insert(args.end(), commands);
    return args;
}

struct Outcome {
    bool started = false;
    int64_t code = -2;
    Lines log;
    std::string capture;
    double seconds = 0;
};

Outcome run_child(const std::vector<std::string>& args, Output_Mode mode = Output_Mode::Log, int64_t timeout = 0) {
    Task t;
    Outcome r;
    int64_t start = clock_system_ns();
    r.started = child_run(t, args, "", mode, &r.capture, nullptr, timeout, &r.code);
    r.seconds = double(clock_system_ns() - start) / 1e9;
    r.log = t.log;
    EXPECT_TRUE(t.children.empty());
    return r;
}

uint64_t file_size(const std::string& path) {
    File_Info info;
    return fs_stat(path, info) ? info.size : 0;
}

// Waits up to `ms` until the marker file of a grandchild stops growing.
void expect_marker_still_within(const std::string& marker, int64_t ms) {
    uint64_t last = file_size(marker);
    int64_t end = clock_system_ns() + ms * 1000000;
    for (;;) {
        sleep_ms(300);
        uint64_t now = file_size(marker);
        if (now == last) return;
        last = now;
        if (clock_system_ns() > end) break;
    }
    ADD_FAILURE() << "a grandchild still runs";
}

// The marker file of a grandchild no longer grows.
void expect_marker_still(const std::string& marker) {
    sleep_ms(200);
    uint64_t before = file_size(marker);
    sleep_ms(400);
    EXPECT_GT(before, 0u);
    EXPECT_EQ(file_size(marker), before) << "a grandchild still runs";
}

// The name the time-out message gives the test program.
std::string child_name() { return QM_TEST_CHILD; }

// --- Command line and environment -----------------------------------------

TEST(WinCmdline, QuotesWhatTheRuntimeWouldSplit) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"-O2"}, "-O2"},
        {{"a\\b"}, "a\\b"},
        {{""}, "\"\""},
        {{"clang", "", "-c"}, "clang \"\" -c"},
        {{"-DX=\"a b\""}, "\"-DX=\\\"a b\\\"\""},
        {{"C:\\Program Files\\x\\"}, "\"C:\\Program Files\\x\\\\\""},
        {{"a b\\\"c"}, "\"a b\\\\\\\"c\""},
        {{"tab\there"}, "\"tab\there\""},
        {{"a\\\\b c"}, "\"a\\\\b c\""},
    };
    for (const Case& c : cases) EXPECT_EQ(win_cmdline(c.args), c.line) << c.line;
}

TEST(ChildRun, ArgumentsArriveUnchanged) {
    const std::vector<std::string> hard = {
        "plain", "two words", "", "a\\b", "-DX=\"a b\"", "C:\\Program Files\\x\\", "end\\", "q\"uote",
        "\\\\server\\share dir\\", "back\\\\\"slash", "\"", "\t", "x y z",
    };
    std::vector<std::string> args{test_child(), "argv"};
    args.insert(args.end(), hard.begin(), hard.end());
    Outcome r = run_child(args, Output_Mode::Quiet);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.code, 0);
    std::string expected;
    for (const std::string& a : hard) expected += "[" + a + "]\n";
    EXPECT_EQ(r.capture, expected);
}

TEST(ChildEnv, TheProgramsFoldersLeadPath) {
    const std::string s(1, path_list_separator);
    struct Case {
        const char* name;
        Lines vars, lead, out;
    };
    const Case cases[] = {
        {"prepended", {"A=1", "PATH=/usr/bin", "B=2"}, {"/opt/t"}, {"A=1", "PATH=/opt/t" + s + "/usr/bin", "B=2"}},
        {"empty PATH replaced", {"A=1", "PATH=", "B=2"}, {"/opt/t"}, {"A=1", "PATH=/opt/t", "B=2"}},
        {"missing PATH added", {"A=1"}, {"/opt/t"}, {"A=1", "PATH=/opt/t"}},
        {"two folders in order", {"PATH=/bin"}, {"/a", "", "/b"}, {"PATH=/a" + s + "/b" + s + "/bin"}},
        {"no folder, no change", {"A=1", "PATH=/bin"}, {""}, {"A=1", "PATH=/bin"}},
        {"PATHX is another name", {"PATHX=1"}, {"/a"}, {"PATHX=1", "PATH=/a"}},
        windows ? Case{"any spelling on Windows", {"Path=C:\\w"}, {"C:\\t"}, {"PATH=C:\\t;C:\\w"}}
                : Case{"names differ by case elsewhere", {"Path=/w"}, {"/t"}, {"Path=/w", "PATH=/t"}},
    };
    for (const Case& c : cases) EXPECT_EQ(child_env(c.vars, c.lead), c.out) << c.name;
}

TEST(ChildEnv, ProgramDir) {
    EXPECT_EQ(program_dir("clang"), "");
    EXPECT_EQ(program_dir("/clang"), "");
    EXPECT_EQ(program_dir("/opt/llvm/bin/clang"), "/opt/llvm/bin");
    if (windows) {
        EXPECT_EQ(program_dir("C:\\tools\\clang.exe"), "C:\\tools");
    }
}

TEST(ChildRun, TheChildSeesItsFolderFirstOnPath) {
    std::string dir = program_dir(test_child());
    std::string extra = path_join({dir, "extra"});
    Task t;
    std::string capture;
    int64_t code = -2;
    ASSERT_TRUE(child_run(t, child_args({"env", "PATH"}), "", Output_Mode::Quiet, &capture, nullptr, 0, &code, {extra}));
    std::string old = env_get("PATH");
    std::string want = "PATH=" + dir + path_list_separator + extra + (old.empty() ? "" : path_list_separator + old);
    EXPECT_EQ(capture, want + "\n");
}

TEST(ChildRun, TimeoutName) {
    EXPECT_EQ(timeout_name({"C:\\llvm\\bin\\clang.exe", "-c", "x.c"}), "clang.exe");
    EXPECT_EQ(timeout_name({"wine", "Z:/mods/Tool.EXE", "go"}), "Tool.EXE");
    EXPECT_EQ(timeout_name({"/usr/bin/curl", "-L"}), "curl");
    EXPECT_EQ(timeout_name({"winget"}), "winget");
}

// --- Output, exit codes and failures --------------------------------------

TEST(ChildRun, OutputBecomesLogLines) {
    Outcome r = run_child(child_args({"print", "one", "raw", "10%\\r20%\\r30%\\rdone\\n", "raw", "a\\r\\n", "raw", "tail"}));
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.log, (Lines{"one", "30%", "done", "a", "", "tail"}));
    EXPECT_EQ(r.capture, "one\n10%\n20%\n30%\ndone\na\ntail\n");   // CR LF: one line end
}

TEST(ChildRun, ExitCodes) {
    struct Case {
        std::vector<std::string> commands;
        int64_t code;
    };
    std::vector<Case> cases = {{{"exit", "0"}, 0}, {{"exit", "7"}, 7}, {{"exit", "255"}, 255}};
    if (windows) cases.push_back({{"exit", "0xC0000005"}, 3221225477});
    // Ended by a signal: a code no exit status can be, so that a program's
    // own 143 is not taken for SIGTERM.
    else cases.push_back({{"signal"}, child_signal_base + 15});
    cases.push_back({{"exit", "143"}, 143});
    for (const Case& c : cases) {
        std::vector<std::string> args{test_child()};
        args.insert(args.end(), c.commands.begin(), c.commands.end());
        Outcome r = run_child(args);
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.code, c.code) << c.commands[0] << " " << (c.commands.size() > 1 ? c.commands[1] : "");
        bool by_signal = c.commands[0] == "signal";
        EXPECT_EQ(child_signal_of(uint32_t(r.code)), by_signal ? 15 : 0) << c.commands[0];
    }
}

TEST(ChildRun, AProgramThatCannotStart) {
    Temp_Dir tmp;
    std::string missing = path_join({tmp.path, "no-such-folder", "no-such-program"});
    Outcome logged = run_child({missing, "x"});
    EXPECT_FALSE(logged.started);
    EXPECT_EQ(logged.code, -1);
    EXPECT_EQ(logged.log, Lines{"Could not start " + missing});

    Outcome quiet = run_child({missing}, Output_Mode::Quiet);
    EXPECT_FALSE(quiet.started);
    EXPECT_EQ(quiet.code, -1);
    EXPECT_TRUE(quiet.log.empty());

    Outcome bad_dir;
    Task t;
    EXPECT_FALSE(child_run(t, child_args({"print", "x"}), path_join({tmp.path, "gone"}), Output_Mode::Log, nullptr,
                           nullptr, 0, &bad_dir.code));
    EXPECT_EQ(bad_dir.code, -1);
}

// A program that writes far more than anyone reads keeps the capture (and
// so the launcher's memory) within the limit: its first and last lines stay.
TEST(ChildRun, ACaptureKeepsItsHeadAndTailWithinTheLimit) {
    const int mb = 12;
    Outcome r = run_child(child_args({"flood", std::to_string(mb)}), Output_Mode::Quiet);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.code, 0);
    EXPECT_LE(r.capture.size(), child_capture_limit + 100);
    EXPECT_GE(r.capture.size(), child_capture_limit - 2 * child_line_limit);
    EXPECT_EQ(r.capture.rfind("line 0.", 0), 0u);
    size_t marker = r.capture.find("[... ");
    ASSERT_NE(marker, std::string::npos);
    EXPECT_EQ(r.capture[marker - 1], '\n');
    // The unbroken last line arrives in pieces of child_line_limit bytes.
    std::string last = std::string(size_t(mb) * 100000 % child_line_limit, 'y') + "\n";
    ASSERT_GE(r.capture.size(), last.size());
    EXPECT_EQ(r.capture.substr(r.capture.size() - last.size() - 1), "\n" + last);
    std::string piece = "\n" + std::string(child_line_limit, 'y') + "\n";
    EXPECT_NE(r.capture.find(piece, marker), std::string::npos);
    // What is said left out is what is missing.
    size_t written = size_t(mb) * 10000 * 100 + size_t(mb) * 100000 + size_t(mb) * 100000 / child_line_limit + 1;
    size_t marker_end = r.capture.find('\n', marker) + 1;
    uint64_t left_out = std::stoull(r.capture.substr(marker + 5));
    EXPECT_EQ(left_out + r.capture.size() - (marker_end - marker), written);
    // Below the limit nothing is left out.
    Outcome small = run_child(child_args({"flood", "1"}), Output_Mode::Quiet);
    EXPECT_EQ(small.capture.find("[... "), std::string::npos);
    EXPECT_EQ(small.capture.size(), size_t(1) * 10000 * 100 + 100000 + 100000 / child_line_limit + 1);
}

// --- Time-out --------------------------------------------------------------

TEST(ChildRun, ATimeOutStopsASilentProgram) {
    Outcome r = run_child(child_args({"print", "begin", "sleep", "300000"}), Output_Mode::Quiet, 1 * second);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.code, -1);
    // Logged in Quiet mode too; the program's own lines are not.
    EXPECT_EQ(r.log, Lines{child_name() + " did not finish within 1 seconds: stopped."});
    EXPECT_EQ(r.capture, "begin\n");
    EXPECT_LT(r.seconds, 240) << "not stopped: it ended by itself";
}

TEST(ChildRun, TheTimeOutHoldsAfterTheProgramClosedItsOutput) {
    Outcome r = run_child(child_args({"print", "begin", "close", "sleep", "300000"}), Output_Mode::Log, 1 * second);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.log, (Lines{"begin", child_name() + " did not finish within 1 seconds: stopped."}));
    EXPECT_LT(r.seconds, 240) << "not stopped: it ended by itself";
}

// A tool that prints every 0.1 s for a minute never falls quiet: its
// time-out stops it all the same.
TEST(ChildRun, ATimeOutStopsAProgramThatKeepsPrinting) {
    Outcome r = run_child(child_args({"ticks", "600", "100", "print", "end"}), Output_Mode::Quiet, 1 * second);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.log, Lines{child_name() + " did not finish within 1 seconds: stopped."});
    EXPECT_EQ(r.capture.find("end"), std::string::npos);
}

// A program that ends within its time-out keeps its exit code and all of
// its output, however busy it was.
TEST(ChildRun, ABusyProgramThatEndsInTimeIsNotStopped) {
    Outcome r = run_child(child_args({"burst", "300", "print", "end"}), Output_Mode::Quiet, 60 * second);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.log.empty());
    EXPECT_NE(r.capture.find("\nend\n"), std::string::npos);
}

// --- Process trees -----------------------------------------------------------

// A program that ended by itself may leave something running on purpose (a
// server of its own): the run stops reading after the drain, and what was
// left keeps running until it ends by itself.
TEST(ChildRun, AGrandchildHoldingThePipeIsDrainedAndLeftRunning) {
    Temp_Dir tmp;
    std::string marker = path_join({tmp.path, "marker"});
    // The grandchild runs until the test tells it to end (FILE.stop), or
    // for five minutes: the run must not wait for it.
    Outcome r = run_child(child_args({"print", "start", "spawn", marker, "300000", "sleep", "300", "exit", "7"}));
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.code, 7);
    EXPECT_EQ(r.log, Lines{"start"});
    EXPECT_LT(r.seconds, 240);   // not the grandchild's five minutes
    uint64_t after_run = file_size(marker);
    EXPECT_TRUE(poll_until([&] { return file_size(marker) > after_run; })) << "the grandchild was ended";
    // It ends by itself.
    ASSERT_TRUE(fs_write(marker + ".stop", ""));
    expect_marker_still_within(marker, poll_guard_ms);
}

TEST(ChildProcess, TerminateEndsTheWholeTree) {
    Temp_Dir tmp;
    std::string marker = path_join({tmp.path, "marker"});
    std::string err;
    Child* c = child_start(child_args({"spawn", marker, "20000", "print", "go", "sleep", "20000"}), "", nullptr, &err);
    ASSERT_NE(c, nullptr) << err;
    std::string got;
    char buf[256];
    ASSERT_TRUE(poll_until([&] {
        if (child_look(c, 200)) {
            int64_t n = child_read(c, buf, sizeof buf);
            if (n > 0) got.append(buf, size_t(n));
        }
        return got.find("go\n") != std::string::npos && file_size(marker) > 0;
    }));
    uint32_t code = 99;
    EXPECT_FALSE(child_ended(c, code));
    child_terminate(c, 1);
    // The pipe reports its end only once every writer, the grandchild
    // included, is gone.
    bool closed = poll_until([&] { return child_look(c, 200) && child_read(c, buf, sizeof buf) <= 0; });
    EXPECT_TRUE(closed) << "the grandchild outlived the terminate";
    EXPECT_TRUE(child_wait(c, -1, code));
    EXPECT_EQ(code, 1u);
    child_close(c);
    expect_marker_still(marker);
}

#ifndef _WIN32
// A child gets no descriptor of this process but its standard ones, also
// while another child's pipe is open here.
TEST(ChildProcess, ChildrenInheritNoOtherDescriptors) {
    Outcome alone = run_child(child_args({"fds"}), Output_Mode::Quiet);
    Child* other = child_start(child_args({"sleep", "20000"}), "", nullptr);
    ASSERT_NE(other, nullptr);
    Outcome beside = run_child(child_args({"fds"}), Output_Mode::Quiet);
    child_terminate(other, 1);
    uint32_t code = 0;
    child_wait(other, -1, code);
    child_close(other);
    EXPECT_EQ(alone.capture.substr(0, 6), "0\n1\n2\n") << alone.capture;
    EXPECT_EQ(beside.capture, alone.capture);
}
#endif

std::atomic<bool> run_ok{false};
std::atomic<int64_t> run_code{-2};
std::string run_marker;

void tree_proc(Task& t) {
    int64_t code = -2;
    // The grandchild writes to the pipe all the time: it must end with the
    // child for the pipe to close.
    run_ok = child_run(t, child_args({"print", "ready", "spawn-loud", run_marker, "60000", "sleep", "60000"}), "",
                       Output_Mode::Log, nullptr, nullptr, 0, &code);
    run_code = code;
}

void late_proc(Task& t) {
    while (!t.cancel.load()) sleep_ms(2);
    int64_t code = -2;
    run_ok = child_run(t, child_args({"sleep", "20000"}), "", Output_Mode::Quiet, nullptr, nullptr, 0, &code);
    run_code = code;
}

TEST(ChildRun, CancelEndsTheChildAndItsGrandchild) {
    Temp_Dir tmp;
    run_marker = path_join({tmp.path, "marker"});
    run_ok = false;
    run_code = -2;
    ASSERT_TRUE(task_start("Tree", tree_proc, 0));
    ASSERT_TRUE(poll_until([] { return file_size(run_marker) > 0; }));
    task_cancel(the_task());
    ASSERT_TRUE(poll_until([] { return the_task().running.load() == 0; }));
    Task_View v = task_view(the_task());
    EXPECT_TRUE(run_ok);
    EXPECT_EQ(run_code, 1);
    EXPECT_TRUE(v.failed);
    ASSERT_GE(v.log.size(), 2u);
    EXPECT_EQ(v.log.front(), "ready");
    EXPECT_EQ(v.log.back(), "Cancelled.");
    expect_marker_still(run_marker);
}

TEST(ChildRun, AChildStartedAfterCancelIsStoppedAtOnce) {
    run_ok = false;
    run_code = -2;
    ASSERT_TRUE(task_start("Late", late_proc, 0));
    task_cancel(the_task());
    ASSERT_TRUE(poll_until([] { return the_task().running.load() == 0; }));
    EXPECT_TRUE(run_ok);
    EXPECT_EQ(run_code, 1);
    EXPECT_EQ(task_view(the_task()).log, Lines{"Cancelled."});
}

TEST(ChildRun, ParallelChildrenKeepTheirOwnProgressLines) {
    Task t;
    int64_t code_a = -2, code_b = -2;
    std::thread a([&] { child_run(t, child_args({"progress", "A", "40", "10"}), "", Output_Mode::Log, nullptr, nullptr, 0, &code_a); });
    std::thread b([&] { child_run(t, child_args({"progress", "B", "40", "10"}), "", Output_Mode::Log, nullptr, nullptr, 0, &code_b); });
    a.join();
    b.join();
    EXPECT_EQ(code_a, 0);
    EXPECT_EQ(code_b, 0);
    Lines log = t.log;
    auto at = [&](const std::string& s) { return std::find(log.begin(), log.end(), s) - log.begin(); };
    ASSERT_EQ(log.size(), 4u) << ::testing::PrintToString(log);
    EXPECT_LT(at("A 40%"), at("A done"));
    EXPECT_LT(at("B 40%"), at("B done"));
    EXPECT_LT(at("A done"), 4);
    EXPECT_LT(at("B done"), 4);
}

// --- Program lookup ------------------------------------------------------------

struct Path_Guard {
    std::string old = env_get("PATH");
    ~Path_Guard() { env_set("PATH", old); }
};

// A file with execute permission for its owner.
bool runnable_file(const std::string& path) {
    if (!fs_write(path, "x")) return false;
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    return !ec;
}

TEST(FindProgram, SearchesPathInOrder) {
    Temp_Dir tmp;
    Path_Guard guard;
    std::string file = windows ? "qmfakeprog.exe" : "qmfakeprog";
    std::string a = path_join({tmp.path, "a"}), b = path_join({tmp.path, "b"}), c = path_join({tmp.path, "c"});
    std::string plain = path_join({tmp.path, "plain"});
    ASSERT_TRUE(fs_make_dirs(path_join({a, file})));   // a folder of that name does not count
    ASSERT_TRUE(fs_make_dirs(b));
    ASSERT_TRUE(fs_make_dirs(c));
    ASSERT_TRUE(fs_make_dirs(plain));
    // Nor does a file that may not be run (POSIX; on Windows any file runs).
    ASSERT_TRUE(fs_write(path_join({plain, file}), "x"));
    ASSERT_TRUE(runnable_file(path_join({b, file})));
    ASSERT_TRUE(runnable_file(path_join({c, file})));
    const char s = path_list_separator;
    std::string front = windows ? a : a + s + plain;
    env_set("PATH", front + s + s + "\"" + b + "\"" + s + c + s + guard.old);

    EXPECT_EQ(find_program("qmfakeprog"), path_join({b, file}));
    if (windows) {
        EXPECT_EQ(find_program("qmfakeprog.exe"), path_join({b, file}));
    }
    EXPECT_EQ(find_program("qm-no-such-program-anywhere"), "");
    EXPECT_EQ(find_program(""), "");
}

TEST(FindProgram, AnAbsolutePathIsNotSearched) {
    Temp_Dir tmp;
    Path_Guard guard;
    std::string file = path_join({tmp.path, windows ? "tool.exe" : "tool"});
    ASSERT_TRUE(runnable_file(file));
    env_set("PATH", tmp.path);
    EXPECT_EQ(find_program(file), file);
    EXPECT_EQ(find_program(path_join({tmp.path, "sub", windows ? "tool.exe" : "tool"})), "");
    EXPECT_EQ(find_program(tmp.path), "");   // a folder
}

#ifdef _WIN32
TEST(FindProgram, TheMachinesStoredPathIsSearchedToo) {
    Temp_Dir tmp;
    Path_Guard guard;
    std::string stored = reg_path_value(Reg_Root::Local_Machine,
                                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
    ASSERT_FALSE(stored.empty());
    env_set("PATH", tmp.path);
    std::string found = find_program("cmd");
    EXPECT_FALSE(found.empty());
    EXPECT_EQ(path_base(found), "cmd.exe");
}
#endif

}  // namespace
