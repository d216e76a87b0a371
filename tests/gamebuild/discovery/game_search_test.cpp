// Finding the game through the store client's files: the roots, the
// libraries of libraryfolders.vdf, the two passes of the search, and the
// app manifest's installdir.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/gamebuild/game_state.h"
#include "tests/gamebuild/discovery/discovery_fixture.h"

namespace {

struct Game_Search_Test : Discovery_Test {
    void SetUp() override {
        Discovery_Test::SetUp();
        // No compiler or FFmpeg to find: the toolchain half of the search
        // then ends at once.
        std::string empty = path_join({tmp.path, "empty-path"});
        fs_make_dirs(empty);
        env.set("PATH", empty);
    }
    std::string library(const std::string& name) { return path_join({tmp.path, name}); }
    // An install in `lib` under `folder`; the library's own vdf lists `more`.
    std::string install_in(const std::string& lib, const std::string& folder, const std::vector<std::string>& more = {}) {
        Fixture_Options o;
        o.store_root = lib;
        o.folder = folder;
        o.libraries = more;
        std::string err;
        EXPECT_TRUE(fixture_write_install(o, &err)) << err;
        return fixture_game_dir(o);
    }
    void write_vdf(const std::string& root, const std::vector<std::string>& libs) {
        std::string text = "\"libraryfolders\"\n{\n";
        for (const std::string& l : libs) {
            std::string escaped;
            for (char c : l) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
            text += "\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + escaped + "\"\n\t}\n";
        }
        text += "}\n";
        ASSERT_TRUE(fs_make_dirs(path_join({root, "steamapps"})));
        ASSERT_TRUE(fs_write(path_join({root, "steamapps", "libraryfolders.vdf"}), text));
    }
};

TEST_F(Game_Search_Test, RootsComeInTheirOrder) {
    env.set("ProgramFiles(x86)", path_join({tmp.path, "pf86"}));
    std::vector<std::string> want;
#ifndef _WIN32
    // The store client's own folder in the home folder stands for its registry value.
    std::string client = path_join({home, ".local", "share", "Steam"});
    ASSERT_TRUE(fs_make_dirs(client));
    want.push_back(client);
#endif
    want.push_back(path_join({tmp.path, "pf86", "Steam"}));
    want.push_back(path_join({program_files, "Steam"}));
    EXPECT_EQ(steam_roots(), want);

    env.set("ProgramFiles(x86)", "");
    env.set("ProgramFiles", "", true);
    want.resize(want.size() - 2);
    EXPECT_EQ(steam_roots(), want);
}

TEST_F(Game_Search_Test, LibraryLinesOfTheVdf) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::string> libs;
    };
    const Case cases[] = {
        {"doubled backslashes", "\t\t\"path\"\t\t\"D:\\\\Games\\\\Store\"\r\n", {"D:\\Games\\Store"}},
        {"unquoted value", "\"path\"  D:\\Games\n", {}},
        {"a value of one character", "\"path\" \"\n", {}},
        {"an empty value", "\"path\" \"\"\n", {""}},
        {"other keys and nesting", "\"libraryfolders\"\n{\n\"0\"\n{\n\"label\" \"x\"\n\"path\" \"/a\"\n}\n\"path\" \"/b\"\n}\n",
         {"/a", "/b"}},
        {"the key in another case", "\"Path\" \"/a\"\n", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        vdf_library_paths(c.text, got);
        EXPECT_EQ(got, c.libs) << c.name;
    }
}

TEST_F(Game_Search_Test, EachRootIsFollowedByItsLibraries) {
    std::string root = store_root();
    write_vdf(root, {library("lib1"), root, library("lib2")});
    EXPECT_EQ(steam_libraries(), (std::vector<std::string>{root, library("lib1"), root, library("lib2")}));
}

TEST_F(Game_Search_Test, FindsTheGameInAnotherLibraryAndSavesIt) {
    write_vdf(store_root(), {store_root(), library("lib2")});
    std::string dir = install_in(library("lib2"), "EMBERFALL SAGA");
    Task t;
    find_game(t);
    EXPECT_EQ(settings_copy().game_dir, dir);
    EXPECT_NE(read_settings_file().find("game_dir " + dir + "\n"), std::string::npos);
    Game_State g = game_state_copy();
    EXPECT_TRUE(g.ok);
    EXPECT_EQ(g.edition, "EN");
    EXPECT_NE(log_text(t).find("Game: " + dir + " (ready)\n"), std::string::npos);
    EXPECT_EQ(task_view(t).status, "Checked what is installed");
}

TEST_F(Game_Search_Test, TheSecondPassFindsARenamedInstallOnlyWhenTheFirstFindsNothing) {
    // lib1 (listed first) holds the game under another name, lib2 under its own.
    write_vdf(store_root(), {library("lib1"), library("lib2")});
    std::string renamed = install_in(library("lib1"), "EF SAGA (old copy)");
    std::string named = install_in(library("lib2"), "EMBERFALL SAGA");
    Task t;
    find_game(t);
    EXPECT_EQ(settings_copy().game_dir, named);

    // Without the named install, the renamed one is found.
    ASSERT_TRUE(fs_remove_tree(named));
    settings_edit([](Settings& s) { s.game_dir.clear(); });
    Task again;
    find_game(again);
    EXPECT_EQ(settings_copy().game_dir, renamed);
}

TEST_F(Game_Search_Test, AValidSavedFolderIsKeptWithoutSearching) {
    write_vdf(store_root(), {store_root()});
    install_in(store_root(), "EMBERFALL SAGA");
    std::string mine = install_in(library("elsewhere"), "My Copy");
    settings_edit([&](Settings& s) { s.game_dir = mine; });
    fs_remove_file(settings_file());
    Task t;
    find_game(t);
    EXPECT_EQ(settings_copy().game_dir, mine);
    EXPECT_FALSE(file_exists(settings_file()));
    EXPECT_TRUE(game_state_copy().ok);
}

TEST_F(Game_Search_Test, NothingFoundKeepsTheOldFolder) {
    std::string gone = path_join({tmp.path, "gone"});
    settings_edit([&](Settings& s) { s.game_dir = gone; });
    Task t;
    find_game(t);
    EXPECT_EQ(settings_copy().game_dir, gone);
    EXPECT_EQ(game_state_copy().reason, "that folder has no amber_data/prog/win/bin/efsagaimg.exe");
    EXPECT_FALSE(game_state_copy().ok);
}

TEST_F(Game_Search_Test, InstalldirOfAManifest) {
    struct Case {
        const char* name;
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        {"tabs around the value", "\"AppState\"\n{\n\t\"installdir\"\t\t\"EMBERFALL SAGA\"\n}\n", "EMBERFALL SAGA"},
        {"doubled backslash kept", "\"installdir\" \"A\\\\B\"\r\n", "A\\\\B"},
        {"a bad line, then a good one", "\"installdir\" EMBERFALL\n\"installdir\" \"x\n\"installdir\" \"Late\"\n", "Late"},
        {"no such key", "\"name\" \"EMBERFALL SAGA\"\n", ""},
        {"an empty value", "\"installdir\" \"\"\n", ""},
    };
    for (const Case& c : cases) {
        std::string path = path_join({tmp.path, "appmanifest_1.acf"});
        ASSERT_TRUE(fs_write(path, c.text));
        EXPECT_EQ(installdir(path), c.value) << c.name;
    }
    EXPECT_EQ(installdir(path_join({tmp.path, "missing.acf"})), "");
}

}  // namespace
