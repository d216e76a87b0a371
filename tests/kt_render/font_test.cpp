#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

#include "engine/kt_render/font.h"
#include "engine/kt_render/fonts/embedded_fonts.h"
#include "engine/kt_render/text.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/log.h"
#include "engine/kt_system/path.h"
#include "tests/support/fake_backend.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> logged;
void capture(Log_Level, std::string_view line) { logged.emplace_back(line); }

struct Fonts : ::testing::Test {
    Renderer r;
    Library lib;
    Log_Sink before = nullptr;
    void SetUp() override {
        draw_list_init(r, fake_backend_make(), 800, 200);
        logged.clear();
        before = log_set_sink(capture);
        font_add_embedded(lib, "noto_sans_regular");
        font_add_embedded(lib, "liberation_sans_bold");
    }
    void TearDown() override {
        log_set_sink(before);
        draw_list_destroy(r);
    }
    Fake_State& fake() { return fake_state(r.backend); }
    // The atlas pixels under a glyph.
    std::vector<uint8_t> glyph_pixels(Font& f, const Glyph& g) {
        Texture_Pixels px = ren_read_texture(r.backend, f.atlas);
        std::vector<uint8_t> out;
        for (int64_t y = g.y; y < g.y + g.height; ++y)
            for (int64_t x = g.x; x < g.x + g.width; ++x) out.push_back(px.pixels[size_t(y * px.width + x)]);
        return out;
    }
};

TEST_F(Fonts, OneEmIsSizeTimesScaleInEveryFace) {
    for (const char* name : {"noto_sans_regular", "liberation_sans_bold"}) {
        Font* f = font_create(lib, r, 1.5f, name, 14);
        ASSERT_NE(f, nullptr) << name;
        Glyph g;
        // A CJK ideograph (from a fallback face) advances by one em.
        ASSERT_TRUE(glyph_of(*f, 0x4E00, g)) << name;
        EXPECT_NEAR(g.advance, 21.f, 1e-3) << name;
        EXPECT_EQ(f->atlas_width, 1024);
        EXPECT_EQ(f->replacement, 63u);
        EXPECT_EQ(f->material, Material::Coverage);
        EXPECT_GT(f->line_height, f->ascent);
        EXPECT_GE(f->ascent, 19) << name;   // about 0.9 to 1.1 em above the baseline
        EXPECT_LE(f->ascent, 23) << name;
        Texture_Pixels atlas = ren_read_texture(r.backend, f->atlas);
        EXPECT_EQ(atlas.width, 1024);
        EXPECT_EQ(atlas.format, Pixel_Format::R8);
        font_destroy(f);
    }
    EXPECT_EQ(fake().textures_destroyed, 2);
    EXPECT_EQ(fake().textures.count, 0u);
}

TEST_F(Fonts, GlyphsArePackedOnShelvesWithAGap) {
    Font* f = font_create(lib, r, 1, "noto_sans_regular", 20);
    ASSERT_NE(f, nullptr);
    Glyph a, b, space;
    ASSERT_TRUE(glyph_of(*f, 'M', a));
    ASSERT_TRUE(glyph_of(*f, 'W', b));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(b.x, a.width + 1);
    EXPECT_EQ(b.y, 0);
    EXPECT_GT(a.width, 0);
    // The atlas holds the glyph's coverage where the glyph says.
    std::vector<uint8_t> px = glyph_pixels(*f, a);
    EXPECT_GT(std::count_if(px.begin(), px.end(), [](uint8_t v) { return v > 200; }), 20);
    // A space has an advance and no atlas area.
    ASSERT_TRUE(glyph_of(*f, ' ', space));
    EXPECT_EQ(space.width, 0);
    EXPECT_EQ(space.height, 0);
    EXPECT_GT(space.advance, 3.f);
    Glyph next;
    ASSERT_TRUE(glyph_of(*f, 'k', next));
    EXPECT_EQ(next.x, b.x + b.width + 1);   // the space took no room
    font_destroy(f);
}

TEST_F(Fonts, AFailedUploadGivesNoGlyphAndIsTriedAgain) {
    Font* f = font_create(lib, r, 1, "noto_sans_regular", 20);
    ASSERT_NE(f, nullptr);
    fake().fail_updates = true;
    Glyph g;
    EXPECT_FALSE(glyph_of(*f, 'x', g));   // "?" cannot be made either
    EXPECT_TRUE(f->glyphs.empty());
    fake().fail_updates = false;
    ASSERT_TRUE(glyph_of(*f, 'x', g));
    EXPECT_EQ(g.code_point, uint32_t('x'));
    EXPECT_EQ(g.x, 0);   // the failed tries took no room
    font_destroy(f);
}

