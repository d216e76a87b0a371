// The launcher itself: "--check" on a fixture install rewrites the game's
// configuration, and a value the game changed from its menus comes back
// into settings.txt at the next start.
#include <gtest/gtest.h>

#include <cstdlib>

#include "launcher/core/format.h"
#include "tests/gamebuild/config_fixture.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

std::string read_file(const std::string& path) {
    std::string data;
    fs_read(path, data);
    return data;
}

// Runs the launcher copy with the data folder under `local`; its exit code.
int run_launcher(const std::string& exe, const std::string& local, const std::string& args, const std::string& out) {
    std::string line = fmt("LOCALAPPDATA='%s' '%s' %s > '%s' 2>&1 < /dev/null", local, exe, args, out);
    int status = std::system(line.c_str());
    return status == -1 ? -1 : (status >> 8) & 0xff;
}

}  // namespace

TEST(CfgLauncher, CheckWritesTheFileAndTheGamesChangesComeBack) {
    Cfg_Fixture f;   // the data folder of this process is the launcher's too
    std::string built = path_join({env_get("QM_BINARY_DIR"), "launcher", "quillmarsh-launcher"});
    ASSERT_TRUE(file_exists(built)) << built;
    // A copy of its own: the file is written beside the executable.
    std::string exe = path_join({f.launcher, "quillmarsh-launcher"});
    ASSERT_TRUE(fs_copy_file(built, exe));
    ASSERT_EQ(std::system(fmt("chmod +x '%s'", exe).c_str()), 0);

    Fixture_Options install;
    install.store_root = path_join({f.dir.path, "store"});
    std::string err;
    ASSERT_TRUE(fixture_write_install(install, &err)) << err;
    std::string game = fixture_game_dir(install);
    ASSERT_TRUE(fs_write(data_path({"settings.txt"}), "settings_version 4\ngame_dir " + game + "\nfps 30\nvol_music 70\n"));
    // The check rewrites the file only when there is one.
    ASSERT_TRUE(fs_write(f.cfg_path(), "# from an earlier build\n"));

    std::string out = path_join({f.dir.path, "out.txt"});
    ASSERT_EQ(run_launcher(exe, f.dir.path, "--check", out), 0) << read_file(out);

    // The file holds the lines of the settings the launcher now has, for an
    // identified copy without cutscenes.
    Settings now;
    load_settings(&now);
    settings_replace(now);
    Game_State checked;
    checked.checked = checked.ok = true;
    checked.edition = "EN";
    game_state_publish(checked);
    cfg_set_core_count(0);
    std::string written = read_file(f.cfg_path());
    EXPECT_EQ(written, cfg_text()) << read_file(out);
    EXPECT_NE(written.find("ZQR_GAME_DIR=" + game + "\n"), std::string::npos);
    EXPECT_NE(written.find("ZQR_FPS=30\n"), std::string::npos);
    EXPECT_NE(written.find("ZQR_VOL_MUSIC=70\n"), std::string::npos);

    // The game changes two options from its menus, and one it does not list.
    std::string game_text = written;
    game_text.replace(game_text.find("ZQR_FPS=30"), 10, "ZQR_FPS=144");
    game_text += "ZQR_FULLSCREEN=1\nZQR_VOL_MUSIC=40\nZQR_MENU_KEYS=ZQR_FPS,ZQR_VOL_MUSIC\n";
    ASSERT_TRUE(fs_write(f.cfg_path(), game_text));
    ASSERT_EQ(run_launcher(exe, f.dir.path, "--check", out), 0) << read_file(out);

    std::string settings = read_file(data_path({"settings.txt"}));
    EXPECT_NE(settings.find("\nfps 144\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("\nvol_music 40\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("\nfullscreen 0\n"), std::string::npos) << settings;
    std::string rewritten = read_file(f.cfg_path());
    EXPECT_EQ(rewritten.find("ZQR_MENU_KEYS"), std::string::npos);
    EXPECT_NE(rewritten.find("ZQR_FPS=144\n"), std::string::npos);
    EXPECT_EQ(rewritten.find("ZQR_FULLSCREEN"), std::string::npos);
}
