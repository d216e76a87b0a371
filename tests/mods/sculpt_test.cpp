// Body Sculpting: the state and answers of the sliders, and the model text
// made by running a mod-shaped batch file through the interpreter.
#include <gtest/gtest.h>

#include <functional>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mod_tasks/model_tasks.h"
#include "tests/mods/model_game_fixture.h"
#include "tests/support/data_folder.h"

namespace {

std::string fixture(std::string_view name) {
    std::string text;
    EXPECT_TRUE(fs_read(path_join({env_get("QM_SOURCE_DIR"), "tests", "mods", "fixtures", name}), text)) << name;
    return text;
}

// The Kestrel batch file in the data folder's "mod_src/sculpt", and an
// HD Models+ "Data" folder holding the two Ultimate lists.
struct Sculpt_Mod : Data_Folder {
    std::string data_dir = data_path({"sculpt", "work", "Data"});
    explicit Sculpt_Mod(std::string_view batch = {}) {
        std::string bat = batch.empty() ? fixture("kestrel_sculpt.bat") : std::string(batch);
        EXPECT_TRUE(fs_make_dirs(data_path({"mod_src", "sculpt"})));
        EXPECT_TRUE(fs_write(data_path({"mod_src", "sculpt", "SAGA Kestrel Body Sculpting.bat"}), bat));
        EXPECT_TRUE(fs_make_dirs(data_dir));
        EXPECT_TRUE(fs_write(path_join({data_dir, "X_Kestrel2.txt"}),
                             "; Ultimate Kestrel\r\nMODEL c201\r\n  Mesh_Body 1.0\r\n\tMESH_Hair 0.5\r\n;x\r\nMODEL c001\r\nMesh_Face 1.0"));
        EXPECT_TRUE(fs_write(path_join({data_dir, "x_kestrel_hair2.txt"}), "MODEL c201\nMesh_Hair_Short 1.0\n"));
        EXPECT_TRUE(fs_write(path_join({data_dir, "X_Kestrel1.txt"}), "not read by the batch file"));
    }
};

// The game, HD Models+ with the fake tool and the Kestrel batch file.
bool sculpt_game(Model_Game& g, const std::string& scenario = "input\nmodels c201 c001\n") {
    std::string dir = data_path({"mod_src", "sculpt"});
    return g.make_game() &&
           g.hd_mod(scenario, {{"X_Kestrel2.txt", "MODEL c201\r\n  Mesh_Body 1.0\r\n;x\r\nMODEL c001\r\nMesh_Face 1.0"},
                               {"x_kestrel_hair2.txt", "MODEL c201\nMesh_Hair_Short 1.0\n"},
                               {"X_Kestrel1.txt", "the model list"}}) &&
           fs_make_dirs(dir) && fs_write(path_join({dir, "SAGA_Sculpting.bin"}), "sculpting data") &&
           fs_write(path_join({dir, "SAGA Kestrel Body Sculpting.bat"}), fixture("kestrel_sculpt.bat"));
}

std::string sculpt_work(std::initializer_list<std::string_view> parts) { return work_path("sculpt", parts); }

}  // namespace

TEST(Sculpt, StateFollowsSlidersAndTheHairVariant) {
    Settings s;
    EXPECT_EQ(sculpt_state(s, 0), "");
    s.sculpt[0] = {5, 5, 5, 5, 5, 5, 5, 5};
    EXPECT_EQ(sculpt_state(s, 0), "");
    s.sculpt[0][1] = 3;
    s.sculpt[2][7] = 9;
    EXPECT_EQ(sculpt_state(s, 0), "53555555h");
    EXPECT_EQ(sculpt_state(s, 1), "");
    EXPECT_EQ(sculpt_state(s, 2), "55555559");
    // A "Normal Hair" variant of the first character changes row 0 only.
    s.hd_models[0] = 4;   // "Ultimate, Normal Hair"
    EXPECT_EQ(sculpt_state(s, 0), "53555555n");
    EXPECT_EQ(sculpt_state(s, 2), "55555559");
    std::map<std::string, std::string> answers = sculpt_answers(s, 2);
    EXPECT_EQ(answers["select tarsa's fur color"], "9");
    EXPECT_EQ(answers["hips"], "5");
    EXPECT_EQ(answers["select the kestrel model with the (h)q hair or the (n)ormal hair"], "n");
    EXPECT_EQ(answers.size(), 9u);
}

