// The Vulkan backend on lavapipe, offscreen: the probe, textures in every
// format through read_texture, the refusals, and frames drawn and read
// back — rectangles, scissor edges, blend formulas, tint, text, the blur,
// and the commands that must be skipped. Every test fails on a validation
// error (QM_VULKAN_VALIDATION is set by the test's environment).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/kt_render/font.h"
#include "engine/kt_render/text.h"
#include "engine/kt_render/vulkan/vk_state.h"   // the device's entry points, replaced to make calls fail
#include "engine/kt_system/env.h"
#include "tests/kt_render/vulkan/vulkan_pixels.h"

namespace {

// The built-in blur shader, the custom shader these tests use.
Handle blur_shader(Backend& b) {
    Shader_Code blur = shader_code("blur");
    Shader_Desc sd;
    sd.code = blur.words;
    sd.uniform_size = blur.uniform_size;
    sd.texture_count = blur.texture_count;
    return ren_create_shader(b, sd);
}

class Vulkan : public ::testing::Test {
protected:
    void SetUp() override {
        need_vulkan();
        capture_log();
        logged_errors().clear();
        logged_lines().clear();
    }
    void TearDown() override {
        EXPECT_EQ(vulkan_validation_errors(), 0);
        for (const std::string& e : logged_errors()) ADD_FAILURE() << e;
    }
};

Texture_Desc desc_of(int w, int h, Pixel_Format f, std::span<const uint8_t> pixels = {}, uint8_t flags = 0) {
    Texture_Desc d;
    d.width = w;
    d.height = h;
    d.format = f;
    d.pixels = pixels;
    d.flags = flags;
    return d;
}

// A quad of a texture with the built-in pipelines.
void draw_texture(Draw_List& dl, Handle texture, Rect r, uint32_t colour = 0xFFFFFFFF,
                  Material m = Material::Textured) {
    float x0 = float(r.x), y0 = float(r.y), x1 = float(r.x + r.width), y1 = float(r.y + r.height);
    const Vertex v[4] = {{{x0, y0}, {0, 0}, colour}, {{x1, y0}, {1, 0}, colour}, {{x1, y1}, {1, 1}, colour},
                         {{x0, y1}, {0, 1}, colour}};
    const uint32_t i[6] = {0, 1, 2, 0, 2, 3};
    emit_command(dl, texture, m, v, i);
}

TEST_F(Vulkan, ProbeNamesLavapipe) {
    Probe_Result p = vulkan_probe();
    ASSERT_TRUE(p.available) << p.text;
    EXPECT_EQ(p.text.rfind("Vulkan 1.3 on llvmpipe", 0), 0u) << p.text;
    EXPECT_EQ(p.text, "Vulkan 1.3 on " + p.device);
}

TEST_F(Vulkan, NoDriverGivesTheEmptyBackendAndTheReport) {
#ifdef _WIN32
    GTEST_SKIP() << "under wine the host's loader reads the Unix environment, which this process cannot change";
#endif
    std::string saved = env_get("VK_ICD_FILENAMES");
    env_set("VK_ICD_FILENAMES", "/nonexistent/none.json");
    Renderer r;
    const Backend_Desc descs[] = {vulkan_backend_desc()};
    Renderer_Report rep = renderer_create(r, nullptr, 64, 48, descs, {});
    env_set("VK_ICD_FILENAMES", saved, saved.empty());
    ASSERT_EQ(rep.attempt_count, 1);
    EXPECT_FALSE(rep.attempts[0].probe.available);
    EXPECT_FALSE(rep.attempts[0].create_called);
    EXPECT_FALSE(rep.attempts[0].probe.text.empty());
    EXPECT_EQ(r.backend.render, nullptr);
    EXPECT_EQ(ren_create_texture(r.backend, desc_of(1, 1, Pixel_Format::RGBA8)), 0u);
    draw_list_destroy(r);
}

TEST_F(Vulkan, EveryFormatRoundTripsAndSubRectanglesUpdate) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    for (Pixel_Format f : {Pixel_Format::RGBA8, Pixel_Format::R8, Pixel_Format::RG8, Pixel_Format::RGBA16F,
                           Pixel_Format::RGBA32F}) {
        int bpp = pixel_format_bytes(f);
        std::vector<uint8_t> bytes(size_t(3 * 2 * bpp));
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + 11) & 0x3F;   // no float NaNs
        Handle h = ren_create_texture(o.b(), desc_of(3, 2, f, bytes));
        ASSERT_NE(h, 0u) << int(f);
        Texture_Pixels back = ren_read_texture(o.b(), h);
        EXPECT_EQ(back.width, 3);
        EXPECT_EQ(back.height, 2);
        EXPECT_EQ(back.format, f);
        EXPECT_EQ(back.pixels, bytes) << "format " << int(f);

