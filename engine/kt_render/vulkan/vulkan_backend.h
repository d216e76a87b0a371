// The renderer's Vulkan backend: the loader opened at run time, one device,
// a swapchain on the window's surface (or, offscreen, one image of its own),
// textures, custom fragment shaders and two frames in flight. It fills the
// nine Backend slots of engine/kt_render/backend.h.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/kt_render/backend.h"

// The probe: "Vulkan 1.3 on <device>" or why no device can be used; keeps
// nothing open.
Probe_Result vulkan_probe();
// Makes the backend on the window's surface.
Create_Error vulkan_create(Window* window, Backend& out);
// The program's entry for renderer_create.
Backend_Desc vulkan_backend_desc();

// The device made before its window exists, so that the two can be made at
// the same time (this on another thread): an instance with the surface
// extensions the system's windows may need, the device chosen as the probe
// chooses it, its frames, fixed objects and white texture. `probe` gets
// what vulkan_probe would say. nullptr when no device could be made.
struct Vulkan_Prepared;
Vulkan_Prepared* vulkan_prepare(Probe_Result& probe);
// The backend on the window from a prepared device: its surface and
// swapchain. Without one, or when the window's surface needs an extension
// the instance lacks or the device's queue family cannot present to it, as
// vulkan_create. The prepared device is used up either way.
Create_Error vulkan_create_prepared(Vulkan_Prepared* prepared, Window* window, Backend& out);
// Destroys a prepared device that will not be used (nothing for nullptr).
void vulkan_discard_prepared(Vulkan_Prepared* prepared);

// A backend without a window: the window image is an RGBA8 image of the
// given size that is never presented; its frames can be read back with
// vulkan_read_frame. Used by tests, demos and benchmarks.
Create_Error vulkan_create_offscreen(int width, int height, Backend& out);

// What a device offers, as find_device sees it.
struct Device_Facts {
    std::string name;
    uint32_t api_version = 0;
    bool discrete = false;
    bool has_dynamic_rendering = false;   // the extension (below 1.3) or the 1.3 feature
    bool has_synchronization2 = false;
    bool dynamic_rendering_on = false;    // the features query
    bool synchronization2_on = false;
    bool has_swapchain = false;
    int family = -1;   // the first family that draws and presents, -1 none
};
struct Device_Choice {
    bool found = false;
    int index = -1;
    std::string reason;
};
// The device rule: the first discrete GPU that passes, else the first that
// passes; without one the reason of the last device turned down.
Device_Choice choose_device(std::span<const Device_Facts> devices);
// "" when the loader version will do, else why not (0 = no version query).
std::string loader_version_problem(uint32_t version);

// Swapchain choices. Formats and colour spaces are Vulkan's numbers.
struct Surface_Format {
    uint32_t format = 0;
    uint32_t colour_space = 0;
};
Surface_Format choose_surface_format(std::span<const Surface_Format> offered);
struct Present_Choice {
    uint32_t mode = 0;    // VkPresentModeKHR
    uint32_t images = 0;
};
Present_Choice choose_present_mode(std::span<const uint32_t> modes, uint32_t min_images, uint32_t max_images);

// A pipeline a program knows it will draw with: a custom shader (or 0 with
// a built-in material) and blend, into the window or into a texture of
// the given format.
struct Pipeline_Want {
    Handle shader = 0;
    Material material = Material::Textured;
    Blend blend = Blend::Alpha;
    bool window = true;
    Pixel_Format target_format = Pixel_Format::RGBA8;   // when not the window
};
// Makes these pipelines ahead of their first use, each on a thread of its
// own, while the program goes on; the first draw that needs any pipeline
// not yet in the cache waits for them. Pipelines already made or under way
// are skipped; one whose thread cannot start is made at its first use.
void vulkan_warm_pipelines(Backend& b, std::span<const Pipeline_Want> wants);

// The result of the last render slot call: 0 presented, 1 skipped, 2 device lost.
int vulkan_last_render_result(Backend& b);
// Swapchains made since the first one (resizes, out-of-date surfaces).
int vulkan_swapchain_rebuilds(Backend& b);

// Keeps a copy of every later frame's window image, for vulkan_read_frame.
// Always on for an offscreen backend.
void vulkan_capture_frames(Backend& b, bool on);
// The window image of the last captured frame as RGBA8 (width 0 when none).
Texture_Pixels vulkan_read_frame(Backend& b);

// Writes RGBA8 (4 channels), RG8 (2) or R8 (1) pixels as a PNG file.
bool write_png_file(const std::string& path, int width, int height, int channels, const uint8_t* pixels);

// Validation: with QM_VULKAN_VALIDATION set (non-empty) in the environment
// the backend's instances load the Khronos validation layer, and every error
// it reports is logged ("ren_vulkan: validation: ...") and counted here.
int vulkan_validation_errors();

// The program's SPIR-V (compiled at build time from shaders/).
struct Shader_Code {
    const char* name;
    std::span<const uint32_t> words;
    int uniform_size;
    int texture_count;
};
// The built-in vertex and fragment shaders.
std::span<const uint32_t> builtin_vertex_code();
std::span<const uint32_t> builtin_fragment_code(Material m);
// The post effects ("bloom_extract", "blur", "bloom_combine", "neon") and the
// launcher's two ("background", "panel"), by name; words empty when unknown.
Shader_Code shader_code(std::string_view name);
