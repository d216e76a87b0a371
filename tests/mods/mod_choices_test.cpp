// The settings forms of the Hard Mode, HD Models+ and Body Sculpting choices
// and the tests for their imported files.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "tests/support/data_folder.h"

namespace {

struct Mod_Folder : Data_Folder {
    // Makes a file (or, with as_dir, a folder) at the data path.
    void make(std::initializer_list<std::string_view> parts, bool as_dir = false) const {
        std::string p = data_path(parts);
        ASSERT_TRUE(fs_make_dirs(as_dir ? p : path_dir(p)));
        if (!as_dir) {
            ASSERT_TRUE(fs_write(p, "x"));
        }
    }
};

Settings with_everything_set() {
    Settings s;
    s.hard.fill(1);
    s.hd_models.fill(1);
    for (auto& row : s.sculpt) row.fill(7);
    return s;
}

}  // namespace

TEST(HardMode, Parse) {
    using A = std::array<uint8_t, 8>;
    struct Case {
        const char* text;
        A want;
    } cases[] = {
        {"2,1", {2, 1, 0, 0, 0, 0, 0, 0}},
        {"3,9,x", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"", {0, 0, 0, 0, 0, 0, 0, 0}},
        {"2,1,2,1,0,1,0,0", {2, 1, 2, 1, 0, 1, 0, 0}},
        {"2,2,2,2,2,2,2,2", {2, 0, 2, 2, 0, 0, 0, 0}},       // two-choice options stop at 1
        {"1,1,1,1,1,1,1,1,2,2", {1, 1, 1, 1, 1, 1, 1, 1}},   // a ninth piece is ignored
        {" 0x2 , 0b1 ,-1,,1", {2, 1, 0, 0, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Settings s = with_everything_set();
        hard_parse(s, c.text);
        EXPECT_EQ(s.hard, c.want) << c.text;
    }
}

// Each preset, written out here as the mod's presets are, sets all eight
// choices; its text reads back to the same choices.
TEST(HardMode, PresetsSetTheirChoicesAndRoundTripThroughTheText) {
    EXPECT_EQ(hard_text(Settings{}), "0,0,0,0,0,0,0,0");
    struct Case {
        const char* name;
        const char* text;
    } cases[] = {
        {"Custom", "0,0,0,0,0,0,0,0"},
        {"Harder Normal", "1,1,1,0,0,0,0,0"},
        {"Easy Hard", "1,1,1,1,0,0,0,0"},
        {"Hard", "2,1,2,1,0,1,0,0"},
        {"Everything", "2,1,2,2,1,1,1,1"},
    };
    ASSERT_EQ(std::size(cases), size_t(hard_preset_count));
    for (int i = 0; i < hard_preset_count; i++) {
        EXPECT_EQ(hard_presets[i].name, cases[i].name);
        Settings s = with_everything_set();
        hard_apply_preset(s, i);
        EXPECT_EQ(hard_text(s), cases[i].text) << cases[i].name;
        Settings back = with_everything_set();
        hard_parse(back, cases[i].text);
        EXPECT_EQ(back.hard, s.hard) << cases[i].name;
    }
}

TEST(HardMode, Imported) {
    Mod_Folder data;
    EXPECT_FALSE(hard_imported());
    data.make({"mod_src", "hardmode", "EFSAGA_Hard_CTG+50.txt"});
    data.make({"mod_src", "hardmode", "EFSAGA_Hard_Chain600.txt"});
    EXPECT_FALSE(hard_imported());
    data.make({"mod_src", "hardmode", "EFSAGA_Hard_CTG+30.txt"}, true);
    EXPECT_FALSE(hard_imported());
    ASSERT_TRUE(fs_remove_dir(data_path({"mod_src", "hardmode", "EFSAGA_Hard_CTG+30.txt"})));
    data.make({"mod_src", "hardmode", "EFSAGA_Hard_CTG+30.txt"});
    EXPECT_TRUE(hard_imported());
}

TEST(HdModels, Parse) {
    using A = std::array<uint8_t, 6>;
    struct Case {
        const char* text;
        A want;
    } cases[] = {
        {"0,3,0,0,0,2", {0, 3, 0, 0, 0, 2}},
        {"8,6,3,4,4,6", {8, 6, 3, 4, 4, 6}},           // the last variant of each row
        {"9,7,4,5,5,7", {0, 0, 0, 0, 0, 0}},           // one past it
        {"1,2,3,4,4,6,5,5", {1, 2, 3, 4, 4, 6}},       // pieces after the sixth are ignored
        {" 2 ,-1,x,,0x3, 1", {2, 0, 0, 0, 3, 1}},
        {"", {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Settings s = with_everything_set();
        hdm_parse(s, c.text);
        EXPECT_EQ(s.hd_models, c.want) << c.text;
    }
}

TEST(HdModels, AStoredIndexOutOfRangeCountsAsOriginal) {
    Settings s;
    s.hd_models = {9, 3, 200, 4, 5, 6};
    EXPECT_EQ(hdm_choice(s, 0), 0);
    EXPECT_EQ(hdm_choice(s, 1), 3);
    EXPECT_EQ(hdm_choice(s, 4), 0);
    EXPECT_EQ(hdm_text(s), "0,3,0,4,0,6");
    EXPECT_EQ(hdm_text(Settings{}), "0,0,0,0,0,0");
}

TEST(HdModels, Imported) {
    Mod_Folder data;
    EXPECT_FALSE(hdm_imported());
    data.make({"mod_src", "hdmodels", "Data", "Kestrel.txt"});
    data.make({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"}, true);
    EXPECT_FALSE(hdm_imported());
    ASSERT_TRUE(fs_remove_dir(data_path({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"})));
    data.make({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"});
    EXPECT_TRUE(hdm_imported());
}

TEST(Sculpt, ParseAndText) {
    struct Case {
        const char* text;
        const char* want;   // sculpt_text after parsing
    } cases[] = {
        {"9,,12345678x", "95555555,5555555,12345678"},
        {"", "55555555,5555555,55555555"},
        {"55555555,5555555,55555555", "55555555,5555555,55555555"},
        {"1a0 9,98765432,9,1", "15559555,9876543,95555555"},   // a fourth piece is ignored
    };
    for (const Case& c : cases) {
        Settings s = with_everything_set();
        sculpt_parse(s, c.text);
        EXPECT_EQ(sculpt_text(s), c.want) << c.text;
    }

    Settings s = with_everything_set();
    sculpt_parse(s, "9,,12345678x");
    EXPECT_EQ(s.sculpt[0], (std::array<uint8_t, 8>{9, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.sculpt[1], (std::array<uint8_t, 8>{}));
    EXPECT_EQ(s.sculpt[2], (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(sculpt_text_of(s, 0), "95555555");
    EXPECT_EQ(sculpt_text_of(s, 1), "5555555");
    EXPECT_EQ(sculpt_text_of(s, 2), "12345678");

    // Stored bytes outside 1..9 read as 5.
    s.sculpt[0] = {0, 10, 255, 1, 9, 5, 3, 2};
    EXPECT_EQ(sculpt_text_of(s, 0), "55519532");
}

TEST(Sculpt, Imported) {
    Mod_Folder data;
    EXPECT_FALSE(sculpt_imported());
    data.make({"mod_src", "sculpt", "SAGA Kestrel Body Sculpting.bat"});
    data.make({"mod_src", "sculpt", "SAGA_Sculpting.bin"}, true);
    EXPECT_FALSE(sculpt_imported());
    ASSERT_TRUE(fs_remove_dir(data_path({"mod_src", "sculpt", "SAGA_Sculpting.bin"})));
    data.make({"mod_src", "sculpt", "SAGA_Sculpting.bin"});
    EXPECT_TRUE(sculpt_imported());
}
