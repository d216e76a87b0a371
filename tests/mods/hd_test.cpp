// The HD folder, its marker files and the button-icon files, over fixture
// game and data folders.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/buttons.h"
#include "launcher/mods/hd.h"
#include "tests/support/temp_dir.h"

namespace {

struct Hd_Fixture {
    Temp_Dir dir;
    std::string saved_local = env_get("LOCALAPPDATA");
    bool local_was_set = env_is_set("LOCALAPPDATA");
    std::string game, preferred, fallback;

    Hd_Fixture() {
        env_set("LOCALAPPDATA", dir.path);
        paths_init();
        game = path_join({dir.path, "EMBERFALL SAGA"});
        fs_make_dirs(game);
        preferred = path_join({game, "amber_data_hd"});
        fallback = data_path({"hd"});
        set_game(game);
    }
    ~Hd_Fixture() {
        fs_fail_under("");
        settings_replace(Settings{});
        env_set("LOCALAPPDATA", saved_local, !local_was_set);
    }
    static void set_game(const std::string& folder) {
        settings_edit([&](Settings& s) { s.game_dir = folder; });
    }
    static void put(const std::string& path, std::string_view text) {
        fs_make_dirs(path_dir(path));
        fs_write(path, text);
    }
};

}  // namespace

TEST(Hd, MarkerFiles) {
    Hd_Fixture f;
    struct Case { const char* what; const char* file; bool as_folder; bool present; };
    const Case cases[] = {
        {"empty folder", nullptr, false, false},
        {"HD Project marker", "quillmarsh_hd.txt", false, true},
        {"HD Fonts and GUI marker alone", "quillmarsh_hd_gui.txt", false, true},
        {"discard marker alone", "discarded.txt", false, false},
        {"a folder named like the marker", "quillmarsh_hd.txt", true, false},
    };
    for (const Case& c : cases) {
        fs_remove_tree(f.preferred);
        fs_make_dirs(f.preferred);
        if (c.file && c.as_folder) fs_make_dirs(path_join({f.preferred, c.file}));
        else if (c.file) Hd_Fixture::put(path_join({f.preferred, c.file}), "# marker\n");
        EXPECT_EQ(hd_marker_present(f.preferred), c.present) << c.what;
        EXPECT_EQ(hd_dir(), c.present ? f.preferred : "") << c.what;
    }
    EXPECT_FALSE(hd_marker_present(path_join({f.dir.path, "nowhere"})));
}

TEST(Hd, WhichFolderIsTheHdFolder) {
    struct Case { const char* what; bool game_set, preferred_folder, preferred_marker, fallback_marker; int want; };
    // want: 0 none, 1 the game's folder, 2 the data folder's
    const Case cases[] = {
        {"nothing", true, false, false, false, 0},
        {"the game's", true, true, true, false, 1},
        {"both: the game's wins", true, true, true, true, 1},
        {"unmarked game folder: the data folder's", true, true, false, true, 2},
        {"no game folder set", false, true, true, true, 2},
    };
    for (const Case& c : cases) {
        Hd_Fixture f;
        if (!c.game_set) Hd_Fixture::set_game("");
        if (c.preferred_folder) fs_make_dirs(f.preferred);
        if (c.preferred_marker) Hd_Fixture::put(path_join({f.preferred, "quillmarsh_hd.txt"}), "#\n");
        if (c.fallback_marker) Hd_Fixture::put(path_join({f.fallback, "quillmarsh_hd_gui.txt"}), "#\n");
        const std::string want[] = {"", f.preferred, f.fallback};
        EXPECT_EQ(hd_dir(), want[c.want]) << c.what;
    }
}

