#include "launcher/ui/window_main.h"

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/thread.h"
#include "launcher/ui/background.h"

namespace {

// The device prepared while the window opened, and what its probe found.
Thread prepare_thread;
Probe_Result early_probe;
Vulkan_Prepared* prepared = nullptr;
bool prepare_done = false;

// The window's probe: the preparation's, once it has ended; a probe now
// when there was none.
Probe_Result probe_prepared() {
    thread_join(prepare_thread);
    if (!prepare_done) {
        early_probe = vulkan_probe();
        prepare_done = true;
    }
    return early_probe;
}

// The backend on the window, from the prepared device when there is one.
Create_Error create_prepared(Window* window, Backend& out) {
    thread_join(prepare_thread);
    Vulkan_Prepared* p = prepared;
    prepared = nullptr;
    return vulkan_create_prepared(p, window, out);
}

}  // namespace

void window_renderer_prepare() {
    if (prepare_thread.started() || prepare_done) return;
    // Without a thread the probe and the device are made when the renderer
    // is, as without preparation.
    thread_start(prepare_thread, [] {
        prepared = vulkan_prepare(early_probe);
        prepare_done = true;
    });
}

void window_renderer_unprepare() {
    thread_join(prepare_thread);
    vulkan_discard_prepared(prepared);
    prepared = nullptr;
}

// The one backend the window asks for; without a Vulkan device the
// renderer falls back to the empty backend and the window stays blank.
std::span<const Backend_Desc> window_backends() {
    static const Backend_Desc descs[] = {
        {Backend_Kind::Vulkan, probe_prepared, create_prepared, vulkan_backend_desc().stop_on_failure}};
    return descs;
}

void window_warm_pipelines(Backend& b, const Background_Pass& bg) {
    // What the first frame draws with: the background chain into its
    // targets, that picture stretched over the window, the frosted panels,
    // the widgets and the text.
    std::vector<Pipeline_Want> wants = {
        {0, Material::Textured, Blend::Opaque, false, Pixel_Format::RGBA8},
        {0, Material::Textured, Blend::Opaque, true, Pixel_Format::RGBA8},
        {0, Material::Textured, Blend::Alpha, true, Pixel_Format::RGBA8},
        {0, Material::Coverage, Blend::Alpha, true, Pixel_Format::RGBA8},
    };
    if (background_on(bg)) {
        wants.push_back({bg.background_shader, Material::Solid, Blend::Opaque, false, Pixel_Format::RGBA8});
        wants.push_back({bg.blur_shader, Material::Solid, Blend::Opaque, false, Pixel_Format::RGBA8});
        wants.push_back({bg.panel_shader, Material::Solid, Blend::Alpha, true, Pixel_Format::RGBA8});
    }
    vulkan_warm_pipelines(b, wants);
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
