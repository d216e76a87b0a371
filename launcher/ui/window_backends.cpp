#include "launcher/ui/window_main.h"

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "launcher/ui/background.h"

namespace {

// The probe's instance and device, kept for the window's backend: the
// renderer asks for the probe and then for the backend, and making the
// instance and finding the device twice was a good part of the start.
Vulkan_Prepared* prepared = nullptr;

Probe_Result probe_keeping_device() {
    vulkan_discard_prepared(prepared);
    Probe_Result probe;
    prepared = vulkan_prepare(probe);
    return probe;
}

Create_Error create_from_probe(Window* window, Backend& out) {
    Vulkan_Prepared* p = prepared;
    prepared = nullptr;
    return vulkan_create_prepared(p, window, out);
}

}  // namespace

// The one backend the window asks for; without a Vulkan device the
// renderer falls back to the empty backend and the window stays blank.
std::span<const Backend_Desc> window_backends() {
    static const Backend_Desc descs[] = {
        {Backend_Kind::Vulkan, probe_keeping_device, create_from_probe, vulkan_backend_desc().stop_on_failure}};
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
