// The stand-in game built for Windows on Linux, with Clang for the MinGW
// target, lld and the mingw-w64 libraries, through the launcher's job table,
// flag groups, workers, response file and the Windows link list; then run
// under wine. It also shows that the runtime's required defines are checked.
#include <gtest/gtest.h>

#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/options.h"
#include "launcher/core/child_run.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "road_support.h"
#include "tests/support/temp_dir.h"

namespace {

void copy_tree(const std::string& from, const std::string& to) {
    std::vector<Dir_Entry> entries;
    fs_make_dirs(to);
    if (!fs_list(from, entries)) return;
    for (const Dir_Entry& e : entries) {
        std::string a = path_join({from, e.name}), b = path_join({to, e.name});
        if (e.is_dir) copy_tree(a, b);
        else fs_copy_file(a, b);
    }
}

// The folder of mingw-w64's GCC libraries (libgcc.a), which Clang for the
// MinGW target does not find on its own on Debian.
std::string mingw_gcc_dir() {
    std::string base = "/usr/lib/gcc/x86_64-w64-mingw32";
    std::vector<Dir_Entry> entries;
    if (!fs_list(base, entries)) return "";
    std::string best;
    for (const Dir_Entry& e : entries) {
        std::string dir = path_join({base, e.name});
        if (file_exists(path_join({dir, "libgcc.a"})) && (best.empty() || e.name.find("posix") != std::string::npos))
            best = dir;
    }
    return best;
}

TEST(StandInForWindows, BuildsWithTheWindowsLinkListAndRunsUnderWine) {
    std::string clang = find_program("clang"), lld = find_program("ld.lld"), wine = find_program("wine");
    std::string gcc_dir = mingw_gcc_dir();
    std::string stage = QM_STAND_IN_WINDOWS_STAGE;
    if (clang.empty() || lld.empty() || wine.empty() || gcc_dir.empty() || !fs_is_dir(stage))
        GTEST_SKIP() << "needs clang, ld.lld, wine and mingw-w64";

    Temp_Dir dir;
    env_set("LOCALAPPDATA", path_join({dir.path, "local"}));
    paths_init();
    Settings saved = settings_copy();
    std::string src = path_join({dir.path, "src"}), obj = path_join({dir.path, "obj"});
    copy_tree(path_join({env_get("QM_SOURCE_DIR"), "sample_game", "tree"}), src);
    copy_tree(stage, src);

    // LLVM-MinGW's driver name, beside its linker.
    std::string llvm = path_join({dir.path, "llvm"});
    std::string cc = path_join({llvm, "x86_64-w64-mingw32-clang"});
    ASSERT_TRUE(put(cc, "#!/bin/sh\nexec '" + clang + "' --target=x86_64-w64-mingw32 -L'" + gcc_dir + "' \"$@\"\n"));
    std::string chmod = "chmod +x '" + cc + "'";
    ASSERT_EQ(std::system(chmod.c_str()), 0);
    ASSERT_TRUE(fs_make_link(lld, path_join({llvm, "ld.lld"}), false));
    settings_edit([&](Settings& s) {
        s.compiler = cc;
        s.tools = false;
        s.pgo = true;
        s.lto = false;
        s.opt_level = 1;
    });

    Task t;
    const Build_Spec& req = native_build_request();
    std::string profdata = find_program("llvm-profdata");
    if (!profdata.empty()) {
        int64_t code = -1;
        ASSERT_TRUE(child_run(t, {profdata, "merge", "-o", path_join({src, "pgo", "efsg.profdata"}),
                                  path_join({env_get("QM_SOURCE_DIR"), "sample_game", "efsg.proftext"})},
                              "", Output_Mode::Log, nullptr, nullptr, 0, &code));
        pgo_prepare(t, req, cc, src);
        EXPECT_EQ(profile_path(), path_join({src, "pgo", "efsg.profdata"})) << ::testing::PrintToString(log_of(t));
    }

    Job_Flags flags;
    flags.page = page_flags(req, src);
    flags.match = match_flags(req, src);
    flags.runtime = runtime_flags(req, src, "", {});
    std::vector<Compile_Job> jobs = compile_job_list(src, obj, flags, "");
    ASSERT_EQ(jobs.size(), 10u);
    std::string clash;
    ASSERT_TRUE(compile_jobs_unique(jobs, clash)) << clash;
    fs_make_dirs(obj);

    // Without ZQR_VULKAN the runtime refuses to compile.
    {
        Compile_Pool pool;
        pool.task = &t;
        pool.compiler = cc;
        Job_Flags no_vulkan = flags;
        std::erase(no_vulkan.runtime, std::string("-DZQR_VULKAN"));
        for (const Compile_Job& j : compile_job_list(src, obj, no_vulkan, ""))
            if (path_base(j.src) == "zqr_media.c") pool.jobs.push_back(j);
        ASSERT_EQ(pool.jobs.size(), 1u);
        Task failing;
        pool.task = &failing;
        EXPECT_FALSE(compile_pool_run(pool, 1));
        EXPECT_EQ(count_prefix(log_of(failing), "zqr_media.c does not compile:"), 1u);
    }

    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = cc;
    pool.jobs = jobs;
    ASSERT_TRUE(compile_pool_run(pool, cpu_count())) << ::testing::PrintToString(log_of(t));

    std::string rsp = path_join({obj, "link.rsp"});
    ASSERT_TRUE(put(rsp, link_rsp_text(jobs)));
    std::string game_dir = path_join({dir.path, "app"});
    fs_make_dirs(game_dir);
    std::string exe = path_join({game_dir, "Quillmarsh.exe"});
    Cmd link = link_command(req, cc, src, path_join({src, "ffmpeg"}), exe, rsp, {}, Native_Os::Windows);
    EXPECT_EQ(link.back(), "-Wl,--subsystem,windows");
    int64_t code = -1;
    ASSERT_TRUE(child_run(t, link, "", Output_Mode::Log, nullptr, nullptr, 0, &code));
    ASSERT_EQ(code, 0) << ::testing::PrintToString(log_of(t));

    ASSERT_TRUE(put(path_join({game_dir, "Quillmarsh.cfg"}), "# written by the launcher\nZQR_GAME_DIR=C:\\Games\\EMBERFALL SAGA\n"));
    std::string said;
    env_set("WINEDEBUG", "-all");
    ASSERT_TRUE(child_run(t, {wine, exe}, game_dir, Output_Mode::Quiet, &said, nullptr, 120 * 1000000000LL, &code));
    EXPECT_EQ(code, 0) << said;
    EXPECT_NE(said.find("Quillmarsh stand-in game (frame limit 60, tools off)"), std::string::npos) << said;
    EXPECT_NE(said.find("SDL2 ready"), std::string::npos) << said;
    EXPECT_NE(said.find("  ZQR_GAME_DIR=C:\\Games\\EMBERFALL SAGA"), std::string::npos) << said;
    settings_replace(saved);
    set_profile_path("");
}

}  // namespace
