// The draw list: the frame's vertices, indices and draw commands, with the
// uniform bytes and texture lists of custom shaders, and the clip, offset,
// tint, blend and target stacks that every appended primitive picks up.
// Consecutive primitives with the same state share one command.
//
// Colours are packed u32 with red in the lowest byte and alpha in the
// highest (0xAABBGGRR; the bytes R, G, B, A in memory order): 0xFFB85F00 is
// the colour #005FB8. colour_rgb turns the #RRGGBB way of writing into it.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "engine/kt_render/backend.h"

// #RRGGBB (as 0xRRGGBB) with an alpha byte -> the packed colour.
constexpr uint32_t colour_rgb(uint32_t rrggbb, uint8_t alpha = 0xFF) {
    return uint32_t(alpha) << 24 | (rrggbb & 0xFF) << 16 | (rrggbb & 0xFF00) | (rrggbb >> 16 & 0xFF);
}

struct Vertex {
    float position[2];   // pixels from the target's top-left corner
    float uv[2];
    uint32_t colour;
};
static_assert(sizeof(Vertex) == 20);

struct Clip_Rect {
    int64_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Clip_Rect&) const = default;
};

struct Draw_Command {
    uint32_t first_index = 0;
    uint32_t index_count = 0;
    Handle texture = 0;   // 0: none
    Handle target = 0;    // 0: the window's image
    Material material = Material::Solid;
    Blend blend = Blend::Alpha;
    Clip_Rect clip;
    Handle shader = 0;    // 0: the built-in pipelines
    uint32_t uniform_offset = 0, uniform_size = 0;
    uint32_t texture_offset = 0, texture_count = 0;
    bool operator==(const Draw_Command&) const = default;
};

struct Target_Entry {
    Handle target = 0;
    int width = 0, height = 0;
};

struct Offset {
    float x = 0, y = 0;
};

struct Size {
    int width = 0, height = 0;
};

inline constexpr uint32_t uniform_alignment = 256;

struct Draw_List {
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;
    std::vector<Draw_Command> commands;
    std::vector<uint8_t> uniforms;
    std::vector<Handle> texture_lists;
    uint32_t clear_colour = 0;
    bool clear = false;
    Size frame_size;
    std::vector<Rect> clip_stack;
    std::vector<Offset> offset_stack;
    std::vector<uint32_t> tint_stack;
    std::vector<Blend> blend_stack;
    std::vector<Target_Entry> target_stack;
    int unbalanced_pops = 0;
    Size window_size;
    // The "blur" post-effect shader that blur_pass draws with (0: blur_pass
    // draws nothing); set by the owner once it has registered the effect.
    Handle blur_shader = 0;
};

// Frame start: empties every array, sets the clear colour and the clear
// flag, the frame size to the window size, and forgets unbalanced pops.
void draw_list_begin_frame(Draw_List& list, uint32_t clear_colour);

// Appends vertices (positions moved by the current offset, colours tinted)
// and indices (relative to the given vertices) as one command, merged with
// the previous one when nothing but the count differs. Every primitive ends
// here. With a shader the uniform bytes start at a multiple of 256 and the
// command is never merged.
void emit_command(Draw_List& list, Handle texture, Material material, std::span<const Vertex> vertices,
                  std::span<const uint32_t> indices, Handle shader = 0, std::span<const uint8_t> uniforms = {},
                  std::span<const Handle> textures = {});

// A solid rectangle. A colour with alpha 0 is drawn only under Opaque blend.
void draw_rect(Draw_List& list, Rect r, uint32_t colour);

struct Uv_Rect {
    float left = 0, top = 0, right = 1, bottom = 1;
};
// A rectangle drawn by a custom shader with its textures and uniforms.
void draw_image(Draw_List& list, Handle shader, Rect r, std::span<const Handle> textures,
                std::span<const uint8_t> uniforms, Uv_Rect uv = {});

// The clip in force: the clip stack's top, else the whole current target.
Rect current_clip(const Draw_List& list);
// Pushes the rectangle (moved by the rounded offset) cut to the current clip.
void push_clip(Draw_List& list, Rect r);
void pop_clip(Draw_List& list);
// Drawing goes into the target texture, unshifted and unclipped.
void push_target(Draw_List& list, Handle target, int width, int height);
// Pops the target, the offset and the clip stack.
void pop_target(Draw_List& list);
void push_blend(Draw_List& list, Blend blend);
void pop_blend(Draw_List& list);
// The offset adds to the current one.
void push_offset(Draw_List& list, float dx, float dy);
void pop_offset(Draw_List& list);
// The tint multiplies the current one channel by channel.
void push_tint(Draw_List& list, uint32_t tint);
void pop_tint(Draw_List& list);

// Blurs texture a in place through texture b (two render targets of that
// size) with list.blur_shader, horizontally then vertically.
void blur_pass(Draw_List& list, int width, int height, float spread, Handle a, Handle b);
