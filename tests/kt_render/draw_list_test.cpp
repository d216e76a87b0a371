#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/kt_render/renderer.h"

namespace {

struct Fresh : ::testing::Test {
    Renderer r;
    Draw_List& dl = r.draw_list;
    void SetUp() override {
        draw_list_init(r, Backend{}, 800, 600);
        draw_list_begin_frame(dl, 0xFFF3F3F3);
    }
};

Clip_Rect clip_of(Rect r) { return {r.x, r.y, r.width, r.height}; }

TEST_F(Fresh, ConsecutivePrimitivesWithOneStateShareACommand) {
    struct Case {
        const char* what;
        void (*between)(Draw_List&);
        size_t commands;
    };
    const Case cases[] = {
        {"nothing between", [](Draw_List&) {}, 1},
        {"a clip pushed", [](Draw_List& d) { push_clip(d, {10, 10, 50, 50}); }, 2},
        {"another blend", [](Draw_List& d) { push_blend(d, Blend::Additive); }, 2},
        {"into a target", [](Draw_List& d) { push_target(d, 77, 64, 64); }, 2},
        {"an offset (state that does not split)", [](Draw_List& d) { push_offset(d, 5, 5); }, 1},
        {"a tint (state that does not split)", [](Draw_List& d) { push_tint(d, 0x80FFFFFF); }, 1},
        {"a clip equal to the whole frame", [](Draw_List& d) { push_clip(d, {0, 0, 800, 600}); }, 1},
    };
    for (const Case& c : cases) {
        draw_list_begin_frame(dl, 0);
        draw_rect(dl, {0, 0, 10, 10}, 0xFF0000FF);
        c.between(dl);
        draw_rect(dl, {20, 0, 10, 10}, 0xFF0000FF);
        ASSERT_EQ(dl.commands.size(), c.commands) << c.what;
        EXPECT_EQ(dl.indices.size(), 12u) << c.what;
        const Draw_Command& last = dl.commands.back();
        EXPECT_EQ(last.first_index + last.index_count, 12u) << c.what;
        // Indices of the second quad point at its own vertices.
        EXPECT_EQ(dl.indices[6], 4u) << c.what;
        EXPECT_EQ(dl.indices[11], 7u) << c.what;
    }
}

TEST_F(Fresh, RectangleVerticesAndColourBytes) {
    const uint32_t accent = 0xFFB85F00;   // #005FB8
    EXPECT_EQ(colour_rgb(0x005FB8), accent);
    EXPECT_EQ(colour_rgb(0xC42B1C, 0x80), 0x801C2BC4u);
    draw_rect(dl, {3, 4, 10, 20}, accent);
    ASSERT_EQ(dl.vertices.size(), 4u);
    const float want[4][2] = {{3, 4}, {13, 4}, {13, 24}, {3, 24}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(dl.vertices[i].position[0], want[i][0]);
        EXPECT_EQ(dl.vertices[i].position[1], want[i][1]);
        EXPECT_EQ(dl.vertices[i].uv[0], 0.f);
    }
    unsigned char bytes[sizeof(Vertex)];
    std::memcpy(bytes, &dl.vertices[0], sizeof bytes);
    EXPECT_EQ(bytes[16], 0x00);   // R
    EXPECT_EQ(bytes[17], 0x5F);   // G
    EXPECT_EQ(bytes[18], 0xB8);   // B
    EXPECT_EQ(bytes[19], 0xFF);   // A
    EXPECT_EQ(std::vector<uint32_t>(dl.indices.begin(), dl.indices.end()), (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
    const Draw_Command& c = dl.commands[0];
    EXPECT_EQ(c.texture, 0u);
    EXPECT_EQ(c.material, Material::Solid);
    EXPECT_EQ(c.blend, Blend::Alpha);
    EXPECT_EQ(c.clip, clip_of({0, 0, 800, 600}));
}

TEST_F(Fresh, WhatAddsNothing) {
    struct Case {
        const char* what;
        void (*draw)(Draw_List&);
        size_t vertices;
    };
    const Case cases[] = {
        {"zero width", [](Draw_List& d) { draw_rect(d, {0, 0, 0, 5}, 0xFFFFFFFF); }, 0},
        {"negative height", [](Draw_List& d) { draw_rect(d, {0, 0, 5, -1}, 0xFFFFFFFF); }, 0},
        {"alpha 0 under Alpha", [](Draw_List& d) { draw_rect(d, {0, 0, 5, 5}, 0x00FFFFFF); }, 0},
        {"alpha 0 under Additive",
         [](Draw_List& d) {
             push_blend(d, Blend::Additive);
             draw_rect(d, {0, 0, 5, 5}, 0x00FFFFFF);
         },
         0},
        {"alpha 0 under Opaque is drawn",
         [](Draw_List& d) {
             push_blend(d, Blend::Opaque);
             draw_rect(d, {0, 0, 5, 5}, 0x00FFFFFF);
         },
         4},
        {"image without shader",
         [](Draw_List& d) {
             Handle t = 5;
             draw_image(d, 0, {0, 0, 5, 5}, {&t, 1}, {});
         },
         0},
        {"empty index list",
         [](Draw_List& d) {
             Vertex v[1] = {};
             emit_command(d, 0, Material::Solid, v, {});
         },
         0},
    };
    for (const Case& c : cases) {
        draw_list_begin_frame(dl, 0);
        c.draw(dl);
        EXPECT_EQ(dl.vertices.size(), c.vertices) << c.what;
        EXPECT_EQ(dl.commands.size(), c.vertices ? 1u : 0u) << c.what;
    }
}

TEST_F(Fresh, TintMultipliesEveryChannelRounded) {
    struct Case {
        uint32_t colour, tint, expect;
    };
    const Case cases[] = {
        {0xFFFFFFFF, 0x80FFFFFF, 0x80FFFFFF},   // halves the alpha: 0xFF -> 0x80
        {0xFF102030, 0xFFFFFFFF, 0xFF102030},   // white changes nothing
        {0xFF0000FF, 0xFF000000, 0xFF000000},   // black tint keeps only alpha
        {0x01010101, 0x80808080, 0x01010101},   // (1*128+127)/255 = 1
        {0x7F7F7F7F, 0x7F7F7F7F, 0x3F3F3F3F},   // (127*127+127)/255 = 63
    };
    for (const Case& c : cases) {
        draw_list_begin_frame(dl, 0);
        push_tint(dl, c.tint);
        draw_rect(dl, {0, 0, 2, 2}, c.colour);
        ASSERT_EQ(dl.vertices.size(), 4u);
        EXPECT_EQ(dl.vertices[3].colour, c.expect) << std::hex << c.colour << " x " << c.tint;
    }
    // Nested tints multiply.
    draw_list_begin_frame(dl, 0);
    push_tint(dl, 0x80FFFFFF);
    push_tint(dl, 0x80FFFFFF);
    draw_rect(dl, {0, 0, 2, 2}, 0xFFFFFFFF);
    EXPECT_EQ(dl.vertices[0].colour >> 24, 0x40u);
}

TEST_F(Fresh, ClipsIntersectAndFollowTheOffset) {
    struct Case {
        const char* what;
        Offset offset;
        Rect outer, inner;
        Clip_Rect expect;
    };
    const Case cases[] = {
        {"overlap", {0, 0}, {10, 10, 100, 100}, {50, 60, 100, 100}, {50, 60, 60, 50}},
        {"inside", {0, 0}, {10, 10, 100, 100}, {20, 20, 5, 5}, {20, 20, 5, 5}},
        {"wholly outside gives an empty clip", {0, 0}, {10, 10, 100, 100}, {300, 20, 5, 5}, {300, 20, 0, 0}},
        {"touching edge is empty", {0, 0}, {10, 10, 100, 100}, {110, 10, 5, 5}, {110, 10, 0, 0}},
        {"offset rounds half away from zero", {2.5f, -2.5f}, {0, 0, 800, 600}, {10, 10, 5, 5}, {13, 7, 5, 5}},
        {"offset below one half", {0.49f, 1.5f}, {0, 0, 800, 600}, {10, 10, 5, 5}, {10, 12, 5, 5}},
    };
    for (const Case& c : cases) {
        draw_list_begin_frame(dl, 0);
        push_clip(dl, c.outer);
        push_offset(dl, c.offset.x, c.offset.y);
        push_clip(dl, c.inner);
        Rect got = current_clip(dl);
        EXPECT_EQ(clip_of(got), c.expect) << c.what;
        draw_rect(dl, {0, 0, 4, 4}, 0xFFFFFFFF);
        EXPECT_EQ(dl.commands.back().clip, c.expect) << c.what;
        EXPECT_EQ(dl.vertices[0].position[0], c.offset.x) << c.what;
        EXPECT_EQ(dl.vertices[0].position[1], c.offset.y) << c.what;
    }
    // A clip pushed onto no clip is cut to the frame.
    draw_list_begin_frame(dl, 0);
    push_clip(dl, {-10, 590, 100, 100});
    EXPECT_EQ(clip_of(current_clip(dl)), (Clip_Rect{0, 590, 90, 10}));
}

TEST_F(Fresh, TargetsStartUnshiftedAndUnclippedAndPopsAreCounted) {
    push_offset(dl, 30, 40);
    push_clip(dl, {0, 0, 10, 10});
    push_target(dl, 9, 256, 128);
    draw_rect(dl, {1, 1, 4, 4}, 0xFFFFFFFF);
    const Draw_Command& in = dl.commands.back();
    EXPECT_EQ(in.target, 9u);
    EXPECT_EQ(in.clip, (Clip_Rect{0, 0, 256, 128}));
    EXPECT_EQ(dl.vertices[0].position[0], 1.f);
    pop_target(dl);
    draw_rect(dl, {1, 1, 4, 4}, 0xFFFFFFFF);
    EXPECT_EQ(dl.commands.back().target, 0u);
    EXPECT_EQ(dl.commands.back().clip, (Clip_Rect{30, 40, 10, 10}));   // the clip pushed under the offset
    EXPECT_EQ(dl.vertices[4].position[0], 31.f);
    EXPECT_EQ(dl.unbalanced_pops, 0);

    pop_clip(dl);
    pop_offset(dl);
    pop_target(dl);   // all three stacks empty
    EXPECT_EQ(dl.unbalanced_pops, 3);
    pop_blend(dl);
    pop_tint(dl);
    EXPECT_EQ(dl.unbalanced_pops, 5);
    draw_list_begin_frame(dl, 0xFFF3F3F3);
    EXPECT_EQ(dl.unbalanced_pops, 0);
    EXPECT_TRUE(dl.clear);
    EXPECT_EQ(dl.clear_colour, 0xFFF3F3F3u);
    EXPECT_TRUE(dl.vertices.empty() && dl.commands.empty() && dl.clip_stack.empty());
}

TEST_F(Fresh, ShaderCommandsKeepAlignedUniformsAndAreNeverMerged) {
    const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const uint8_t eight[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    Handle tex_a[2] = {11, 12}, tex_b[1] = {13};
    draw_image(dl, 3, {0, 0, 8, 8}, tex_a, ten, {0.25f, 0.5f, 0.75f, 1.f});
    draw_image(dl, 3, {0, 0, 8, 8}, tex_b, eight);
    draw_rect(dl, {0, 0, 8, 8}, 0xFFFFFFFF);
    draw_rect(dl, {0, 0, 8, 8}, 0xFFFFFFFF);
    ASSERT_EQ(dl.commands.size(), 3u);
    const Draw_Command &a = dl.commands[0], &b = dl.commands[1], &c = dl.commands[2];
    EXPECT_EQ(a.shader, 3u);
    EXPECT_EQ(a.uniform_offset, 0u);
    EXPECT_EQ(a.uniform_size, 10u);
    EXPECT_EQ(a.texture_offset, 0u);
    EXPECT_EQ(a.texture_count, 2u);
    EXPECT_EQ(b.uniform_offset, 256u);
    EXPECT_EQ(b.uniform_size, 8u);
    EXPECT_EQ(b.texture_offset, 2u);
    EXPECT_EQ(b.texture_count, 1u);
    EXPECT_EQ(c.shader, 0u);   // the plain rectangles after it merge with each other only
    EXPECT_EQ(c.index_count, 12u);
    EXPECT_EQ(c.uniform_size, 0u);
    ASSERT_EQ(dl.uniforms.size(), 264u);
    EXPECT_EQ(dl.uniforms[9], 10);
    EXPECT_EQ(dl.uniforms[10], 0);   // padding
    EXPECT_EQ(dl.uniforms[256], 0xAA);
    EXPECT_EQ(dl.texture_lists, (std::vector<Handle>{11, 12, 13}));
    // UVs of the image quad, white vertices.
    EXPECT_EQ(dl.vertices[0].uv[0], 0.25f);
    EXPECT_EQ(dl.vertices[0].uv[1], 0.5f);
    EXPECT_EQ(dl.vertices[2].uv[0], 0.75f);
    EXPECT_EQ(dl.vertices[2].uv[1], 1.f);
    EXPECT_EQ(dl.vertices[0].colour, 0xFFFFFFFFu);
}

TEST_F(Fresh, BlurPassIsTwoShaderCommandsEndingInA) {
    const Handle a = 21, b = 22;
    blur_pass(dl, 200, 100, 4, a, b);
    EXPECT_TRUE(dl.commands.empty());   // no blur shader registered
    dl.blur_shader = 8;
    blur_pass(dl, 200, 100, 4, a, b);
    ASSERT_EQ(dl.commands.size(), 2u);
    struct Want {
        Handle target, source;
        float step[2];
        uint32_t offset;
    };
    const Want want[2] = {{b, a, {4.f / 200, 0}, 0}, {a, b, {0, 4.f / 100}, 256}};
    for (int i = 0; i < 2; ++i) {
        const Draw_Command& c = dl.commands[i];
        EXPECT_EQ(c.shader, 8u);
        EXPECT_EQ(c.target, want[i].target);
        EXPECT_EQ(c.clip, (Clip_Rect{0, 0, 200, 100}));
        ASSERT_EQ(c.texture_count, 1u);
        EXPECT_EQ(dl.texture_lists[c.texture_offset], want[i].source);
        ASSERT_EQ(c.uniform_size, 8u);
        EXPECT_EQ(c.uniform_offset, want[i].offset);
        float step[2];
        std::memcpy(step, &dl.uniforms[c.uniform_offset], 8);
        EXPECT_EQ(step[0], want[i].step[0]);
        EXPECT_EQ(step[1], want[i].step[1]);
    }
    EXPECT_TRUE(dl.target_stack.empty() && dl.clip_stack.empty() && dl.offset_stack.empty());
    EXPECT_EQ(dl.unbalanced_pops, 0);
}

}  // namespace
