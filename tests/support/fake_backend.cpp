#include "tests/support/fake_backend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <zlib.h>

// The pictures are for people to look at: zlib's fastest level writes them
// several times faster than stb's own compressor, whose work was a third of
// the time of the tests that take many pictures.
namespace {
unsigned char* fast_zlib_compress(unsigned char* data, int data_len, int* out_len, int /*quality*/) {
    uLongf size = compressBound(uLong(data_len));
    auto* out = static_cast<unsigned char*>(std::malloc(size));
    if (!out) return nullptr;
    if (compress2(out, &size, data, uLong(data_len), Z_BEST_SPEED) != Z_OK) {
        std::free(out);
        return nullptr;
    }
    *out_len = int(size);
    return out;
}
}  // namespace

#define STBIW_ZLIB_COMPRESS fast_zlib_compress
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb/stb_image_write.h>

#include "engine/kt_system/fs.h"

namespace {

Handle create_texture(Backend& b, const Texture_Desc& d) {
    if (d.width < 1 || d.height < 1) return 0;
    size_t size = size_t(d.width) * size_t(d.height) * size_t(pixel_format_bytes(d.format));
    if (!d.pixels.empty() && d.pixels.size() != size) return 0;
    Fake_Texture t{d.width, d.height, d.format, d.flags, std::vector<uint8_t>(size, 0)};
    if (!d.pixels.empty()) t.pixels.assign(d.pixels.begin(), d.pixels.end());
    return pool_add(fake_state(b).textures, std::move(t));
}

bool update_texture(Backend& b, Handle h, Rect r, std::span<const uint8_t> pixels) {
    Fake_State& s = fake_state(b);
    Fake_Texture* t = pool_get(s.textures, h);
    if (!t || s.fail_updates || r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || r.x + r.width > t->width ||
        r.y + r.height > t->height)
        return false;
    size_t bpp = size_t(pixel_format_bytes(t->format));
    if (pixels.size() != size_t(r.width) * size_t(r.height) * bpp) return false;
    for (int row = 0; row < r.height; ++row)
        std::copy_n(pixels.data() + size_t(row) * size_t(r.width) * bpp, size_t(r.width) * bpp,
                    t->pixels.data() + (size_t(r.y + row) * size_t(t->width) + size_t(r.x)) * bpp);
    ++s.updates;
    return true;
}

void destroy_texture(Backend& b, Handle h) {
    Fake_State& s = fake_state(b);
    if (!pool_get(s.textures, h)) return;
    pool_remove(s.textures, h);
    ++s.textures_destroyed;
}

Handle create_shader(Backend& b, const Shader_Desc& d) {
    if (d.code.empty()) return 0;
    return pool_add(fake_state(b).shaders, d);
}

void destroy_shader(Backend& b, Handle h) {
    Fake_State& s = fake_state(b);
    if (!pool_get(s.shaders, h)) return;
    pool_remove(s.shaders, h);
    ++s.shaders_destroyed;
}

// One texel as RGBA (R8 samples as opaque grey, as the real backend does).
void texel(const Fake_Texture& t, float u, float v, uint8_t out[4]) {
    int x = std::clamp(int(std::floor(u * float(t.width))), 0, t.width - 1);
    int y = std::clamp(int(std::floor(v * float(t.height))), 0, t.height - 1);
    size_t bpp = size_t(pixel_format_bytes(t.format));
    const uint8_t* p = t.pixels.data() + (size_t(y) * size_t(t.width) + size_t(x)) * bpp;
    if (t.format == Pixel_Format::R8) {
        out[0] = out[1] = out[2] = p[0];
        out[3] = 255;
    } else {
        std::copy_n(p, 4, out);
    }
}

void render(Backend& b, const Draw_List& list) {
    Fake_State& s = fake_state(b);
    ++s.renders;
    if (s.skip_frames > 0) {   // as a window with no area, or an acquire that timed out
        --s.skip_frames;
        return;
    }
    ++b.presented;
    s.frame_width = list.frame_size.width;
    s.frame_height = list.frame_size.height;
    s.frame.assign(size_t(s.frame_width) * size_t(s.frame_height) * 4, 0);
    if (list.clear)
        for (size_t i = 0; i < s.frame.size(); i += 4)
            for (int c = 0; c < 4; ++c) s.frame[i + size_t(c)] = uint8_t(list.clear_colour >> (8 * c));
    for (const Draw_Command& c : list.commands) {
        if (c.target != 0 || c.shader != 0) continue;   // only the window's built-in drawing
        const Fake_Texture* tex = c.texture ? pool_get(s.textures, c.texture) : nullptr;
        for (uint32_t q = 0; q + 6 <= c.index_count; q += 6) {
            const Vertex& a = list.vertices[list.indices[c.first_index + q]];
            const Vertex& z = list.vertices[list.indices[c.first_index + q + 2]];
            int x0 = std::max<int64_t>(int64_t(std::lround(a.position[0])), c.clip.x);
            int y0 = std::max<int64_t>(int64_t(std::lround(a.position[1])), c.clip.y);
            int x1 = std::min<int64_t>(int64_t(std::lround(z.position[0])), c.clip.x + c.clip.width);
            int y1 = std::min<int64_t>(int64_t(std::lround(z.position[1])), c.clip.y + c.clip.height);
            x0 = std::max(x0, 0);
            y0 = std::max(y0, 0);
            x1 = std::min(x1, s.frame_width);
            y1 = std::min(y1, s.frame_height);
            float w = z.position[0] - a.position[0], h = z.position[1] - a.position[1];
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    uint8_t col[4];
                    for (int k = 0; k < 4; ++k) col[k] = uint8_t(a.colour >> (8 * k));
                    if (tex) {
                        float fu = (float(x) + 0.5f - a.position[0]) / w, fv = (float(y) + 0.5f - a.position[1]) / h;
                        uint8_t t[4];
                        texel(*tex, a.uv[0] + fu * (z.uv[0] - a.uv[0]), a.uv[1] + fv * (z.uv[1] - a.uv[1]), t);
                        if (c.material == Material::Coverage)
                            col[3] = uint8_t((col[3] * t[0] + 127) / 255);
                        else
                            for (int k = 0; k < 4; ++k) col[k] = uint8_t((col[k] * t[k] + 127) / 255);
                    }
                    uint8_t* d = &s.frame[(size_t(y) * size_t(s.frame_width) + size_t(x)) * 4];
                    if (c.blend == Blend::Opaque) {
                        std::copy_n(col, 4, d);
                        continue;
                    }
                    int alpha = col[3];
                    for (int k = 0; k < 3; ++k) d[k] = uint8_t((col[k] * alpha + d[k] * (255 - alpha) + 127) / 255);
                    d[3] = uint8_t(alpha + (d[3] * (255 - alpha) + 127) / 255);
                }
        }
    }
}

