// HD Models+: the choice texts, the applied state read back from the
// markers, and the answers text handed to the mod's tool.
#include <gtest/gtest.h>

#include <functional>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mod_tasks/model_tasks.h"
#include "tests/mods/model_game_fixture.h"
#include "tests/support/data_folder.h"

namespace {

void put(const std::string& path, std::string_view text) {
    ASSERT_TRUE(fs_make_dirs(path_dir(path)));
    ASSERT_TRUE(fs_write(path, text));
}

std::string hdm_work(std::initializer_list<std::string_view> parts) { return work_path("hdmodels", parts); }

}  // namespace

TEST(HdModels, AnswerTextIsCrlfWithoutMarkers) {
    const std::string want_shown = "a\r\n b \r\nz\r\n";
    const std::string want_hidden = "a\r\n b \r\nw1\r\nw2\r\nz\r\n";
    for (const char* text : {"::A\na\n b \n::I x\nw1\nw2\n  ::E\nz", "::A\r\na\r\n b \r\n::I x\r\nw1\r\nw2\r\n  ::E\r\nz\r\n"}) {
        EXPECT_EQ(hdm_answer_txt(text, false), want_shown) << text;
        EXPECT_EQ(hdm_answer_txt(text, true), want_hidden) << text;
    }
    EXPECT_EQ(hdm_answer_txt("a\n\n\nb\n", false), "a\r\n\r\n\r\nb\r\n");
    EXPECT_EQ(hdm_answer_txt("", false), "");
}

TEST(HdModels, AsksNamesTheWeaponOnlyForFilesWithWeaponAnswers) {
    Data_Folder data;
    Settings s;
    EXPECT_EQ(hdm_asks(s, 0), "");
    s.hd_models = {3, 1, 0, 0, 0, 0};   // Kestrel "Ultimate", Brannoc "High Quality"
    EXPECT_EQ(hdm_asks(s, 0), "Ultimate");   // files that cannot be read are passed over
    std::string second = data_path({"mod_src", "hdmodels", "Data", "X_Kestrel1.txt"});
    put(second, "x\n::A\n");
    EXPECT_EQ(hdm_asks(s, 0), "Ultimate, weapon shown");
    s.hd_models_hide = true;
    EXPECT_EQ(hdm_asks(s, 0), "Ultimate, weapon hidden");
    EXPECT_EQ(hdm_asks(s, 1), "High Quality");
    // A re-import that changes the file is seen at once.
    put(second, "no weapon answers any more");
    EXPECT_EQ(hdm_asks(s, 0), "Ultimate");
}

TEST(HdModels, AppliedNeedsTheOutputsOfEveryVariantItsTextNames) {
    Data_Folder data;
    std::string marker = data_path({"hdmodels", "out", "kestrel.txt"});
    EXPECT_EQ(hdm_applied(0), "");
    put(marker, "  High Quality, Normal Hair\r\n");
    EXPECT_EQ(hdm_applied(0), "");   // "High Quality" and "... Normal Hair" both match: c201 is missing
    put(hdm_out_path("c201", ".trb"), "t");
    EXPECT_EQ(hdm_applied(0), "");
    put(hdm_out_path("c201", ".imgb"), "i");
    EXPECT_EQ(hdm_applied(0), "High Quality, Normal Hair");
    // "Ultimate" needs c001 as well.
    put(marker, "Ultimate, weapon shown");
    EXPECT_EQ(hdm_applied(0), "");
    ASSERT_TRUE(fs_make_dirs(hdm_out_path("c001", ".trb")));   // a folder is no output
    put(hdm_out_path("c001", ".imgb"), "i");
    EXPECT_EQ(hdm_applied(0), "");
    // A text no variant matches is taken as it stands.
    put(data_path({"hdmodels", "out", "tarsa.txt"}), "Something Else");
    EXPECT_EQ(hdm_applied(5), "Something Else");
    EXPECT_EQ(hdm_out_path("c206", ".imgb"),
              data_path({"hdmodels", "out", "chr", "pc", "c206", "bin", "c206.win32.imgb"}));
}

