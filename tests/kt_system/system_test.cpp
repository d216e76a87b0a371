#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/dynlib.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/file_dialog.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/registry.h"
#include "engine/kt_system/shell.h"
#include "engine/kt_system/thread.h"
#include "tests/support/temp_dir.h"

// The affinity test narrows the mask with the system's own calls.
#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// Waits (at most about ten seconds) until `done` says so.
template <typename F>
bool wait_until(F done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        sleep_ms(10);
    }
    return done();
}

int64_t fixed_clock() { return 42; }

TEST(Clock, HookReplacesTheCounterUntilCleared) {
    clock_set_hook(fixed_clock);
    EXPECT_EQ(clock_ns(), 42);
    EXPECT_NE(clock_system_ns(), 42);
    clock_set_hook(nullptr);
    int64_t a = clock_ns();
    int64_t b = clock_ns();
    EXPECT_NE(a, 42);
    EXPECT_LE(a, b);
}

TEST(Clock, CountersMoveForwardAcrossASleep) {
    int64_t start = clock_ns();
    int64_t wall_start = wall_ns();
    sleep_ms(30);
    // Only a lower bound: a sleep never ends early by more than a clock tick.
    EXPECT_GE(clock_ns() - start, 20'000'000);
    EXPECT_GE(wall_ns() - wall_start, 0);
    EXPECT_GT(wall_start, int64_t{1'577'836'800} * 1'000'000'000);  // after 2020-01-01
    EXPECT_LT(wall_start, int64_t{4'102'444'800} * 1'000'000'000);  // before 2100-01-01
}

TEST(Thread, FailNextRefusesThatManyStarts) {
    std::atomic<int> runs{0};
    thread_fail_next(2);
    Thread a, b;
    EXPECT_FALSE(thread_start(a, [&] { ++runs; }));
    EXPECT_FALSE(a.started());
    EXPECT_FALSE(thread_start_detached([&] { ++runs; }));
    ASSERT_TRUE(thread_start(b, [&] { ++runs; }));
    EXPECT_TRUE(b.started());
    thread_join(b);
    EXPECT_FALSE(b.started());
    thread_join(a);  // never started: nothing happens
    EXPECT_EQ(runs.load(), 1);

    ASSERT_TRUE(thread_start_detached([&] { ++runs; }));
    EXPECT_TRUE(wait_until([&] { return runs.load() == 2; }));
}

// Detached threads started in a burst while earlier ones end, as a page does
// when its worker threads finish at once: each runs its own work exactly
// once (under wine, detached std::threads once started without their work
// and crashed).
TEST(Thread, DetachedBurstRunsEveryWorkOnce) {
    constexpr int count = 400;
    std::vector<std::atomic<int>> runs(count);
    std::atomic<int> done{0};
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(thread_start_detached([&, i] {
            runs[i]++;
            done++;
        }));
    }
    EXPECT_TRUE(wait_until([&] { return done.load() == count; }));
    for (int i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << i;
}

#ifndef _WIN32
// A process that has ended but is not reaped yet (a zombie) has ended: the
// launcher's start may remove what it left.
TEST(Process, AnEndedUnreapedProcessIsNotRunning) {
    EXPECT_TRUE(process_running(process_own_id()));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(0);
    // Polls with a generous guard: the child ends at its own pace.
    bool ended = false;
    for (int i = 0; i < 30000 && !ended; ++i) {
        ended = !process_running(uint64_t(pid));
        if (!ended) sleep_ms(10);
    }
    EXPECT_TRUE(ended);
    int status = 0;
    waitpid(pid, &status, 0);
}
#endif

TEST(Thread, CpuCountIsAtLeastOne) { EXPECT_GE(cpu_count(), 1); }

// A machine's cores are not the process's: with its affinity narrowed to one
// processor, one worker is all it should start.
TEST(Thread, CpuCountFollowsTheAffinityMask) {
#ifdef _WIN32
    HANDLE self = GetCurrentProcess();
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(self, &process, &system));
    DWORD_PTR lowest = process & (~process + 1);
    ASSERT_TRUE(SetProcessAffinityMask(self, lowest));
    int narrowed = cpu_count();
    SetProcessAffinityMask(self, process);
    EXPECT_EQ(narrowed, 1);
#else
    // The mask is the calling thread's: narrow a thread of its own.
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    int first = 0;
    while (!CPU_ISSET(first, &all)) ++first;
    int narrowed = 0;
    std::thread t([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0) narrowed = cpu_count();
    });
    t.join();
    EXPECT_EQ(narrowed, 1);
#endif
}

TEST(Thread, QuotaTextGivesTheProcessorsItAllows) {
    struct Case {
        const char* text;
        int cpus;
    } cases[] = {
        {"150000 100000", 2},      // one and a half rounds up
        {"100000 100000\n", 1},
        {"50000 100000", 1},       // less than one is still one
        {"800000 100000", 8},
        {"max 100000", 0},         // no limit
        {"-1 100000", 0},          // cgroup v1's "no limit"
        {"", 0},
        {"100000", 0},             // no period
        {"100000 0", 0},
        {"100000 100000 5", 0},
        {"99999999999999999999 1", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(cpu_quota_cpus(c.text), c.cpus) << c.text;
}

TEST(DynLib, OpensASystemLibraryAndFindsItsSymbols) {
#ifdef _WIN32
    const char* lib_name = "kernel32.dll";
    const char* symbol = "GetTickCount64";
#else
    const char* lib_name = "libc.so.6";
    const char* symbol = "strlen";
#endif
    Dyn_Lib lib = lib_open(lib_name);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(lib_symbol(lib, symbol), nullptr);
    EXPECT_EQ(lib_symbol(lib, "qm_no_such_symbol"), nullptr);
    lib_close(lib);
    EXPECT_EQ(lib_open("qm-no-such-library-1"), nullptr);
    EXPECT_EQ(lib_symbol(nullptr, symbol), nullptr);
}

#ifdef _WIN32

TEST(Registry, ReadsStringValuesOnly) {
    const char* key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    std::string name = reg_string(Reg_Root::Local_Machine, key, "ProductName");
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, key, "ProductName", (name.size() + 1) * 2), name);
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, key, "ProductName", 4), "");
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, key, "QmNoSuchValue"), "");
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, "Software\\QmNoSuchKey", "ProductName"), "");
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, key, "CurrentMajorVersionNumber"), "");  // a number
}

