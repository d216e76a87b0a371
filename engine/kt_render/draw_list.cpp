#include "engine/kt_render/draw_list.h"

#include <algorithm>
#include <cmath>

namespace {

// Growth to twice the capacity, at least 8 elements, before appending n.
template <typename V>
void reserve_for(V& v, size_t n) {
    size_t need = v.size() + n;
    if (need <= v.capacity()) return;
    size_t cap = std::max<size_t>(v.capacity() * 2, 8);
    while (cap < need) cap *= 2;
    v.reserve(cap);
}

template <typename V, typename T>
void append(V& v, const T& value) {
    reserve_for(v, 1);
    v.push_back(value);
}

uint32_t tint_colour(uint32_t c, uint32_t t) {
    if (t == 0xFFFFFFFFu) return c;
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t a = c >> shift & 0xFF, b = t >> shift & 0xFF;
        out |= ((a * b + 127) / 255) << shift;
    }
    return out;
}

// Which stack a pop refers to; pops on an empty stack are only counted.
template <typename V>
void pop_or_count(Draw_List& list, V& stack) {
    if (stack.empty())
        ++list.unbalanced_pops;
    else
        stack.pop_back();
}

Offset current_offset(const Draw_List& list) {
    return list.offset_stack.empty() ? Offset{} : list.offset_stack.back();
}

uint32_t current_tint(const Draw_List& list) {
    return list.tint_stack.empty() ? 0xFFFFFFFFu : list.tint_stack.back();
}

Blend current_blend(const Draw_List& list) {
    return list.blend_stack.empty() ? Blend::Alpha : list.blend_stack.back();
}

void quad(Vertex out[4], Rect r, Uv_Rect uv, uint32_t colour) {
    float x0 = float(r.x), y0 = float(r.y), x1 = float(r.x + r.width), y1 = float(r.y + r.height);
    out[0] = {{x0, y0}, {uv.left, uv.top}, colour};
    out[1] = {{x1, y0}, {uv.right, uv.top}, colour};
    out[2] = {{x1, y1}, {uv.right, uv.bottom}, colour};
    out[3] = {{x0, y1}, {uv.left, uv.bottom}, colour};
}

constexpr uint32_t quad_indices[6] = {0, 1, 2, 0, 2, 3};

}  // namespace

void draw_list_begin_frame(Draw_List& list, uint32_t clear_colour) {
    list.vertices.clear();
    list.indices.clear();
    list.commands.clear();
    list.uniforms.clear();
    list.texture_lists.clear();
    list.clip_stack.clear();
    list.offset_stack.clear();
    list.tint_stack.clear();
    list.blend_stack.clear();
    list.target_stack.clear();
    list.clear_colour = clear_colour;
    list.clear = true;
    list.frame_size = list.window_size;
    list.unbalanced_pops = 0;
}

Rect current_clip(const Draw_List& list) {
    if (!list.clip_stack.empty()) return list.clip_stack.back();
    if (!list.target_stack.empty()) return {0, 0, list.target_stack.back().width, list.target_stack.back().height};
    return {0, 0, list.frame_size.width, list.frame_size.height};
}

void emit_command(Draw_List& list, Handle texture, Material material, std::span<const Vertex> vertices,
                  std::span<const uint32_t> indices, Handle shader, std::span<const uint8_t> uniforms,
                  std::span<const Handle> textures) {
    if (vertices.empty() || indices.empty()) return;
    uint32_t base = uint32_t(list.vertices.size());
    Offset off = current_offset(list);
    uint32_t tint = current_tint(list);
    reserve_for(list.vertices, vertices.size());
    for (Vertex v : vertices) {
        v.position[0] += off.x;
        v.position[1] += off.y;
        v.colour = tint_colour(v.colour, tint);
        list.vertices.push_back(v);
    }
    uint32_t first = uint32_t(list.indices.size());
    reserve_for(list.indices, indices.size());
    for (uint32_t i : indices) list.indices.push_back(i + base);

    Draw_Command c;
    c.first_index = first;
    c.index_count = uint32_t(indices.size());
    c.texture = texture;
    c.target = list.target_stack.empty() ? 0 : list.target_stack.back().target;
    c.material = material;
    c.blend = current_blend(list);
    Rect clip = current_clip(list);
    c.clip = {clip.x, clip.y, clip.width, clip.height};

    if (shader != 0) {
        size_t padded = (list.uniforms.size() + uniform_alignment - 1) / uniform_alignment * uniform_alignment;
        reserve_for(list.uniforms, padded - list.uniforms.size() + uniforms.size());
        list.uniforms.resize(padded, 0);
        c.shader = shader;
        c.uniform_offset = uint32_t(padded);
        c.uniform_size = uint32_t(uniforms.size());
        list.uniforms.insert(list.uniforms.end(), uniforms.begin(), uniforms.end());
        c.texture_offset = uint32_t(list.texture_lists.size());
        c.texture_count = uint32_t(textures.size());
        reserve_for(list.texture_lists, textures.size());
        list.texture_lists.insert(list.texture_lists.end(), textures.begin(), textures.end());
        append(list.commands, c);
        return;
    }
    if (!list.commands.empty()) {
        Draw_Command& prev = list.commands.back();
        if (prev.shader == 0 && prev.texture == c.texture && prev.target == c.target &&
            prev.material == c.material && prev.blend == c.blend && prev.clip == c.clip) {
            prev.index_count += c.index_count;
            return;
        }
    }
    append(list.commands, c);
}