        // The middle column of the lower row replaced.
        std::vector<uint8_t> patch(size_t(bpp), 0x2A);
        ASSERT_TRUE(ren_update_texture(o.b(), h, {1, 1, 1, 1}, patch));
        std::memcpy(&bytes[size_t(4 * bpp)], patch.data(), patch.size());
        EXPECT_EQ(ren_read_texture(o.b(), h).pixels, bytes) << "format " << int(f);
        ren_destroy_texture(o.b(), h);
    }
    // A texture made without pixels reads as transparent black.
    Handle empty = ren_create_texture(o.b(), desc_of(2, 2, Pixel_Format::RGBA8));
    EXPECT_EQ(ren_read_texture(o.b(), empty).pixels, std::vector<uint8_t>(16, 0));
}

constexpr uint32_t grey_frame = 0xFFF3F3F3;

TEST_F(Vulkan, Refusals) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    std::vector<uint8_t> px23(23), px24(24), px4(4);
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(3, 2, Pixel_Format::RGBA8, px23)), 0u);
    EXPECT_TRUE(logged("ren_vulkan: a 3x2 texture needs 24 bytes of pixels, got 23"));
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(4, 4, Pixel_Format::R8, {}, texture_flag_render_target)), 0u);
    EXPECT_TRUE(logged("ren_vulkan: only RGBA8, RGBA16F and RGBA32F textures can be render targets"));
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(0, 4, Pixel_Format::RGBA8)), 0u);
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(1 << 20, 1, Pixel_Format::RGBA8)), 0u);

    Handle h = ren_create_texture(o.b(), desc_of(3, 2, Pixel_Format::RGBA8, px24));
    ASSERT_NE(h, 0u);
    struct Row {
        const char* what;
        Rect rect;
        size_t bytes;
        bool ok;
    } rows[] = {
        {"the last column", {2, 0, 1, 1}, 4, true},
        {"one pixel past the right edge", {2, 0, 2, 1}, 8, false},
        {"one pixel past the bottom edge", {0, 1, 1, 2}, 8, false},
        {"negative x", {-1, 0, 1, 1}, 4, false},
        {"zero width", {0, 0, 0, 1}, 0, false},
        {"a byte short", {0, 0, 1, 1}, 3, false},
    };
    for (const Row& r : rows) {
        std::vector<uint8_t> bytes(r.bytes);
        EXPECT_EQ(ren_update_texture(o.b(), h, r.rect, bytes), r.ok) << r.what;
    }
    ren_destroy_texture(o.b(), h);
    EXPECT_FALSE(ren_update_texture(o.b(), h, {0, 0, 1, 1}, px4)) << "a stale handle";
    EXPECT_TRUE(ren_read_texture(o.b(), h).pixels.empty());

    // 2048 texture slots, one of them the white texture. A destroyed
    // texture keeps its slot until the frames in flight are done with it.
    draw_list_begin_frame(o.dl(), grey_frame);
    ren_render(o.b(), o.dl());
    std::vector<Handle> made;
    for (;;) {
        Handle t = ren_create_texture(o.b(), desc_of(1, 1, Pixel_Format::RGBA8));
        if (t == 0) break;
        made.push_back(t);
        ASSERT_LE(made.size(), 2047u);
    }
    EXPECT_EQ(made.size(), 2047u);
    EXPECT_TRUE(logged("ren_vulkan: out of texture slots (at most 2048 textures)"));
    for (Handle t : made) ren_destroy_texture(o.b(), t);
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(1, 1, Pixel_Format::RGBA8)), 0u);
    ren_render(o.b(), o.dl());
    ren_render(o.b(), o.dl());
    EXPECT_NE(ren_create_texture(o.b(), desc_of(1, 1, Pixel_Format::RGBA8)), 0u);

    Shader_Desc too_many;
    too_many.code = shader_code("blur").words;
    too_many.texture_count = 17;
    EXPECT_EQ(ren_create_shader(o.b(), too_many), 0u);
    EXPECT_TRUE(logged("ren_vulkan: a shader may sample 0 .. 16 textures, not 17"));
}

