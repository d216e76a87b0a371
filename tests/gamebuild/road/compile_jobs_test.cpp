// The job table, the object names, and the compile workers (driven with a
// stand-in compiler that fails, waits and records what it was asked to do).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "launcher/gamebuild/compile_jobs.h"
#include "launcher/core/paths.h"
#include "road_support.h"
#include "tests/support/temp_dir.h"

namespace {

std::string rel(const std::string& root, const std::string& path) {
    std::string r = path.substr(root.size() + 1);
    std::replace(r.begin(), r.end(), '\\', '/');
    return r;
}

Job_Flags test_flags() {
    Job_Flags f;
    f.page = {"-page"};
    f.match = {"-page", "-I", "runtime"};
    f.runtime = {"-runtime"};
    f.glue = {"-runtime", "-fvisibility=default"};
    return f;
}

TEST(CompileJobs, TableNamesEveryGroupAndSortsBySource) {
    Temp_Dir dir;
    std::string src = path_join({dir.path, "src"}), obj = path_join({dir.path, "obj"});
    for (const char* f : {"gen/src/b.c", "gen/src/a.c", "gen/src/notes.h", "gen/src/x.cc", "gen/src/c",
                          "gen/src/overrides/hook.c", "gen/match/m1.c", "runtime/rt.c", "runtime/rt.h",
                          "gen/zqr_table.c"})
        ASSERT_TRUE(put(path_join({src, f}), "int x;\n"));
    ASSERT_TRUE(fs_make_dirs(path_join({src, "gen", "src", "folder.c"})));   // a folder is not a source

    struct Row { const char* src; const char* obj; Job_Group group; };
    const Row expected[] = {
        {"gen/match/m1.c", "m_m1.o", Job_Group::Match},
        {"gen/src/a.c", "a.o", Job_Group::Page},
        {"gen/src/b.c", "b.o", Job_Group::Page},
        {"gen/src/overrides/hook.c", "ovr_hook.o", Job_Group::Runtime},
        {"gen/zqr_table.c", "zqr_table.o", Job_Group::Runtime},
        {"runtime/rt.c", "rt_rt.o", Job_Group::Runtime},
    };
    std::vector<Compile_Job> jobs = compile_job_list(src, obj, test_flags(), "");
    ASSERT_EQ(jobs.size(), std::size(expected));
    for (size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(expected[i].src);
        EXPECT_EQ(rel(src, jobs[i].src), expected[i].src);
        EXPECT_EQ(rel(obj, jobs[i].obj), expected[i].obj);
        EXPECT_EQ(jobs[i].group, expected[i].group);
    }
    // One list per group, shared by its jobs; the match list is its own.
    EXPECT_EQ(jobs[1].flags, jobs[2].flags);
    EXPECT_EQ(*jobs[0].flags, (Cmd{"-page", "-I", "runtime"}));
    EXPECT_EQ(jobs[3].flags, jobs[5].flags);

    // The Android glue source joins with its own flags.
    std::string glue = path_join({dir.path, "sysroot", "glue", "android_native_app_glue.c"});
    jobs = compile_job_list(src, obj, test_flags(), glue);
    auto it = std::find_if(jobs.begin(), jobs.end(), [&](const Compile_Job& j) { return j.src == glue; });
    ASSERT_NE(it, jobs.end());
    EXPECT_EQ(path_base(it->obj), "rt_android_native_app_glue.o");
    EXPECT_EQ(it->group, Job_Group::Glue);
    EXPECT_EQ(*it->flags, (Cmd{"-runtime", "-fvisibility=default"}));
    EXPECT_TRUE(std::is_sorted(jobs.begin(), jobs.end(), job_less));
}

TEST(CompileJobs, MissingFoldersAddOnlyTheTable) {
    Temp_Dir dir;
    std::vector<Compile_Job> jobs = compile_job_list(path_join({dir.path, "none"}), dir.path, test_flags(), "");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(path_base(jobs[0].obj), "zqr_table.o");
}

TEST(CompileJobs, SourceNames) {
    const std::pair<const char*, bool> cases[] = {
        {"a.c", true}, {".c", true}, {"c", false}, {"a.cc", false}, {"a.C", false}, {"a.c.h", false}, {"", false},
    };
    for (auto [name, qualifies] : cases) EXPECT_EQ(is_job_source(name), qualifies) << name;
}

// Two sources that would write one object: the build must refuse, naming both.
TEST(CompileJobs, SameObjectFromTwoSourcesIsRefused) {
#ifdef _WIN32
    constexpr bool fold = true;
#else
    constexpr bool fold = false;
#endif
    struct Case { const char* name; std::vector<const char*> files; bool clash; };
    const Case cases[] = {
        {"page named like the table", {"gen/src/zqr_table.c", "gen/zqr_table.c"}, true},
        {"page named like a match object", {"gen/src/m_x.c", "gen/match/x.c"}, true},
        {"page named like a runtime object", {"gen/src/rt_io.c", "runtime/io.c"}, true},
        {"names that differ in case only", {"gen/src/rt_IO.c", "runtime/io.c"}, fold},
        {"distinct objects", {"gen/src/x.c", "gen/match/x.c", "runtime/x.c"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir dir;
        for (const char* f : c.files) ASSERT_TRUE(put(path_join({dir.path, "src", f}), "int x;\n"));
        std::vector<Compile_Job> jobs = compile_job_list(path_join({dir.path, "src"}), path_join({dir.path, "obj"}),
                                                         test_flags(), "");
        std::string message;
        EXPECT_EQ(!compile_jobs_unique(jobs, message), c.clash);
        if (c.clash) {
            EXPECT_NE(message.find(path_join({dir.path, "src", c.files[0]})), std::string::npos) << message;
            EXPECT_NE(message.find(path_join({dir.path, "src", c.files[1]})), std::string::npos) << message;
        }
    }
}

TEST(CompileJobs, CompilerOutputIsCutAfterThirtyLines) {
    struct Case { int lines; size_t logged; bool dots; };
    for (Case c : {Case{0, 1, false}, Case{30, 31, false}, Case{31, 32, true}, Case{200, 32, true}}) {
        SCOPED_TRACE(c.lines);
        Task t;
        std::string out;
        for (int i = 1; i <= c.lines; ++i) out += "e" + std::to_string(i) + "\r\n";
        log_compile_errors(t, path_join({"gen", "src", "page.c"}), out);
        std::vector<std::string> log = log_of(t);
        ASSERT_EQ(log.size(), c.logged);
        EXPECT_EQ(log[0], "page.c does not compile:");
        if (c.lines > 0) {
            EXPECT_EQ(log[1], "e1");
        }
        EXPECT_EQ(log.back(), c.dots ? "  ..." : c.lines ? "e30" : "page.c does not compile:");
    }
}

// The stand-in compiler and its record of calls.
struct Pool_Fixture {
    Temp_Dir dir;
    std::string record = path_join({dir.path, "calls.txt"});
    std::string compiler = beside_test(QM_FAKE_CC);
    Pool_Fixture() { env_set("FAKE_CC_LOG", record); }
    ~Pool_Fixture() { env_set("FAKE_CC_LOG", "", true); }

    Compile_Job job(const std::string& name, const std::string& text) {
        std::string src = path_join({dir.path, name + ".c"});
        put(src, text);
        return Compile_Job{src, path_join({dir.path, name + ".o"}), Job_Group::Page, std::make_shared<const Cmd>(Cmd{"-x"})};
    }
    std::vector<std::string> calls() {
        std::string text;
        fs_read(record, text);
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            out.push_back(text.substr(start, nl - start));
        return out;
    }
};

TEST(CompileWorkers, CompileEveryJobAndReportProgress) {
    Pool_Fixture f;
    Task t;
    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = f.compiler;
    for (int i = 0; i < 12; ++i) pool.jobs.push_back(f.job("j" + std::to_string(i), "int x;\n"));
    ASSERT_TRUE(compile_pool_run(pool, 4));
    EXPECT_EQ(pool.done.load(), 12);
    for (const Compile_Job& j : pool.jobs) {
        std::string obj;
        ASSERT_TRUE(fs_read(j.obj, obj)) << j.obj;
        EXPECT_EQ(obj, "-x\n");
    }
    Task_View v = task_view(t);
    EXPECT_TRUE(v.log.empty());
    EXPECT_FLOAT_EQ(v.progress, 0.9f);
    EXPECT_EQ(v.status.rfind("Compiling: 12 of 12 (", 0), 0u) << v.status;
}

// Both sources that fail while running side by side report; no job after
// them starts; the stale objects of the failing jobs are gone.
TEST(CompileWorkers, FailuresStopLaterJobsAndLeaveNoStaleObject) {
    Pool_Fixture f;
    Task t;
    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = f.compiler;
    pool.jobs.push_back(f.job("a_fail", "sleep 300\nfail 3\n"));
    pool.jobs.push_back(f.job("b_fail", "sleep 300\nfail 40\n"));
    for (int i = 0; i < 6; ++i) pool.jobs.push_back(f.job("later" + std::to_string(i), "int x;\n"));
    ASSERT_TRUE(put(pool.jobs[0].obj, "old object"));
    ASSERT_TRUE(put(pool.jobs[1].obj, "old object"));

    EXPECT_FALSE(compile_pool_run(pool, 2));
    EXPECT_TRUE(pool.failed.load());
    std::vector<std::string> calls = f.calls();
    EXPECT_EQ(count_prefix(calls, "start later"), 0u);
    EXPECT_EQ(count_prefix(calls, "stale "), 0u);   // deleted before the compiler ran
    EXPECT_FALSE(file_exists(pool.jobs[0].obj));
    std::vector<std::string> log = log_of(t);
    EXPECT_TRUE(has_line(log, "a_fail.c does not compile:"));
    EXPECT_TRUE(has_line(log, "b_fail.c does not compile:"));
    EXPECT_TRUE(has_line(log, "a_fail.c:3: error: fault 3"));
    EXPECT_TRUE(has_line(log, "b_fail.c:30: error: fault 30"));
    EXPECT_FALSE(has_line(log, "b_fail.c:31: error: fault 31"));
    EXPECT_EQ(count_prefix(log, "  ..."), 1u);
    EXPECT_EQ(pool.done.load(), 2);
}

TEST(CompileWorkers, NothingToDoAndCancelled) {
    Pool_Fixture f;
    {
        Task t;
        set_status(t, 0.5f, "Before");
        Compile_Pool pool;
        pool.task = &t;
        pool.compiler = f.compiler;
        EXPECT_TRUE(compile_pool_run(pool, 8));
        Task_View v = task_view(t);
        EXPECT_EQ(v.status, "Before");
        EXPECT_FLOAT_EQ(v.progress, 0.5f);
    }
    {
        Task t;
        t.cancel.store(1);
        Compile_Pool pool;
        pool.task = &t;
        pool.compiler = f.compiler;
        pool.jobs.push_back(f.job("never", "int x;\n"));
        EXPECT_FALSE(compile_pool_run(pool, 2));
        EXPECT_TRUE(f.calls().empty());
        EXPECT_TRUE(log_of(t).empty());
    }
}

// A compiler that cannot start fails the job with a reason.
TEST(CompileWorkers, CompilerThatCannotStart) {
    Pool_Fixture f;
    Task t;
    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = path_join({f.dir.path, "no-such-compiler"});
    pool.jobs.push_back(f.job("one", "int x;\n"));
    EXPECT_FALSE(compile_pool_run(pool, 1));
    std::vector<std::string> log = log_of(t);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "one.c does not compile:");
    EXPECT_EQ(log[1].rfind("Could not start ", 0), 0u);
}

}  // namespace

// Longest first: the last build's times where the times file has them, the
// source's size at the known jobs' median rate where not, the size alone
// with no usable times; equal lengths stay in list order.
TEST(CompileOrder, LongestJobsFirst) {
    Temp_Dir dir;
    auto job = [&](const char* name, size_t bytes) {
        std::string src = path_join({dir.path, std::string(name) + ".c"});
        put(src, std::string(bytes, 'x'));
        return Compile_Job{src, path_join({dir.path, "obj", std::string(name) + ".o"}), Job_Group::Page,
                           std::make_shared<const Cmd>(Cmd{"-x"})};
    };
    const std::vector<Compile_Job> jobs = {job("a", 100), job("b", 1000), job("c", 10), job("d", 500), job("e", 100)};
    struct Case {
        const char* what;
        const char* times;
        const char* order;
    };
    const Case cases[] = {
        {"no times: by size", "", "bdaec"},
        {"every time known: the times, not the sizes", "a.o\t50\nb.o\t10\nc.o\t30\nd.o\t20\ne.o\t40\n", "aecdb"},
        {"some known: the others by size at the median rate", "a.o\t100\nc.o\t5\n", "bdaec"},
        {"a slow small file goes before larger unknown ones", "c.o\t9000\na.o\t100\ne.o\t100\n", "cbdae"},
        {"lines that do not read are left out", "junk\na.o\t-4\n\t7\nb.o\tx\nc.o 5\n", "bdaec"},
    };
    for (const Case& c : cases) {
        std::vector<Compile_Job> ordered = jobs;
        order_longest_first(ordered, c.times);
        std::string names;
        for (const Compile_Job& j : ordered) names += path_base(j.src).substr(0, 1);
        EXPECT_EQ(names, c.order) << c.what;
    }
}

// After a build the file holds the time of every job that ran and keeps the
// lines of the objects this build did not compile; a failed job keeps its old time.
TEST(CompileOrder, TimesOfABuildJoinTheOldOnes) {
    Pool_Fixture f;
    Task t;
    Compile_Pool pool;
    pool.task = &t;
    pool.compiler = f.compiler;
    pool.jobs = {f.job("j0", "int x;\n"), f.job("j1", "int y;\n")};
    ASSERT_TRUE(compile_pool_run(pool, 2));
    std::string text = compile_times_text("gone.o\t7\nj0.o\t99999\n", pool);
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = text.substr(start, nl - start);
        names.push_back(line.substr(0, line.find('\t')));
        if (names.back() == "gone.o") {
            EXPECT_EQ(line, "gone.o\t7");
        }
        if (names.back() == "j0.o") {
            EXPECT_NE(line, "j0.o\t99999");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"gone.o", "j0.o", "j1.o"}));

    pool.took_ns[0] = 0;   // as a job that failed or never ran
    EXPECT_NE(compile_times_text("j0.o\t99999\n", pool).find("j0.o\t99999\n"), std::string::npos);
}
