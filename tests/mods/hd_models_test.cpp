// HD Models+: the choice texts, the applied state read back from the
// markers, and the answers text handed to the mod's tool.
#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hd_models.h"
#include "tests/support/data_folder.h"

namespace {

void put(const std::string& path, std::string_view text) {
    ASSERT_TRUE(fs_make_dirs(path_dir(path)));
    ASSERT_TRUE(fs_write(path, text));
}

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
