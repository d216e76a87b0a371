// The picture render_demo draws, kept apart so that tests and benchmarks
// draw the same one: known shapes at known places.
#pragma once
#include <cstdint>

#include "engine/kt_render/font.h"
#include "engine/kt_render/renderer.h"

struct Demo_Scene {
    Library lib;
    Font* font = nullptr;
    Handle checker = 0;             // 32x32 image, 8-pixel squares
    Handle background = 0, panel = 0, blur = 0;   // shaders
    Handle half = 0, quarter_a = 0, quarter_b = 0;   // render targets
    int target_width = 0, target_height = 0;         // the window size they were made for
};

// Where things are, for the pixel checks.
inline constexpr uint32_t demo_clear = 0xFFF3F3F3;                 // (243, 243, 243)
inline constexpr int demo_strip_x = 20, demo_strip_y = 20;         // the dark strip under the blend rectangles
inline constexpr uint32_t demo_strip = 0xFF282828;                 // (40, 40, 40)
inline constexpr int demo_blend_x = 30, demo_blend_step = 85, demo_blend_y = 28, demo_blend_w = 70, demo_blend_h = 24;
inline constexpr uint32_t demo_blend_colour = 0xA0B85F00;          // (0, 95, 184) at alpha 160
inline constexpr int demo_image_x = 20, demo_image_y = 110;        // 64x64, red and white squares of 16
inline constexpr int demo_text_x = 20, demo_text_y = 72;

// A shader of the backend's built-in set, by name ("background", "blur", …).
Handle demo_shader(Backend& b, const char* name);
// `texture` drawn over the rectangle, untinted.
void textured_quad(Draw_List& dl, Handle texture, Rect r);

bool demo_scene_init(Demo_Scene& s, Renderer& r);
// Draws one frame's picture into the draw list (begin_frame included);
// `frame` animates the background.
void demo_scene_draw(Demo_Scene& s, Renderer& r, int frame);
void demo_scene_destroy(Demo_Scene& s, Renderer& r);