// Two characters, one of them with weapon answers: the exact runs of the
// tool, what it is given, the outputs and markers, and the settings after;
// then the weapon option switched and one character set back to Original.
TEST(HdModelsApply, BuildsTheChosenModelsFromTheGamesOriginals) {
    Model_Game g;
    ASSERT_TRUE(g.make_game());
    ASSERT_TRUE(g.hd_mod("seen ../out/kestrel.txt\ninput\nmodels c201 c001 c202\n",
                         {{"X_Kestrel2.txt", "::A weapon\r\nbody 1\r\n ::I hide\r\nhide sword\r\n::E\r\nbody 2"},
                          {"X_Kestrel1.txt", "face\n"},
                          {"Brannoc.txt", "coat\r\n"}}));
    settings_edit([](Settings& s) { s.hd_models = {3, 1, 0, 0, 0, 0}; });
    hdm_apply_task(g.task);
    ASSERT_FALSE(g.task.failed.load()) << g.log();
    const std::string work = hdm_work({});

    // The marker of a character is written after its runs, before the next
    // character's.
    EXPECT_EQ(Model_Game::calls("hdmodels"),
              "cwd=" + work + "\narg=Data\\zqr_X_Kestrel2.txt\n--\nseen ../out/kestrel.txt no\n"
              "cwd=" + work + "\narg=Data\\X_Kestrel1.txt\n--\nseen ../out/kestrel.txt no\n"
              "cwd=" + work + "\narg=Data\\Brannoc.txt\n--\nseen ../out/kestrel.txt yes\n");
    EXPECT_EQ(Model_Game::inputs("hdmodels"),
              "Data\\zqr_X_Kestrel2.txt\nbody 1\r\nbody 2\r\n\n--\n"
              "Data\\X_Kestrel1.txt\nface\n\n--\n"
              "Data\\Brannoc.txt\ncoat\r\n\n--\n");
    EXPECT_EQ(read(hdm_out_path("c201", ".trb")), "c201.win32.trb from Data\\X_Kestrel1.txt");
    EXPECT_EQ(read(hdm_out_path("c001", ".imgb")), "c001.win32.imgb from Data\\X_Kestrel1.txt");
    EXPECT_EQ(read(hdm_out_path("c202", ".imgb")), "c202.win32.imgb from Data\\Brannoc.txt");
    EXPECT_EQ(read(data_path({"hdmodels", "out", "kestrel.txt"})), "Ultimate, weapon shown");
    EXPECT_EQ(read(data_path({"hdmodels", "out", "brannoc.txt"})), "High Quality");
    Settings s = settings_copy();
    EXPECT_EQ(hdm_applied(0), hdm_asks(s, 0));
    EXPECT_EQ(hdm_applied(1), hdm_asks(s, 1));

    // The game's character models were copied by their paths; nothing else.
    File_Info info;
    ASSERT_TRUE(fs_stat(hdm_work({"models", "orig", "chr", "pc", "c206", "bin", "c206.win32.imgb"}), info));
    EXPECT_EQ(info.size, 2288372u);
    EXPECT_EQ(read(hdm_work({"models", "orig", "chr", "npc", "n001", "bin", "n001.win32.trb"})), "npc");
    EXPECT_EQ(read(hdm_work({"models", "orig", "chr", "weapon", "w001", "bin", "w001.win32.imgb"})), "weapon");
    EXPECT_FALSE(exists(hdm_work({"models", "orig", "chr", "pc", "c201", "bin", "c201.win32.txt"})));
    EXPECT_FALSE(exists(hdm_work({"models", "orig", "zone"})));

    EXPECT_EQ(last_line(g.task), "HD Models+ applied to 2 characters. The game uses them the next time it starts.");
    EXPECT_TRUE(s.hd_models_on);
    EXPECT_NE(read(data_path({"settings.txt"})).find("\nhd_models_on 1\n"), std::string::npos);
    EXPECT_EQ(g.cfg().rfind("# Quillmarsh's settings", 0), 0u) << g.cfg();
    EXPECT_NE(read(hdm_work({"hdmodels.log"})).find("> EF SAGA HD Models.exe Data\\zqr_X_Kestrel2.txt  [" + work + "]\n"),
              std::string::npos);

    // Hiding the weapon makes Kestrel "changed"; the next Apply hands the
    // tool the hiding answers, and Brannoc, now Original, loses his marker.
    settings_edit([](Settings& live) {
        live.hd_models_hide = true;
        live.hd_models[1] = 0;
    });
    EXPECT_EQ(hdm_asks(settings_copy(), 0), "Ultimate, weapon hidden");
    EXPECT_NE(hdm_applied(0), hdm_asks(settings_copy(), 0));
    Task again;
    hdm_apply_task(again);
    ASSERT_FALSE(again.failed.load()) << last_line(again);
    EXPECT_NE(Model_Game::inputs("hdmodels").find("Data\\zqr_X_Kestrel2.txt\nbody 1\r\nhide sword\r\nbody 2\r\n\n--\n"),
              std::string::npos)
        << Model_Game::inputs("hdmodels");
    EXPECT_EQ(read(data_path({"hdmodels", "out", "kestrel.txt"})), "Ultimate, weapon hidden");
    EXPECT_FALSE(exists(data_path({"hdmodels", "out", "brannoc.txt"})));
    EXPECT_EQ(last_line(again), "HD Models+ applied to 1 characters. The game uses them the next time it starts.");
}

TEST(HdModelsApply, EveryCharacterOriginalRunsNoTool) {
    Model_Game g;
    ASSERT_TRUE(g.make_game());
    ASSERT_TRUE(g.hd_mod("exit 3\n", {}));
    ASSERT_TRUE(fs_make_dirs(data_path({"hdmodels", "out"})));
    for (const Hdm_Character& c : hdm_characters)
        ASSERT_TRUE(fs_write(data_path({"hdmodels", "out", fmt("%s.txt", ascii_lower(c.name))}), "High Quality"));
    hdm_apply_task(g.task);
    EXPECT_FALSE(g.task.failed.load()) << g.log();
    EXPECT_EQ(Model_Game::calls("hdmodels"), "");
    for (const Hdm_Character& c : hdm_characters)
        EXPECT_FALSE(exists(data_path({"hdmodels", "out", fmt("%s.txt", ascii_lower(c.name))}))) << c.name;
    EXPECT_EQ(last_line(g.task), "Every character is Original: the game's own models are used.");
    EXPECT_TRUE(settings_copy().hd_models_on);
}

