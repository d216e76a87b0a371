// Steps of the game build on their own: the rebuild rule and its stamps, the
// response file (checked against the real compiler drivers where they are
// installed), and the profile probe.
#include <gtest/gtest.h>

#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/options.h"
#include "launcher/core/child_run.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "road_support.h"
#include "tests/support/temp_dir.h"

namespace {

// A source tree and its objects with chosen times (seconds); objects at 100
// are newer than every source and header at 10.
struct Tree {
    Temp_Dir dir;
    std::string src = path_join({dir.path, "src"});
    std::string obj = path_join({dir.path, "obj"});
    std::vector<Compile_Job> jobs;
    Job_Flags flags;

    Tree() {
        flags.page = {"-O1", "-page"};
        flags.match = {"-O1", "-page", "-I", "runtime"};
        flags.runtime = {"-O1", "-runtime"};
        for (const char* f : {"gen/src/p1.c", "gen/src/p2.c", "gen/match/m.c", "gen/zqr_table.c", "runtime/r.c",
                              "gen/src/overrides/o.c", "include/zqr.h", "runtime/r.h", "runtime/notes.txt"})
            put(path_join({src, f}), "x", 10);
        jobs = compile_job_list(src, obj, flags, "");
        for (const Compile_Job& j : jobs) put(j.obj, "o", 100);
        put(path_join({obj, "pages.stamp"}), page_stamp());
        put(path_join({obj, "runtime.stamp"}), runtime_stamp());
    }
    std::string page_stamp() { return stamp_text("cc", flags.page, 0, 7); }
    std::string runtime_stamp() { return stamp_text("cc", flags.runtime, 0, 7); }
    std::vector<std::string> to_compile(const std::string& page, const std::string& runtime) {
        std::vector<std::string> names;
        for (const Compile_Job& j : jobs_to_compile(jobs, rebuild_inputs(src, obj, page, runtime)))
            names.push_back(path_base(j.obj));
        return names;
    }
};

using Names = std::vector<std::string>;
const Names all = {"m_m.o", "ovr_o.o", "p1.o", "p2.o", "zqr_table.o", "rt_r.o"};
const Names not_pages = {"m_m.o", "ovr_o.o", "zqr_table.o", "rt_r.o"};
const Names page_stamped = {"m_m.o", "p1.o", "p2.o"};
const Names runtime_stamped = {"ovr_o.o", "zqr_table.o", "rt_r.o"};

TEST(RebuildRule, WhatIsCompiledAgain) {
    struct Case { const char* name; std::function<void(Tree&)> change; Names expected; };
    const Case cases[] = {
        {"nothing changed", [](Tree&) {}, {}},
        {"page flags changed", [](Tree& t) { t.flags.page.push_back("-new"); }, page_stamped},
        {"runtime flags changed", [](Tree& t) { t.flags.runtime.push_back("-DNEW"); }, runtime_stamped},
        {"no stamps", [](Tree& t) {
             fs_remove_file(path_join({t.obj, "pages.stamp"}));
             fs_remove_file(path_join({t.obj, "runtime.stamp"}));
         }, all},
        {"zqr.h touched", [](Tree& t) { put(path_join({t.src, "include", "zqr.h"}), "y", 200); }, all},
        {"a runtime header touched", [](Tree& t) { put(path_join({t.src, "runtime", "r.h"}), "y", 200); }, not_pages},
        {"a runtime file that is no header touched", [](Tree& t) { put(path_join({t.src, "runtime", "notes.txt"}), "y", 200); }, {}},
        {"a header as new as the objects", [](Tree& t) { put(path_join({t.src, "include", "zqr.h"}), "y", 100); }, all},
        {"one source touched", [](Tree& t) { put(path_join({t.src, "gen", "src", "p2.c"}), "y", 200); }, {"p2.o"}},
        {"one object gone", [](Tree& t) { fs_remove_file(path_join({t.obj, "rt_r.o"})); }, {"rt_r.o"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tree t;
        c.change(t);
        EXPECT_EQ(t.to_compile(t.page_stamp(), t.runtime_stamp()), c.expected);
    }
}

// Objects of another launcher's sources are never reused, whatever their
// times: the bundle identity is part of the stamp.
TEST(RebuildRule, AnotherBundleRecompilesEverything) {
    Tree t;
    EXPECT_EQ(t.to_compile(stamp_text("cc", t.flags.page, 0, 8), stamp_text("cc", t.flags.runtime, 0, 8)), all);
    EXPECT_EQ(t.to_compile(stamp_text("cc", t.flags.page, 5, 7), t.runtime_stamp()), page_stamped);
    EXPECT_EQ(t.to_compile(t.page_stamp(), stamp_text("cc2", t.flags.runtime, 0, 7)), runtime_stamped);
}

TEST(RebuildRule, StampTextTellsListsApart) {
    EXPECT_NE(stamp_text("cc", {"-a b"}, 0, 1), stamp_text("cc", {"-a", "b"}, 0, 1));
    EXPECT_EQ(stamp_text("cc", {"-a"}, 3, 1), stamp_text("cc", {"-a"}, 3, 1));
    EXPECT_EQ(stamp_text("cc", {"-a"}, 3, 0x1f), "cc|[-a]|3|000000000000001f");
}

TEST(ResponseFile, QuotingFollowsTheDriversRules) {
#ifdef _WIN32
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Users\\Ann Lee\\obj\\a.o", "\"C:/Users/Ann Lee/obj/a.o\""},
        {"C:/data/obj/b.o", "\"C:/data/obj/b.o\""},
    };
#else
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann lee/obj/a.o", "\"/home/ann lee/obj/a.o\""},
        {"/tmp/say \"hi\"/a.o", "\"/tmp/say \\\"hi\\\"/a.o\""},
        {"/tmp/back\\slash/a.o", "\"/tmp/back\\\\slash/a.o\""},
        {"/tmp/it's/a.o", "\"/tmp/it's/a.o\""},
    };
