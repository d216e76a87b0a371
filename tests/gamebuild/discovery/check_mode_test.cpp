// "--check" end to end: the built launcher, a fixture install found through
// a stand-in ProgramFiles, and the data folder in a temporary folder.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif
#include <cstdio>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/settings.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/support/poll.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // Empty lines are left out: a CR LF ends a line and an empty one.
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

TEST(Check_Mode, ReportsTheFixtureInstallAndTheCompilers) {
    Temp_Dir tmp;
    std::string app = path_join({tmp.path, "app"});
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, app, path_base(QM_LAUNCHER_EXE));
    ASSERT_FALSE(exe.empty());
    Fixture_Options o;
    o.store_root = path_join({tmp.path, "pf", "Steam"});
    o.movies = true;
    o.bink = true;
    std::string err;
    ASSERT_TRUE(fixture_write_install(o, &err)) << err;
    std::string game = fixture_game_dir(o);
    std::string local = path_join({tmp.path, "local"});
    std::string home = path_join({tmp.path, "home"});
    ASSERT_TRUE(fs_make_dirs(home));

#ifdef _WIN32
    // Wine sets ProgramFiles afresh for every process it starts, so the
    // launcher is told the folder through its settings there; the search
    // through ProgramFiles is covered in process by the search tests.
    Settings known;
    known.game_dir = game;
    ASSERT_TRUE(fs_make_dirs(path_join({local, "efsg-launcher"})));
    ASSERT_TRUE(fs_write(path_join({local, "efsg-launcher", "settings.txt"}), settings_text(known)));
#endif
    // The variables are set in this process and inherited by the launcher
    // (no shell in between, so the same on both systems).
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"LOCALAPPDATA", "HOME", "ProgramFiles"}) saved.push_back({name, env_is_set(name), env_get(name)});
    env_set("LOCALAPPDATA", local);
    env_set("HOME", home);
    env_set("ProgramFiles", path_join({tmp.path, "pf"}));
    Task t;
    Run_Result r;
    int64_t code = -1;
    bool started = child_run(t, {exe, "--check"}, tmp.path, Output_Mode::Quiet, &r.out, nullptr, 0, &code);
    r.code = static_cast<int>(code);
    for (const Saved& v : saved) env_set(v.name, v.value, !v.set);
    ASSERT_TRUE(started);
    EXPECT_EQ(r.code, 0) << r.out;
    std::vector<std::string> lines = lines_of(r.out);
    EXPECT_TRUE(has_line(lines, "Game: " + game + " (ready)")) << r.out;
    EXPECT_TRUE(has_line(lines, "game ok true, 2 cutscenes to convert, 1 discardable (0.0 GB), 1 kept")) << r.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("options: [-O1, -w, -march=native, ", 0), 0u) << r.out;

    std::string settings;
    ASSERT_TRUE(fs_read(path_join({local, "efsg-launcher", "settings.txt"}), settings));
    EXPECT_NE(settings.find("game_dir " + game + "\n"), std::string::npos) << settings;

    // This machine's Clang, when it has one, is listed and chosen.
    std::string clang = find_program("clang");
    if (!clang.empty()) {
        EXPECT_TRUE(has_line(lines, "C compiler: " + clang)) << r.out;
        EXPECT_TRUE(has_line(lines, "compiler: Clang (" + clang + ") -- chosen")) << r.out;
        EXPECT_NE(settings.find("compiler " + clang + "\n"), std::string::npos) << settings;
    } else {
        for (const std::string& l : lines) EXPECT_NE(l.rfind("compiler: ", 0), 0u) << r.out;
    }
}

#ifndef _WIN32
// Whether a process is gone (a zombie waiting for its parent counts as gone).
bool process_gone(int64_t pid) {
    std::string stat;
    if (!fs_read("/proc/" + std::to_string(pid) + "/stat", stat)) return true;
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

bool all_gone(const std::vector<int64_t>& pids) {
    return poll_until([&] {
        bool gone = true;
        for (int64_t pid : pids) gone = gone && process_gone(pid);
        return gone;
    });
}

// A compiler that never answers, and a process of its own: the script
// writes "SHELL_PID SLEEP_PID" into the file named by QM_TREE_PIDS.
const char hanging_clang[] =
    "#!/bin/sh\n"
    "sleep 300 &\n"
    "echo \"$$ $!\" > \"$QM_TREE_PIDS.part\"\n"
    "mv \"$QM_TREE_PIDS.part\" \"$QM_TREE_PIDS\"\n"
    "wait\n";

// Ctrl-C (or SIGTERM) while "--check" waits on a compiler that never
// answers cancels the check: the log ends with "Cancelled.", the launcher
// ends with 130 and no process of the compiler's tree is left. A launcher
// killed outright takes the compiler it started with it.
TEST(Check_Mode, AnInterruptCancelsTheCheckAndEndsTheCompilersTree) {
    struct Case {
        int sig;
        const char* name;
    } cases[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGKILL, "SIGKILL"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir tmp;
        std::string bin = path_join({tmp.path, "bin"});
        std::string clang = path_join({bin, "clang"});
        ASSERT_TRUE(fs_make_dirs(bin));
        ASSERT_TRUE(fs_write(clang, hanging_clang));
        ASSERT_EQ(chmod(clang.c_str(), 0755), 0);
        std::string pids_file = path_join({tmp.path, "pids"});
        std::vector<std::string> env;
        for (const std::string& v : env_all()) {
            if (v.rfind("PATH=", 0) == 0) env.push_back("PATH=" + bin + ":" + v.substr(5));
            else if (v.rfind("LOCALAPPDATA=", 0) != 0 && v.rfind("HOME=", 0) != 0) env.push_back(v);
        }
        env.push_back("LOCALAPPDATA=" + path_join({tmp.path, "local"}));
        env.push_back("HOME=" + path_join({tmp.path, "home"}));
        env.push_back("QM_TREE_PIDS=" + pids_file);
        std::string err;
        Child* launcher = child_start({QM_LAUNCHER_EXE, "--check"}, tmp.path, &env, &err);
        ASSERT_NE(launcher, nullptr) << err;

        std::string out;
        char buf[4096];
        auto read_some = [&] {
            if (!child_look(launcher, 10)) return true;
            int64_t n = child_read(launcher, buf, sizeof buf);
            if (n > 0) out.append(buf, size_t(n));
            return n > 0;
        };
        std::string pids;
        poll_until(
            [&] {
                if (fs_read(pids_file, pids)) return true;
                read_some();
                return false;
            },
            poll_guard_ms, 0);
        ASSERT_FALSE(pids.empty()) << "the compiler never started:\n" << out;
        long long shell = 0, sleeper = 0;
        ASSERT_EQ(std::sscanf(pids.c_str(), "%lld %lld", &shell, &sleeper), 2) << pids;

        kill(pid_t(child_pid(launcher)), c.sig);
        while (read_some()) {
        }
        uint32_t code = 0;
        EXPECT_TRUE(child_wait(launcher, poll_guard_ms, code)) << "the launcher did not end";
        child_close(launcher);
        if (c.sig == SIGKILL) {
            EXPECT_EQ(child_signal_of(code), SIGKILL);
            EXPECT_TRUE(all_gone({shell})) << "the compiler outlived the killed launcher";
            kill(pid_t(sleeper), SIGKILL);   // what the compiler started is its own to end
        } else {
            EXPECT_EQ(code, 130u) << out;
            std::vector<std::string> lines = lines_of(out);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), "Cancelled.") << out;
            EXPECT_TRUE(all_gone({shell, sleeper})) << "a process of the compiler's tree survived";
        }
    }
}
#endif

}  // namespace
