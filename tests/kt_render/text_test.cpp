#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/kt_render/text.h"
#include "tests/support/fake_backend.h"

namespace {

TEST(Utf8, DecodesValidSequencesAndReplacesTheRest) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<uint32_t> expect;
    };
    const Case cases[] = {
        {"ASCII", "Az", {'A', 'z'}},
        {"two bytes", "\xC3\xA9", {0xE9}},
        {"three bytes", "\xE6\x97\xA5", {0x65E5}},
        {"four bytes", "\xF0\x9F\x98\x80", {0x1F600}},
        {"highest code point", "\xF4\x8F\xBF\xBF", {0x10FFFF}},
        {"0xFF", "\xFF" "a", {0xFFFD, 'a'}},
        {"lone continuation", "\x80", {0xFFFD}},
        {"overlong two bytes", "\xC0\x80", {0xFFFD, 0xFFFD}},
        {"overlong three bytes", "\xE0\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
        {"surrogate", "\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"cut short at the end", "a\xE6\x97", {'a', 0xFFFD, 0xFFFD}},
        {"bad continuation resumes at the next byte", "\xE6" "A", {0xFFFD, 'A'}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> got;
        for (size_t pos = 0; pos < c.bytes.size();) got.push_back(utf8_next(c.bytes, pos));
        EXPECT_EQ(got, c.expect) << c.what;
    }
}

// Draws the text alone and returns the quads' top-left corners.
struct Laid {
    std::vector<std::pair<float, float>> corners;
    size_t commands = 0;
};

struct Text : ::testing::Test {
    Renderer r;
    Library lib;
    Font* font = nullptr;
    void SetUp() override {
        draw_list_init(r, fake_backend_make(), 800, 200);
        font_add_embedded(lib, "noto_sans_regular");
        font = font_create(lib, r, 1, "noto_sans_regular", 20);
        ASSERT_NE(font, nullptr);
    }
    void TearDown() override {
        font_destroy(font);
        draw_list_destroy(r);
    }
    Laid lay(std::string_view text, int x = 10, int y = 10) {
        draw_list_begin_frame(r.draw_list, 0);
        draw_text(r.draw_list, font, text, x, y, 0xFF000000);
        Laid out;
        for (size_t i = 0; i < r.draw_list.vertices.size(); i += 4)
            out.corners.emplace_back(r.draw_list.vertices[i].position[0], r.draw_list.vertices[i].position[1]);
        out.commands = r.draw_list.commands.size();
        return out;
    }
    Glyph glyph(uint32_t cp) {
        Glyph g;
        EXPECT_TRUE(glyph_of(*font, cp, g));
        return g;
    }
};

TEST_F(Text, GlyphQuadsShareOneCommandAndSampleTheirAtlasPlace) {
    Laid l = lay("Hi");
    ASSERT_EQ(l.corners.size(), 2u);
    EXPECT_EQ(l.commands, 1u);
    const Draw_Command& c = r.draw_list.commands[0];
    EXPECT_EQ(c.texture, font->atlas);
    EXPECT_EQ(c.material, Material::Coverage);
    Glyph h = glyph('H'), i = glyph('i');
    const Vertex* v = r.draw_list.vertices.data();
    EXPECT_EQ(v[0].position[0], float(10 + h.x_offset));
    EXPECT_EQ(v[0].position[1], float(10 + h.y_offset));
    EXPECT_EQ(v[2].position[0] - v[0].position[0], float(h.width));
    EXPECT_EQ(v[2].position[1] - v[0].position[1], float(h.height));
    EXPECT_EQ(v[0].uv[0], float(h.x) / 1024);
    EXPECT_EQ(v[2].uv[1], float(h.y + h.height) / 1024);
    float pen = 10 + h.advance + font->kerning(*font, 'H', 'i');
    EXPECT_EQ(v[4].position[0], float(std::lround(pen) + i.x_offset));
    EXPECT_EQ(v[0].colour, 0xFF000000u);
}

TEST_F(Text, LayoutCases) {
    Glyph a = glyph('A'), v = glyph('V'), q = glyph('?');
    float kern = font->kerning(*font, 'A', 'V');
    ASSERT_LT(kern, -0.5f);   // this pair kerns in Noto Sans
    auto left = [](float pen, const Glyph& g) { return float(std::lround(pen) + g.x_offset); };
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::pair<float, float>> corners;
    };
    const float line2 = float(10 + font->line_height);
    const Case cases[] = {
        {"kerned pair", "AV", {{left(10, a), float(10 + a.y_offset)}, {left(10 + a.advance + kern, v), float(10 + v.y_offset)}}},
        {"second line starts at x, one line lower, without kerning",
         "A\nV", {{left(10, a), float(10 + a.y_offset)}, {left(10, v), line2 + float(v.y_offset)}}},
        {"a space adds no vertices", " ", {}},
        {"a space advances the pen", "A A",
         {{left(10, a), float(10 + a.y_offset)},
          {left(10 + a.advance + glyph(' ').advance + font->kerning(*font, 'A', ' ') + font->kerning(*font, ' ', 'A'), a),
           float(10 + a.y_offset)}}},
        {"a code point in no face is drawn as ?", "\xCD\xB8", {{left(10, q), float(10 + q.y_offset)}}},
        {"empty text", "", {}},
        {"line feeds only", "\n\n", {}},
    };
    for (const Case& c : cases) {
        Laid l = lay(c.text);
        EXPECT_EQ(l.corners, c.corners) << c.what;
    }
}

TEST_F(Text, InvalidBytesAreDrawnAsTheReplacementCharacter) {
    Laid bad = lay("\xFF");
    Laid fffd = lay("\xEF\xBF\xBD");
    ASSERT_EQ(bad.corners.size(), 1u);
    EXPECT_EQ(bad.corners, fffd.corners);
    EXPECT_EQ(measure_text(font, "\xFF"), measure_text(font, "\xEF\xBF\xBD"));
}

TEST_F(Text, WithoutReplacementMissingCodePointsAreSkipped) {
    font->replacement = 0x0379;   // in no face either
    Laid l = lay("A\xCD\xB8" "A");
    Glyph a = glyph('A');
    ASSERT_EQ(l.corners.size(), 2u);
    EXPECT_EQ(l.corners[1].first, float(std::lround(10 + a.advance) + a.x_offset));   // the pen did not move
    EXPECT_EQ(measure_text(font, "A\xCD\xB8"), measure_text(font, "A"));
    Glyph g;
    EXPECT_FALSE(glyph_of(*font, 0x0378, g));
}

TEST_F(Text, MeasureMatchesTheLayout) {
    Glyph a = glyph('A'), v = glyph('V');
    float kern = font->kerning(*font, 'A', 'V');
    EXPECT_EQ(measure_text(font, "AV"), int(std::ceil(a.advance + v.advance + kern)));
    EXPECT_EQ(measure_text(font, "AV\nAAAA\nV"), int(std::ceil(4 * a.advance)));
    EXPECT_EQ(measure_text(font, "A\n"), int(std::ceil(a.advance)));
    EXPECT_EQ(measure_text(font, ""), 0);
    EXPECT_EQ(measure_text(nullptr, "AV"), 0);
    draw_list_begin_frame(r.draw_list, 0);
    draw_text(r.draw_list, nullptr, "AV", 0, 0, 0xFF000000);
    EXPECT_TRUE(r.draw_list.vertices.empty());
}

// A font of made-up glyphs whose advances are exact.
bool fixed_glyph(Font&, uint32_t cp, Glyph& out) {
    if (cp != 'a' && cp != 'b') return false;
    out = Glyph{cp, 0, 0, 0, 0, 0, 0, cp == 'a' ? 12.4f : 0.3f};
    return true;
}

TEST(MeasureText, RoundsTheWidestLineUp) {
    Font f;
    f.make_glyph = fixed_glyph;
    struct Case {
        const char* text;
        int expect;
    };
    const Case cases[] = {
        {"aaa", 38},     // 37.2
        {"a\naaa\n", 38},
        {"b", 1},        // 0.3
        {"bbbbbbbbbb", 3},
        {"zzz", 0},      // no glyphs, and no "?" either
        {"\n", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(measure_text(&f, c.text), c.expect) << c.text;
}

}  // namespace
