// render_demo in a real window under Xvfb: 300 frames without a validation
// error, a screenshot of the X screen (ImageMagick's import) with the clear
// colour and the shapes at their places, and `xdotool windowsize` making
// exactly one new swapchain.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "tests/kt_render/vulkan/vulkan_pixels.h"
#include "tests/support/run_program.h"
#include "tools/render_demo/demo_scene.h"

namespace {

// Guards against a hang only: a busy machine may take minutes for what a
// quiet one does in seconds, and that must not fail the test.
constexpr int64_t hang_guard_ms = 1'200'000;

// A tool run to its end.
Program_Run run(const std::vector<std::string>& args) { return run_program(args, hang_guard_ms); }

// Reads a binary PPM (P6, maxval 255) into RGBA8.
Texture_Pixels read_ppm(const std::string& path) {
    std::string bytes;
    Texture_Pixels out;
    if (!fs_read(path, bytes)) return out;
    int w = 0, h = 0, maxval = 0, used = 0;
    if (std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &used) != 3 || maxval != 255) return out;
    size_t at = size_t(used) + 1;
    if (bytes.size() < at + size_t(w) * size_t(h) * 3) return out;
    out.width = w;
    out.height = h;
    out.pixels.resize(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i) {
        for (int c = 0; c < 3; ++c) out.pixels[i * 4 + size_t(c)] = uint8_t(bytes[at + i * 3 + size_t(c)]);
        out.pixels[i * 4 + 3] = 255;
    }
    return out;
}

bool have(const char* tool) { return run({"sh", "-c", std::string("command -v ") + tool}).code == 0; }

TEST(RenderDemoX11, ThreeHundredFramesScreenshotAndOneRebuildOnResize) {
    need_vulkan();
    if (!have("xdotool") || !have("import")) {
        std::printf("skipped: xdotool or ImageMagick's import is missing\n");
        std::exit(77);
    }
    std::string title = "qm render demo test";
    std::string err;
    Child* demo = child_start({QM_RENDER_DEMO, "--frames", "300", "--wait-resize", "--title", title}, "", nullptr, &err);
    ASSERT_NE(demo, nullptr) << err;
    std::string out;
    char buf[4096];
    auto wait_for = [&](const std::string& text) {
        const int64_t deadline = clock_ns() + hang_guard_ms * 1'000'000;
        while (out.find(text) == std::string::npos && clock_ns() < deadline) {
            if (!child_look(demo, 50)) continue;
            int64_t n = child_read(demo, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, size_t(n));
        }
        return out.find(text) != std::string::npos;
    };
    ASSERT_TRUE(wait_for("ready ")) << out;

    struct Probe {
        const char* what;
        int x, y;
        uint32_t rgb;
    } probes[] = {
        {"clear colour", 5, 5, demo_clear},
        {"clear colour, lower right", 470, 300, demo_clear},
        {"dark strip", demo_strip_x + 2, demo_strip_y + 2, demo_strip},
        {"opaque blend", demo_blend_x + demo_blend_step + demo_blend_w / 2, demo_blend_y + 12, demo_blend_colour},
        {"image: red square", demo_image_x + 8, demo_image_y + 8, 0xFF0000FF},
        {"image: white square", demo_image_x + 24, demo_image_y + 8, 0xFFFFFFFF},
        {"outside the window", 600, 400, 0},
    };
    auto matches = [](const Texture_Pixels& f, const Probe& p) {
        uint32_t got = pixel_at(f, p.x, p.y) & 0xFFFFFF;
        return p.rgb == 0 ? got != (demo_clear & 0xFFFFFF) : got == (p.rgb & 0xFFFFFF);
    };
    // The first frame is drawn when "ready" is printed, but it reaches the
    // X screen a little later: the screen is taken again until every probe
    // shows its colour (or the guard runs out and the last picture is judged).
    std::string shot = path_join({screenshot_dir(), "render_demo_x11.ppm"});
    Texture_Pixels f;
    const int64_t shot_deadline = clock_ns() + hang_guard_ms * 1'000'000;
    for (bool all = false; !all && clock_ns() < shot_deadline;) {
        Program_Run grab = run({"import", "-window", "root", "-crop", "640x480+0+0", "-depth", "8", "ppm:" + shot});
        ASSERT_EQ(grab.code, 0u) << grab.out;
        f = read_ppm(shot);
        ASSERT_GE(f.width, 480) << "no screenshot";
        all = true;
        for (const Probe& p : probes) all = all && matches(f, p);
    }
    for (const Probe& p : probes) {
        uint32_t got = pixel_at(f, p.x, p.y) & 0xFFFFFF;
        if (p.rgb == 0) {
            EXPECT_NE(got, demo_clear & 0xFFFFFF) << p.what;
        } else {
            EXPECT_EQ(got, p.rgb & 0xFFFFFF) << p.what << ": " << colour_text(got);
        }
    }

    Program_Run found = run({"xdotool", "search", "--name", "^" + title + "$"});
    std::string id = found.out.substr(0, found.out.find('\n'));
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(run({"xdotool", "windowsize", id, "400", "300"}).code, 0u);
    EXPECT_TRUE(wait_for("frames ")) << out;
    uint32_t code = 1;
    EXPECT_TRUE(child_wait(demo, hang_guard_ms, code));
    child_close(demo);
    EXPECT_EQ(code, 0u) << out;
    EXPECT_NE(out.find("resized 400x300"), std::string::npos) << out;
    EXPECT_NE(out.find("rebuilds 1 validation_errors 0"), std::string::npos) << out;
    int frames = 0;
    size_t at = out.find("frames ");
    if (at != std::string::npos) frames = std::atoi(out.c_str() + at + 7);
    EXPECT_GE(frames, 300) << out;
}

}  // namespace
