// Starting the built game on its own and watching it: the game-running flag,
// the working folder, the read-back of the options when the game ends, and
// a watcher that cannot be made.
#include <gtest/gtest.h>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/thread.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "road_support.h"
#include "tests/support/poll.h"
#include "tests/support/temp_dir.h"

namespace {

struct Run_Fixture : ::testing::Test {
    Temp_Dir dir;
    std::string app = path_join({dir.path, "app with blank"});
    std::string game = path_join({app, QM_FAKE_GAME});
    Settings saved = settings_copy();

    void SetUp() override {
        env_set("LOCALAPPDATA", path_join({dir.path, "local"}));
        paths_init();
        ASSERT_TRUE(fs_make_dirs(app));
        ASSERT_TRUE(fs_copy_file(beside_test(QM_FAKE_GAME), game));
        paths_set_exe_dir(app);
    }
    void TearDown() override {
        put(path_join({app, "release"}), "");
        poll_until([] { return !game_running(); });
        paths_set_exe_dir("");
        settings_replace(saved);
    }
};

TEST_F(Run_Fixture, BuiltGameIsAFileBesideTheLauncher) {
    EXPECT_EQ(built_exe_path(), "");
    ASSERT_TRUE(fs_make_dirs(path_join({app, built_exe_name})));
    EXPECT_EQ(built_exe_path(), "");   // a folder of that name is no game
    ASSERT_TRUE(fs_remove_dir(path_join({app, built_exe_name})));
    ASSERT_TRUE(put(path_join({app, built_exe_name}), "game"));
    EXPECT_EQ(built_exe_path(), path_join({app, built_exe_name}));
}

TEST_F(Run_Fixture, AProgramThatIsNotThereIsNotStarted) {
    EXPECT_FALSE(run_game(path_join({app, "missing-game"}), app));
    EXPECT_FALSE(run_game(app, app));   // a folder
    EXPECT_FALSE(game_running());
}

TEST_F(Run_Fixture, TheFlagFollowsTheGameAndItsOptionsAreReadBack) {
    settings_edit([](Settings& s) { s.fps = 60; });
    Game_Flag_Watch watch;
    EXPECT_FALSE(game_flag_frame(watch));
    ASSERT_TRUE(run_game(game, app));
    EXPECT_TRUE(game_running());
    ASSERT_TRUE(poll_until([&] { return file_exists(path_join({app, "ran.txt"})); }));
    std::string cwd;
    ASSERT_TRUE(fs_read(path_join({app, "ran.txt"}), cwd));
    EXPECT_EQ(path_base(cwd), "app with blank");   // started in the folder it was given
    EXPECT_FALSE(game_flag_frame(watch));
    EXPECT_TRUE(game_running());   // still waiting for "release"

    ASSERT_TRUE(put(path_join({app, "release"}), ""));
    ASSERT_TRUE(poll_until([] { return !game_running(); }));
    EXPECT_TRUE(game_flag_frame(watch));   // the frame that sees the fall reads the options back
    EXPECT_EQ(settings_copy().fps, 144);
    EXPECT_FALSE(game_flag_frame(watch));
}

// Without a watcher nobody would ever clear the flag: it is cleared at once,
// while the game itself runs on.
TEST_F(Run_Fixture, NoWatcherThreadLeavesTheFlagClear) {
    thread_fail_next(1);
    EXPECT_TRUE(run_game(game, app));
    thread_fail_next(0);
    EXPECT_FALSE(game_running());
    EXPECT_TRUE(poll_until([&] { return file_exists(path_join({app, "ran.txt"})); }));
    // Let the game end before its folder goes.
    ASSERT_TRUE(put(path_join({app, "release"}), ""));
    EXPECT_TRUE(poll_until([&] { return file_exists(path_join({app, "Quillmarsh.cfg"})); }));
    // Windows keeps a folder that is a running program's working folder:
    // it can be removed once the game has ended (at once elsewhere).
    EXPECT_TRUE(poll_until([&] { return fs_remove_tree(app); }));
}

}  // namespace
