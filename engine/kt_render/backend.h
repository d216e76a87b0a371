// The renderer's backend interface: a record of nine procedures over the
// backend's private state, and the descriptions that go through it.
// The empty backend is this record with every field zero: callers skip a
// null slot, so every drawing call works over it and shows nothing.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/kt_render/handle.h"

struct Draw_List;
struct Window;   // the platform window (engine/kt_system)

enum class Backend_Kind : uint8_t { Vulkan = 0 };

enum class Pixel_Format : uint8_t { RGBA8, R8, RG8, RGBA16F, RGBA32F };
enum class Filter : uint8_t { Nearest, Linear };
enum class Wrap : uint8_t { Clamp, Repeat };

// How a command's colour meets what is already in the target.
enum class Blend : uint8_t { Alpha, Opaque, Additive, Premultiplied, Modulate };
// What the built-in pipelines do with a command's texture.
enum class Material : uint8_t { Solid, Textured, Coverage, Sdf };

// Bytes per pixel of a format.
int pixel_format_bytes(Pixel_Format f);

inline constexpr uint8_t texture_flag_render_target = 1u << 0;
inline constexpr uint8_t texture_flag_glyph_atlas = 1u << 1;   // changes nothing in the backend

struct Texture_Desc {
    int width = 0;
    int height = 0;
    Pixel_Format format = Pixel_Format::RGBA8;
    Filter filter = Filter::Nearest;
    Wrap wrap = Wrap::Clamp;
    uint8_t flags = 0;
    std::span<const uint8_t> pixels;   // empty: cleared to transparent black
};

// A texture's pixels as read back; empty (width 0) on failure.
struct Texture_Pixels {
    int width = 0;
    int height = 0;
    Pixel_Format format = Pixel_Format::RGBA8;
    std::vector<uint8_t> pixels;
};

// A custom fragment shader: SPIR-V words, uniform bytes, sampled textures (0..16).
struct Shader_Desc {
    std::span<const uint32_t> code;
    int uniform_size = 0;
    int texture_count = 0;
};

// A rectangle in whole pixels.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

struct Backend {
    uint64_t kind = 0;          // Backend_Kind of the created backend
    std::string description;    // what was created, for the log and the user
    void* state = nullptr;      // the backend's private state, owned by it
    // Frames the render slot has presented, counted by the backend.
    uint64_t presented = 0;
    // Counted by the ren_ calls below: window sizes given and textures or
    // shaders made, written or destroyed, i.e. what changes a frame's
    // picture outside its draw list.
    uint64_t changes = 0;
    // The nine slots, in this order; each takes this record first.
    void (*resize)(Backend& b, int width, int height) = nullptr;
    Handle (*create_texture)(Backend& b, const Texture_Desc& desc) = nullptr;
    bool (*update_texture)(Backend& b, Handle texture, Rect rect, std::span<const uint8_t> pixels) = nullptr;
    void (*destroy_texture)(Backend& b, Handle texture) = nullptr;
    Handle (*create_shader)(Backend& b, const Shader_Desc& desc) = nullptr;
    void (*destroy_shader)(Backend& b, Handle shader) = nullptr;
    void (*render)(Backend& b, const Draw_List& list) = nullptr;
    Texture_Pixels (*read_texture)(Backend& b, Handle texture) = nullptr;
    void (*destroy)(Backend& b) = nullptr;
};

// The slot calls, skipping a null slot (a create then gives 0, a read-back
// nothing, the rest do nothing).
void ren_resize(Backend& b, int width, int height);
Handle ren_create_texture(Backend& b, const Texture_Desc& desc);
bool ren_update_texture(Backend& b, Handle texture, Rect rect, std::span<const uint8_t> pixels);
void ren_destroy_texture(Backend& b, Handle texture);
Handle ren_create_shader(Backend& b, const Shader_Desc& desc);
void ren_destroy_shader(Backend& b, Handle shader);
void ren_render(Backend& b, const Draw_List& list);
Texture_Pixels ren_read_texture(Backend& b, Handle texture);

struct Probe_Result {
    bool available = false;
    std::string text;     // "Vulkan 1.3 on <device>", or why it is not available
    std::string device;   // empty when not available
};

enum class Create_Error : uint8_t {
    None = 0,
    Unavailable = 1,          // no loader, no instance, no suitable device
    Not_A_Native_Window = 2,  // the window record has no native window
    Object_Failed = 3,        // a backend object could not be made
};

struct Backend_Desc {
    Backend_Kind kind = Backend_Kind::Vulkan;
    Probe_Result (*probe)() = nullptr;
    Create_Error (*create)(Window* window, Backend& out) = nullptr;
    bool stop_on_failure = false;   // a failed create ends the search with the empty backend
};

struct Backend_Attempt {
    Backend_Kind kind = Backend_Kind::Vulkan;
    Probe_Result probe;
    bool create_called = false;
    Create_Error create_error = Create_Error::None;
};

inline constexpr int renderer_max_attempts = 3;

struct Renderer_Report {
    Backend_Kind kind = Backend_Kind::Vulkan;   // meaningful only when a backend was created
    Backend_Attempt attempts[renderer_max_attempts];
    int attempt_count = 0;
    bool failed = false;   // a kind with stop_on_failure failed
    int failed_at = 0;     // its 1-based place in the requested list
};