TEST(Sculpt, ModShapedBatchFileEndsAtModifyModelWithTheModelText) {
    Sculpt_Mod mod;
    Settings s;
    s.sculpt[0] = {7, 3, 0, 5, 9, 1, 0, 2};
    std::map<std::string, std::string> files = sculpt_models(0, mod.data_dir);
    ASSERT_EQ(files.size(), 2u);
    Sculpt_Txt made = sculpt_make_txt(0, sculpt_answers(s, 0), files);
    EXPECT_EQ(made.message, "");
    EXPECT_EQ(made.text,
              "SCULPTING\r\nHips=7\r\nLegs=3\r\nWaist=5\r\nButt=5\r\nBust=9\r\nBiceps=1\r\nArms=5\r\nNeck=2\r\n"
              "MODEL c201\r\nmesh_Body 1.0\r\nmesh_Hair 0.5\r\nMODEL c001\r\nmesh_Face 1.0\r\nMESHES=3\r\n");
    // With a "Normal Hair" variant the file reads the other list.
    s.hd_models[0] = 2;
    made = sculpt_make_txt(0, sculpt_answers(s, 0), files);
    EXPECT_EQ(made.message, "");
    EXPECT_NE(made.text.find("MODEL c201\r\nmesh_Hair_Short 1.0\r\nMESHES=1\r\n"), std::string::npos) << made.text;
}

