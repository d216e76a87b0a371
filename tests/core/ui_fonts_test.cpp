#include <gtest/gtest.h>

#include <string>

#include "engine/kt_render/fonts/embedded_fonts.h"
#include "engine/kt_render/text.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "launcher/core/ui_fonts.h"
#include "tests/support/fake_backend.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(StartupFonts, SystemFontsAreChosenOneByOne) {
    struct Case {
        const char* what;
        bool regular_file, bold_file;
        const char* regular;
        const char* bold;
    };
    const Case cases[] = {
        {"both system fonts", true, true, "segoe", "segoe_sb"},
        {"only the regular one", true, false, "segoe", "liberation_sans_bold"},
        {"only the semibold one", false, true, "noto_sans_regular", "segoe_sb"},
        {"no system fonts", false, false, "noto_sans_regular", "liberation_sans_bold"},
    };
    for (const Case& c : cases) {
        Temp_Dir windir;
        std::string fonts = path_join({windir.path, "Fonts"});
        ASSERT_TRUE(fs_make_dirs(fonts));
        if (c.regular_file) {
            ASSERT_TRUE(fs_write(path_join({fonts, "segoeui.ttf"}), embedded_font("noto_sans_regular")));
        }
        if (c.bold_file) {
            ASSERT_TRUE(fs_write(path_join({fonts, "seguisb.ttf"}), embedded_font("orbitron_bold")));
        }
        Library lib;
        Ui_Font_Names names = add_startup_fonts(lib, windir.path);
        EXPECT_EQ(names.regular, c.regular) << c.what;
        EXPECT_EQ(names.bold, c.bold) << c.what;
        EXPECT_EQ(lib.fonts.count("noto_sans_regular"), 1u) << c.what;
        EXPECT_EQ(lib.fonts.count("liberation_sans_bold"), 1u) << c.what;
        EXPECT_EQ(lib.fonts.count("segoe"), c.regular_file ? 1u : 0u) << c.what;
        if (c.regular_file) {
            EXPECT_TRUE(lib.fonts.at("segoe").owned) << c.what;
        }
    }
}

TEST(UiFonts, FourSizesRemadeAtEachScale) {
    Renderer r;
    draw_list_init(r, fake_backend_make(), 640, 480);
    Library lib;
    Ui_Font_Names names = add_startup_fonts(lib, "");
    Ui_Fonts fonts;
    const uint8_t* ko = language_table[4].cjk_order.data();
    ASSERT_EQ(language_table[4].code, "ko");
    for (float scale : {1.0f, 1.5f}) {
        ui_fonts_load(fonts, lib, r, names, scale, {ko, 4});
        struct Want {
            Font* font;
            float em;
        };
        const Want want[4] = {{fonts.regular, 14}, {fonts.small, 12}, {fonts.bold, 14}, {fonts.heading, 20}};
        for (const Want& w : want) {
            ASSERT_NE(w.font, nullptr);
            Glyph g;
            ASSERT_TRUE(glyph_of(*w.font, 0x4E00, g));   // 一: one em wide
            EXPECT_NEAR(g.advance, w.em * scale, 1e-3);
        }
        EXPECT_EQ(fake_state(r.backend).textures.count, 4u);   // the earlier four are gone
    }
    ui_fonts_destroy(fonts);
    EXPECT_EQ(fake_state(r.backend).textures.count, 0u);
    EXPECT_EQ(fonts.heading, nullptr);
    draw_list_destroy(r);
}

}  // namespace
