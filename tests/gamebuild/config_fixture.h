// A data folder, a launcher folder and fresh settings and game state for one
// test of the game's configuration file.
#pragma once
#include <string>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "tests/support/temp_dir.h"

struct Cfg_Fixture {
    Temp_Dir dir;
    std::string saved_local = env_get("LOCALAPPDATA");
    bool local_was_set = env_is_set("LOCALAPPDATA");
    std::string launcher;   // stands for the launcher's own folder

    Cfg_Fixture() {
        env_set("LOCALAPPDATA", dir.path);
        paths_init();
        launcher = path_join({dir.path, "launcher"});
        fs_make_dirs(launcher);
        paths_set_exe_dir(launcher);
        settings_replace(Settings{});
        game_state_publish(Game_State{});
        cfg_set_core_count(8);
    }
    ~Cfg_Fixture() {
        cfg_set_core_count(0);
        cfg_set_write_hook(nullptr);
        fsr4_set_table_for_tests({});
        fs_fail_under("");
        paths_set_exe_dir("");
        settings_replace(Settings{});
        game_state_publish(Game_State{});
        env_set("LOCALAPPDATA", saved_local, !local_was_set);
    }
    std::string cfg_path() const { return path_join({launcher, cfg_file_name}); }
};
