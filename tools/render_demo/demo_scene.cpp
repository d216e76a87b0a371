#include "tools/render_demo/demo_scene.h"

#include <algorithm>
#include <vector>

#include "engine/kt_render/text.h"
#include "engine/kt_render/vulkan/vulkan_backend.h"

namespace {

void drop_targets(Demo_Scene& s, Renderer& r) {
    for (Handle* h : {&s.half, &s.quarter_a, &s.quarter_b}) {
        ren_destroy_texture(r.backend, *h);
        *h = 0;
    }
}

bool make_targets(Demo_Scene& s, Renderer& r, int w, int h) {
    drop_targets(s, r);
    auto target = [&](int tw, int th) {
        Texture_Desc d;
        d.width = std::max(tw, 1);
        d.height = std::max(th, 1);
        d.filter = Filter::Linear;
        d.flags = texture_flag_render_target;
        return ren_create_texture(r.backend, d);
    };
    s.half = target(w / 2, h / 2);
    s.quarter_a = target(w / 4, h / 4);
    s.quarter_b = target(w / 4, h / 4);
    s.target_width = w;
    s.target_height = h;
    return s.half && s.quarter_a && s.quarter_b;
}

}  // namespace

Handle demo_shader(Backend& b, const char* name) {
    Shader_Code c = shader_code(name);
    Shader_Desc d;
    d.code = c.words;
    d.uniform_size = c.uniform_size;
    d.texture_count = c.texture_count;
    return ren_create_shader(b, d);
}

void textured_quad(Draw_List& dl, Handle texture, Rect r) {
    float x0 = float(r.x), y0 = float(r.y), x1 = float(r.x + r.width), y1 = float(r.y + r.height);
    const uint32_t c = 0xFFFFFFFF;
    const Vertex v[4] = {{{x0, y0}, {0, 0}, c}, {{x1, y0}, {1, 0}, c}, {{x1, y1}, {1, 1}, c}, {{x0, y1}, {0, 1}, c}};
    const uint32_t i[6] = {0, 1, 2, 0, 2, 3};
    emit_command(dl, texture, Material::Textured, v, i);
}

bool demo_scene_init(Demo_Scene& s, Renderer& r) {
    font_add_embedded(s.lib, "noto_sans_regular");
    const uint8_t order[4] = {3, 0, 1, 2};
    s.font = font_create(s.lib, r, 1, "noto_sans_regular", 20, order);
    std::vector<uint8_t> px(32 * 32 * 4);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            bool red = ((x / 8) + (y / 8)) % 2 == 0;
            uint8_t* p = &px[size_t(y * 32 + x) * 4];
            p[0] = 255;
            p[1] = p[2] = red ? 0 : 255;
            p[3] = 255;
        }
    Texture_Desc d;
    d.width = d.height = 32;
    d.pixels = px;
    s.checker = ren_create_texture(r.backend, d);
    s.background = demo_shader(r.backend, "background");
    s.panel = demo_shader(r.backend, "panel");
    s.blur = demo_shader(r.backend, "blur");
    return s.font && s.checker && s.background && s.panel && s.blur;
}

void demo_scene_draw(Demo_Scene& s, Renderer& r, int frame) {
    Draw_List& dl = r.draw_list;
    int w = dl.window_size.width, h = dl.window_size.height;
    draw_list_begin_frame(dl, demo_clear);
    dl.blur_shader = s.blur;
    if (w < 1 || h < 1) return;
    if ((w != s.target_width || h != s.target_height) && !make_targets(s, r, w, h)) drop_targets(s, r);

    // The blur chain: the background into half size, down to a quarter, blurred twice.
    if (s.half) {
        int hw = std::max(w / 2, 1), hh = std::max(h / 2, 1), qw = std::max(w / 4, 1), qh = std::max(h / 4, 1);
        float uniforms[3] = {float(hw), float(hh), float(frame) * 0.5f};
        push_target(dl, s.half, hw, hh);
        draw_image(dl, s.background, {0, 0, hw, hh}, {},
                   std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(uniforms), sizeof uniforms));
        pop_target(dl);
        push_target(dl, s.quarter_a, qw, qh);
        textured_quad(dl, s.half, {0, 0, qw, qh});
        pop_target(dl);
        blur_pass(dl, qw, qh, 1.6f, s.quarter_a, s.quarter_b);
        blur_pass(dl, qw, qh, 2.6f, s.quarter_a, s.quarter_b);
    }

    // Every blend mode over a dark strip.
    push_blend(dl, Blend::Opaque);
    draw_rect(dl, {demo_strip_x, demo_strip_y, 440, 40}, demo_strip);
    pop_blend(dl);
    const Blend blends[5] = {Blend::Alpha, Blend::Opaque, Blend::Additive, Blend::Premultiplied, Blend::Modulate};
    for (int i = 0; i < 5; ++i) {
        push_blend(dl, blends[i]);
        draw_rect(dl, {demo_blend_x + i * demo_blend_step, demo_blend_y, demo_blend_w, demo_blend_h}, demo_blend_colour);
        pop_blend(dl);
    }
    draw_text(dl, s.font, "Quillmarsh 游戏 ゲーム 게임", demo_text_x, demo_text_y, colour_rgb(0x1E1E1E));
    textured_quad(dl, s.checker, {demo_image_x, demo_image_y, 64, 64});
    if (s.quarter_a) {
        textured_quad(dl, s.quarter_a, {100, 110, 160, 100});
        // A rounded panel over the blurred picture.
        float u[14] = {280, 110, 180, 120, float(w), float(h), 0.5176471f, 0.6588235f, 0.8392157f, 0.9019608f,
                       8, 1, 0.86f, 1.0f};
        Handle tex = s.quarter_a;
        draw_image(dl, s.panel, {280, 110, 180, 120}, std::span<const Handle>(&tex, 1),
                   std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(u), sizeof u));
    }
}

void demo_scene_destroy(Demo_Scene& s, Renderer& r) {
    drop_targets(s, r);
    ren_destroy_texture(r.backend, s.checker);
    for (Handle h : {s.background, s.panel, s.blur}) ren_destroy_shader(r.backend, h);
    if (s.font) font_destroy(s.font);
    s = Demo_Scene{};
}
