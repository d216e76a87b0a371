// Toolchain and FFmpeg discovery: the machine's own Clang and GCC, stand-in
// compilers that fail in each way the probe tells apart, FFmpeg builds with
// and without the encoders, and the install task.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kt_system/clock.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/core/child_run.h"
#include "launcher/core/task.h"
#include "tests/gamebuild/discovery/discovery_fixture.h"
#include "tests/support/poll.h"

namespace {

#ifdef _WIN32
const char* const exe_suffix = ".exe";
constexpr bool windows = true;
#else
const char* const exe_suffix = "";
constexpr bool windows = false;
#endif

// A path the build system wrote, as this program sees it (under wine the
// host's "/" is the drive Z:).
std::string host_path(std::string p) {
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') {
        for (char& c : p) {
            if (c == '/') c = '\\';
        }
        p = "Z:" + p;
    }
#endif
    return p;
}

struct Deps_Test : Discovery_Test {
    std::string bin, empty;

    void SetUp() override {
        Discovery_Test::SetUp();
        bin = path_join({tmp.path, "bin"});
        empty = path_join({tmp.path, "empty-path"});
        fs_make_dirs(bin);
        fs_make_dirs(empty);
    }
    // The stand-in tool copied as `name` into `dir` (default: bin).
    std::string tool(const std::string& name, std::string dir = "") {
        if (dir.empty()) dir = bin;
        fs_make_dirs(dir);
        std::string to = path_join({dir, name + exe_suffix});
        std::error_code ec;
        std::filesystem::copy_file(host_path(QM_FAKE_TOOL), to, std::filesystem::copy_options::overwrite_existing, ec);
        EXPECT_FALSE(ec) << ec.message();
        std::filesystem::permissions(to, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        return to;
    }
    void only_path(const std::string& dir) { env.set("PATH", dir); }
    void save_compiler(const std::string& path) { settings_edit([&](Settings& s) { s.compiler = path; }); }
};

TEST_F(Deps_Test, StandInCompilersFailForTheirOwnReasons) {
    struct Case {
        const char* name;
        bool ok;
        std::string reason;
    };
    // A crash is an access violation on Windows, SIGSEGV elsewhere; an
    // ordinary exit code of 139 is no crash on either.
    const std::string crashed = windows ? "it crashed" : "it crashed with signal 11";
    const Case cases[] = {
        {"fake-clang", true, ""},
        {"fail-cc", false, "it cannot build the game (fail-cc: error: cannot find the thread library)"},
        {"crash-cc", false, crashed},
        {"exit139-cc", false, "it cannot build the game (exit139-cc: error: gave up)"},
        {"ok5-cc", false, "the programs it makes do not run here"},
        {"crashprog-cc", false, "the programs it makes do not run here (" + crashed + ")"},
    };
    for (const Case& c : cases) {
        Task t;
        std::string reason;
        EXPECT_EQ(probe_compiler(t, tool(c.name), reason), c.ok) << c.name;
        EXPECT_EQ(reason, c.reason) << c.name;
    }
    Task t;
    std::string reason;
    EXPECT_FALSE(probe_compiler(t, path_join({bin, "missing-cc"}), reason));
    EXPECT_EQ(reason, "it does not start");
}

TEST_F(Deps_Test, ACompilerThatNeverAnswersIsStoppedAtTheTimeLimit) {
    probe_set_time_limit_ms(1000);
    Task t;
    std::string reason, hang = tool("hang-cc");
    bool ok = probe_compiler(t, hang, reason);
    probe_set_time_limit_ms(0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reason, "it did not answer within 1000 ms");
    EXPECT_NE(log_text(t).find(path_base(hang) + " did not finish within 1 seconds: stopped."), std::string::npos)
        << log_text(t);
}

TEST_F(Deps_Test, AProbeFolderThatCannotBeWrittenIsTheReason) {
    fs_fail_under(data_path({"probe"}));
    Task t;
    std::string reason;
    bool ok = probe_compiler(t, tool("fake-clang"), reason);
    fs_fail_under("");
    EXPECT_FALSE(ok);
    EXPECT_EQ(reason, "cannot write in the launcher's folder");
}

TEST_F(Deps_Test, WithoutAUsableClangTheNotesAreTheStatus) {
    only_path(empty);
    struct Case {
        const char* saved;   // a stand-in's name, or "" for none
        std::string status;
    };
    const Case cases[] = {
        {"", "none found"},
        {"fail-cc", "fail-cc: it cannot build the game (fail-cc: error: cannot find the thread library)"},
        {"gnu-cc", "gnu-cc: GCC (the game is built with Clang here)"},
    };
    for (const Case& c : cases) {
        std::string saved = *c.saved ? tool(c.saved) : std::string();
        save_compiler(saved);
        Task t;
        deps_check_task(t);
        Dependency d = dependency_get(Dep_Kind::Compiler);
        // A note names the candidate by its file name ("fail-cc.exe" on Windows).
        std::string status = c.status;
        if (!saved.empty()) status = path_base(saved) + status.substr(std::string(c.saved).size());
        EXPECT_EQ(d.status, status) << c.saved;
        EXPECT_EQ(d.found, "");
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.name, "C compiler");
        EXPECT_EQ(d.role, "builds the game from the bundled sources");
        // Nothing to install from here: no winget on the path.
        EXPECT_TRUE(d.install.empty());
        EXPECT_TRUE(compilers_get().empty());
        EXPECT_TRUE(compilers_probed());
        EXPECT_NE(log_text(t).find("C compiler: " + status + "\n"), std::string::npos);
        EXPECT_EQ(task_view(t).status, "Checked what is installed");
    }
}