TEST_F(Fonts, KoreanOrderGivesHanTheKoreanShape) {
    // The collection's faces are where the fallback order expects them.
    std::string_view cjk = embedded_font("noto_sans_cjk");
    const char* suffix[4] = {"JP", "TC", "SC", "KR"};
    for (int which = 0; which < 4; ++which) {
        stbtt_fontinfo info;
        const auto* data = reinterpret_cast<const unsigned char*>(cjk.data());
        ASSERT_TRUE(stbtt_InitFont(&info, data, stbtt_GetFontOffsetForIndex(data, embedded_cjk_face(which))));
        int length = 0;
        const char* name = stbtt_GetFontNameString(&info, &length, STBTT_PLATFORM_ID_MICROSOFT,
                                                   STBTT_MS_EID_UNICODE_BMP, STBTT_MS_LANG_ENGLISH, 1);
        ASSERT_NE(name, nullptr);
        std::string family;
        for (int i = 1; i < length; i += 2) family += name[i];   // UTF-16BE, ASCII here
        EXPECT_EQ(family, std::string("Noto Sans CJK ") + suffix[which]);
    }

    const uint32_t blade = 0x5203;   // 刃: drawn apart in the Japanese and Korean faces
    const uint8_t ko[4] = {3, 0, 1, 2}, en[4] = {0, 1, 2, 3}, kr_only[1] = {3};
    Font* korean = font_create(lib, r, 1, "noto_sans_regular", 40, ko);
    Font* english = font_create(lib, r, 1, "noto_sans_regular", 40, en);
    Font* reference = font_create(lib, r, 1, "noto_sans_regular", 40, kr_only);
    ASSERT_TRUE(korean && english && reference);
    Glyph gk, ge, gr;
    ASSERT_TRUE(glyph_of(*korean, blade, gk));
    ASSERT_TRUE(glyph_of(*english, blade, ge));
    ASSERT_TRUE(glyph_of(*reference, blade, gr));
    std::vector<uint8_t> pk = glyph_pixels(*korean, gk), pe = glyph_pixels(*english, ge),
                         pr = glyph_pixels(*reference, gr);
    EXPECT_EQ(pk, pr);
    EXPECT_NE(pk, pe);
    // Latin stays with the main face whatever the order.
    Glyph lk, le;
    ASSERT_TRUE(glyph_of(*korean, 'g', lk));
    ASSERT_TRUE(glyph_of(*english, 'g', le));
    EXPECT_EQ(lk.advance, le.advance);
    EXPECT_EQ(glyph_pixels(*korean, lk), glyph_pixels(*english, le));
    font_destroy(korean);
    font_destroy(english);
    font_destroy(reference);
}

TEST_F(Fonts, AFullAtlasIsReportedOnce) {
    Font* f = font_create(lib, r, 30, "noto_sans_regular", 14);   // 420-pixel em
    ASSERT_NE(f, nullptr);
    int made = 0, refused = 0;
    for (uint32_t cp = 'A'; cp <= 'Z'; ++cp) {
        Glyph g;
        (glyph_of(*f, cp, g) && g.code_point == cp) ? ++made : ++refused;
    }
    EXPECT_GT(made, 4);
    EXPECT_GT(refused, 4);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "ren_ttf: the 1024x1024 glyph atlas is full: glyphs that are not in it yet are not drawn");
    font_destroy(f);
}

TEST_F(Fonts, FontsKeepTheBytesTheyRead) {
    Temp_Dir dir;
    std::string path = path_join({dir.path, "font.ttf"});
    ASSERT_TRUE(fs_write(path, embedded_font("noto_sans_regular")));
    ASSERT_TRUE(font_add_file(lib, "file", path));
    EXPECT_FALSE(font_add_file(lib, "missing", path_join({dir.path, "none.ttf"})));
    EXPECT_EQ(lib.fonts.count("missing"), 0u);

    // Owned bytes replaced while a font reads them: they stay until it goes.
    Font* f = font_create(lib, r, 1, "file", 16);
    ASSERT_NE(f, nullptr);
    std::weak_ptr<const std::string> bytes = lib.fonts.at("file").owned_bytes;
    EXPECT_TRUE(lib.fonts.at("file").owned);
    font_add(lib, "file", embedded_font("liberation_sans_bold"));
    EXPECT_FALSE(lib.fonts.at("file").owned);
    EXPECT_FALSE(bytes.expired());
    Glyph g;
    EXPECT_TRUE(glyph_of(*f, 'Q', g));   // reads the old bytes
    EXPECT_TRUE(glyph_of(*f, 0xAC00, g));
    font_destroy(f);
    EXPECT_TRUE(bytes.expired());

    // Owned bytes without a reader go with their entry.
    ASSERT_TRUE(font_add_file(lib, "file2", path));
    bytes = lib.fonts.at("file2").owned_bytes;
    font_remove(lib, "file2");
    EXPECT_TRUE(bytes.expired());

    // Embedded bytes are never freed: replacing the entry leaves them.
    std::string_view embedded = embedded_font("noto_sans_regular");
    EXPECT_EQ(lib.fonts.at("noto_sans_regular").bytes.data(), embedded.data());
    font_add(lib, "noto_sans_regular", embedded_font("liberation_sans_bold"));
    font_remove(lib, "noto_sans_regular");
    EXPECT_EQ(ttf_head(embedded), 1000.f);
}

