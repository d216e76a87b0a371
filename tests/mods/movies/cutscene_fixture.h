// A fixture install with movie containers of small pictures, a data folder,
// and the FFmpeg entry the cutscene tasks read.
#pragma once
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/game.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/mod_tasks/cutscenes.h"
#include "tests/support/data_folder.h"
#include "tools/fixture_game/fixture_game.h"

// One cutscene of a container: its frames, picture size and rate.
struct Fixture_Cutscene {
    uint32_t frames, width, height, num, den;
};

inline void put_le32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

// A container whose Bink files are 5000 bytes each.
inline std::string cutscene_wmp(const std::vector<Fixture_Cutscene>& cuts) {
    std::string w = fixture_wmp(std::vector<uint32_t>(cuts.size(), 5000));
    for (size_t i = 0; i < cuts.size(); i++) {
        size_t at = 16 + 5000 * i;
        put_le32(w, at + 8, cuts[i].frames);
        put_le32(w, at + 20, cuts[i].width);
        put_le32(w, at + 24, cuts[i].height);
        put_le32(w, at + 28, cuts[i].num);
        put_le32(w, at + 32, cuts[i].den);
    }
    return w;
}

struct Cutscene_Game {
    Data_Folder data;
    std::string game, movies;

    explicit Cutscene_Game(bool bink = true) {
        Fixture_Options o;
        o.store_root = path_join({data.dir.path, "store"});
        o.bink = bink;
        std::string err;
        EXPECT_TRUE(fixture_write_install(o, &err)) << err;
        game = fixture_game_dir(o);
        movies = path_join({game, "amber_data", "movie"});
        EXPECT_TRUE(fs_make_dirs(movies));
        settings_replace(Settings{});
        settings_edit([&](Settings& s) { s.game_dir = game; });
        game_state_publish(Game_State{});
        game_set_table_reader([](std::string& text) {
            text = fixture_table_text();
            return true;
        });
        ffmpeg("/usr/bin/ffmpeg", true);
    }
    ~Cutscene_Game() {
        fs_fail_under("");
        game_set_table_reader(nullptr);
        convert_set_core_count(0);
        dependency_set(Dep_Kind::FFmpeg, Dependency{});
        settings_replace(Settings{});
        game_state_publish(Game_State{});
    }
    static void ffmpeg(const std::string& path, bool ok) {
        Dependency d;
        d.name = "FFmpeg";
        d.found = path;
        d.ok = ok;
        dependency_set(Dep_Kind::FFmpeg, d);
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        std::string path = path_join({movies, name});
        EXPECT_TRUE(fs_write(path, bytes));
        return path;
    }
    std::string movie(const std::string& name) const { return path_join({movies, name}); }
};

inline bool log_has(const Task& t, const std::string& line) {
    for (const std::string& l : t.log)
        if (l == line) return true;
    return false;
}
