// "--check" end to end: the built launcher, a fixture install found through
// a stand-in ProgramFiles, and the data folder in a temporary folder.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/child_run.h"
#include "launcher/core/settings.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        // Empty lines are left out: a CR LF ends a line and an empty one.
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

TEST(Check_Mode, ReportsTheFixtureInstallAndTheCompilers) {
    Temp_Dir tmp;
    std::string app = path_join({tmp.path, "app"});
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, app, path_base(QM_LAUNCHER_EXE));
    ASSERT_FALSE(exe.empty());
    Fixture_Options o;
    o.store_root = path_join({tmp.path, "pf", "Steam"});
    o.movies = true;
    o.bink = true;
    std::string err;
    ASSERT_TRUE(fixture_write_install(o, &err)) << err;
    std::string game = fixture_game_dir(o);
    std::string local = path_join({tmp.path, "local"});
    std::string home = path_join({tmp.path, "home"});
    ASSERT_TRUE(fs_make_dirs(home));

#ifdef _WIN32
    // Wine sets ProgramFiles afresh for every process it starts, so the
    // launcher is told the folder through its settings there; the search
    // through ProgramFiles is covered in process by the search tests.
    Settings known;
    known.game_dir = game;
    ASSERT_TRUE(fs_make_dirs(path_join({local, "efsg-launcher"})));
    ASSERT_TRUE(fs_write(path_join({local, "efsg-launcher", "settings.txt"}), settings_text(known)));
#endif
    // The variables are set in this process and inherited by the launcher
    // (no shell in between, so the same on both systems).
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"LOCALAPPDATA", "HOME", "ProgramFiles"}) saved.push_back({name, env_is_set(name), env_get(name)});
    env_set("LOCALAPPDATA", local);
    env_set("HOME", home);
    env_set("ProgramFiles", path_join({tmp.path, "pf"}));
    Task t;
    Run_Result r;
    int64_t code = -1;
    bool started = child_run(t, {exe, "--check"}, tmp.path, Output_Mode::Quiet, &r.out, nullptr, 0, &code);
    r.code = static_cast<int>(code);
    for (const Saved& v : saved) env_set(v.name, v.value, !v.set);
    ASSERT_TRUE(started);
    EXPECT_EQ(r.code, 0) << r.out;
    std::vector<std::string> lines = lines_of(r.out);
    EXPECT_TRUE(has_line(lines, "Game: " + game + " (ready)")) << r.out;
    EXPECT_TRUE(has_line(lines, "game ok true, 2 cutscenes to convert, 1 discardable (0.0 GB), 1 kept")) << r.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("options: [-O1, -w, -march=native, ", 0), 0u) << r.out;

    std::string settings;
    ASSERT_TRUE(fs_read(path_join({local, "efsg-launcher", "settings.txt"}), settings));
    EXPECT_NE(settings.find("game_dir " + game + "\n"), std::string::npos) << settings;

    // This machine's Clang, when it has one, is listed and chosen.
    std::string clang = find_program("clang");
    if (!clang.empty()) {
        EXPECT_TRUE(has_line(lines, "C compiler: " + clang)) << r.out;
        EXPECT_TRUE(has_line(lines, "compiler: Clang (" + clang + ") -- chosen")) << r.out;
        EXPECT_NE(settings.find("compiler " + clang + "\n"), std::string::npos) << settings;
    } else {
        for (const std::string& l : lines) EXPECT_NE(l.rfind("compiler: ", 0), 0u) << r.out;
    }
}

}  // namespace
