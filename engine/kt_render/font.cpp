// ren_ttf: TrueType fonts through stb_truetype, rasterised into glyph atlases.
#include "engine/kt_render/font.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

#include "engine/kt_render/fonts/embedded_fonts.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/log.h"

struct Ttf_Face {
    stbtt_fontinfo info{};
    std::shared_ptr<const std::string> keep;   // owned bytes kept alive while the face reads them
    std::string_view bytes;
    float scale = 0;
};

struct Ttf_Font {
    Renderer* renderer = nullptr;
    Ttf_Face main;
    int ascent = 0;
    Handle atlas = 0;
    int atlas_size = ::atlas_size;
    int pen_x = 0, shelf_y = 0, shelf_height = 0;
    bool atlas_full_warned = false;
    Ttf_Face fallbacks[max_fallback_faces];
    int fallback_count = 0;
    // Kerning by pair of code points, looked up in the font's tables once:
    // each lookup searches the character map for both glyphs and then the
    // pair tables, and the interface measures the same texts every frame.
    std::unordered_map<uint64_t, float> kerning;
};

namespace {

uint32_t read_u16(std::string_view b, uint64_t at, bool& ok) {
    if (at + 2 > b.size()) {
        ok = false;
        return 0;
    }
    return uint32_t(uint8_t(b[at])) << 8 | uint8_t(b[at + 1]);
}

uint32_t read_u32(std::string_view b, uint64_t at, bool& ok) {
    uint32_t hi = read_u16(b, at, ok);
    uint32_t lo = read_u16(b, at + 2, ok);
    return hi << 16 | lo;
}

const unsigned char* data_of(std::string_view b) { return reinterpret_cast<const unsigned char*>(b.data()); }

// Offset of the table directory of font `index` of a font file or a font
// collection ("ttcf"); -1 when there is none inside the bytes.
int64_t font_offset(std::string_view b, int index) {
    bool ok = true;
    if (index < 0 || b.size() < 12) return -1;
    if (b.substr(0, 4) == "ttcf") {
        uint32_t count = read_u32(b, 8, ok);
        if (!ok || uint32_t(index) >= count) return -1;
        uint32_t at = read_u32(b, 12 + uint64_t(index) * 4, ok);
        return ok && at + 12ull <= b.size() ? int64_t(at) : -1;
    }
    uint32_t tag = read_u32(b, 0, ok);
    bool font = tag == 0x00010000u || b.substr(0, 4) == "true" || b.substr(0, 4) == "OTTO" || b.substr(0, 4) == "typ1";
    return font && index == 0 ? 0 : -1;
}

// stb_truetype trusts the offsets inside a file; only files whose table
// directory lies inside the bytes are handed to it.
bool init_face(Ttf_Face& face, std::string_view bytes, int index) {
    if (bytes.size() < 12 || index < 0) return false;
    int64_t offset = font_offset(bytes, index);
    if (offset < 0) return false;
    bool ok = true;
    uint32_t tables = read_u16(bytes, uint64_t(offset) + 4, ok);
    if (!ok || uint64_t(offset) + 12 + uint64_t(tables) * 16 > bytes.size()) return false;
    for (uint32_t i = 0; i < tables; ++i) {
        uint64_t rec = uint64_t(offset) + 12 + uint64_t(i) * 16;
        uint64_t at = read_u32(bytes, rec + 8, ok), len = read_u32(bytes, rec + 12, ok);
        if (!ok || at + len > bytes.size()) return false;
    }
    if (!stbtt_InitFont(&face.info, data_of(bytes), int(offset))) return false;
    face.bytes = bytes;
    return true;
}

int round_half_away(float v) { return int(std::lround(v)); }

bool face_has(const Ttf_Face& face, uint32_t cp) {
    return stbtt_FindGlyphIndex(&face.info, int(cp)) != 0;
}

bool ttf_make_glyph(Font& font, uint32_t cp, Glyph& out) {
    Ttf_Font* t = font.rasteriser;
    if (!t) return false;
    const Ttf_Face* face = nullptr;
    if (cp == 0 || face_has(t->main, cp)) {
        face = &t->main;
    } else {
        for (int i = 0; i < t->fallback_count && !face; ++i)
            if (face_has(t->fallbacks[i], cp)) face = &t->fallbacks[i];
    }
    if (!face) return false;

    int advance_units = 0, lsb = 0;
    stbtt_GetCodepointHMetrics(&face->info, int(cp), &advance_units, &lsb);
    Glyph g;
    g.code_point = cp;
    g.advance = float(advance_units) * face->scale;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetCodepointBitmapBox(&face->info, int(cp), face->scale, face->scale, &x0, &y0, &x1, &y1);
    int width = x1 - x0, height = y1 - y0;
    if (width < 1 || height < 1) {
        out = g;
        return true;
    }

    const int size = t->atlas_size;
    int pen_x = t->pen_x, shelf_y = t->shelf_y, shelf_height = t->shelf_height;
    if (pen_x + width + 1 > size) {
        pen_x = 0;
        shelf_y = shelf_y + shelf_height + 1;
        shelf_height = 0;
    }
    if (shelf_y + height + 1 > size || width + 1 > size) {
        if (!t->atlas_full_warned) {
            t->atlas_full_warned = true;
            log_printf(Log_Level::Warning,
                       "ren_ttf: the %dx%d glyph atlas is full: glyphs that are not in it yet are not drawn", size,
                       size);
        }
        return false;
    }
    std::vector<uint8_t> bitmap(size_t(width) * size_t(height));
    stbtt_MakeCodepointBitmap(&face->info, bitmap.data(), width, height, width, face->scale, face->scale, int(cp));
    if (!ren_update_texture(t->renderer->backend, t->atlas, {pen_x, shelf_y, width, height}, bitmap)) return false;
    t->pen_x = pen_x + width + 1;
    t->shelf_y = shelf_y;
    t->shelf_height = std::max(shelf_height, height);
    g.x = pen_x;
    g.y = shelf_y;
    g.width = width;
    g.height = height;
    g.x_offset = x0;
    g.y_offset = t->ascent + y0;
    out = g;
    return true;
}

// The pairs remembered per font; past it the memory starts afresh (a long
// text in a large script can hold many pairs).
constexpr size_t max_kerning_pairs = 1 << 16;

float ttf_kerning(const Font& font, uint32_t previous, uint32_t cp) {
    Ttf_Font* t = font.rasteriser;
    if (!t) return 0;
    uint64_t pair = uint64_t(previous) << 32 | cp;
    if (auto it = t->kerning.find(pair); it != t->kerning.end()) return it->second;
    int first = stbtt_FindGlyphIndex(&t->main.info, int(previous));
    int second = first != 0 ? stbtt_FindGlyphIndex(&t->main.info, int(cp)) : 0;
    float k = second != 0 ? float(stbtt_GetGlyphKernAdvance(&t->main.info, first, second)) * t->main.scale : 0;
    if (t->kerning.size() >= max_kerning_pairs) t->kerning.clear();
    t->kerning.emplace(pair, k);
    return k;
}

void ttf_on_destroy(Font& font) {
    Ttf_Font* t = font.rasteriser;
    if (!t) return;
    ren_destroy_texture(t->renderer->backend, t->atlas);
    delete t;
    font.rasteriser = nullptr;
}

}  // namespace

