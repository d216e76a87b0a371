// Lays out a line in four scripts, paints it with the in-memory backend and
// writes the frame and the glyph atlas as PNG files under the build folder
// (screenshots/), then checks the picture at known places.
#include <gtest/gtest.h>

#include <string>

#include "engine/kt_render/text.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "tests/support/fake_backend.h"

namespace {

TEST(TextPicture, FourScriptsFromOneAtlas) {
    Renderer r;
    draw_list_init(r, fake_backend_make(), 480, 200);
    Library lib;
    font_add_embedded(lib, "noto_sans_regular");
    const uint8_t ko[4] = {3, 0, 1, 2};
    Font* font = font_create(lib, r, 1, "noto_sans_regular", 24, ko);
    ASSERT_NE(font, nullptr);

    const char* lines[4] = {
        "Quillmarsh builds the game",   // Latin
        "Собрать игру",                 // Cyrillic
        "ゲームをビルドする",             // Japanese
        "게임을 빌드합니다",              // Korean
    };
    const uint32_t background = 0xFFF3F3F3, ink = colour_rgb(0x005FB8);
    Draw_List& dl = r.draw_list;
    draw_list_begin_frame(dl, background);
    int widths[4];
    for (int i = 0; i < 4; ++i) {
        widths[i] = measure_text(font, lines[i]);
        draw_text(dl, font, lines[i], 10, 10 + i * 45, ink);
    }
    EXPECT_EQ(dl.commands.size(), 1u);   // every glyph from one atlas, one state
    ren_render(r.backend, dl);
    Fake_State& s = fake_state(r.backend);

    std::string dir = env_get("QM_BINARY_DIR");
    if (dir.empty()) dir = ".";
    dir = path_join({dir, "screenshots"});
    ASSERT_TRUE(fs_make_dirs(dir));
    ASSERT_TRUE(write_png(path_join({dir, "text_four_scripts.png"}), s.frame_width, s.frame_height, 4, s.frame.data()));
    Texture_Pixels atlas = ren_read_texture(r.backend, font->atlas);
    ASSERT_EQ(atlas.pixels.size(), 1024u * 1024u);
    ASSERT_TRUE(write_png(path_join({dir, "glyph_atlas.png"}), 1024, 1024, 1, atlas.pixels.data()));

    auto pixel = [&](int x, int y) {
        const uint8_t* p = &s.frame[(size_t(y) * size_t(s.frame_width) + size_t(x)) * 4];
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    for (int i = 0; i < 4; ++i) {
        int top = 10 + i * 45, bottom = top + font->line_height;
        int inked = 0, full = 0, outside = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < s.frame_width; ++x) {
                uint32_t p = pixel(x, y);
                bool in_line = x >= 10 && x < 10 + widths[i] + 2;
                if (p != background) (in_line ? inked : outside)++;
                if (p == ink) ++full;
            }
        EXPECT_GT(inked, 150) << lines[i];   // the line is drawn where measured
        EXPECT_GT(full, 20) << lines[i];     // with glyph cores in the ink colour itself
        EXPECT_EQ(outside, 0) << lines[i];
        EXPECT_GT(widths[i], 120) << lines[i];
    }
    // Nothing between the lines' boxes but the background.
    EXPECT_EQ(pixel(5, 5), background);
    EXPECT_EQ(pixel(470, 190), background);

    font_destroy(font);
    draw_list_destroy(r);
}

}  // namespace
