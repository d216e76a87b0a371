// Body Sculpting: the state and answers of the sliders, and the model text
// made by running a mod-shaped batch file through the interpreter.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
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
