// The window's background pass over the in-memory backend: the five
// targets follow the window size, the picture ends stretched over the whole
// window, and a target or shader that cannot be made turns the effect off
// for good with everything it made given back.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "launcher/ui/background.h"
#include "tests/support/fake_backend.h"

namespace {

const uint32_t some_code[4] = {0x07230203, 0, 0, 0};

Background_Shaders shaders(bool with_blur = true) {
    Background_Shaders s;
    s.background = {some_code, 12, 0};
    s.panel = {some_code, 56, 1};
    if (with_blur) s.blur = {some_code, 8, 1};
    return s;
}

// Texture creation that fails from the n-th call on (counting from 1).
int creates_left = 0;
Handle (*real_create)(Backend&, const Texture_Desc&) = nullptr;
Handle failing_create(Backend& b, const Texture_Desc& d) {
    if (creates_left-- <= 0) return 0;
    return real_create(b, d);
}

struct Pass_Fixture {
    Renderer r;
    Library lib;
    Background_Pass bg;
    explicit Pass_Fixture(int w = 1080, int h = 760, bool with_blur = true) {
        draw_list_init(r, fake_backend_make(), w, h);
        background_start(bg, r.backend, lib, shaders(with_blur));
    }
    ~Pass_Fixture() {
        background_stop(bg, r.backend);
        draw_list_destroy(r);
    }
    Fake_State& fake() { return fake_state(r.backend); }
    // One frame: the pass drawn, the list handed to the backend.
    void draw() {
        draw_list_begin_frame(r.draw_list, 0xFFF3F3F3);
        background_draw(bg, r, 1.0f);
        ren_render(r.backend, r.draw_list);
    }
    int targets_drawn() {
        int n = 0;
        for (const Draw_Command& c : r.draw_list.commands) n += c.target != 0;
        return n;
    }
    std::pair<int, int> size_of(Handle t) {
        Fake_Texture* f = pool_get(fake().textures, t);
        return f ? std::pair{f->width, f->height} : std::pair{0, 0};
    }
    int live_textures() {
        int n = 0;
        for (Handle h : {bg.half, bg.quarter_a, bg.quarter_b, bg.eighth_a, bg.eighth_b}) n += h != 0;
        return n;
    }
};

TEST(BackgroundPass, TargetsFollowTheWindowSize) {
    struct {
        int w, h;
        std::pair<int, int> half, quarter, eighth;
    } cases[] = {
        {1080, 760, {540, 380}, {270, 190}, {135, 95}},
        {943, 641, {471, 320}, {235, 160}, {117, 80}},
        {5, 3, {2, 1}, {1, 1}, {1, 1}},
        {0, 0, {1, 1}, {1, 1}, {1, 1}},   // a minimised window
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        Pass_Fixture f(c.w, c.h);
        ASSERT_TRUE(background_on(f.bg));
        f.draw();
        ASSERT_EQ(f.live_textures(), 5);
        EXPECT_EQ(f.size_of(f.bg.half), c.half);
        for (Handle t : {f.bg.quarter_a, f.bg.quarter_b}) EXPECT_EQ(f.size_of(t), c.quarter);
        for (Handle t : {f.bg.eighth_a, f.bg.eighth_b}) EXPECT_EQ(f.size_of(t), c.eighth);
        EXPECT_EQ(f.fake().textures_destroyed, 0);
    }
}

TEST(BackgroundPass, DrawsTheChainAndEndsWithTheHalfPictureOverTheWindow) {
    Pass_Fixture f;
    f.draw();
    const Draw_List& dl = f.r.draw_list;
    ASSERT_FALSE(dl.commands.empty());
    // The noise into the half target, through the background shader with
    // its three floats: the target's size and half the scale.
    const Draw_Command& first = dl.commands.front();
    EXPECT_EQ(first.target, f.bg.half);
    EXPECT_EQ(first.shader, f.bg.background_shader);
    ASSERT_EQ(first.uniform_size, 12u);
    float u[3];
    std::memcpy(u, &dl.uniforms[first.uniform_offset], sizeof u);
    EXPECT_EQ(u[0], 540.0f);
    EXPECT_EQ(u[1], 380.0f);
    EXPECT_EQ(u[2], 0.5f);
    // Two blurs of the quarter and three of the eighth: ten blur draws.
    int blurs = 0;
    for (const Draw_Command& c : dl.commands) blurs += c.shader == f.bg.blur_shader;
    EXPECT_EQ(blurs, 10);
    // Last: the half picture over the whole window, opaque.
    const Draw_Command& last = dl.commands.back();
    EXPECT_EQ(last.target, 0u);
    EXPECT_EQ(last.texture, f.bg.half);
    EXPECT_EQ(last.blend, Blend::Opaque);
    ASSERT_EQ(last.index_count, 6u);
    const Vertex& far = dl.vertices[dl.indices[last.first_index + 2]];
    EXPECT_EQ(far.position[0], 1080.0f);
    EXPECT_EQ(far.position[1], 760.0f);
    // The stacks are balanced.
    EXPECT_TRUE(dl.blend_stack.empty());
    EXPECT_TRUE(dl.target_stack.empty());
    EXPECT_EQ(dl.unbalanced_pops, 0);
}

TEST(BackgroundPass, TheChainRunsOncePerSizeAndEveryFrameShowsThePicture) {
    Pass_Fixture f;
    auto targets_drawn = [&] { return f.targets_drawn(); };
    f.draw();
    Handle half = f.bg.half;
    EXPECT_GT(targets_drawn(), 0);
    // The same size: the targets keep their picture, only the window's quad.
    f.draw();
    EXPECT_EQ(f.bg.half, half);
    EXPECT_EQ(f.fake().textures_destroyed, 0);
    EXPECT_EQ(targets_drawn(), 0);
    ASSERT_EQ(f.r.draw_list.commands.size(), 1u);
    EXPECT_EQ(f.r.draw_list.commands[0].texture, half);
    // A new size: made and drawn again.
    renderer_resize(f.r, 1200, 800);
    f.draw();
    EXPECT_EQ(f.fake().textures_destroyed, 5);
    EXPECT_EQ(f.size_of(f.bg.half), std::pair(600, 400));
    EXPECT_GT(targets_drawn(), 0);
}

TEST(BackgroundPass, TheChainIsDrawnAgainUntilAFrameHoldingItWasPresented) {
    // The frames that make the targets are not presented (a window started
    // minimised, an acquire that timed out): their targets stay empty, so
    // the next frame draws the chain again, and only then stops.
    for (int skipped : {1, 3}) {
        SCOPED_TRACE(testing::Message() << skipped << " frames not presented");
        Pass_Fixture f;
        f.fake().skip_frames = skipped;
        for (int i = 0; i < skipped; ++i) {
            f.draw();
            EXPECT_GT(f.targets_drawn(), 0) << "frame " << i + 1;
        }
        f.draw();   // presented
        EXPECT_GT(f.targets_drawn(), 0);
        f.draw();
        EXPECT_EQ(f.targets_drawn(), 0);
        EXPECT_EQ(f.fake().textures_destroyed, 0) << "the targets are kept, only drawn again";
    }
}

TEST(BackgroundPass, ATargetThatCannotBeMadeTurnsTheEffectOffForGood) {
    for (int fail_at : {1, 3, 5}) {
        SCOPED_TRACE(fail_at);
        Pass_Fixture f;
        real_create = f.r.backend.create_texture;
        f.r.backend.create_texture = failing_create;
        creates_left = fail_at - 1;
        f.draw();
        EXPECT_FALSE(background_on(f.bg));
        EXPECT_EQ(f.live_textures(), 0);
        EXPECT_EQ(f.fake().textures_destroyed, fail_at - 1);
        EXPECT_EQ(f.fake().shaders_destroyed, 2);
        EXPECT_TRUE(f.r.draw_list.commands.empty());
        // Never tried again, even with textures to be had.
        creates_left = 100;
        f.draw();
        EXPECT_TRUE(f.r.draw_list.commands.empty());
        f.r.backend.create_texture = real_create;
    }
}

TEST(BackgroundPass, WithoutTheBlurEffectTheLauncherShadersAreGivenBack) {
    Pass_Fixture f(1080, 760, false);
    EXPECT_FALSE(background_on(f.bg));
    EXPECT_EQ(f.bg.background_shader, 0u);
    EXPECT_EQ(f.bg.panel_shader, 0u);
    EXPECT_EQ(f.fake().shaders_destroyed, 2);
    f.draw();
    EXPECT_TRUE(f.r.draw_list.commands.empty());
    EXPECT_EQ(f.live_textures(), 0);
}

}  // namespace
