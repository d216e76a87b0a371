// Shared set-up of the game-search, game-check and toolchain tests: a data
// folder of their own, default settings, the store-client variables pointed
// into a temporary folder, and the identity table of the fixture executable.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/game.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

// Sets variables for the life of the object and puts the old values back.
struct Env_Scope {
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved;
    void set(const std::string& name, const std::string& value, bool unset = false) {
        saved.push_back({name, {env_is_set(name), env_get(name)}});
        env_set(name, value, unset);
    }
    ~Env_Scope() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) env_set(it->first, it->second.second, !it->second.first);
    }
};

struct Discovery_Test : ::testing::Test {
    Temp_Dir tmp;
    Env_Scope env;
    std::string home, program_files;

    void SetUp() override {
        home = path_join({tmp.path, "home"});
        program_files = path_join({tmp.path, "pf"});
        fs_make_dirs(home);
        fs_make_dirs(program_files);
        env.set("LOCALAPPDATA", path_join({tmp.path, "local"}));
        env.set("HOME", home);
        env.set("ProgramFiles", program_files);
        env.set("ProgramFiles(x86)", "", true);
        paths_init();
        paths_set_exe_dir(path_join({tmp.path, "launcher"}));
        settings_replace(Settings{});
        game_set_table_reader([](std::string& text) {
            text = fixture_table_text();
            return true;
        });
    }
    void TearDown() override {
        game_set_table_reader(nullptr);
        paths_set_exe_dir("");
        settings_replace(Settings{});
    }

    // The store root under ProgramFiles, as the search finds it.
    std::string store_root() const { return path_join({program_files, "Steam"}); }

    std::string settings_file() const { return data_path({"settings.txt"}); }
    std::string read_settings_file() const {
        std::string text;
        fs_read(settings_file(), text);
        return text;
    }
};

// The log of a task record as one text, a line break after each line.
inline std::string log_text(Task& t) {
    std::string text;
    for (const std::string& line : task_view(t).log) text += line + "\n";
    return text;
}