TEST_F(Deps_Test, OneClangFoundTwiceIsListedOnceAndChosen) {
    // The saved path and the one on PATH are two copies that report the
    // same installation.
    std::string saved = tool("fake-clang");
    std::string on_path = tool("clang");
    only_path(bin);
    save_compiler(saved);
    Task t;
    deps_check_task(t);
    std::vector<Compiler> list = compilers_get();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, saved);
    EXPECT_TRUE(list[0].clang);
    EXPECT_EQ(list[0].label, "Clang");
    EXPECT_EQ(dependency_get(Dep_Kind::Compiler).status, saved);
    EXPECT_EQ(compiler_label(saved), "Clang");
    EXPECT_EQ(compiler_label(on_path), on_path);
}

TEST_F(Deps_Test, TwoClangsAreLabelledByPathAndASavedOneThatIsGoneIsReplaced) {
    std::string other = tool("fake-clang", path_join({tmp.path, "other"}));
    std::string on_path = tool("clang");
    only_path(bin);
    save_compiler(other);
    Task t;
    deps_check_task(t);
    std::vector<Compiler> list = compilers_get();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].label, "Clang \xE2\x80\x94 " + other);
    EXPECT_EQ(list[1].label, "Clang \xE2\x80\x94 " + on_path);
    EXPECT_EQ(settings_copy().compiler, other);

    // The saved compiler is gone: the first listed one takes its place and
    // settings.txt follows at once.
    ASSERT_TRUE(fs_remove_file(other));
    Task again;
    deps_check_task(again);
    EXPECT_EQ(compilers_get().size(), 1u);
    EXPECT_EQ(settings_copy().compiler, on_path);
    EXPECT_NE(read_settings_file().find("compiler " + on_path + "\n"), std::string::npos);
    EXPECT_EQ(dependency_get(Dep_Kind::Compiler).found, on_path);
}

TEST_F(Deps_Test, ACancelledProbeKeepsThePreviousList) {
    std::string clang = tool("clang");
    only_path(bin);
    Task first;
    deps_check_task(first);
    ASSERT_EQ(compilers_get().size(), 1u);
    Dependency before = dependency_get(Dep_Kind::Compiler);

    // Every probe of a cancelled task is stopped as soon as it starts.
    Task cancelled;
    cancelled.cancel.store(1);
    deps_check_task(cancelled);
    ASSERT_EQ(compilers_get().size(), 1u);
    EXPECT_EQ(compilers_get()[0].path, clang);
    EXPECT_EQ(dependency_get(Dep_Kind::Compiler).status, before.status);
    EXPECT_EQ(settings_copy().compiler, clang);
}