#endif
    for (auto [path, quoted] : cases) EXPECT_EQ(rsp_quote(path), quoted);
    std::vector<Compile_Job> jobs(2);
    jobs[0].obj = "a.o";
    jobs[1].obj = "b c.o";
    EXPECT_EQ(link_rsp_text(jobs), "\"a.o\"\n\"b c.o\"\n");
}

#ifndef _WIN32
// The real drivers read the file back: objects in a folder whose name holds a
// blank, double quotes, a backslash and a single quote link into a program.
TEST(ResponseFile, RealCompilersReadItBack) {
    int tried = 0;
    for (const char* driver : {"clang", "gcc"}) {
        std::string cc = find_program(driver);
        if (cc.empty()) continue;
        ++tried;
        SCOPED_TRACE(driver);
        Temp_Dir dir;
        std::string odd = path_join({dir.path, "it's a \"odd\" \\ folder"});
        Task t;
        std::vector<Compile_Job> jobs(2);
        jobs[0].src = path_join({odd, "main.c"});
        jobs[0].obj = path_join({odd, "main.o"});
        jobs[1].src = path_join({odd, "two.c"});
        jobs[1].obj = path_join({odd, "two.o"});
        ASSERT_TRUE(put(jobs[0].src, "#include <stdio.h>\nint two(void);\nint main(void) { printf(\"%d\\n\", two()); return 0; }\n"));
        ASSERT_TRUE(put(jobs[1].src, "int two(void) { return 2; }\n"));
        int64_t code = -1;
        for (const Compile_Job& j : jobs) {
            ASSERT_TRUE(child_run(t, {cc, "-c", j.src, "-o", j.obj}, "", Output_Mode::Log, nullptr, nullptr, 0, &code));
            ASSERT_EQ(code, 0);
        }
        std::string rsp = path_join({odd, "link.rsp"});
        ASSERT_TRUE(put(rsp, link_rsp_text(jobs)));
        std::string program = path_join({dir.path, "prog"});
        ASSERT_TRUE(child_run(t, {cc, "-o", program, "@" + rsp}, "", Output_Mode::Log, nullptr, nullptr, 0, &code));
        ASSERT_EQ(code, 0) << ::testing::PrintToString(log_of(t));
        std::string said;
        ASSERT_TRUE(child_run(t, {program}, "", Output_Mode::Quiet, &said, nullptr, 0, &code));
        EXPECT_EQ(said, "2\n");
    }
    if (tried == 0) GTEST_SKIP() << "no C compiler installed";
}

