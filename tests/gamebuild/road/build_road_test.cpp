// "--build" through the real launcher on a fixture install of the game, with
// the real Clang: the first build, the rebuild rule across runs, a page that
// does not compile, and a launcher with another bundle. The built stand-in
// game is run and prints the configuration it read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include <signal.h>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "launcher/gamebuild/build_id.h"
#include "launcher/gamebuild/config.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/bundle.h"
#include "launcher/core/bundle_data.h"
#include "launcher/core/child_run.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "road_support.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/mods/mod_data_fixture.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

struct Launch {
    int64_t code = -1;
    std::string out;
    std::vector<std::string> lines;
};

Launch launch(const std::vector<std::string>& args, const std::string& cwd,
              const std::vector<std::pair<std::string, std::string>>& extra_env) {
    Run_Result run = run_program(args[0], {args.begin() + 1, args.end()}, extra_env, cwd);
    Launch r;
    r.code = run.code;
    r.out = run.err.empty() ? run.out : "could not start: " + run.err;
    size_t start = 0;
    for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
        r.lines.push_back(r.out.substr(start, nl - start));
    return r;
}

// "Compiling N of M files on C cores": N and M.
std::pair<int, int> compiled(const Launch& r) {
    static const std::regex line("^Compiling (\\d+) of (\\d+) files on \\d+ cores$");
    for (const std::string& l : r.lines) {
        std::smatch m;
        if (std::regex_match(l, m, line)) return {std::stoi(m[1]), std::stoi(m[2])};
    }
    return {-1, -1};
}

struct Road : ::testing::Test {
    static inline Temp_Dir* root = nullptr;
    static inline std::string app, local, data, game_dir, launcher;
    static inline Launch first;
    // The last run left every object up to date with the plain settings.
    static inline bool clean = false;
    static constexpr int all_jobs = 10;   // 4 pages, 1 match page, 1 override, 3 runtime files, the table

    static void write_settings(const std::string& extra = "") {
        std::string text = "settings_version 4\ngame_dir " + game_dir + "\n" + extra;
        fs_make_dirs(data);
        fs_write(path_join({data, "settings.txt"}), text);
    }
    static Launch build(const std::string& program = "") {
        return launch({program.empty() ? launcher : program, "--build"}, app, {{"LOCALAPPDATA", local}});
    }

    static void SetUpTestSuite() {
        root = new Temp_Dir;
        app = path_join({root->path, "app"});
        local = path_join({root->path, "local"});
        data = path_join({local, "efsg-launcher"});
        fs_make_dirs(app);
        launcher = path_join({app, "quillmarsh-launcher"});
        fs_copy_file(QM_LAUNCHER, launcher);
        fs_set_mtime(launcher, wall_ns());
        std::string mode_fix = "chmod +x '" + launcher + "'";
        (void)!std::system(mode_fix.c_str());
        Fixture_Options o;
        o.store_root = path_join({root->path, "store"});
        std::string err;
        if (!fixture_write_install(o, &err)) ADD_FAILURE() << err;
        game_dir = fixture_game_dir(o);
        write_settings();
        first = build();
        clean = first.code == 0;
    }
    static void TearDownTestSuite() {
        delete root;
        root = nullptr;
    }
    void SetUp() override {
        if (clang_missing()) GTEST_SKIP() << "needs clang";
    }
    static bool clang_missing() { return find_program("clang").empty(); }

    // Brings the build up to date with the plain settings (when a test
    // before left it otherwise).
    void settle() {
        write_settings();
        if (clean) return;
        Launch r = build();
        ASSERT_EQ(r.code, 0) << r.out;
        clean = true;
    }
};