float ttf_head(std::string_view bytes) {
    int64_t offset = font_offset(bytes, 0);
    if (offset < 0) return 0;
    bool ok = true;
    uint64_t dir = uint64_t(offset);
    uint32_t tables = read_u16(bytes, dir + 4, ok);
    for (uint32_t i = 0; ok && i < tables; ++i) {
        uint64_t rec = dir + 12 + uint64_t(i) * 16;
        if (rec + 16 > bytes.size()) return 0;
        if (bytes.substr(size_t(rec), 4) != "head") continue;
        uint32_t at = read_u32(bytes, rec + 8, ok);
        uint32_t units = read_u16(bytes, uint64_t(at) + 18, ok);
        return ok ? float(units) : 0;
    }
    return 0;
}

void font_add(Library& lib, std::string_view name, std::string_view bytes) {
    Library_Font& e = lib.fonts[std::string(name)];
    e = Library_Font{};
    e.bytes = bytes;
}

void font_remove(Library& lib, std::string_view name) { lib.fonts.erase(std::string(name)); }

bool font_add_file(Library& lib, std::string_view name, std::string_view path) {
    auto bytes = std::make_shared<std::string>();
    if (!fs_read(path, *bytes)) return false;
    font_add(lib, name, *bytes);
    Library_Font& e = lib.fonts[std::string(name)];
    e.owned_bytes = std::move(bytes);
    e.owned = true;
    return true;
}

