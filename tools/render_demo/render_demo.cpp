// render_demo: opens a window and draws the demo picture (rectangles in
// every blend mode, text in the embedded fonts, an image, the blur chain
// into render targets, a custom shader) with the Vulkan backend.
//   render_demo [--frames N] [--size WxH] [--title TEXT] [--png PATH] [--target-png PATH]
//               [--wait-resize] [--offscreen]
// It prints "ready <backend>" after the first frame and, at the end,
//   frames 300 presented 300 skipped 0 rebuilds 0 validation_errors 0
// --png writes the last frame, --target-png the blurred render target.
// --wait-resize keeps drawing until the window's size has changed and 10 more
// frames are drawn (and --frames are done); it gives up after 25 minutes,
// so that a test that never resizes cannot leave it running. Exit code 1 when no backend could be made, a picture could not be
// written or validation reported an error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/window.h"
#include "tools/render_demo/demo_scene.h"

int main(int argc, char** argv) {
    int frames = 60, width = 480, height = 320;
    std::string title = "render_demo", png, target_png;
    bool wait_resize = false, offscreen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--frames") frames = std::atoi(next().c_str());
        else if (a == "--size") std::sscanf(next().c_str(), "%dx%d", &width, &height);
        else if (a == "--title") title = next();
        else if (a == "--png") png = next();
        else if (a == "--target-png") target_png = next();
        else if (a == "--wait-resize") wait_resize = true;
        else if (a == "--offscreen") offscreen = true;
        else {
            std::fprintf(stderr, "render_demo: unknown argument %s\n", a.c_str());
            return 2;
        }
    }

    Window window;
    Renderer r;
    if (offscreen) {
        Backend b;
        if (vulkan_create_offscreen(width, height, b) != Create_Error::None) {
            std::printf("no backend: the offscreen backend could not be made\n");
            return 1;
        }
        draw_list_init(r, b, width, height);
    } else {
        Window_Desc desc;
        desc.title = title;
        desc.width = width;
        desc.height = height;
        std::string err;
        const int x = 0, y = 0;
        if (!make_window(window, desc, &x, &y, &err)) {
            std::printf("no window: %s\n", err.c_str());
            return 1;
        }
        const Backend_Desc descs[] = {vulkan_backend_desc()};
        Renderer_Report rep = renderer_create(r, &window, window.width, window.height, descs, {});
        if (!r.backend.render) {
            std::printf("no backend: %s\n", rep.attempt_count ? rep.attempts[0].probe.text.c_str() : "none");
            destroy_window(window);
            return 1;
        }
        vulkan_capture_frames(r.backend, !png.empty());
    }

    Demo_Scene scene;
    if (!demo_scene_init(scene, r)) {
        std::printf("the demo's textures, fonts or shaders could not be made\n");
        draw_list_destroy(r);
        if (!offscreen) destroy_window(window);
        return 1;
    }
    int presented = 0, skipped = 0, drawn = 0, extra = -1;
    const int64_t give_up = clock_ns() + 1'500'000'000'000;   // only a guard against a hang
    bool resized = false;
    for (int frame = 0;; ++frame) {
        if (!offscreen) {
            window_pump();
            uint8_t changes = window_take_changes(window);
            if (changes & change_resized) {
                renderer_resize(r, window.width, window.height);
                std::printf("resized %dx%d\n", window.width, window.height);
                std::fflush(stdout);
                resized = true;
            }
            if (window.close_requested) break;
        }
        demo_scene_draw(scene, r, frame);
        ren_render(r.backend, r.draw_list);
        int result = vulkan_last_render_result(r.backend);
        (result == 0 ? presented : skipped)++;
        ++drawn;
        if (drawn == 1) {
            std::printf("ready %s\n", r.backend.description.c_str());
            std::fflush(stdout);
        }
        if (result == 2) break;
        bool frames_done = frames > 0 && drawn >= frames;
        if (wait_resize) {
            if (resized && extra < 0) extra = 10;
            if (extra > 0) --extra;
            if ((extra == 0 && (frames <= 0 || frames_done)) || clock_ns() > give_up) break;
        } else if (frames_done) {
            break;
        }
    }
    bool ok = true;
    if (!png.empty()) {
        Texture_Pixels f = vulkan_read_frame(r.backend);
        ok = f.width > 0 && write_png_file(png, f.width, f.height, 4, f.pixels.data()) && ok;
    }
    if (!target_png.empty()) {
        Texture_Pixels t = ren_read_texture(r.backend, scene.quarter_a);
        ok = t.width > 0 && write_png_file(target_png, t.width, t.height, 4, t.pixels.data()) && ok;
    }
    int rebuilds = vulkan_swapchain_rebuilds(r.backend);
    demo_scene_destroy(scene, r);
    draw_list_destroy(r);
    if (!offscreen) destroy_window(window);
    int errors = vulkan_validation_errors();
    std::printf("frames %d presented %d skipped %d rebuilds %d validation_errors %d\n", drawn, presented, skipped,
                rebuilds, errors);
    return ok && errors == 0 ? 0 : 1;
}