TEST_F(Road, FirstBuildWritesTheGameAndItsFiles) {
    ASSERT_EQ(first.code, 0) << first.out;
    EXPECT_EQ(compiled(first), std::make_pair(all_jobs, all_jobs)) << first.out;
    std::string game = path_join({app, "Quillmarsh"});
    EXPECT_TRUE(has_line(first.lines, "Built " + game)) << first.out;
    bool profile_packed = file_exists(path_join({env_get("QM_BINARY_DIR"), "bundle_stage", "pgo", "efsg.profdata"}));
    if (profile_packed && !find_program("ld.lld").empty()) {
        EXPECT_TRUE(has_line(first.lines, "Profile-Guided Optimization: " + path_join({data, "src", "pgo", "efsg.profdata"})))
            << first.out;
    }
    for (const char* f : {"Quillmarsh", "Quillmarsh.cfg", "Quillmarsh.build-id"})
        EXPECT_TRUE(file_exists(path_join({app, f}))) << f;
    EXPECT_TRUE(fs_is_dir(path_join({data, "cdrive"})));
    EXPECT_TRUE(file_exists(path_join({data, "tools", "README.txt"})));
    std::string id;
    ASSERT_TRUE(fs_read(path_join({app, "Quillmarsh.build-id"}), id));
    EXPECT_EQ(id.substr(0, 17), fmt("%016x\n", bundle_identity_of(embedded_bundle())));

    // The game runs from anywhere and reads the file beside it.
    Launch played = launch({game}, root->path, {});
    ASSERT_EQ(played.code, 0) << played.out;
    EXPECT_TRUE(has_line(played.lines, "Quillmarsh stand-in game (frame limit 60, tools off)")) << played.out;
    EXPECT_TRUE(has_line(played.lines, "  ZQR_GAME_DIR=" + game_dir)) << played.out;
    EXPECT_EQ(count_prefix(played.lines, "media: avformat 60.16.100, avcodec"), 1u) << played.out;
}

// The game writes an option back from its menus; the launcher takes it.
TEST_F(Road, TheGamesMenuChoiceIsReadBack) {
    ASSERT_EQ(first.code, 0) << first.out;
    std::string game = path_join({app, "Quillmarsh"});
    Launch played = launch({game}, app, {{"ZQR_MENU_SET", "ZQR_FPS=144"}});
    ASSERT_EQ(played.code, 0) << played.out;
    EXPECT_TRUE(has_line(played.lines, "menu: wrote ZQR_FPS=144 back to " + path_join({app, "Quillmarsh.cfg"})));

    env_set("LOCALAPPDATA", path_join({root->path, "reader"}));
    paths_init();
    paths_set_exe_dir(app);
    Settings saved = settings_copy();
    settings_edit([](Settings& s) { s.fps = 60; });
    EXPECT_TRUE(cfg_import());
    EXPECT_EQ(settings_copy().fps, 144);
    settings_replace(saved);
    paths_set_exe_dir("");
}

TEST_F(Road, SecondBuildCompilesNothingAndStillLinks) {
    settle();
    std::string game = path_join({app, "Quillmarsh"});
    ASSERT_TRUE(fs_set_mtime(game, 1000000000LL * 1000000000LL));   // 2001
    Launch r = build();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(0, all_jobs)) << r.out;
    EXPECT_GT(fs_mtime(game), 1000000000LL * 1000000000LL);
    EXPECT_TRUE(has_line(r.lines, "Built " + game));
}

// Hard Mode and HD Models+ applied: the build writes the mod data, names
// their folder in the configuration, and the game reads their index.
TEST_F(Road, ModDataAreMadeAndTheGameReadsThem) {
    settle();
    clean = false;
    ASSERT_TRUE(write_pair(game_dir, "sys/filelistu.win32.bin", "sys/amber_imgu.win32.bin",
                           {{"db/enemy.wdb", enemy_table(), true}}, 1000));
    ASSERT_TRUE(write_pair(game_dir, "sys/filelist_scru.win32.bin", "sys/amber_scru.win32.bin",
                           {{"chr/pc/c201/bin/c201.win32.trb", "old", false}}, 2048));
    std::string hard = path_join({data, "mod_src", "hardmode"});
    std::string bin = path_join({data, "hdmodels", "out", "chr", "pc", "c201", "bin"});
    ASSERT_TRUE(fs_make_dirs(hard) && fs_make_dirs(bin));
    ASSERT_TRUE(fs_write(path_join({hard, "EFSAGA_Hard_CTG+30.txt"}), "db/enemy.wdb\nboss, 1, w, 9\n"));
    ASSERT_TRUE(fs_write(path_join({data, "hdmodels", "out", "kestrel.txt"}), "High Quality\n"));
    ASSERT_TRUE(fs_write(path_join({bin, "c201.win32.trb"}), hd_model_bytes('a')));
    ASSERT_TRUE(fs_write(path_join({bin, "c201.win32.imgb"}), hd_model_bytes('b')));
    write_settings("hard 1,0,0,0,0,0,0,0\nhd_models_on 1\nhd_models 1,0,0,0,0,0\n");

    Launch r = build();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(0, all_jobs)) << r.out;
    EXPECT_TRUE(has_line(r.lines, "mods: 1 entries changed in sys")) << r.out;
    std::string mods = path_join({data, "mods"});
    std::string cfg;
    ASSERT_TRUE(fs_read(path_join({app, "Quillmarsh.cfg"}), cfg));
    EXPECT_NE(cfg.find("\nZQR_MOD_DIR=" + mods + "\n"), std::string::npos) << cfg;
    Launch played = launch({path_join({app, "Quillmarsh"})}, app, {});
    ASSERT_EQ(played.code, 0) << played.out;
    EXPECT_TRUE(has_line(played.lines, "mods: sys/filelistu.win32.bin extends sys/amber_imgu.win32.bin (1000 bytes)"))
        << played.out;
    EXPECT_TRUE(has_line(played.lines, "mods: sys/filelist_scru.win32.bin extends sys/amber_scru.win32.bin (2048 bytes)"))
        << played.out;
}