void draw_rect(Draw_List& list, Rect r, uint32_t colour) {
    if (r.width < 1 || r.height < 1) return;
    if ((colour >> 24) == 0 && current_blend(list) != Blend::Opaque) return;
    Vertex v[4];
    quad(v, r, {0, 0, 0, 0}, colour);
    emit_command(list, 0, Material::Solid, v, quad_indices);
}

void draw_image(Draw_List& list, Handle shader, Rect r, std::span<const Handle> textures,
                std::span<const uint8_t> uniforms, Uv_Rect uv) {
    if (r.width < 1 || r.height < 1 || shader == 0) return;
    Vertex v[4];
    quad(v, r, uv, 0xFFFFFFFFu);
    emit_command(list, 0, Material::Solid, v, quad_indices, shader, uniforms, textures);
}

void push_clip(Draw_List& list, Rect r) {
    Offset off = current_offset(list);
    int64_t x = int64_t(r.x) + std::llround(off.x);
    int64_t y = int64_t(r.y) + std::llround(off.y);
    Rect cur = current_clip(list);
    int64_t x0 = std::max<int64_t>(x, cur.x);
    int64_t y0 = std::max<int64_t>(y, cur.y);
    int64_t x1 = std::min<int64_t>(x + r.width, int64_t(cur.x) + cur.width);
    int64_t y1 = std::min<int64_t>(y + r.height, int64_t(cur.y) + cur.height);
    if (x0 >= x1 || y0 >= y1)
        append(list.clip_stack, Rect{int(x0), int(y0), 0, 0});
    else
        append(list.clip_stack, Rect{int(x0), int(y0), int(x1 - x0), int(y1 - y0)});
}

void pop_clip(Draw_List& list) { pop_or_count(list, list.clip_stack); }

void push_target(Draw_List& list, Handle target, int width, int height) {
    append(list.target_stack, Target_Entry{target, width, height});
    append(list.offset_stack, Offset{});
    append(list.clip_stack, Rect{0, 0, width, height});
}

void pop_target(Draw_List& list) {
    pop_or_count(list, list.target_stack);
    pop_or_count(list, list.offset_stack);
    pop_or_count(list, list.clip_stack);
}

void push_blend(Draw_List& list, Blend blend) { append(list.blend_stack, blend); }
void pop_blend(Draw_List& list) { pop_or_count(list, list.blend_stack); }

void push_offset(Draw_List& list, float dx, float dy) {
    Offset cur = current_offset(list);
    append(list.offset_stack, Offset{cur.x + dx, cur.y + dy});
}
void pop_offset(Draw_List& list) { pop_or_count(list, list.offset_stack); }

void push_tint(Draw_List& list, uint32_t tint) { append(list.tint_stack, tint_colour(tint, current_tint(list))); }
void pop_tint(Draw_List& list) { pop_or_count(list, list.tint_stack); }

void blur_pass(Draw_List& list, int width, int height, float spread, Handle a, Handle b) {
    if (list.blur_shader == 0 || width < 1 || height < 1) return;
    float step[2];
    auto bytes = [&] { return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(step), sizeof step); };
    Rect whole{0, 0, width, height};

    step[0] = spread / float(width);
    step[1] = 0;
    push_target(list, b, width, height);
    draw_image(list, list.blur_shader, whole, std::span<const Handle>(&a, 1), bytes());
    pop_target(list);

    step[0] = 0;
    step[1] = spread / float(height);
    push_target(list, a, width, height);
    draw_image(list, list.blur_shader, whole, std::span<const Handle>(&b, 1), bytes());
    pop_target(list);
}