TEST_F(Deps_Test, WhetherTheSavedCompilerIsClang) {
    only_path(empty);
    Task t;
    deps_check_task(t);   // nothing listed
    struct Case {
        const char* saved;
        bool clang;
    };
    const Case cases[] = {{"/opt/llvm/bin/CLANG.EXE", true}, {"/usr/bin/gcc", false}, {"", false}};
    for (const Case& c : cases) {
        save_compiler(c.saved);
        EXPECT_EQ(compiler_is_clang(), c.clang) << c.saved;
    }
}

TEST_F(Deps_Test, FfmpegNeedsBothEncoders) {
    std::string x264 = tool("ffmpeg-x264"), plain = tool("ffmpeg-nox264"), fail = tool("ffmpeg-fail");
    std::string missing = path_join({bin, "ffmpeg-missing"});
    std::string no_encoder = " (it has no H.264 encoder: it cannot convert the movies)";
    struct Case {
        const char* name;
        std::vector<std::string> candidates;
        bool ok;
        std::string status;
    };
    const Case cases[] = {
        {"without libx264, then with it", {plain, x264}, true, x264},
        {"failing ones are passed over", {fail, missing, x264}, true, x264},
        {"only one without libx264", {fail, plain}, false, plain + no_encoder},
        {"none that runs", {fail, missing}, false, "not found"},
        {"no candidate", {}, false, "not found"},
    };
    for (const Case& c : cases) {
        Task t;
        Dependency d = check_ffmpeg(t, c.candidates);
        EXPECT_EQ(d.ok, c.ok) << c.name;
        EXPECT_EQ(d.status, c.status) << c.name;
        EXPECT_EQ(d.found, c.ok ? c.status : std::string()) << c.name;
        EXPECT_EQ(d.name, "FFmpeg");
        EXPECT_EQ(d.role, "converts the movies (the game plays them without it)");
        EXPECT_TRUE(d.install.empty()) << c.name;
    }
}

TEST_F(Deps_Test, TheWholeRunFindsFfmpegOnThePath) {
    std::string ffmpeg = tool("ffmpeg");
    only_path(bin);
    Task t;
    deps_check_task(t);
    Dependency d = dependency_get(Dep_Kind::FFmpeg);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.found, ffmpeg);
    EXPECT_NE(log_text(t).find("FFmpeg: " + ffmpeg + "\n"), std::string::npos);
}

TEST_F(Deps_Test, TheMachinesOwnFfmpeg) {
    std::string real = find_program("ffmpeg");
    if (real.empty()) GTEST_SKIP() << "no ffmpeg on this machine";
    Task t;
    Dependency d = check_ffmpeg(t, {real});
    std::string encoders;
    int64_t code = -1;
    child_run(t, {real, "-hide_banner", "-encoders"}, "", Output_Mode::Quiet, &encoders, nullptr, 0, &code);
    bool has = encoders.find(" libx264 ") != std::string::npos && encoders.find(" aac ") != std::string::npos;
    EXPECT_EQ(d.ok, has);
}

#ifndef _WIN32
// The machine's real toolchain (Linux only: it needs the host's Clang and GCC).
TEST_F(Deps_Test, TheMachinesClangIsFoundProbedAndChosen) {
    std::string clang = find_program("clang");
    if (clang.empty()) GTEST_SKIP() << "no clang on this machine";
    Task t;
    deps_check_task(t);
    std::vector<Compiler> list = compilers_get();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].path, clang);
    EXPECT_TRUE(list[0].clang);
    EXPECT_EQ(settings_copy().compiler, clang);
    EXPECT_NE(read_settings_file().find("compiler " + clang + "\n"), std::string::npos);
    // The probe program it built printed "ok 4".
    std::string said;
    int64_t code = -1;
    ASSERT_TRUE(child_run(t, {data_path({"probe", "probe"})}, "", Output_Mode::Quiet, &said, nullptr, 0, &code));
    EXPECT_EQ(said, "ok 4\n");
}

TEST_F(Deps_Test, TheMachinesGccGetsItsNote) {
    std::string gcc = find_program("gcc");
    if (gcc.empty()) GTEST_SKIP() << "no gcc on this machine";
    only_path(empty);
    save_compiler(gcc);
    Task t;
    deps_check_task(t);
    EXPECT_TRUE(compilers_get().empty());
    EXPECT_EQ(dependency_get(Dep_Kind::Compiler).status, path_base(gcc) + ": GCC (the game is built with Clang here)");
}