TEST(Shell, RefusesWhatCannotBeOpened) {
    EXPECT_FALSE(shell_open("C:\\qm-no-such-folder\\no-such-file.qmnone"));
}

#else

struct Saved_Home {
    std::string value = env_get("HOME");
    ~Saved_Home() { env_set("HOME", value); }
};

TEST(Registry, StandInFindsTheStoreClientInHome) {
    Temp_Dir home;
    Saved_Home saved;
    env_set("HOME", home.path);
    const char* key = "Software\\Valve\\Steam";
    std::string dot_steam = path_join({home.path, ".steam", "steam"});
    std::string share_steam = path_join({home.path, ".local", "share", "Steam"});

    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath"), "");

    ASSERT_TRUE(fs_make_dirs(dot_steam));
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath"), dot_steam);
    EXPECT_EQ(reg_string(Reg_Root::Current_User, "software\\valve\\steam", "steampath"), dot_steam);

    ASSERT_TRUE(fs_make_dirs(share_steam));
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath"), share_steam);
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath", (share_steam.size() + 1) * 2), share_steam);
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath", 8), "");

    EXPECT_EQ(reg_string(Reg_Root::Local_Machine, key, "SteamPath"), "");
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "InstallPath"), "");
    EXPECT_EQ(reg_string(Reg_Root::Current_User, "Environment", "Path"), "");
    EXPECT_EQ(reg_string(Reg_Root::Local_Machine,
                         "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "Path"),
              "");

    // A plain file where the folder should be is not the client.
    ASSERT_TRUE(fs_remove_tree(path_join({home.path, ".local"})));
    ASSERT_TRUE(fs_remove_tree(path_join({home.path, ".steam"})));
    ASSERT_TRUE(fs_make_dirs(path_join({home.path, ".steam"})));
    ASSERT_TRUE(fs_write(dot_steam, "not a folder"));
    EXPECT_EQ(reg_string(Reg_Root::Current_User, key, "SteamPath"), "");
}

struct Saved_Path {
    std::string value = env_get("PATH");
    ~Saved_Path() { env_set("PATH", value); }
};

TEST(Shell, HandsTheTargetToTheDesktopOpener) {
    Temp_Dir tmp;
    Saved_Path saved;
    std::string bin = path_join({tmp.path, "bin"});
    std::string seen = path_join({tmp.path, "seen"});
    ASSERT_TRUE(fs_make_dirs(bin));
    // A stand-in opener that records its argument (written whole, then moved into place).
    std::string opener = path_join({bin, "xdg-open"});
    ASSERT_TRUE(fs_write(opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.out\" && mv \"$0.out\" '" + seen + "'\n"));
    ASSERT_EQ(std::system(("chmod +x '" + opener + "'").c_str()), 0);
    env_set("PATH", bin + ":/usr/bin:/bin");

    const std::string target = "https://example.org/a b?c=\xC3\xBC&d='e'";
    ASSERT_TRUE(shell_open(target));
    File_Info info;
    ASSERT_TRUE(wait_until([&] { return fs_stat(seen, info); }));
    std::string got;
    ASSERT_TRUE(fs_read(seen, got));
    EXPECT_EQ(got, target);

    env_set("PATH", path_join({tmp.path, "empty"}));
    EXPECT_FALSE(shell_open(target));
}

#endif

}  // namespace

// The system's file dialog, set up as the pickers use it but never shown:
// the dialog object is made, given its options, title, file types and start
// folder, and released.
TEST(FileDialog, SetsUpEveryKindOfPick) {
    struct Case {
        const char* what;
        File_Dialog_Request rq;
    };
    const Case cases[] = {
        {"folder", {"Choose the EMBERFALL SAGA folder", "", false, "", ""}},
        {"archive", {"Choose a mod's archive", ".", true, "Mod archives (.zip, .rar)", "*.zip;*.rar"}},
        {"program", {"Choose clang.exe", "", true, "", ""}},
        {"missing start folder", {"Ünïcödé title", "Z:/no/such/folder/here", false, "", ""}},
    };
    for (const Case& c : cases) {
        std::string step = file_dialog_prepare_only(c.rq);
        if (file_dialog_available()) {
            EXPECT_EQ(step, "") << c.what;
        } else {
            EXPECT_EQ(step, "not available") << c.what;
            File_Dialog_Result r = file_dialog(nullptr, c.rq);
            EXPECT_FALSE(r.chosen);
            EXPECT_TRUE(r.path.empty());
            EXPECT_EQ(r.error, "not available") << "the caller's own browser takes over";
        }
    }
#ifdef _WIN32
    EXPECT_TRUE(file_dialog_available());
#endif
}
