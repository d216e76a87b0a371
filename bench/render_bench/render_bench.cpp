// A launcher-like frame through the Vulkan backend, offscreen at the
// window's size (1080 x 760): the background blur chain (background shader
// at half size, a quarter and an eighth blurred as the main loop does),
// about 400 rectangles and 2,000 glyphs. Prints frames per second, the CPU
// time per frame of the whole process (the driver's threads included: on
// lavapipe that is the drawing itself), and the time spent building the
// draw list apart from the time inside the backend's render call.
//
//   render_bench [--frames N] [--size WxH]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/kt_render/font.h"
#include "engine/kt_render/text.h"
#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/clock.h"
#include "tools/render_demo/demo_scene.h"

namespace {

Handle target(Backend& b, int w, int h) {
    Texture_Desc d;
    d.width = std::max(w, 1);
    d.height = std::max(h, 1);
    d.filter = Filter::Linear;
    d.flags = texture_flag_render_target;
    return ren_create_texture(b, d);
}

const char* const words[] = {"Build", "the", "game", "with", "options", "Quillmarsh", "mods", "HD", "textures",
                             "cutscenes", "Собрать", "игру", "ゲーム", "게임"};

}  // namespace

int main(int argc, char** argv) {
    int frames = 200, w = 1080, h = 760;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--size") == 0) std::sscanf(argv[i + 1], "%dx%d", &w, &h);
    }
    Backend b;
    if (vulkan_create_offscreen(w, h, b) != Create_Error::None) {
        std::printf("render_bench: no Vulkan device: %s\n", vulkan_probe().text.c_str());
        return 1;
    }
    Renderer r;
    draw_list_init(r, b, w, h);
    std::printf("render_bench: %s, %dx%d, %d frames\n", r.backend.description.c_str(), w, h, frames);
    Library lib;
    font_add_embedded(lib, "noto_sans_regular");
    const uint8_t order[4] = {0, 1, 2, 3};
    Font* font = font_create(lib, r, 1, "noto_sans_regular", 15, order);
    Handle background = demo_shader(r.backend, "background"), blur = demo_shader(r.backend, "blur"),
           panel = demo_shader(r.backend, "panel");
    Handle half = target(r.backend, w / 2, h / 2), qa = target(r.backend, w / 4, h / 4),
           qb = target(r.backend, w / 4, h / 4), ea = target(r.backend, w / 8, h / 8),
           eb = target(r.backend, w / 8, h / 8);
    if (!font || !background || !blur || !panel || !half || !qa || !qb || !ea || !eb) {
        std::printf("render_bench: the frame's fonts, shaders or targets could not be made\n");
        return 1;
    }
    Draw_List& dl = r.draw_list;
    int64_t build_ns = 0, render_ns = 0, wall_start = 0, cpu_start = 0;
    size_t glyphs = 0, rects = 0, commands = 0;
    const int warm_up = 5;
    for (int frame = 0; frame < frames + warm_up; ++frame) {
        if (frame == warm_up) {
            wall_start = clock_ns();
            cpu_start = process_cpu_ns();
            build_ns = render_ns = 0;
        }
        int64_t t0 = clock_ns();
        draw_list_begin_frame(dl, 0xFFF3F3F3);
        dl.blur_shader = blur;
        float u[3] = {float(w / 2), float(h / 2), float(frame) * 0.02f};
        push_target(dl, half, w / 2, h / 2);
        draw_image(dl, background, {0, 0, w / 2, h / 2}, {},
                   std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(u), sizeof u));
        pop_target(dl);
        push_target(dl, qa, w / 4, h / 4);
        textured_quad(dl, half, {0, 0, w / 4, h / 4});
        pop_target(dl);
        blur_pass(dl, w / 4, h / 4, 1.6f, qa, qb);
        blur_pass(dl, w / 4, h / 4, 2.6f, qa, qb);
        push_target(dl, ea, w / 8, h / 8);
        textured_quad(dl, qa, {0, 0, w / 8, h / 8});
        pop_target(dl);
        for (float s : {1.6f, 2.6f, 4.0f}) blur_pass(dl, w / 8, h / 8, s, ea, eb);
        textured_quad(dl, half, {0, 0, w, h});
        for (int p = 0; p < 4; ++p) {
            float pu[14] = {float(20 + p * 265), 20, 250, float(h - 40), float(w), float(h), 0.5176471f, 0.6588235f,
                            0.8392157f, 0.9019608f, 8, 1, 0.86f, 1.0f};
            draw_image(dl, panel, {20 + p * 265, 20, 250, h - 40}, std::span<const Handle>(&ea, 1),
                       std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(pu), sizeof pu));
        }
        rects = 0;
        for (int i = 0; i < 400; ++i) {
            int x = 30 + (i % 16) * 64, y = 40 + (i / 16) * 28;
            draw_rect(dl, {x, y, 58, 22}, colour_rgb(uint32_t(0x203040 + i * 0x010203), 200));
            ++rects;
        }
        glyphs = 0;
        int line = 0;
        while (glyphs < 2000) {
            std::string text;
            for (int k = 0; k < 6; ++k) {
                text += words[(line * 7 + k * 3) % (sizeof words / sizeof words[0])];
                text += ' ';
            }
            draw_text(dl, font, text, 30 + (line % 4) * 260, 40 + (line / 4) * 18 % (h - 60), colour_rgb(0x1E1E1E));
            size_t pos = 0;
            while (pos < text.size()) glyphs += utf8_next(text, pos) != ' ';
            ++line;
        }
        commands = dl.commands.size();
        int64_t t1 = clock_ns();
        ren_render(r.backend, dl);
        int64_t t2 = clock_ns();
        build_ns += t1 - t0;
        render_ns += t2 - t1;
    }
    // Wait for the last frame so that the wall and CPU times cover all of it.
    vulkan_read_frame(r.backend);
    double wall = double(clock_ns() - wall_start) / 1e9;
    double cpu = double(process_cpu_ns() - cpu_start) / 1e9;
    std::printf("frame: %zu rectangles, %zu glyphs, %zu draw commands, blur chain of 5 passes\n", rects, glyphs,
                commands);
    std::printf("frames per second: %.1f (%.2f ms a frame)\n", frames / wall, wall * 1000 / frames);
    std::printf("CPU time per frame, whole process: %.2f ms\n", cpu * 1000 / frames);
    std::printf("draw-list building: %.3f ms a frame; backend render call: %.3f ms a frame\n",
                double(build_ns) / 1e6 / frames, double(render_ns) / 1e6 / frames);
    font_destroy(font);
    draw_list_destroy(r);
    return 0;
}