constexpr uint32_t grey = 0xFFF3F3F3;   // (243, 243, 243)

TEST_F(Vulkan, RectanglesAndScissorEdgesAreExact) {
    Offscreen o(64, 48);
    ASSERT_TRUE(o.made);
    Draw_List& dl = o.dl();
    draw_list_begin_frame(dl, grey);
    const uint32_t red = colour_rgb(0xFF0000), blue = colour_rgb(0x0000FF);
    draw_rect(dl, {4, 4, 10, 8}, red);
    push_clip(dl, {20, 10, 8, 8});
    draw_rect(dl, {16, 6, 20, 20}, blue);
    pop_clip(dl);
    Texture_Pixels f = o.frame();
    ASSERT_EQ(f.width, 64);
    ASSERT_EQ(f.height, 48);
    write_png_file(path_join({screenshot_dir(), "vulkan_rectangles.png"}), f.width, f.height, 4, f.pixels.data());
    struct {
        int x, y;
        uint32_t want;
    } probes[] = {
        {0, 0, grey},   {3, 4, grey},   {4, 4, red},    {13, 11, red},  {14, 11, grey}, {13, 12, grey},
        {19, 10, grey}, {20, 9, grey},  {20, 10, blue}, {27, 17, blue}, {28, 17, grey}, {27, 18, grey},
        {63, 47, grey},
    };
    for (const auto& p : probes)
        EXPECT_EQ(pixel_at(f, p.x, p.y), p.want) << p.x << "," << p.y << " " << colour_text(pixel_at(f, p.x, p.y));
    EXPECT_EQ(vulkan_last_render_result(o.b()), 0);
}

TEST_F(Vulkan, BlendFormulasAndTint) {
    Offscreen o(64, 16);
    ASSERT_TRUE(o.made);
    Draw_List& dl = o.dl();
    const double d[4] = {200, 100, 50, 160};   // the clear colour
    const double src[4] = {40, 80, 160, 128};
    const uint32_t clear = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24;
    const uint32_t colour = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 | uint32_t(src[3]) << 24;
    draw_list_begin_frame(dl, clear);
    const Blend blends[5] = {Blend::Alpha, Blend::Opaque, Blend::Additive, Blend::Premultiplied, Blend::Modulate};
    for (int i = 0; i < 5; ++i) {
        push_blend(dl, blends[i]);
        draw_rect(dl, {i * 8, 0, 8, 8}, colour);
        pop_blend(dl);
    }
    push_tint(dl, colour_rgb(0xFF8000));
    draw_rect(dl, {48, 0, 8, 8}, 0xFFFFFFFF);
    pop_tint(dl);
    Texture_Pixels f = o.frame();
    ASSERT_EQ(f.width, 64);

    auto expect = [&](int i) {
        double s[4], a = src[3] / 255, out[4];
        for (int c = 0; c < 4; ++c) s[c] = src[c] / 255;
        double dn[4];
        for (int c = 0; c < 4; ++c) dn[c] = d[c] / 255;
        for (int c = 0; c < 3; ++c) {
            switch (blends[i]) {
            case Blend::Alpha: out[c] = s[c] * a + dn[c] * (1 - a); break;
            case Blend::Opaque: out[c] = s[c]; break;
            case Blend::Additive: out[c] = std::min(1.0, s[c] * a + dn[c]); break;
            case Blend::Premultiplied: out[c] = std::min(1.0, s[c] + dn[c] * (1 - a)); break;
            case Blend::Modulate: out[c] = dn[c] * s[c]; break;
            }
        }
        switch (blends[i]) {
        case Blend::Alpha:
        case Blend::Premultiplied: out[3] = a + dn[3] * (1 - a); break;
        case Blend::Opaque: out[3] = a; break;
        case Blend::Additive:
        case Blend::Modulate: out[3] = dn[3]; break;
        }
        uint32_t v = 0;
        for (int c = 0; c < 4; ++c) v |= uint32_t(std::lround(out[c] * 255)) << (8 * c);
        return v;
    };
    for (int i = 0; i < 5; ++i) {
        uint32_t got = pixel_at(f, i * 8 + 4, 4);
        EXPECT_TRUE(near_colour(got, expect(i), 1))
            << "blend " << i << ": " << colour_text(got) << " want " << colour_text(expect(i));
    }
    EXPECT_EQ(pixel_at(f, 52, 4), colour_rgb(0xFF8000));
    EXPECT_EQ(pixel_at(f, 60, 4), clear);
}

