#include "engine/kt_render/renderer.h"

#include <cstring>

int pixel_format_bytes(Pixel_Format f) {
    switch (f) {
    case Pixel_Format::RGBA8: return 4;
    case Pixel_Format::R8: return 1;
    case Pixel_Format::RG8: return 2;
    case Pixel_Format::RGBA16F: return 8;
    case Pixel_Format::RGBA32F: return 16;
    }
    return 0;
}

void ren_resize(Backend& b, int width, int height) {
    ++b.changes;
    if (b.resize) b.resize(b, width, height);
}
Handle ren_create_texture(Backend& b, const Texture_Desc& desc) {
    ++b.changes;
    return b.create_texture ? b.create_texture(b, desc) : 0;
}
bool ren_update_texture(Backend& b, Handle texture, Rect rect, std::span<const uint8_t> pixels) {
    ++b.changes;
    return b.update_texture && texture != 0 ? b.update_texture(b, texture, rect, pixels) : false;
}
void ren_destroy_texture(Backend& b, Handle texture) {
    ++b.changes;
    if (b.destroy_texture && texture != 0) b.destroy_texture(b, texture);
}
Handle ren_create_shader(Backend& b, const Shader_Desc& desc) {
    ++b.changes;
    return b.create_shader ? b.create_shader(b, desc) : 0;
}
void ren_destroy_shader(Backend& b, Handle shader) {
    ++b.changes;
    if (b.destroy_shader && shader != 0) b.destroy_shader(b, shader);
}
void ren_render(Backend& b, const Draw_List& list) {
    if (b.render) b.render(b, list);
}
Texture_Pixels ren_read_texture(Backend& b, Handle texture) {
    return b.read_texture && texture != 0 ? b.read_texture(b, texture) : Texture_Pixels{};
}

void draw_list_init(Renderer& r, const Backend& backend, int window_width, int window_height) {
    r.backend = backend;
    r.draw_list = Draw_List{};
    r.draw_list.window_size = {window_width, window_height};
    r.draw_list.frame_size = r.draw_list.window_size;
}

void draw_list_destroy(Renderer& r) {
    if (r.backend.destroy) r.backend.destroy(r.backend);
    r = Renderer{};
}

namespace {

template <typename T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

bool frame_shown(const Shown_Frame& shown, const Renderer& r) {
    const Draw_List& a = shown.list;
    const Draw_List& l = r.draw_list;
    return shown.valid && shown.changes == r.backend.changes && a.clear == l.clear &&
           a.clear_colour == l.clear_colour && a.frame_size.width == l.frame_size.width &&
           a.frame_size.height == l.frame_size.height && a.commands == l.commands &&
           same_bytes(a.vertices, l.vertices) && same_bytes(a.indices, l.indices) &&
           same_bytes(a.uniforms, l.uniforms) && same_bytes(a.texture_lists, l.texture_lists);
}

bool render_changed(Renderer& r, Shown_Frame& shown, bool changed) {
    if (!changed && frame_shown(shown, r)) return false;
    const uint64_t presented = r.backend.presented;
    ren_render(r.backend, r.draw_list);
    shown.valid = r.backend.presented != presented;
    if (shown.valid) {
        shown.changes = r.backend.changes;
        shown.list = r.draw_list;
    }
    return true;
}

void renderer_resize(Renderer& r, int width, int height) {
    r.draw_list.window_size = {width, height};
    ren_resize(r.backend, width, height);
}

Renderer_Report renderer_create(Renderer& out, Window* window, int window_width, int window_height,
                                std::span<const Backend_Desc> descs, std::span<const Backend_Kind> requested) {
    Renderer_Report report;
    static constexpr Backend_Kind default_kinds[] = {Backend_Kind::Vulkan};
    if (requested.empty()) requested = default_kinds;

    for (size_t k = 0; k < requested.size(); ++k) {
        const Backend_Desc* desc = nullptr;
        for (const Backend_Desc& d : descs) {
            if (d.kind == requested[k] && d.probe && d.create) {
                desc = &d;
                break;
            }
        }
        if (!desc) continue;
        if (report.attempt_count == renderer_max_attempts) break;
        Backend_Attempt& attempt = report.attempts[report.attempt_count++];
        attempt.kind = requested[k];
        attempt.probe = desc->probe();
        if (!attempt.probe.available) continue;
        attempt.create_called = true;
        Backend created;
        attempt.create_error = desc->create(window, created);
        if (attempt.create_error == Create_Error::None) {
            draw_list_init(out, created, window_width, window_height);
            report.kind = requested[k];
            return report;
        }
        if (desc->stop_on_failure) {
            report.failed = true;
            report.failed_at = int(k) + 1;
            break;
        }
    }
    draw_list_init(out, Backend{}, window_width, window_height);
    return report;
}