// The header becomes just newer than every object, but stays in the past, so
// the objects compiled now are newer than it whatever the machine's speed.
TEST_F(Road, ATouchedRuntimeHeaderRecompilesAllButThePages) {
    settle();
    std::vector<Dir_Entry> objects;
    ASSERT_TRUE(fs_list(path_join({data, "obj"}), objects));
    int64_t newest = 0;
    for (const Dir_Entry& e : objects) newest = std::max(newest, e.mtime_ns);
    ASSERT_LT(newest + 1000000LL, wall_ns());
    ASSERT_TRUE(fs_set_mtime(path_join({data, "src", "runtime", "zqr_runtime.h"}), newest + 1000000LL));
    Launch r = build();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(all_jobs - 4, all_jobs)) << r.out;
}

// Experimental changes only the runtime flags; the optimisation level is in
// both groups.
TEST_F(Road, ChangedOptionsRecompileTheirGroups) {
    settle();
    clean = false;
    write_settings("experimental 1\n");
    Launch r = build();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(5, all_jobs)) << r.out;   // the table, the override, the runtime
    Launch played = launch({path_join({app, "Quillmarsh"})}, app, {});
    EXPECT_TRUE(has_line(played.lines, "Quillmarsh stand-in game (frame limit 60, tools off, experimental)")) << played.out;

    write_settings("experimental 1\nopt_level 2\n");
    r = build();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(all_jobs, all_jobs)) << r.out;
}

// A page that does not compile (Clang given a broken file in its place):
// exit code 1, the compiler's first 30 lines, the previous game kept.
TEST_F(Road, ABrokenPageFailsTheBuildWithThirtyLines) {
    clean = false;
    std::string game = path_join({app, "Quillmarsh"});
    int64_t game_time = fs_mtime(game);
    std::string wrap_dir = path_join({root->path, "broken cc"});
    std::string broken = path_join({wrap_dir, "broken_page.c"});
    std::string text;
    for (int i = 0; i < 40; ++i) text += fmt("int f%d(void) { return missing_%d; }\n", i, i);
    ASSERT_TRUE(put(broken, text));
    std::string wrapper = path_join({wrap_dir, "clang"});
    ASSERT_TRUE(put(wrapper, "#!/bin/bash\nargs=()\nfor a in \"$@\"; do\n  case \"$a\" in\n"
                             "    */gen/src/page_0002.c) args+=(\"" + broken + "\") ;;\n"
                             "    *) args+=(\"$a\") ;;\n  esac\ndone\nexec \"" + find_program("clang") +
                             "\" \"${args[@]}\"\n"));
    std::string chmod = "chmod +x '" + wrapper + "'";
    ASSERT_EQ(std::system(chmod.c_str()), 0);
    if (!find_program("ld.lld").empty()) {
        ASSERT_TRUE(fs_make_link(find_program("ld.lld"), path_join({wrap_dir, "ld.lld"}), false));
    }

    write_settings("compiler " + wrapper + "\n");
    Launch r = build();
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(has_line(r.lines, "Compiler: " + wrapper)) << r.out;
    auto at = std::find(r.lines.begin(), r.lines.end(), "page_0002.c does not compile:");
    ASSERT_NE(at, r.lines.end()) << r.out;
    auto dots = std::find(at, r.lines.end(), "  ...");
    ASSERT_NE(dots, r.lines.end()) << r.out;
    EXPECT_EQ(dots - at, 31);   // the heading, then 30 lines of the compiler
    EXPECT_EQ(count_prefix(r.lines, "Built "), 0u);
    EXPECT_EQ(fs_mtime(game), game_time);
    EXPECT_FALSE(file_exists(path_join({data, "obj", "pages.stamp"})));
}

