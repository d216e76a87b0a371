#include "launcher/ui/window_main.h"

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/thread.h"

namespace {

// The probe started before the window opened, and what it found.
Thread probe_thread;
Probe_Result early_probe;
bool early_probe_done = false;

// The window's probe: the one already under way when there is one, else a
// probe now.
Probe_Result probe_once() {
    window_probe_wait();
    if (!early_probe_done) {
        early_probe = vulkan_probe();
        early_probe_done = true;
    }
    return early_probe;
}

}  // namespace

void window_probe_start() {
    if (probe_thread.started() || early_probe_done) return;
    // Without a thread the probe runs when the renderer is made, as before.
    thread_start(probe_thread, [] {
        early_probe = vulkan_probe();
        early_probe_done = true;
    });
}

void window_probe_wait() { thread_join(probe_thread); }

// The one backend the window asks for; without a Vulkan device the
// renderer falls back to the empty backend and the window stays blank.
std::span<const Backend_Desc> window_backends() {
    static const Backend_Desc descs[] = {{Backend_Kind::Vulkan, probe_once, vulkan_backend_desc().create,
                                          vulkan_backend_desc().stop_on_failure}};
    return descs;
}

void window_capture_frames(Backend& b) { vulkan_capture_frames(b, true); }

bool window_screenshot(Backend& b, const std::string& path) {
    Texture_Pixels f = vulkan_read_frame(b);
    if (f.width <= 0 || f.height <= 0) return false;
    return write_png_file(path, f.width, f.height, 4, f.pixels.data());
}

Shader_Desc window_shader(std::string_view name) {
    Shader_Code c = shader_code(name);
    Shader_Desc d;
    d.code = c.words;
    d.uniform_size = c.uniform_size;
    d.texture_count = c.texture_count;
    return d;
}

bool window_device_lost(Backend& b) { return vulkan_last_render_result(b) == 2; }

int window_backend_errors() { return vulkan_validation_errors(); }
