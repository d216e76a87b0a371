// Shared by the Vulkan backend's tests: a backend on lavapipe (the program
// exits 77, reported as skipped, when there is none), validation errors
// that fail the test, frames drawn and read back, pixels looked at.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_render/renderer.h"
#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

// Skips the whole program (exit 77) when no Vulkan device can be had.
inline void need_vulkan() {
    static bool checked = false;
    if (checked) return;
    checked = true;
    Probe_Result p = vulkan_probe();
    if (!p.available) {
        std::printf("skipped: no Vulkan device (%s)\n", p.text.c_str());
        std::fflush(stdout);
        std::_Exit(77);
    }
}

// Lines logged at error level (the validation layer's among them) and all
// lines but debug ones, captured from the first backend on.
std::vector<std::string>& logged_errors();
std::vector<std::string>& logged_lines();
void capture_log();
// Whether a captured line contains the text.
bool logged(std::string_view text);

struct Offscreen {
    Renderer r;
    int width = 0, height = 0;
    bool made = false;
    Offscreen(int w, int h);
    ~Offscreen();
    Backend& b() { return r.backend; }
    Draw_List& dl() { return r.draw_list; }
    // Draws the draw list and reads the frame back.
    Texture_Pixels frame();
};

inline uint32_t pixel_at(const Texture_Pixels& p, int x, int y) {
    const uint8_t* q = &p.pixels[(size_t(y) * size_t(p.width) + size_t(x)) * 4];
    return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
}
// Whether each channel is within `tolerance` of the expected packed colour.
bool near_colour(uint32_t got, uint32_t want, int tolerance);
std::string colour_text(uint32_t c);

// The folder screenshots go to: <build>/screenshots.
std::string screenshot_dir();