TEST(Sculpt, MakeTxtFailures) {
    std::string bat = fixture("kestrel_sculpt.bat");
    auto edited = [&](std::string_view from, std::string_view to) {
        std::string t = bat;
        size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    struct Case {
        std::string batch;
        bool remove_list;
        std::string message;
    } cases[] = {
        {edited(":CONTSCULPT", ":START"), false, "SAGA Kestrel Body Sculpting.bat has no :CONTSCULPT"},
        {bat, true,
         "SAGA Kestrel Body Sculpting.bat: the model file x_kestrel2.txt is not there (is HD Models+ 4.1.7 imported?)"},
        {edited("goto ModifyModel", "goto EndBatch"), false,
         "Kestrel's HD Models+ Ultimate model could not be sculpted (its .txt has no SCULPTING line: HD Models+ "
         "older than the mod?)."},
        {edited("call :ask Neck", "call :ask Shoulders"), false,
         "SAGA Kestrel Body Sculpting.bat: a question the launcher does not know: \"shoulders\" (is HD Models+ 4.1.7 "
         "imported?)"},
    };
    for (const Case& c : cases) {
        Sculpt_Mod mod(c.batch);
        if (c.remove_list) {
            EXPECT_TRUE(fs_remove_file(path_join({mod.data_dir, "X_Kestrel2.txt"})));
        }
        Sculpt_Txt made = sculpt_make_txt(0, sculpt_answers(Settings{}, 0), sculpt_models(0, mod.data_dir));
        EXPECT_EQ(made.message, c.message);
        EXPECT_EQ(made.text, "");
    }
    Data_Folder empty;
    EXPECT_EQ(sculpt_make_txt(1, {}, {}).message, "Cannot read SAGA Mirela Body Sculpting.bat (import Body Sculpting again).");
    // A batch file larger than any the mod ships is refused unread: 16 MiB
    // of blank lines would cost a gigabyte as lines.
    Sculpt_Mod huge(bat + std::string(16 << 20, '\n'));
    EXPECT_EQ(sculpt_make_txt(0, sculpt_answers(Settings{}, 0), sculpt_models(0, huge.data_dir)).message,
              "SAGA Kestrel Body Sculpting.bat holds more than 1 MB: not Body Sculpting's batch file (import Body "
              "Sculpting again).");
}

// HD Models+'s Ultimate lists run to many thousand lines: each line is a
// few statements of the file's loop, well within the interpreter's limits.
TEST(Sculpt, LongModelListsAreSculptedWhole) {
    Sculpt_Mod mod;
    for (int n : {12000, 100000}) {
        std::string list;
        int meshes = 0;
        for (int i = 0; i < n; i++) {
            if (i % 50 == 0) {
                list += "MODEL c" + std::to_string(201 + i / 50) + "\r\n";
            } else {
                list += "  Mesh_Part" + std::to_string(i) + " 1.0\r\n";
                meshes++;
            }
        }
        std::map<std::string, std::string> files = {{"x_kestrel2.txt", list}};
        Sculpt_Txt made = sculpt_make_txt(0, sculpt_answers(Settings{}, 0), std::move(files));
        EXPECT_EQ(made.message, "") << n;
        EXPECT_NE(made.text.find("\r\nmesh_Part" + std::to_string(n - 1) + " 1.0\r\n"), std::string::npos) << n;
        EXPECT_NE(made.text.find("\r\nMESHES=" + std::to_string(meshes) + "\r\n"), std::string::npos) << n;
    }
}

TEST(Sculpt, AppliedNeedsTheStateFileAndAllFourOutputs) {
    Data_Folder data;
    auto put = [](const std::string& path, std::string_view text) {
        ASSERT_TRUE(fs_make_dirs(path_dir(path)));
        ASSERT_TRUE(fs_write(path, text));
    };
    put(data_path({"sculpt", "out", "c205.txt"}), " 5555595\n");
    EXPECT_EQ(sculpt_applied(1), "");
    put(sculpt_out_path("c205", ".trb"), "t");
    put(sculpt_out_path("c205", ".imgb"), "i");
    put(sculpt_out_path("c005", ".trb"), "t");
    EXPECT_EQ(sculpt_applied(1), "");
    put(sculpt_out_path("c005", ".imgb"), "i");
    EXPECT_EQ(sculpt_applied(1), "5555595");
    EXPECT_EQ(sculpt_applied(0), "");
    EXPECT_EQ(sculpt_out_path("c005", ".imgb"), data_path({"sculpt", "out", "chr", "pc", "c005", "bin", "c005.win32.imgb"}));
}

TEST(SculptApply, MakesTheChangedCharactersModels) {
    Model_Game g;
    ASSERT_TRUE(sculpt_game(g));
    ASSERT_TRUE(fs_make_dirs(data_path({"sculpt", "out"})));
    ASSERT_TRUE(fs_write(data_path({"sculpt", "out", "c205.txt"}), "1555555"));   // Mirela, now as is
    settings_edit([](Settings& s) { s.sculpt[0] = {7, 3, 0, 5, 9, 1, 0, 2}; });
    sculpt_apply_task(g.task);
    ASSERT_FALSE(g.task.failed.load()) << g.log();
    const std::string work = sculpt_work({});

    EXPECT_EQ(Model_Game::calls("sculpt"), "cwd=" + work + "\narg=Data\\Kestrel_Sculpt.txt\n--\n"
                                           "cwd=" + work + "\narg=Data\\X_Kestrel1.txt\n--\n");
    EXPECT_EQ(Model_Game::inputs("sculpt"),
              "Data\\Kestrel_Sculpt.txt\n"
              "SCULPTING\r\nHips=7\r\nLegs=3\r\nWaist=5\r\nButt=5\r\nBust=9\r\nBiceps=1\r\nArms=5\r\nNeck=2\r\n"
              "MODEL c201\r\nmesh_Body 1.0\r\nMODEL c001\r\nmesh_Face 1.0\r\nMESHES=2\r\n\n--\n"
              "Data\\X_Kestrel1.txt\nthe model list\n--\n");
    EXPECT_EQ(read(sculpt_work({"Data", "SAGA_Sculpting.bin"})), "sculpting data");
    EXPECT_EQ(read(sculpt_out_path("c201", ".imgb")), "c201.win32.imgb from Data\\X_Kestrel1.txt");
    EXPECT_EQ(read(sculpt_out_path("c001", ".trb")), "c001.win32.trb from Data\\X_Kestrel1.txt");
    EXPECT_EQ(read(data_path({"sculpt", "out", "c201.txt"})), "73559152h");
    Settings s = settings_copy();
    EXPECT_EQ(sculpt_applied(0), sculpt_state(s, 0));
    EXPECT_FALSE(exists(data_path({"sculpt", "out", "c205.txt"})));

    // Only the three characters' two models each were taken from the game.
    File_Info info;
    ASSERT_TRUE(fs_stat(sculpt_work({"models", "orig", "chr", "pc", "c205", "bin", "c205.win32.trb"}), info));
    EXPECT_EQ(info.size, 719745u);
    EXPECT_EQ(read(sculpt_work({"models", "orig", "chr", "pc", "c006", "bin", "c006.win32.imgb"})), "c006.imgb");
    EXPECT_FALSE(exists(sculpt_work({"models", "orig", "chr", "pc", "c202"})));
    EXPECT_FALSE(exists(sculpt_work({"models", "orig", "chr", "npc"})));

    EXPECT_EQ(last_line(g.task),
              "Body Sculpting applied to 1 characters (HD Models+'s Ultimate models, sculpted). The game uses them the "
              "next time it starts.");
    EXPECT_TRUE(s.sculpt_on);
    EXPECT_NE(read(data_path({"settings.txt"})).find("\nsculpt_on 1\n"), std::string::npos);
    EXPECT_EQ(g.cfg().rfind("# Quillmarsh's settings", 0), 0u) << g.cfg();
    EXPECT_NE(read(sculpt_work({"sculpt.log"})).find("> EF SAGA HD Models.exe Data\\Kestrel_Sculpt.txt  [" + work + "]\n"),
              std::string::npos);

    // A "Normal Hair" HD Models+ variant makes only the first character
    // differ from what was applied.
    settings_edit([](Settings& live) {
        live.sculpt[2][0] = 4;
        live.hd_models[0] = 2;
    });
    s = settings_copy();
    EXPECT_EQ(sculpt_state(s, 0), "73559152n");
    EXPECT_NE(sculpt_applied(0), sculpt_state(s, 0));
}

TEST(SculptApply, EverySliderAsIsRunsNoTool) {
    Model_Game g;
    ASSERT_TRUE(sculpt_game(g, "exit 3\n"));
    ASSERT_TRUE(fs_make_dirs(data_path({"sculpt", "out"})));
    for (const Sculpt_Character& c : sculpt_characters)
        ASSERT_TRUE(fs_write(data_path({"sculpt", "out", fmt("%s.txt", c.model)}), "1"));
    settings_edit([](Settings& s) { s.sculpt[1] = {5, 5, 5, 5, 5, 5, 5, 5}; });
    sculpt_apply_task(g.task);
    EXPECT_FALSE(g.task.failed.load()) << g.log();
    EXPECT_EQ(Model_Game::calls("sculpt"), "");
    for (const Sculpt_Character& c : sculpt_characters)
        EXPECT_FALSE(exists(data_path({"sculpt", "out", fmt("%s.txt", c.model)}))) << c.name;
    EXPECT_EQ(last_line(g.task), "Every choice is as is: HD Models+'s models (or the game's) are used.");
    EXPECT_TRUE(settings_copy().sculpt_on);
}

TEST(SculptApply, StopsWithItsMessage) {
    // "{work}" in a message is the work folder, "{log}" its log.
    auto remove_data = [](const char* name) {
        return [name](Model_Game&) { fs_remove_file(data_path({"mod_src", "hdmodels", "Data", name})); };
    };
    struct Case {
        std::string name;
        std::function<void(Model_Game&)> change;
        std::string message;
        bool tool_ran;
    } cases[] = {
        {"no game folder", [](Model_Game&) { settings_edit([](Settings& s) { s.game_dir.clear(); }); },
         "Choose the EMBERFALL SAGA folder first (Home).", false},
        {"not imported", [](Model_Game&) { fs_remove_file(data_path({"mod_src", "sculpt", "SAGA_Sculpting.bin"})); },
         "Import Body Sculpting's ZIP first.", false},
        {"HD Models+ not imported",
         [](Model_Game&) {
             fs_remove_file(data_path({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"}));
         },
         "Body Sculpting reshapes HD Models+'s Ultimate models: import HD Models+ (Features & Mods) first.", false},
        {"work folder refused", [](Model_Game&) { fs_fail_under(sculpt_work({})); }, "Cannot make {work}.", false},
        {"sculpting data not copied",
         [](Model_Game&) { fs_fail_under(sculpt_work({"Data", "SAGA_Sculpting.bin"})); },
         "Cannot copy SAGA_Sculpting.bin into {work}.", false},
        {"no file list",
         [](Model_Game& g) {
             g.make_game("", {}, true);
             fs_remove_file(path_join({g.game, "amber_data", "sys", "filelist_scru.win32.bin"}));
         },
         "Cannot read the game's amber_data/sys/filelist_scru.win32.bin.", false},
        {"a model twice", [](Model_Game& g) { g.make_game("", {{"chr/pc/c006/bin/c006.win32.imgb", "again"}}); },
         "The game's amber_scru does not have the main characters' models.", false},
        {"modified model", [](Model_Game& g) { g.make_game("chr/pc/c205/bin/c205.win32.trb"); },
         "The game's chr/pc/c205/bin/c205.win32.trb is not the original one (another mod's model, put into the "
         "game's files?). Body Sculpting starts from the original models: restore the game's files (Steam: Verify "
         "integrity of game files) and Apply again.",
         false},
        {"Ultimate list missing", remove_data("X_Kestrel2.txt"),
         "SAGA Kestrel Body Sculpting.bat: the model file x_kestrel2.txt is not there (is HD Models+ 4.1.7 "
         "imported?)",
         false},
        {"model list missing", remove_data("X_Kestrel1.txt"),
         "HD Models+'s Data/X_Kestrel1.txt is missing: import HD Models+ again.", true},
        {"tool fails", [](Model_Game& g) { g.hd_mod("exit 3\n", {}); },
         "The models tool could not make Kestrel's model (Data\\Kestrel_Sculpt.txt: exit 3). Log: {log}", true},
        {"tool makes no second model", [](Model_Game& g) { g.hd_mod("models c201\n", {}); },
         "The models tool made no c001.win32.trb for Kestrel. Log: {log}", true},
        {"cancelled", [](Model_Game& g) { g.task.cancel.store(1); }, "", false},
    };
    for (const Case& c : cases) {
        Model_Game g;
        ASSERT_TRUE(sculpt_game(g));
        settings_edit([](Settings& s) { s.sculpt[0][4] = 9; });
        c.change(g);
        sculpt_apply_task(g.task);
        fs_fail_under("");
        EXPECT_TRUE(g.task.failed.load()) << c.name;
        if (c.message.empty()) EXPECT_EQ(g.log(), "") << c.name;
        else EXPECT_EQ(last_line(g.task), with_work(c.message, sculpt_work({}), sculpt_work({"sculpt.log"}))) << c.name << "\n" << g.log();
        EXPECT_EQ(Model_Game::calls("sculpt").empty(), !c.tool_ran) << c.name;
        EXPECT_FALSE(exists(data_path({"sculpt", "out", "c201.txt"}))) << c.name;
        EXPECT_FALSE(settings_copy().sculpt_on) << c.name;
        EXPECT_EQ(g.cfg(), "stale\n") << c.name;
    }
}