// Every way the task stops: its message, no marker, no settings change, and
// no tool run before the game's models were found to be the originals.
TEST(HdModelsApply, StopsWithItsMessage) {
    auto sys = [](Model_Game& g, const char* name) { return path_join({g.game, "amber_data", "sys", name}); };
    // "{work}" in a message is the work folder, "{log}" its log.
    struct Case {
        std::string name;
        std::function<void(Model_Game&)> change;
        std::string message;   // the last log line starts with it
        bool tool_ran;
    } cases[] = {
        {"no game folder", [](Model_Game&) { settings_edit([](Settings& s) { s.game_dir.clear(); }); },
         "Choose the EMBERFALL SAGA folder first (Home).", false},
        {"not imported",
         [](Model_Game&) {
             fs_remove_file(data_path({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"}));
         },
         "Import HD Models+'s ZIP first.", false},
        {"no file list", [&](Model_Game& g) {
             g.make_game("", {}, true);
             fs_remove_file(sys(g, "filelist_scru.win32.bin"));
         },
         "Cannot read the game's amber_data/sys/filelist_scru.win32.bin.", false},
        {"not a file list", [&](Model_Game& g) {
             g.make_game("", {}, true);
             fs_write(sys(g, "filelist_scru.win32.bin"), "no list");
         },
         "Cannot read the game's amber_data/sys/filelist_scru.win32.bin.", false},
        {"no archive of the list's letter",
         [&](Model_Game& g) {
             g.make_game("", {}, true);
             fs_rename(sys(g, "filelist_scru.win32.bin"), sys(g, "filelist_scrc.win32.bin"));
             fs_remove_file(sys(g, "amber_scru.win32.bin"));
         },
         "Cannot open the game's amber_scrc.win32.bin.", false},
        {"member past the archive's end", [&](Model_Game& g) {
             g.make_game("", {}, true);
             fs_truncate(sys(g, "amber_scru.win32.bin"), 100);
         },
         "Cannot read chr/pc/c201/bin/c201.win32.trb from the game's amber_scru.", false},
        {"member name leaving the folder", [](Model_Game& g) { g.make_game("", {{"chr/pc/../../../x.trb", "x"}}); },
         "The game's file list names chr/pc/../../../x.trb, which cannot be copied: ", false},
        {"modified model", [](Model_Game& g) { g.make_game("chr/pc/c204/bin/c204.win32.imgb"); },
         "The game's chr/pc/c204/bin/c204.win32.imgb is not the original one (another mod's model, put into the "
         "game's files?). HD Models+ starts from the original models: restore the game's files (Steam: Verify "
         "integrity of game files) and Apply again.",
         false},
        {"answers file missing",
         [](Model_Game&) { fs_remove_file(data_path({"mod_src", "hdmodels", "Data", "Kestrel.txt"})); },
         "The mod's Data/Kestrel.txt is missing: import its ZIP again.", false},
        {"tool fails", [](Model_Game& g) { g.hd_mod("models c201\nexit 3\n", {}); },
         "The models tool could not make Kestrel's High Quality model (Data\\Kestrel.txt: exit 3). Log: {log}", true},
        {"tool makes no model", [](Model_Game& g) { g.hd_mod("models c001\n", {}); },
         "The models tool made no c201.win32.trb for Kestrel. Log: {log}", true},
        {"cancelled while reading the game", [](Model_Game& g) { g.task.cancel.store(1); }, "", false},
    };
    for (const Case& c : cases) {
        Model_Game g;
        ASSERT_TRUE(g.make_game());
        ASSERT_TRUE(g.hd_mod("models c201\n", {{"Kestrel.txt", "hq\n"}}));
        settings_edit([](Settings& s) { s.hd_models[0] = 1; });
        c.change(g);
        hdm_apply_task(g.task);
        EXPECT_TRUE(g.task.failed.load()) << c.name;
        std::string want = with_work(c.message, hdm_work({}), hdm_work({"hdmodels.log"}));
        if (want.empty()) EXPECT_EQ(g.log(), "") << c.name;
        else EXPECT_EQ(last_line(g.task).substr(0, want.size()), want) << c.name << "\n" << g.log();
        EXPECT_EQ(Model_Game::calls("hdmodels").empty(), !c.tool_ran) << c.name;
        EXPECT_FALSE(exists(data_path({"hdmodels", "out", "kestrel.txt"}))) << c.name;
        EXPECT_FALSE(exists(hdm_work({"models", "x.trb"}))) << c.name;
        EXPECT_FALSE(settings_copy().hd_models_on) << c.name;
        EXPECT_EQ(g.cfg(), "stale\n") << c.name;
    }
}