TEST_F(Vulkan, TextCoverageStaysInsideTheGlyphBoxes) {
    Offscreen o(160, 40);
    ASSERT_TRUE(o.made);
    Library lib;
    ASSERT_TRUE(font_add_embedded(lib, "noto_sans_regular"));
    const uint8_t ko[4] = {3, 0, 1, 2};
    Font* font = font_create(lib, o.r, 1, "noto_sans_regular", 16, ko);
    ASSERT_NE(font, nullptr);
    const char* text = "Quill 游戏";
    Draw_List& dl = o.dl();
    draw_list_begin_frame(dl, grey);
    const uint32_t ink = colour_rgb(0x005FB8);
    int width = measure_text(font, text);
    draw_text(dl, font, text, 6, 8, ink);
    Texture_Pixels f = o.frame();
    ASSERT_EQ(f.width, 160);
    write_png_file(path_join({screenshot_dir(), "vulkan_text.png"}), f.width, f.height, 4, f.pixels.data());
    int inked = 0, full = 0, outside = 0;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            uint32_t p = pixel_at(f, x, y);
            bool in_box = x >= 6 && x < 6 + width + 2 && y >= 8 && y < 8 + font->line_height;
            if (p != grey) (in_box ? inked : outside)++;
            if (p == ink) ++full;
        }
    EXPECT_GT(inked, 100);
    EXPECT_GT(full, 10);
    EXPECT_EQ(outside, 0);
    font_destroy(font);
}

// Starts a frame that draws the n-by-n target black with one white point at
// its centre, for the blur to spread.
void begin_white_point(Draw_List& dl, Handle shader, Handle target, int n) {
    dl.blur_shader = shader;
    draw_list_begin_frame(dl, grey);
    push_target(dl, target, n, n);
    push_blend(dl, Blend::Opaque);
    draw_rect(dl, {0, 0, n, n}, 0xFF000000);
    draw_rect(dl, {n / 2, n / 2, 1, 1}, 0xFFFFFFFF);
    pop_blend(dl);
    pop_target(dl);
}