TEST_F(Deps_Test, TheMachinesClangUnderTwoNamesIsListedOnce) {
    // A versioned name beside "clang" for the same program reports the same
    // installation.
    std::string clang = find_program("clang");
    if (clang.empty()) GTEST_SKIP() << "no clang on this machine";
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(clang, ec);
    std::string twin;
    for (const auto& e : std::filesystem::directory_iterator(path_dir(clang), ec)) {
        std::string name = e.path().filename().string();
        if (name.rfind("clang-", 0) != 0 || name.size() < 7 || name[6] < '0' || name[6] > '9') continue;
        if (std::filesystem::canonical(e.path(), ec) == real) twin = e.path().string();
    }
    if (twin.empty()) GTEST_SKIP() << "clang has one name here";
    save_compiler(twin);
    Task t;
    deps_check_task(t);
    ASSERT_EQ(compilers_get().size(), 1u);
    EXPECT_EQ(compilers_get()[0].path, twin);
}
#endif

// --- Installing ------------------------------------------------------------

struct Install_Test : Deps_Test {
    void SetUp() override {
        Deps_Test::SetUp();
        only_path(empty);   // the re-check then ends quickly
    }
    void offer(const Cmd& command) {
        Dependency d = dependency_get(Dep_Kind::FFmpeg);
        d.install = command;
        d.install_label = "Install FFmpeg (winget)";
        dependency_set(Dep_Kind::FFmpeg, d);
    }
    Task_View run(bool cancel_when_started = false) {
        Task& t = the_task();
        EXPECT_TRUE(task_start("Install", deps_install_task, static_cast<uint64_t>(Dep_Kind::FFmpeg)));
        if (cancel_when_started) {
            poll_until([&] {
                Lock_Guard guard(t.lock);
                return !t.children.empty();
            });
            task_cancel(t);
        }
        while (t.running.load()) sleep_ms(10);
        return task_view(t);
    }
};

TEST_F(Install_Test, TheOutcomeIsReportedAndTheDiscoveryRunsAgain) {
    struct Case {
        const char* code;
        bool failed;
        const char* line;
    };
    const Case cases[] = {{"0", false, nullptr}, {"3", true, "The install ended with code 3."}};
    for (const Case& c : cases) {
        offer({tool("installer"), "exit", c.code});
        Task_View v = run();
        EXPECT_EQ(v.failed, c.failed) << c.code;
        std::string log;
        for (const std::string& l : v.log) log += l + "\n";
        if (c.line) {
            EXPECT_NE(log.find(std::string(c.line) + "\n"), std::string::npos) << log;
        }
        EXPECT_EQ(log.find("The install ended"), c.line ? log.find(c.line) : std::string::npos);
        EXPECT_NE(log.find("C compiler: none found\n"), std::string::npos) << log;
        EXPECT_EQ(v.status, "Checked what is installed");
    }
}

TEST_F(Install_Test, AProgramThatDoesNotStartFailsTheTask) {
    std::string missing = path_join({bin, "no-such-installer"});
    offer({missing, "install"});
    Task_View v = run();
    EXPECT_TRUE(v.failed);
    ASSERT_FALSE(v.log.empty());
    EXPECT_EQ(v.log[0], "Could not start " + missing);
    EXPECT_EQ(v.status, "Checked what is installed");
}

TEST_F(Install_Test, CancelStopsTheInstallerAndStillChecksAgain) {
    offer({tool("installer"), "sleep", "600000"});
    Task_View v = run(true);
    EXPECT_TRUE(v.failed);
    ASSERT_FALSE(v.log.empty());
    // Stopped by the cancel, not ended on its own.
    std::string log;
    for (const std::string& l : v.log) log += l + "\n";
    EXPECT_NE(log.find("The install ended with code 1.\n"), std::string::npos) << log;
    EXPECT_EQ(v.log.back(), "Cancelled.");
    EXPECT_EQ(v.status, "Checked what is installed");
}

TEST_F(Install_Test, NothingToInstallEndsAtOnce) {
    offer({});
    Task_View v = run();
    EXPECT_FALSE(v.failed);
    EXPECT_TRUE(v.log.empty());
    EXPECT_EQ(v.status, "");
}

}  // namespace