TEST(Hd, MarkerValues) {
    Hd_Fixture f;
    Hd_Fixture::put(path_join({f.preferred, "quillmarsh_hd.txt"}),
                    "# HD Project, imported by Quillmarsh\r\n"
                    "zip = spaced.zip\r\n"
                    "zip=HDProject.zip\r\n"
                    "  region=c  \r\n"
                    "zones=\n"
                    "models\n"
                    "zip=later.zip\n"
                    "Region=u\n");
    Hd_Fixture::put(path_join({f.preferred, "quillmarsh_hd_gui.txt"}), "# gui\narchive=Fonts.zip\nfiles=1234\n");
    struct Case { const char* key; bool gui; const char* value; };
    const Case cases[] = {
        {"zip", false, "HDProject.zip"},   // "zip " does not match, the first match wins
        {"region", false, "c"},
        {"zones", false, ""},
        {"models", false, ""},
        {"zip_path", false, ""},
        {"archive", false, ""},
        {"archive", true, "Fonts.zip"},
        {"files", true, "1234"},
        {"zip", true, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(hd_info(c.key, c.gui), c.value) << c.key << (c.gui ? " (gui)" : "");
    EXPECT_TRUE(hd_gui_imported());
    EXPECT_FALSE(hd_discarded());
    Hd_Fixture::put(path_join({f.preferred, "discarded.txt"}), "# deleted by Discard Old Assets\n");
    EXPECT_TRUE(hd_discarded());

    // Without an HD folder every query answers "absent".
    fs_remove_tree(f.preferred);
    EXPECT_EQ(hd_info("zip", false), "");
    EXPECT_FALSE(hd_gui_imported());
    EXPECT_FALSE(hd_discarded());
}

TEST(Hd, HdProjectArchive) {
    struct Case { const char* what; const char* marker; bool downloads_folder; const char* file_at; int want; };
    // file_at: where the ZIP exists ("stored", "downloads", "profile" or none); want: 0 none, 1 stored, 2 downloads, 3 profile
    const Case cases[] = {
        {"stored path exists", "zip_path=%STORED%\nzip=HD.zip\n", true, "stored", 1},
        {"stored path gone: no look in Downloads", "zip_path=%STORED%\nzip=HD.zip\n", true, "downloads", 0},
        {"name in Downloads", "zip=HD.zip\n", true, "downloads", 2},
        {"no Downloads folder: the profile", "zip=HD.zip\n", false, "profile", 3},
        {"name not found", "zip=HD.zip\n", true, nullptr, 0},
        {"no name", "region=u\n", true, "downloads", 0},
    };
    for (const Case& c : cases) {
        Hd_Fixture f;
        std::string profile = path_join({f.dir.path, "profile"});
        fs_make_dirs(profile);
        std::string saved_home = env_get("HOME"), saved_profile = env_get("USERPROFILE");
        bool profile_was_set = env_is_set("USERPROFILE");
        env_set("HOME", profile);
        env_set("USERPROFILE", profile);
        std::string downloads = path_join({profile, "Downloads"});
        if (c.downloads_folder) fs_make_dirs(downloads);
        const std::string places[] = {"", path_join({f.dir.path, "kept", "HD.zip"}), path_join({downloads, "HD.zip"}),
                                      path_join({profile, "HD.zip"})};
        std::string marker = c.marker;
        size_t at = marker.find("%STORED%");
        if (at != std::string::npos) marker.replace(at, 8, places[1]);
        Hd_Fixture::put(path_join({f.preferred, "quillmarsh_hd.txt"}), marker);
        std::string at_place = !c.file_at ? "" : std::string(c.file_at) == "stored" ? places[1]
                             : std::string(c.file_at) == "downloads" ? places[2] : places[3];
        if (!at_place.empty()) Hd_Fixture::put(at_place, "PK");
        EXPECT_EQ(hd_zip_find(), places[c.want]) << c.what;
        env_set("HOME", saved_home);
        env_set("USERPROFILE", saved_profile, !profile_was_set);
    }
}

TEST(Hd, OldAssetsAreTheReplacedGameFilesThatExist) {
    Hd_Fixture f;
    Hd_Fixture::put(path_join({f.preferred, "quillmarsh_hd.txt"}), "#\n");
    Hd_Fixture::put(path_join({f.preferred, "sys", "white_img.win32.bin"}), "rebuilt");
    fs_make_dirs(path_join({f.preferred, "sys", "sub"}));
    Hd_Fixture::put(path_join({f.preferred, "zone", "z001.win32.bin"}), "rebuilt");
    Hd_Fixture::put(path_join({f.preferred, "zone", "z999.win32.bin"}), "no counterpart");
    std::string sys_file = path_join({f.game, "amber_data", "sys", "white_img.win32.bin"});
    std::string zone_file = path_join({f.game, "amber_data", "zone", "z001.win32.bin"});
    Hd_Fixture::put(sys_file, std::string(1000, 's'));
    Hd_Fixture::put(zone_file, std::string(234, 'z'));
    fs_make_dirs(path_join({f.game, "amber_data", "sys", "sub"}));   // a folder is no archive

    Hd_Old_Assets old = hd_old_assets();
    ASSERT_EQ(old.list.size(), 2u);
    EXPECT_EQ(old.list[0].path, sys_file);
    EXPECT_EQ(old.list[0].size, 1000);
    EXPECT_EQ(old.list[1].path, zone_file);
    EXPECT_EQ(old.list[1].size, 234);
    EXPECT_EQ(old.total, 1234);

    Hd_Fixture::set_game("");
    EXPECT_TRUE(hd_old_assets().list.empty());
}

TEST(Hd, ImportTargetFollowsWhetherTheGameFolderIsWritable) {
    Hd_Fixture f;
    std::string probe = path_join({f.game, "quillmarsh_hd_probe.tmp"});
    Hd_Target target = hd_target_dir();
    EXPECT_EQ(target.hd_dir, f.preferred);
    EXPECT_EQ(target.root, f.game);
    EXPECT_FALSE(file_exists(probe));

    fs_fail_under(f.game);
    target = hd_target_dir();
    EXPECT_EQ(target.hd_dir, f.fallback);
    EXPECT_EQ(target.root, data_dir());
    fs_fail_under("");
    EXPECT_FALSE(file_exists(probe));
}

TEST(Hd, WantedMembersAndClassFolders) {
    struct Member { const char* name; bool wanted; };
    const Member members[] = {
        {"textures/ui/a.dds", true}, {"Data/x.bin", true},   {"SUPPORTFILES/tool.exe", true},
        {"textures", false},         {"readme.txt", false},  {"sub/textures/a.dds", false},
        {"datafile.bin", false},
    };
    for (const Member& m : members) EXPECT_EQ(hd_zip_wanted(m.name), m.wanted) << m.name;

    struct Code { const char* code; const char* folder; };
    const Code codes[] = {{"F", "fa"}, {"M", "mon"}, {"N", "npc"}, {"P", "pc"}, {"S", "summon"}, {"W", "weapon"},
                          {"PC", nullptr}, {"", nullptr}, {"p", nullptr}, {"X", nullptr}};
    for (const Code& c : codes) {
        std::string folder = "unchanged";
        EXPECT_EQ(hd_class_dir(c.code, folder), c.folder != nullptr) << c.code;
        EXPECT_EQ(folder, c.folder ? c.folder : "unchanged") << c.code;
    }
}

TEST(Hd, CleaningAWorkFolderKeepsOnlyTheWantedMembers) {
    Temp_Dir tmp;
    std::string work = path_join({tmp.path, "work"});
    std::string outside = path_join({tmp.path, "outside"});
    Hd_Fixture::put(path_join({outside, "keep.dds"}), "k");
    struct File { const char* rel; bool stays; };
    const File files[] = {
        {"Textures/UI/a.dds", true},        // kept, any case
        {"Textures/UI/old.dds", false},     // not in the set
        {"data/x.bin", true},
        {"SupportFiles/efsgtool.exe", true},
        {"SupportFiles/readme.txt", false},
        {"readme.txt", false},              // not below a wanted folder
        {"extras/textures/a.dds", false},   // a wanted name one level too deep
    };
    for (const File& f : files) Hd_Fixture::put(path_join({work, f.rel}), "x");
    bool links = fs_make_link(outside, path_join({work, "textures", "linked"}), true) &&
                 fs_make_link(outside, path_join({work, "other"}), true);
    Keep_Set keep{{"textures/ui/a.dds", true}, {"data/x.bin", true}, {"supportfiles/efsgtool.exe", true},
                  {"readme.txt", true}, {"extras/textures/a.dds", true}, {"textures/linked/keep.dds", true}};

    hd_clean_dir(work, keep);
    for (const File& f : files) EXPECT_EQ(file_exists(path_join({work, f.rel})), f.stays) << f.rel;
    EXPECT_FALSE(fs_is_dir(path_join({work, "extras"})));
    EXPECT_TRUE(fs_is_dir(path_join({work, "Textures", "UI"})));
    if (links) {
        File_Info info;
        EXPECT_FALSE(fs_stat(path_join({work, "other"}), info) && info.exists);
    }
    std::string kept;
    EXPECT_TRUE(fs_read(path_join({outside, "keep.dds"}), kept));   // never followed
    EXPECT_EQ(kept, "k");
    hd_clean_dir(path_join({tmp.path, "missing"}), keep);           // nothing to do
}

TEST(Hd, ButtonIconsNeedBothFiles) {
    struct Case { const char* what; bool ps, xb, xb_folder; bool present; };
    const Case cases[] = {
        {"both", true, true, false, true},
        {"PlayStation only", true, false, false, false},
        {"Xbox only", false, true, false, false},
        {"a folder in place of one", true, false, true, false},
    };
    for (const Case& c : cases) {
        Hd_Fixture f;
        std::string icons = data_path({"button_icons"});
        if (c.ps) Hd_Fixture::put(path_join({icons, "button_ps.dds"}), "DDS ");
        if (c.xb) Hd_Fixture::put(path_join({icons, "button_xb.dds"}), "DDS ");
        if (c.xb_folder) fs_make_dirs(path_join({icons, "button_xb.dds"}));
        EXPECT_EQ(bb_present(), c.present) << c.what;
    }
}

// What a swap that stopped between two of its renames leaves, settled from
// the disk alone.
TEST(Hd, SwapStoppedHalfWayIsSettled) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> before;   // relative path, content
        std::vector<std::pair<std::string, std::string>> after;
    };
    const Case cases[] = {
        {"stopped between the two renames: the old folder goes back",
         {{"hd.old/a", "old"}, {"hd.old/hd_textures/t", "gui"}},
         {{"hd/a", "old"}, {"hd/hd_textures/t", "gui"}}},
        {"stopped before the carrying: the textures and marker go across, the old folder goes",
         {{"hd/a", "new"}, {"hd.old/a", "old"}, {"hd.old/hd_textures/t", "gui"}, {"hd.old/quillmarsh_hd_gui.txt", "m"}},
         {{"hd/a", "new"}, {"hd/hd_textures/t", "gui"}, {"hd/quillmarsh_hd_gui.txt", "m"}}},
        {"stopped after the textures went across: the marker follows",
         {{"hd/a", "new"}, {"hd/hd_textures/t", "gui"}, {"hd.old/a", "old"}, {"hd.old/quillmarsh_hd_gui.txt", "m"}},
         {{"hd/a", "new"}, {"hd/hd_textures/t", "gui"}, {"hd/quillmarsh_hd_gui.txt", "m"}}},
        {"the new folder's own textures win",
         {{"hd/hd_textures/t", "new gui"}, {"hd.old/hd_textures/t", "old gui"}},
         {{"hd/hd_textures/t", "new gui"}}},
        {"no backup: nothing to do", {{"hd/a", "new"}}, {{"hd/a", "new"}}},
    };
    for (const Case& c : cases) {
        Temp_Dir tmp;
        for (const auto& [rel, text] : c.before) Hd_Fixture::put(path_join({tmp.path, rel}), text);
        EXPECT_TRUE(hd_swap_settle(path_join({tmp.path, "hd"}), hd_gui_carry)) << c.what;
        std::vector<std::pair<std::string, std::string>> got;
        for (const char* top : {"hd", "hd.old"}) {
            std::vector<std::string> stack{top};
            while (!stack.empty()) {
                std::string rel = stack.back();
                stack.pop_back();
                std::vector<Dir_Entry> entries;
                fs_list(path_join({tmp.path, rel}), entries);
                for (const Dir_Entry& e : entries) {
                    std::string r = rel + "/" + e.name;
                    std::string text;
                    if (e.is_dir) stack.push_back(r);
                    else if (fs_read(path_join({tmp.path, r}), text)) got.push_back({r, text});
                }
            }
        }
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.after) << c.what;
    }
}
