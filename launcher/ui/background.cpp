#include "launcher/ui/background.h"

#include <algorithm>

namespace {

Handle* targets(Background_Pass& bg, int i) {
    Handle* all[5] = {&bg.half, &bg.quarter_a, &bg.quarter_b, &bg.eighth_a, &bg.eighth_b};
    return all[i];
}

void drop_targets(Background_Pass& bg, Backend& backend) {
    for (int i = 0; i < 5; ++i) {
        Handle* h = targets(bg, i);
        if (*h) ren_destroy_texture(backend, *h);
        *h = 0;
    }
    bg.width = bg.height = 0;
}

void effect_off(Background_Pass& bg, Backend& backend) {
    drop_targets(bg, backend);
    if (bg.background_shader) ren_destroy_shader(backend, bg.background_shader);
    if (bg.panel_shader) ren_destroy_shader(backend, bg.panel_shader);
    bg.background_shader = bg.panel_shader = 0;
}

bool make_targets(Background_Pass& bg, Backend& backend, int w, int h) {
    drop_targets(bg, backend);
    const int divisors[5] = {2, 4, 4, 8, 8};
    for (int i = 0; i < 5; ++i) {
        Texture_Desc d;
        d.width = std::max(w / divisors[i], 1);
        d.height = std::max(h / divisors[i], 1);
        d.format = Pixel_Format::RGBA8;
        d.filter = Filter::Linear;
        d.wrap = Wrap::Clamp;
        d.flags = texture_flag_render_target;
        *targets(bg, i) = ren_create_texture(backend, d);
        if (*targets(bg, i) == 0) return false;
    }
    bg.width = w;
    bg.height = h;
    return true;
}

// The texture drawn over the whole rectangle, white, uv 0..1.
void stretched(Draw_List& dl, Handle texture, int w, int h) {
    const float x1 = float(w), y1 = float(h);
    const uint32_t c = 0xFFFFFFFF;
    const Vertex v[4] = {{{0, 0}, {0, 0}, c}, {{x1, 0}, {1, 0}, c}, {{x1, y1}, {1, 1}, c}, {{0, y1}, {0, 1}, c}};
    const uint32_t i[6] = {0, 1, 2, 0, 2, 3};
    emit_command(dl, texture, Material::Textured, v, i);
}

// The noise into the half target, shrunk to a quarter and blurred twice,
// shrunk to an eighth and blurred three times.
void draw_chain(Background_Pass& bg, Draw_List& dl, int w, int h, float scale) {
    bg.drawn_scale = scale;
    const int hw = std::max(w / 2, 1), hh = std::max(h / 2, 1);
    const int qw = std::max(w / 4, 1), qh = std::max(h / 4, 1);
    const int ew = std::max(w / 8, 1), eh = std::max(h / 8, 1);

    push_blend(dl, Blend::Opaque);
    const float uniforms[3] = {float(hw), float(hh), scale * 0.5f};
    push_target(dl, bg.half, hw, hh);
    draw_image(dl, bg.background_shader, {0, 0, hw, hh}, {},
               std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(uniforms), sizeof uniforms));
    pop_target(dl);

    push_target(dl, bg.quarter_a, qw, qh);
    stretched(dl, bg.half, qw, qh);
    pop_target(dl);
    for (float spread : {1.6f, 2.6f}) blur_pass(dl, qw, qh, spread, bg.quarter_a, bg.quarter_b);

    push_target(dl, bg.eighth_a, ew, eh);
    stretched(dl, bg.quarter_a, ew, eh);
    pop_target(dl);
    for (float spread : {1.6f, 2.6f, 4.0f}) blur_pass(dl, ew, eh, spread, bg.eighth_a, bg.eighth_b);
    pop_blend(dl);
}

}  // namespace

void background_start(Background_Pass& bg, Backend& backend, Library& lib, const Background_Shaders& shaders) {
    bg = Background_Pass{};
    bg.background_shader = ren_create_shader(backend, shaders.background);
    bg.panel_shader = ren_create_shader(backend, shaders.panel);
    shader_add(lib, backend, "blur", shaders.blur);
    bg.blur_shader = shader_find(lib, "blur");
    if (!background_on(bg)) effect_off(bg, backend);
}

bool background_on(const Background_Pass& bg) {
    return bg.background_shader != 0 && bg.panel_shader != 0 && bg.blur_shader != 0;
}

void background_draw(Background_Pass& bg, Renderer& r, float scale) {
    if (!background_on(bg)) return;
    Draw_List& dl = r.draw_list;
    const int w = std::max(dl.window_size.width, 1), h = std::max(dl.window_size.height, 1);
    bool fresh = w != bg.width || h != bg.height || bg.half == 0;
    if (fresh && !make_targets(bg, r.backend, w, h)) {
        effect_off(bg, r.backend);
        return;
    }
    dl.blur_shader = bg.blur_shader;
    // The picture depends on the size and the scale only, and the targets
    // keep what was drawn into them: the chain runs once per size, every
    // later frame only shows it. A frame that was not presented may not
    // have drawn it: then it runs again.
    bool unseen = r.backend.presented <= bg.drawn_before;
    if (fresh || scale != bg.drawn_scale || unseen) {
        draw_chain(bg, dl, w, h, scale);
        bg.drawn_before = r.backend.presented;
    }

    push_blend(dl, Blend::Opaque);
    if (dl.window_size.width >= 1 && dl.window_size.height >= 1)
        stretched(dl, bg.half, dl.window_size.width, dl.window_size.height);
    pop_blend(dl);
}

void background_stop(Background_Pass& bg, Backend& backend) { effect_off(bg, backend); }