// A link that fails, is killed or is cancelled after the linker removed its
// output and began writing it: the new program goes to a temporary name, so
// the working game stays byte for byte and runs, and nothing is left over.
TEST_F(Road, AStoppedOrFailedLinkKeepsTheWorkingGame) {
    settle();
    std::string game = path_join({app, "Quillmarsh"});
    std::string before;
    ASSERT_TRUE(fs_read(game, before));
    std::string wrap_dir = path_join({root->path, "faulty linker"});
    std::string wrapper = path_join({wrap_dir, "clang"});
    // The link is the call with the response file; the linker's habit of
    // deleting its output first is copied, then the fault.
    ASSERT_TRUE(put(wrapper, "#!/bin/bash\nout=; link=0; prev=\n"
                             "for a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; case $a in @*link.rsp) link=1;; esac; "
                             "prev=$a; done\n"
                             "if [ $link = 1 ]; then\n  rm -f \"$out\"; printf 'cut ELF' > \"$out\"\n"
                             "  case $LINK_FAULT in\n"
                             "    kill) kill -9 $$ ;;\n"
                             "    full) echo \"ld.lld: error: $out: No space left on device\"; exit 1 ;;\n"
                             "    hang) sleep 600 & echo $! > \"$LINK_PID_FILE\"; wait ;;\n  esac\nfi\nexec \"" +
                                 find_program("clang") + "\" \"$@\"\n"));
    std::string chmod = "chmod +x '" + wrapper + "'";
    ASSERT_EQ(std::system(chmod.c_str()), 0);
    if (!find_program("ld.lld").empty()) {
        ASSERT_TRUE(fs_make_link(find_program("ld.lld"), path_join({wrap_dir, "ld.lld"}), false));
    }
    write_settings("compiler " + wrapper + "\n");
    clean = false;
    auto leftovers = [&] {
        std::vector<Dir_Entry> list;
        fs_list(app, list);
        std::vector<std::string> names;
        for (const Dir_Entry& e : list) {
            if (fs_is_temp_name_of(e.name, "Quillmarsh")) names.push_back(e.name);
        }
        return names;
    };

    for (const char* fault : {"kill", "full"}) {
        Launch r = launch({launcher, "--build"}, app, {{"LOCALAPPDATA", local}, {"LINK_FAULT", fault}});
        EXPECT_EQ(r.code, 1) << fault << "\n" << r.out;
        EXPECT_TRUE(has_line(r.lines, "Linking failed.")) << fault << "\n" << r.out;
        EXPECT_EQ(count_prefix(r.lines, "Built "), 0u) << fault;
        std::string after;
        ASSERT_TRUE(fs_read(game, after)) << fault;
        EXPECT_TRUE(after == before) << fault;
        EXPECT_TRUE(leftovers().empty()) << fault << ": " << leftovers().front();
    }

    // Ctrl-C while the linker writes (and would never end by itself), then
    // the launcher killed outright there: the linker's own child (as
    // "clang -cc1" is the driver's) ends with it, and the next start
    // removes the temporary program the killed one left.
    std::string pid_file = path_join({root->path, "linker.pid"});
    for (int sig : {SIGINT, SIGKILL}) {
        fs_remove_file(pid_file);
        // This process's own LOCALAPPDATA (an earlier test sets one) would
        // come first and win: the launcher gets only the one given here.
        std::vector<std::string> vars;
        for (const std::string& v : env_all()) {
            if (v.rfind("LOCALAPPDATA=", 0) != 0) vars.push_back(v);
        }
        vars.push_back("LOCALAPPDATA=" + local);
        vars.push_back("LINK_FAULT=hang");
        vars.push_back("LINK_PID_FILE=" + pid_file);
        Child* c = child_start({launcher, "--build"}, app, &vars);
        ASSERT_NE(c, nullptr);
        int64_t guard = clock_system_ns() + int64_t(300) * 1000000000;   // a hang guard only
        std::string linker_pid, out;
        char buf[4096];
        uint32_t code = 0;
        bool ended = false;
        while (!(fs_read(pid_file, linker_pid) && !linker_pid.empty()) && !ended && clock_system_ns() < guard) {
            if (child_look(c, 20)) {
                int64_t n = child_read(c, buf, sizeof buf);
                if (n > 0) out.append(buf, size_t(n));
            }
            ended = child_ended(c, code);
        }
        if (linker_pid.empty()) {
            child_close(c);
            FAIL() << "the link never began:\n" << out;
        }
        ASSERT_EQ(kill(static_cast<pid_t>(child_pid(c)), sig), 0);
        for (int64_t n; clock_system_ns() < guard;) {
            if (!child_look(c, 100)) continue;
            if ((n = child_read(c, buf, sizeof buf)) <= 0) break;
            out.append(buf, size_t(n));
        }
        ended = child_wait(c, 60000, code);
        child_close(c);
        ASSERT_TRUE(ended) << out;
        pid_t linker = static_cast<pid_t>(std::stol(linker_pid));
        while (kill(linker, 0) == 0 && clock_system_ns() < guard) sleep_ms(20);
        EXPECT_NE(kill(linker, 0), 0) << "the linker's child outlived the launcher (signal " << sig << ")";
        std::string after;
        ASSERT_TRUE(fs_read(game, after));
        EXPECT_TRUE(after == before);
        if (sig == SIGINT) {
            EXPECT_EQ(code, 130u) << out;
            EXPECT_NE(out.find("Cancelled.\n"), std::string::npos) << out;
        } else {
            EXPECT_FALSE(leftovers().empty());
            Launch check = launch({launcher, "--check"}, app, {{"LOCALAPPDATA", local}});
            EXPECT_EQ(check.code, 0) << check.out;
        }
        EXPECT_TRUE(leftovers().empty()) << sig;
    }

    // The kept program still runs and reads its configuration.
    Launch played = launch({game}, root->path, {});
    EXPECT_EQ(played.code, 0) << played.out;
    EXPECT_TRUE(has_line(played.lines, "  ZQR_GAME_DIR=" + game_dir)) << played.out;
}