// The profile probe with Clang and ld.lld beside it: a real profile made by
// llvm-profdata, a damaged one, none, and a toolchain that cannot use one.
TEST(ProfileProbe, UsesOnlyAProfileThisClangReads) {
    std::string clang = find_program("clang");
    std::string profdata = find_program("llvm-profdata");
    if (clang.empty() || profdata.empty() || find_lld(clang).empty())
        GTEST_SKIP() << "needs clang, ld.lld and llvm-profdata";
    Temp_Dir dir;
    env_set("LOCALAPPDATA", path_join({dir.path, "local"}));
    paths_init();
    Settings saved = settings_copy();
    std::string src = path_join({dir.path, "src"});
    std::string candidate = path_join({src, "pgo", "efsg.profdata"});
    std::string good = path_join({dir.path, "good.profdata"});
    Task t;
    int64_t code = -1;
    ASSERT_TRUE(child_run(t, {profdata, "merge", "-o", good, path_join({env_get("QM_SOURCE_DIR"), "sample_game", "efsg.proftext"})},
                          "", Output_Mode::Log, nullptr, nullptr, 0, &code));
    ASSERT_EQ(code, 0);
    std::string good_bytes;
    ASSERT_TRUE(fs_read(good, good_bytes));
    std::string lone = path_join({dir.path, "alone", "clang"});   // a Clang with no ld.lld beside it
    ASSERT_TRUE(fs_make_dirs(path_dir(lone)));
    ASSERT_TRUE(fs_make_link(clang, lone, false));

    constexpr const char* off = "Profile-Guided Optimization is off for this build: ";
    struct Case { const char* name; const char* profile; std::string compiler; bool pgo; std::string line; bool used; };
    const Case cases[] = {
        {"a good profile", good_bytes.c_str(), clang, true, "Profile-Guided Optimization: " + candidate, true},
        {"a damaged profile", "not a profile", clang, true, std::string(off) + "this Clang cannot read the profile (an older version?).", false},
        {"no profile", nullptr, clang, true, std::string(off) + "no profile in the bundle.", false},
        {"the setting off", good_bytes.c_str(), clang, false, "", false},
        {"GCC", good_bytes.c_str(), "/usr/bin/gcc", true, std::string(off) + "Needs Clang (GCC cannot read the profile).", false},
        {"Clang without lld", good_bytes.c_str(), lone, true, std::string(off) + "Needs LLVM's linker (lld) beside Clang: not found.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs_remove_tree(path_join({src, "pgo"}));
        if (c.profile) {
            size_t size = c.profile == good_bytes.c_str() ? good_bytes.size() : strlen(c.profile);
            ASSERT_TRUE(put(candidate, std::string(c.profile, size)));
        }
        settings_edit([&](Settings& s) {
            s.pgo = c.pgo;
            s.compiler = c.compiler;
        });
        set_profile_path("left over");
        Task task;
        pgo_prepare(task, native_build_request(), c.compiler, src);
        std::vector<std::string> log = log_of(task);
        if (c.line.empty()) {
            EXPECT_TRUE(log.empty());
        } else {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0], c.line);
        }
        EXPECT_EQ(profile_path(), c.used ? candidate : "");
    }
    settings_replace(saved);
    set_profile_path("");
}
#endif

}  // namespace