TEST_F(Vulkan, BlurIsSymmetricAndSelfSamplingIsSkipped) {
    Offscreen o(16, 16);
    ASSERT_TRUE(o.made);
    Handle shader = blur_shader(o.b());
    ASSERT_NE(shader, 0u);
    const int n = 33;
    Handle a = ren_create_texture(o.b(), desc_of(n, n, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    Handle b = ren_create_texture(o.b(), desc_of(n, n, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    Draw_List& dl = o.dl();
    begin_white_point(dl, shader, a, n);
    blur_pass(dl, n, n, 1.0f, a, b);
    // Drawn into itself: skipped, the blurred picture stays.
    push_target(dl, a, n, n);
    draw_texture(dl, a, {0, 0, n, n});
    pop_target(dl);
    ren_render(o.b(), dl);
    Texture_Pixels p = ren_read_texture(o.b(), a);
    ASSERT_EQ(p.width, n);
    auto red = [&](int x, int y) { return int(pixel_at(p, x, y) & 0xFF); };
    EXPECT_GT(red(16, 16), 0);
    EXPECT_LT(red(16, 16), 255);
    EXPECT_GT(red(17, 16), 0);
    EXPECT_GT(red(16, 19), 0);
    EXPECT_EQ(red(16, 22), 0);
    for (int d = 1; d <= 5; ++d) {
        EXPECT_EQ(red(16 + d, 16), red(16 - d, 16)) << d;
        EXPECT_EQ(red(16, 16 + d), red(16, 16 - d)) << d;
        EXPECT_EQ(red(16 + d, 16), red(16, 16 + d)) << d;
        EXPECT_EQ(red(16 + d, 16 + d), red(16 - d, 16 - d)) << d;
    }
    EXPECT_EQ(pixel_at(p, 0, 0), 0xFF000000u);
    ren_destroy_texture(o.b(), a);
    ren_destroy_texture(o.b(), b);
    ren_destroy_shader(o.b(), shader);
}

// The blur of one white point, read back, and the pipelines made for it;
// with `ahead` two of them are asked for ahead of the frame.
struct Blurred {
    Texture_Pixels pixels;
    size_t pipelines = 0;
};
Blurred blurred_point(bool ahead) {
    Offscreen o(16, 16);
    if (!o.made) return {};
    Handle shader = blur_shader(o.b());
    const int n = 33;
    Handle a = ren_create_texture(o.b(), desc_of(n, n, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    Handle b = ren_create_texture(o.b(), desc_of(n, n, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    Vk_State& s = state_of(o.b());
    if (ahead) {
        const Pipeline_Want wants[] = {
            {0, Material::Solid, Blend::Opaque, false, Pixel_Format::RGBA8},
            {shader, Material::Solid, Blend::Alpha, false, Pixel_Format::RGBA8},
            {shader, Material::Solid, Blend::Alpha, false, Pixel_Format::RGBA8},   // asked twice: made once
            {0, Material::Textured, Blend::Opaque, false, Pixel_Format::RGBA8},     // Solid's own pipeline
        };
        vulkan_warm_pipelines(o.b(), wants);
        EXPECT_EQ(s.warming.size(), 2u);
    }
    Draw_List& dl = o.dl();
    begin_white_point(dl, shader, a, n);
    blur_pass(dl, n, n, 1.6f, a, b);
    ren_render(o.b(), dl);
    EXPECT_TRUE(s.warming.empty());
    Blurred out{ren_read_texture(o.b(), a), s.pipelines.size()};
    ren_destroy_texture(o.b(), a);
    ren_destroy_texture(o.b(), b);
    ren_destroy_shader(o.b(), shader);
    return out;
}

TEST_F(Vulkan, PipelinesMadeAheadDrawTheSamePicture) {
    Blurred at_use = blurred_point(false);
    Blurred ahead = blurred_point(true);
    ASSERT_EQ(at_use.pixels.width, 33);
    ASSERT_EQ(ahead.pixels.width, 33);
    EXPECT_EQ(at_use.pixels.pixels, ahead.pixels.pixels);
    EXPECT_EQ(at_use.pipelines, ahead.pipelines);   // none made twice
}

// Pipelines still being made when their shader or the whole backend goes:
// waited for and destroyed with it (the validation layer sees no leak), and
// a dead shader's are not asked for.
TEST_F(Vulkan, PipelinesBeingMadeAheadGoWithTheirShaderOrBackend) {
    for (bool whole_backend : {false, true}) {
        SCOPED_TRACE(whole_backend ? "backend destroyed" : "shader destroyed");
        Offscreen o(8, 8);
        ASSERT_TRUE(o.made);
        Handle shader = blur_shader(o.b());
        Handle dead = blur_shader(o.b());
        ren_destroy_shader(o.b(), dead);
        const Pipeline_Want wants[] = {
            {shader, Material::Solid, Blend::Opaque, false, Pixel_Format::RGBA8},
            {shader, Material::Solid, Blend::Alpha, true, Pixel_Format::RGBA8},
            {dead, Material::Solid, Blend::Alpha, true, Pixel_Format::RGBA8},
        };
        vulkan_warm_pipelines(o.b(), wants);
        Vk_State& s = state_of(o.b());
        EXPECT_EQ(s.warming.size(), 2u);
        if (!whole_backend) {
            ren_destroy_shader(o.b(), shader);
            EXPECT_TRUE(s.warming.empty());
            EXPECT_TRUE(s.pipelines.empty());
        }
    }
}

TEST_F(Vulkan, TheCustomCommandAfter4096IsSkipped) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    Handle shader = blur_shader(o.b());
    const uint8_t red_px[4] = {255, 0, 0, 255};
    Handle red = ren_create_texture(o.b(), desc_of(1, 1, Pixel_Format::RGBA8, red_px));
    ASSERT_NE(shader, 0u);
    ASSERT_NE(red, 0u);
    const float step[2] = {0, 0};
    std::span<const uint8_t> uniforms(reinterpret_cast<const uint8_t*>(step), sizeof step);
    Draw_List& dl = o.dl();
    draw_list_begin_frame(dl, grey);
    for (int i = 0; i < 4096; ++i) draw_image(dl, shader, {0, 0, 1, 1}, std::span<const Handle>(&red, 1), uniforms);
    draw_image(dl, shader, {1, 0, 1, 1}, std::span<const Handle>(&red, 1), uniforms);
    Texture_Pixels first = o.frame();
    ASSERT_EQ(first.width, 8);
    EXPECT_TRUE(near_colour(pixel_at(first, 0, 0), 0xFF0000FF, 1)) << colour_text(pixel_at(first, 0, 0));
    EXPECT_EQ(pixel_at(first, 1, 0), grey);
    // The next frame counts again. A custom shader without uniforms, in a
    // frame without uniform bytes, binds a uniform set that was written
    // when the frames were made.
    Shader_Desc none;
    none.code = shader_code("blur").words;
    none.texture_count = 1;
    Handle plain = ren_create_shader(o.b(), none);
    ASSERT_NE(plain, 0u);
    draw_list_begin_frame(dl, grey);
    draw_image(dl, plain, {0, 0, 2, 2}, std::span<const Handle>(&red, 1), {});
    Texture_Pixels f = o.frame();
    ASSERT_EQ(f.width, 8);
    EXPECT_TRUE(near_colour(pixel_at(f, 1, 1), 0xFF0000FF, 1)) << colour_text(pixel_at(f, 1, 1));
    EXPECT_EQ(pixel_at(f, 7, 7), grey);
}

TEST_F(Vulkan, TheWindowImageIsClearedWhenTheLastCommandTargetsATexture) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    Handle t = ren_create_texture(o.b(), desc_of(4, 4, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    ASSERT_NE(t, 0u);
    Draw_List& dl = o.dl();
    const uint32_t clear = colour_rgb(0x336699);
    draw_list_begin_frame(dl, clear);
    push_target(dl, t, 4, 4);
    draw_rect(dl, {0, 0, 4, 4}, colour_rgb(0xFF0000));
    pop_target(dl);
    Texture_Pixels f = o.frame();
    ASSERT_EQ(f.width, 8);
    EXPECT_EQ(pixel_at(f, 3, 3), clear);
    EXPECT_EQ(pixel_at(ren_read_texture(o.b(), t), 1, 1), colour_rgb(0xFF0000));

    // Without a clear the previous frame stays.
    draw_list_begin_frame(dl, 0);
    dl.clear = false;
    draw_rect(dl, {0, 0, 2, 2}, colour_rgb(0x00FF00));
    f = o.frame();
    EXPECT_EQ(pixel_at(f, 0, 0), colour_rgb(0x00FF00));
    EXPECT_EQ(pixel_at(f, 5, 5), clear);
}

TEST_F(Vulkan, AnEmptyWindowSkipsTheFrame) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    draw_list_begin_frame(o.dl(), grey);
    renderer_resize(o.r, 0, 0);
    ren_render(o.b(), o.dl());
    EXPECT_EQ(vulkan_last_render_result(o.b()), 1);
    renderer_resize(o.r, 6, 4);
    Texture_Pixels f = o.frame();
    EXPECT_EQ(vulkan_last_render_result(o.b()), 0);
    EXPECT_EQ(f.width, 6);
    EXPECT_EQ(f.height, 4);
    EXPECT_EQ(pixel_at(f, 5, 3), grey);
}

// Entry points that fail the way a driver may, put in the backend's own
// table of device procedures.
VkResult VKAPI_CALL submit_out_of_memory(VkQueue, uint32_t, const VkSubmitInfo*, VkFence) {
    return VK_ERROR_OUT_OF_DEVICE_MEMORY;
}
VkResult VKAPI_CALL wait_times_out(VkDevice, uint32_t, const VkFence*, VkBool32, uint64_t) { return VK_TIMEOUT; }

Vk_State& vk_state(Backend& b) { return *static_cast<Vk_State*>(b.state); }

void presented_frame(Offscreen& o) {
    draw_list_begin_frame(o.dl(), grey_frame);
    o.frame();
    ASSERT_EQ(vulkan_last_render_result(o.b()), 0);
}

TEST_F(Vulkan, AFailedSubmitLeavesTheFrameSlotUsable) {
    Offscreen o(8, 6);
    ASSERT_TRUE(o.made);
    Vk_State& s = vk_state(o.b());
    // Well beyond any frame here, yet a test that hangs on it ends.
    s.fence_timeout_ns = 60'000'000'000ull;
    presented_frame(o);

    auto real_submit = s.fd.vkQueueSubmit;
    s.fd.vkQueueSubmit = submit_out_of_memory;
    ren_render(o.b(), o.dl());
    s.fd.vkQueueSubmit = real_submit;
    EXPECT_EQ(vulkan_last_render_result(o.b()), 1) << "a skipped frame, the device not lost";
    EXPECT_TRUE(logged("submitting a frame failed: VK_ERROR_OUT_OF_DEVICE_MEMORY"));
    logged_errors().clear();

    // Both frame slots come round again: each waits on its fence.
    for (uint32_t i = 1; i <= 4; ++i) {
        const uint32_t colour = 0xFF000000u | (0x30u * i) * 0x010101u;
        draw_list_begin_frame(o.dl(), colour);
        Texture_Pixels f = o.frame();
        ASSERT_EQ(vulkan_last_render_result(o.b()), 0) << "frame " << i;
        EXPECT_EQ(pixel_at(f, 7, 5), colour);
    }
}

TEST_F(Vulkan, AFrameThatNeverEndsCountsAsALostDevice) {
    Offscreen o(8, 6);
    ASSERT_TRUE(o.made);
    Vk_State& s = vk_state(o.b());
    presented_frame(o);
    auto real_wait = s.fd.vkWaitForFences;
    s.fd.vkWaitForFences = wait_times_out;
    ren_render(o.b(), o.dl());
    s.fd.vkWaitForFences = real_wait;
    EXPECT_EQ(vulkan_last_render_result(o.b()), 2);
    EXPECT_TRUE(logged("did not finish"));
    logged_errors().clear();
    // Lost for good: nothing is drawn any more, and no wait is begun.
    ren_render(o.b(), o.dl());
    EXPECT_EQ(vulkan_last_render_result(o.b()), 2);
    EXPECT_EQ(ren_create_texture(o.b(), desc_of(1, 1, Pixel_Format::RGBA8)), 0u);
}

TEST_F(Vulkan, ACustomShaderListingItsOwnTargetSamplesWhite) {
    Offscreen o(8, 8);
    ASSERT_TRUE(o.made);
    Handle shader = blur_shader(o.b());
    Handle t = ren_create_texture(o.b(), desc_of(4, 4, Pixel_Format::RGBA8, {}, texture_flag_render_target));
    ASSERT_NE(shader, 0u);
    ASSERT_NE(t, 0u);
    const float step[2] = {0.25f, 0};
    Draw_List& dl = o.dl();
    draw_list_begin_frame(dl, grey);
    push_target(dl, t, 4, 4);
    push_blend(dl, Blend::Opaque);
    draw_rect(dl, {0, 0, 4, 4}, 0xFF000000);
    draw_image(dl, shader, {0, 0, 4, 4}, std::span<const Handle>(&t, 1),
               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(step), sizeof step));
    pop_blend(dl);
    pop_target(dl);
    ren_render(o.b(), dl);
    Texture_Pixels p = ren_read_texture(o.b(), t);
    ASSERT_EQ(p.width, 4);
    EXPECT_TRUE(near_colour(pixel_at(p, 2, 2), 0xFFFFFFFF, 1)) << colour_text(pixel_at(p, 2, 2));
}

}  // namespace
