// The Vulkan backend on a real window's surface (SDL on Linux, Win32 under
// wine for the Windows build), both under an Xvfb of their own: the demo
// picture is drawn, the presented frame is read back and looked at.
#include <gtest/gtest.h>

#include "engine/kt_system/thread.h"
#include "engine/kt_system/window.h"
#include "tests/kt_render/vulkan/vulkan_pixels.h"
#include "tools/render_demo/demo_scene.h"

namespace {

// How the backend is made: by vulkan_create, or from a device prepared on
// another thread while the window opens (or from no prepared device).
enum class Making { Plain, Prepared, Prepared_None };

Vulkan_Prepared* prepared_for_test = nullptr;
Probe_Result prepared_probe;
Probe_Result probe_prepared_for_test() { return prepared_probe; }
Create_Error create_prepared_for_test(Window* w, Backend& out) {
    Vulkan_Prepared* p = prepared_for_test;
    prepared_for_test = nullptr;
    return vulkan_create_prepared(p, w, out);
}

struct Window_Backend {
    Window window;
    Renderer r;
    bool made = false;
    Window_Backend(int w, int h, Making making = Making::Plain) {
        need_vulkan();
        capture_log();
        Thread preparing;
        if (making == Making::Prepared) {
            if (!thread_start(preparing, [] { prepared_for_test = vulkan_prepare(prepared_probe); })) {
                ADD_FAILURE() << "no thread";
                return;
            }
        } else if (making == Making::Prepared_None) {
            prepared_probe = vulkan_probe();
        }
        Window_Desc desc;
        desc.title = "qm vulkan window test";
        desc.width = w;
        desc.height = h;
        std::string err;
        const int x = 0, y = 0;
        const bool window_made = make_window(window, desc, &x, &y, &err);
        thread_join(preparing);
        if (!window_made) {
            vulkan_discard_prepared(prepared_for_test);
            prepared_for_test = nullptr;
            ADD_FAILURE() << err;
            return;
        }
        Backend_Desc descs[] = {vulkan_backend_desc()};
        if (making != Making::Plain) {
            EXPECT_EQ(making == Making::Prepared, prepared_for_test != nullptr);
            descs[0].probe = probe_prepared_for_test;
            descs[0].create = create_prepared_for_test;
        }
        Renderer_Report rep = renderer_create(r, &window, window.width, window.height, descs, {});
        made = r.backend.render != nullptr;
        if (!made) {
            ADD_FAILURE() << "no backend: " << (rep.attempt_count ? rep.attempts[0].probe.text : "")
                          << " create error " << int(rep.attempts[0].create_error);
            return;
        }
        vulkan_capture_frames(r.backend, true);
    }
    ~Window_Backend() {
        draw_list_destroy(r);
        destroy_window(window);
    }
};

// The demo picture at its known places.
void check_demo_picture(const Texture_Pixels& f) {
    ASSERT_GE(f.width, 470);
    ASSERT_GE(f.height, 240);
    const uint32_t opaque_blend = demo_blend_colour & 0x00FFFFFF;
    struct {
        const char* what;
        int x, y;
        uint32_t rgb;
    } probes[] = {
        {"clear colour", 5, 5, demo_clear},
        {"clear colour below", 470, 300 < f.height ? 300 : f.height - 1, demo_clear},
        {"dark strip", demo_strip_x + 2, demo_strip_y + 2, demo_strip},
        {"opaque blend", demo_blend_x + demo_blend_step + demo_blend_w / 2, demo_blend_y + 12, opaque_blend},
        {"image: red square", demo_image_x + 8, demo_image_y + 8, 0xFF0000FF},
        {"image: white square", demo_image_x + 24, demo_image_y + 8, 0xFFFFFFFF},
    };
    for (const auto& p : probes) {
        uint32_t got = pixel_at(f, p.x, p.y) & 0x00FFFFFF;
        EXPECT_EQ(got, p.rgb & 0x00FFFFFF) << p.what << ": " << colour_text(got);
    }
    // Alpha blend over the strip: 160/255 of the colour.
    uint32_t alpha = pixel_at(f, demo_blend_x + demo_blend_w / 2, demo_blend_y + 12);
    uint32_t want = 0;
    const uint32_t strip = demo_strip, c = demo_blend_colour;
    for (int i = 0; i < 3; ++i) {
        double a = 160.0 / 255.0;
        double v = double(c >> (8 * i) & 0xFF) * a + double(strip >> (8 * i) & 0xFF) * (1 - a);
        want |= uint32_t(v + 0.5) << (8 * i);
    }
    EXPECT_TRUE(near_colour(alpha & 0x00FFFFFF, want, 1)) << colour_text(alpha);
    // The text is drawn in its line and nowhere left of it.
    int inked = 0;
    for (int y = demo_text_y; y < demo_text_y + 24; ++y)
        for (int x = demo_text_x; x < demo_text_x + 200; ++x) inked += (pixel_at(f, x, y) & 0xFFFFFF) != (demo_clear & 0xFFFFFF);
    EXPECT_GT(inked, 100);
    for (int y = demo_text_y; y < demo_text_y + 24; ++y) EXPECT_EQ(pixel_at(f, 5, y) & 0xFFFFFF, demo_clear & 0xFFFFFF);
}

void draws_the_demo_picture(Making making, const char* shot) {
    Window_Backend wb(480, 320, making);
    ASSERT_TRUE(wb.made);
    EXPECT_NE(wb.r.backend.description.find("Vulkan 1.3, llvmpipe"), std::string::npos) << wb.r.backend.description;
    Demo_Scene scene;
    ASSERT_TRUE(demo_scene_init(scene, wb.r));
    for (int frame = 0; frame < 3; ++frame) {
        window_pump();
        demo_scene_draw(scene, wb.r, frame);
        ren_render(wb.r.backend, wb.r.draw_list);
        EXPECT_EQ(vulkan_last_render_result(wb.r.backend), 0);
    }
    Texture_Pixels f = vulkan_read_frame(wb.r.backend);
    ASSERT_EQ(f.width, 480);
    ASSERT_EQ(f.height, 320);
    write_png_file(path_join({screenshot_dir(), shot}), f.width, f.height, 4, f.pixels.data());
    check_demo_picture(f);
    EXPECT_EQ(vulkan_swapchain_rebuilds(wb.r.backend), 0);
    demo_scene_destroy(scene, wb.r);
}

TEST(VulkanWindow, DemoPictureReadBackFromTheSwapchain) {
    draws_the_demo_picture(Making::Plain, "vulkan_window_demo.png");
    EXPECT_EQ(vulkan_validation_errors(), 0);
    for (const std::string& e : logged_errors()) ADD_FAILURE() << e;
}

// The device made on another thread while the window opened (or none made
// ahead) gives the same backend and picture; the probe it answers with is
// the plain probe's.
TEST(VulkanWindow, ADevicePreparedWhileTheWindowOpensDrawsTheSamePicture) {
    const Probe_Result plain = vulkan_probe();
    draws_the_demo_picture(Making::Prepared, "vulkan_window_demo_prepared.png");
    EXPECT_TRUE(prepared_probe.available);
    EXPECT_EQ(prepared_probe.text, plain.text);
    EXPECT_EQ(prepared_probe.device, plain.device);
    draws_the_demo_picture(Making::Prepared_None, "vulkan_window_demo_prepared_none.png");
    EXPECT_EQ(vulkan_validation_errors(), 0);
    for (const std::string& e : logged_errors()) ADD_FAILURE() << e;
}

// A prepared device nobody takes is destroyed whole: the validation layer
// reports no object left behind.
TEST(VulkanWindow, APreparedDeviceLeftUnusedIsDestroyed) {
    need_vulkan();
    capture_log();
    Probe_Result probe;
    Vulkan_Prepared* p = vulkan_prepare(probe);
    ASSERT_NE(p, nullptr) << probe.text;
    vulkan_discard_prepared(p);
    vulkan_discard_prepared(nullptr);
    EXPECT_EQ(vulkan_validation_errors(), 0);
    for (const std::string& e : logged_errors()) ADD_FAILURE() << e;
}

}  // namespace