TEST_F(Fonts, EmbeddedFontsByName) {
    Library l;
    struct Case {
        std::string_view name;
        bool added;
    };
    const Case cases[] = {
        {"noto_sans_regular", true},   {"liberation_sans_bold", true},
        {"orbitron_bold", true},       {"noto_sans_cjk", false},
        {"noto_sans_regula", false},   {std::string_view("orbitron_bold\0", 14), false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(font_add_embedded(l, c.name), c.added) << c.name;
        EXPECT_EQ(l.fonts.count(std::string(c.name)), c.added ? 1u : 0u) << c.name;
    }
    for (const char* name : {"noto_sans_regular", "liberation_sans_bold", "orbitron_bold"}) {
        Font* f = font_create(l, r, 1, name, 14);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_GT(measure_text(f, "Quillmarsh"), 40) << name;
        font_destroy(f);
    }
}

TEST_F(Fonts, CreationFailures) {
    font_add(lib, "junk", "this is not a font file at all");
    EXPECT_EQ(font_create(lib, r, 1, "nothing by this name", 14), nullptr);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(font_create(lib, r, 1, "junk", 14), nullptr);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "ren_ttf: not a font stb_truetype can read");

    Renderer empty;
    draw_list_init(empty, Backend{}, 100, 100);
    EXPECT_EQ(font_create(lib, empty, 1, "noto_sans_regular", 14), nullptr);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[1], "ren_ttf: the renderer could not make the glyph atlas");
    font_destroy(nullptr);
}

TEST(TtfHead, UnitsPerEmOrZero) {
    std::string noto(embedded_font("noto_sans_regular"));
    // Where the head table's unitsPerEm lies in this file.
    size_t head_at = 0;
    uint32_t tables = uint32_t(uint8_t(noto[4])) << 8 | uint8_t(noto[5]);
    for (uint32_t i = 0; i < tables; ++i) {
        size_t rec = 12 + i * 16;
        if (noto.compare(rec, 4, "head") == 0)
            head_at = size_t(uint8_t(noto[rec + 8])) << 24 | size_t(uint8_t(noto[rec + 9])) << 16 |
                      size_t(uint8_t(noto[rec + 10])) << 8 | uint8_t(noto[rec + 11]);
    }
    ASSERT_GT(head_at, 0u);
    std::string renamed = noto;
    for (uint32_t i = 0; i < tables; ++i)
        if (renamed.compare(12 + i * 16, 4, "head") == 0) renamed[12 + i * 16] = 'H';
    struct Case {
        const char* what;
        std::string bytes;
        float expect;
    };
    const Case cases[] = {
        {"Noto Sans", noto, 1000},
        {"Liberation Sans Bold", std::string(embedded_font("liberation_sans_bold")), 2048},
        {"the CJK collection's first face", std::string(embedded_font("noto_sans_cjk")), 1000},
        {"cut inside unitsPerEm", noto.substr(0, head_at + 19), 0},
        {"cut just after unitsPerEm", noto.substr(0, head_at + 20), 1000},
        {"cut inside the table directory", noto.substr(0, 40), 0},
        {"no head table", renamed, 0},
        {"empty", "", 0},
        {"a collection header only", std::string("ttcf\0\1\0\0\0\0\0\1", 12), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ttf_head(c.bytes), c.expect) << c.what;
}

TEST_F(Fonts, ShadersByName) {
    const uint32_t words[3] = {0x07230203, 0, 0};
    Shader_Desc d{words, 8, 1};
    shader_add(lib, r.backend, "blur", d);
    Handle first = shader_find(lib, "blur");
    EXPECT_NE(first, 0u);
    shader_add(lib, r.backend, "blur", d);   // replaces: the first one is destroyed
    EXPECT_NE(shader_find(lib, "blur"), first);
    EXPECT_EQ(fake().shaders_destroyed, 1);
    shader_add(lib, r.backend, "blur", Shader_Desc{});   // refused: nothing stays under the name
    EXPECT_EQ(shader_find(lib, "blur"), 0u);
    EXPECT_EQ(fake().shaders_destroyed, 2);
    shader_add(lib, r.backend, "neon", d);
    shader_remove(lib, r.backend, "neon");
    shader_remove(lib, r.backend, "neon");
    EXPECT_EQ(shader_find(lib, "neon"), 0u);
    EXPECT_EQ(fake().shaders_destroyed, 3);
    EXPECT_EQ(fake().shaders.count, 0u);
}

}  // namespace
