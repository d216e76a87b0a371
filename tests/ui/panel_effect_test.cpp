// The frosted panels on lavapipe: the window's real background pass drawn
// by the Vulkan backend offscreen, then a page panel and a dialog box drawn
// through the rounded-panel shader, which samples the blurred eighth-size
// target. Each pixel looked at is worked out from that target as read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "launcher/ui/background.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"
#include "launcher/ui/window_main.h"

namespace {

constexpr int W = 160, H = 120;

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// The texture as the shader's linear sampler sees it at a point of the
// window (clamped at the edges).
Rgb sample(const Texture_Pixels& t, double x, double y) {
    double u = x / W * t.width - 0.5, v = y / H * t.height - 0.5;
    int x0 = int(std::floor(u)), y0 = int(std::floor(v));
    double fx = u - x0, fy = v - y0;
    auto at = [&](int px, int py, int c) {
        px = std::clamp(px, 0, t.width - 1);
        py = std::clamp(py, 0, t.height - 1);
        return double(t.pixels[(size_t(py) * size_t(t.width) + size_t(px)) * 4 + size_t(c)]);
    };
    double out[3];
    for (int c = 0; c < 3; ++c) {
        double top = at(x0, y0, c) * (1 - fx) + at(x0 + 1, y0, c) * fx;
        double bottom = at(x0, y0 + 1, c) * (1 - fx) + at(x0 + 1, y0 + 1, c) * fx;
        out[c] = top * (1 - fy) + bottom * fy;
    }
    return {out[0], out[1], out[2]};
}

Rgb frame_pixel(const Texture_Pixels& f, int x, int y) {
    const uint8_t* p = &f.pixels[(size_t(y) * size_t(f.width) + size_t(x)) * 4];
    return {double(p[0]), double(p[1]), double(p[2])};
}

bool near(const Rgb& got, const Rgb& want, double tolerance) {
    return std::fabs(got.r - want.r) <= tolerance && std::fabs(got.g - want.g) <= tolerance &&
           std::fabs(got.b - want.b) <= tolerance;
}

std::string text(const Rgb& c) {
    char s[64];
    std::snprintf(s, sizeof s, "(%.1f, %.1f, %.1f)", c.r, c.g, c.b);
    return s;
}

TEST(PanelEffect, PanelsAndDialogsAreTheBlurredBackgroundUnderTheirTint) {
    Renderer r;
    Backend b;
    if (vulkan_create_offscreen(W, H, b) != Create_Error::None) {
        std::printf("skipped: no Vulkan device\n");
        std::fflush(stdout);
        std::_Exit(77);
    }
    draw_list_init(r, b, W, H);
    Library lib;
    Background_Pass bg;
    background_start(bg, r.backend, lib, {window_shader("background"), window_shader("panel"), window_shader("blur")});
    ASSERT_TRUE(background_on(bg));

    Ui_State ui;
    ui.draw_list = &r.draw_list;
    ui.area = {0, 0, W, H};
    const Ui_Rect panel{20, 16, 70, 50};
    const int64_t radius = 7;
    for (int frame = 0; frame < 2; ++frame) {   // the targets made, then only shown
        draw_list_begin_frame(r.draw_list, 0xFFF3F3F3);
        background_draw(bg, r, 1.0f);
        ui.panel_effect = true;
        ui.panel_shader = bg.panel_shader;
        ui.panel_texture = bg.eighth_a;
        draw_panel(ui, panel, radius, colour_rgb(0xFBFBFB));
        ren_render(r.backend, r.draw_list);
        ASSERT_EQ(vulkan_last_render_result(r.backend), 0);
    }
    Texture_Pixels f = vulkan_read_frame(r.backend);
    Texture_Pixels eighth = ren_read_texture(r.backend, bg.eighth_a);
    ASSERT_EQ(f.width, W);
    ASSERT_EQ(eighth.width, W / 8);

    // Inside: 86 % of the panel's colour, 14 % of the blurred background
    // seen at that place.
    for (auto [x, y] : {std::pair{55, 41}, std::pair{25, 60}, std::pair{85, 20}}) {
        const Rgb seen = sample(eighth, x + 0.5, y + 0.5);
        const Rgb want{0.86 * 251 + 0.14 * seen.r, 0.86 * 251 + 0.14 * seen.g, 0.86 * 251 + 0.14 * seen.b};
        EXPECT_TRUE(near(frame_pixel(f, x, y), want, 2.5))
            << "at " << x << "," << y << ": " << text(frame_pixel(f, x, y)) << ", want " << text(want);
    }
    // The rounded corner leaves the window's background; beside the panel
    // too.
    const Rgb outside = frame_pixel(f, 5, 100);
    EXPECT_LT(outside.r, 240) << text(outside);
    const Rgb corner = frame_pixel(f, int(panel.x), int(panel.y));
    EXPECT_LT(corner.r, 240) << "the corner is rounded off: " << text(corner);

    // A dialog box: the tint 132, 168, 214 at 230 of 255, mixed by 0.86.
    draw_list_begin_frame(r.draw_list, 0xFFF3F3F3);
    background_draw(bg, r, 1.0f);
    const Ui_Rect box = dialog_begin(ui, 100, 80);
    ren_render(r.backend, r.draw_list);
    f = vulkan_read_frame(r.backend);
    const int cx = int(box.x + box.w / 2), cy = int(box.y + box.h / 2);
    const Rgb seen = sample(eighth, cx + 0.5, cy + 0.5);
    const double k = 0.86 * 230.0 / 255.0;
    const Rgb want{k * 132 + (1 - k) * seen.r, k * 168 + (1 - k) * seen.g, k * 214 + (1 - k) * seen.b};
    EXPECT_TRUE(near(frame_pixel(f, cx, cy), want, 2.5)) << text(frame_pixel(f, cx, cy)) << ", want " << text(want);

    background_stop(bg, r.backend);
    draw_list_destroy(r);
    EXPECT_EQ(vulkan_validation_errors(), 0);
}

}  // namespace
