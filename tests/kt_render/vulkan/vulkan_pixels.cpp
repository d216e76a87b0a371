#include "tests/kt_render/vulkan/vulkan_pixels.h"

#include <cstdio>

#include "engine/kt_system/log.h"

namespace {
std::vector<std::string> errors, lines;
void sink(Log_Level level, std::string_view line) {
    if (level == Log_Level::Error) errors.emplace_back(line);
    if (level != Log_Level::Debug) lines.emplace_back(line);
    if (level != Log_Level::Debug) std::fprintf(stderr, "%.*s\n", int(line.size()), line.data());
}
}  // namespace

std::vector<std::string>& logged_errors() { return errors; }
std::vector<std::string>& logged_lines() { return lines; }
bool logged(std::string_view text) {
    for (const std::string& l : lines) {
        if (l.find(text) != std::string::npos) return true;
    }
    return false;
}
void capture_log() { log_set_sink(sink); }

Offscreen::Offscreen(int w, int h) : width(w), height(h) {
    need_vulkan();
    capture_log();
    Backend b;
    made = vulkan_create_offscreen(w, h, b) == Create_Error::None;
    draw_list_init(r, b, w, h);
}

Offscreen::~Offscreen() { draw_list_destroy(r); }

Texture_Pixels Offscreen::frame() {
    ren_render(r.backend, r.draw_list);
    return vulkan_read_frame(r.backend);
}

bool near_colour(uint32_t got, uint32_t want, int tolerance) {
    for (int i = 0; i < 4; ++i) {
        int a = int(got >> (8 * i) & 0xFF), b = int(want >> (8 * i) & 0xFF);
        if (a - b > tolerance || b - a > tolerance) return false;
    }
    return true;
}

std::string colour_text(uint32_t c) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "(%u, %u, %u, %u)", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF, c >> 24);
    return buf;
}

std::string screenshot_dir() {
    std::string build = env_get("QM_BINARY_DIR");
    std::string dir = path_join({build.empty() ? std::string_view(".") : std::string_view(build), "screenshots"});
    fs_make_dirs(dir);
    return dir;
}