bool font_add_embedded(Library& lib, std::string_view name) {
    if (name != "noto_sans_regular" && name != "liberation_sans_bold" && name != "orbitron_bold") return false;
    std::string_view bytes = embedded_font(name);
    if (bytes.empty()) return false;
    font_add(lib, name, bytes);
    return true;
}

void shader_add(Library& lib, Backend& backend, std::string_view name, const Shader_Desc& desc) {
    shader_remove(lib, backend, name);
    Handle h = ren_create_shader(backend, desc);
    if (h != 0) lib.shaders[std::string(name)] = h;
}

void shader_remove(Library& lib, Backend& backend, std::string_view name) {
    auto it = lib.shaders.find(std::string(name));
    if (it == lib.shaders.end()) return;
    ren_destroy_shader(backend, it->second);
    lib.shaders.erase(it);
}

Handle shader_find(const Library& lib, std::string_view name) {
    auto it = lib.shaders.find(std::string(name));
    return it == lib.shaders.end() ? 0 : it->second;
}

Font* font_create(Library& lib, Renderer& renderer, float scale, std::string_view name, float size,
                  std::span<const uint8_t> cjk_order) {
    float pixel_size = size * scale;
    auto found = lib.fonts.find(std::string(name));
    if (found == lib.fonts.end()) return nullptr;
    const Library_Font& entry = found->second;

    auto t = std::make_unique<Ttf_Font>();
    t->renderer = &renderer;
    float units_per_em = ttf_head(entry.bytes);
    int ascent = 0, descent = 0, line_gap = 0;
    if (!init_face(t->main, entry.bytes, 0) || units_per_em <= 0) {
        log_write(Log_Level::Error, "ren_ttf: not a font stb_truetype can read");
        return nullptr;
    }
    t->main.keep = entry.owned_bytes;
    stbtt_GetFontVMetrics(&t->main.info, &ascent, &descent, &line_gap);
    t->main.scale = stbtt_ScaleForPixelHeight(&t->main.info, pixel_size * float(ascent - descent) / units_per_em);
    t->ascent = round_half_away(float(ascent) * t->main.scale);
    int line_height = round_half_away(float(ascent - descent + line_gap) * t->main.scale);

    Texture_Desc atlas;
    atlas.width = atlas.height = ::atlas_size;
    atlas.format = Pixel_Format::R8;
    atlas.filter = Filter::Nearest;
    atlas.wrap = Wrap::Clamp;
    atlas.flags = texture_flag_glyph_atlas;
    t->atlas = ren_create_texture(renderer.backend, atlas);
    if (t->atlas == 0) {
        log_write(Log_Level::Error, "ren_ttf: the renderer could not make the glyph atlas");
        return nullptr;
    }

    float em = units_per_em * t->main.scale;
    std::string_view cjk = embedded_font("noto_sans_cjk");
    for (uint8_t which : cjk_order) {
        if (t->fallback_count == max_fallback_faces) break;
        Ttf_Face& f = t->fallbacks[t->fallback_count];
        if (em <= 0 || !init_face(f, cjk, embedded_cjk_face(which))) {
            f = Ttf_Face{};
            continue;
        }
        f.scale = stbtt_ScaleForMappingEmToPixels(&f.info, em);
        ++t->fallback_count;
    }

    Font* font = new Font;
    font->atlas = t->atlas;
    font->atlas_width = font->atlas_height = ::atlas_size;
    font->material = Material::Coverage;
    font->line_height = line_height;
    font->ascent = t->ascent;
    font->replacement = 63;
    font->glyphs.max_load_factor(0.75f);
    font->make_glyph = ttf_make_glyph;
    font->kerning = ttf_kerning;
    font->rasteriser = t.release();
    font->on_destroy = ttf_on_destroy;
    return font;
}

void font_destroy(Font* font) {
    if (!font) return;
    if (font->on_destroy) font->on_destroy(*font);
    delete font;
}