// The helper programs ("tools/") that cannot be unpacked fail the build,
// which used to end with "Built" and exit 0 all the same.
TEST_F(Road, ToolsThatCannotBeUnpackedFailTheBuild) {
    settle();
    clean = false;
    std::string tools = path_join({data, "tools"});
    ASSERT_TRUE(fs_remove_tree(tools));
    ASSERT_TRUE(fs_write(tools, "a file where the folder goes"));
    Launch r = build();
    fs_remove_file(tools);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_EQ(count_prefix(r.lines, "Could not unpack tools/"), 1u) << r.out;
    EXPECT_EQ(count_prefix(r.lines, "Built "), 0u) << r.out;
}

// A data folder that cannot be written is named as the fault, with the
// system's reason, not the compiler (whose probe cannot be written there).
TEST_F(Road, AnUnwritableDataFolderIsTheFaultNamed) {
    Temp_Dir other;
    std::string local_file = path_join({other.path, "efsg-launcher"});
    ASSERT_TRUE(fs_write(local_file, "a file where the data folder goes"));
    Launch r = launch({launcher, "--build"}, app, {{"LOCALAPPDATA", other.path}});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_EQ(count_prefix(r.lines, "The data folder " + local_file + " cannot be written: "), 1u) << r.out;
    EXPECT_EQ(count_prefix(r.lines, "No C compiler"), 0u) << r.out;
}

// A launcher whose bundle differs in one byte: the build it finds is not
// its own, so every object is compiled again, and the launcher it replaced
// sees the new build as stale.
TEST_F(Road, ALauncherWithAnotherBundleRebuildsEverything) {
    clean = false;
    write_settings();
    std::string exe;
    ASSERT_TRUE(fs_read(launcher, exe));
    std::string_view bundle = embedded_bundle();
    size_t at = exe.find(bundle);
    ASSERT_NE(at, std::string::npos);
    ASSERT_TRUE(bundle_open(bundle));
    // The first entry's flag: after the header, the stream table and its name.
    uint32_t streams = uint32_t(bundle_streams.size());
    size_t name_len = uint8_t(bundle[16 + 24 * streams]) | uint8_t(bundle[17 + 24 * streams]) << 8;
    size_t flag_at = at + 16 + 24 * streams + 2 + name_len;
    exe[flag_at] = char(exe[flag_at] ^ 2);
    std::string other = path_join({app, "other-launcher"});
    ASSERT_TRUE(fs_write(other, exe));
    std::string chmod = "chmod +x '" + other + "'";
    ASSERT_EQ(std::system(chmod.c_str()), 0);
    uint64_t other_id = bundle_identity_of(std::string_view(exe).substr(at, bundle.size()));
    ASSERT_NE(other_id, bundle_identity_of(bundle));

    Launch r = build(other);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(compiled(r), std::make_pair(all_jobs, all_jobs)) << r.out;
    std::string id;
    ASSERT_TRUE(fs_read(path_join({app, "Quillmarsh.build-id"}), id));
    EXPECT_EQ(id.substr(0, 16), fmt("%016x", other_id));

    // This process carries the original bundle: to it the game is stale now.
    paths_set_exe_dir(app);
    build_id_forget();
    EXPECT_TRUE(build_stale());
    paths_set_exe_dir("");
    fs_remove_file(other);
}

}  // namespace