Texture_Pixels read_texture(Backend& b, Handle h) {
    Fake_Texture* t = pool_get(fake_state(b).textures, h);
    if (!t) return {};
    return {t->width, t->height, t->format, t->pixels};
}

void destroy(Backend& b) {
    delete static_cast<Fake_State*>(b.state);
    b.state = nullptr;
}

void resize(Backend&, int, int) {}

}  // namespace

Backend fake_backend_make() {
    Backend b;
    b.kind = uint64_t(Backend_Kind::Vulkan);
    b.description = "fake backend (textures in memory)";
    b.state = new Fake_State;
    b.resize = resize;
    b.create_texture = create_texture;
    b.update_texture = update_texture;
    b.destroy_texture = destroy_texture;
    b.create_shader = create_shader;
    b.destroy_shader = destroy_shader;
    b.render = render;
    b.read_texture = read_texture;
    b.destroy = destroy;
    return b;
}

Fake_State& fake_state(Backend& b) { return *static_cast<Fake_State*>(b.state); }

bool write_png(const std::string& path, int width, int height, int channels, const uint8_t* pixels) {
    // One filter for every row ("Sub", good for the flat areas of an
    // interface) instead of trying all five on each.
    stbi_write_force_png_filter = 1;
    int length = 0;
    unsigned char* png = stbi_write_png_to_mem(pixels, width * channels, width, height, channels, &length);
    if (!png) return false;
    bool ok = fs_write(path, std::string_view(reinterpret_cast<const char*>(png), size_t(length)));
    STBIW_FREE(png);
    return ok;
}
