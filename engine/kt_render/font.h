// Fonts and the asset library. The Library keeps font files' bytes under
// names (embedded fonts and system font files alike) and custom shaders
// under names. font_create makes a Font of a named font at a pixel size:
// glyphs are rasterised on first use (text.h's glyph_of) into a 1024 x 1024
// single-channel atlas texture on shelves, and up to 8 fallback faces (the
// embedded CJK faces) give the code points the main face lacks.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/kt_render/renderer.h"

struct Glyph {
    uint32_t code_point = 0;
    int64_t x = 0, y = 0, width = 0, height = 0;   // the bitmap's place in the atlas
    int64_t x_offset = 0;                          // from the pen position
    int64_t y_offset = 0;                          // from the top of the line
    float advance = 0;                             // pixels
};

struct Ttf_Font;   // the rasteriser's state, owned by its Font

struct Font {
    Handle atlas = 0;
    int atlas_width = 0, atlas_height = 0;
    Material material = Material::Coverage;
    int line_height = 0;
    int ascent = 0;
    uint32_t replacement = 63;   // "?", drawn for missing glyphs
    std::unordered_map<uint32_t, Glyph> glyphs;
    bool (*make_glyph)(Font& font, uint32_t code_point, Glyph& out) = nullptr;
    float (*kerning)(const Font& font, uint32_t previous, uint32_t code_point) = nullptr;
    Ttf_Font* rasteriser = nullptr;
    void (*on_destroy)(Font& font) = nullptr;
};

// The bytes of one font file. Owned bytes are shared with the Fonts made
// from them, so replacing or removing the entry never pulls them from
// under a live Font.
struct Library_Font {
    std::shared_ptr<const std::string> owned_bytes;
    std::string_view bytes;
    bool owned = false;
};

struct Library {
    std::unordered_map<std::string, Library_Font> fonts;
    std::unordered_map<std::string, Handle> shaders;
};

// Registers bytes that outlive the Library (not owned), replacing an entry
// of the same name.
void font_add(Library& lib, std::string_view name, std::string_view bytes);
// Removes the entry; owned bytes are freed once no Font reads them.
void font_remove(Library& lib, std::string_view name);
// Reads the whole file and registers it, owned. False when it cannot be read.
bool font_add_file(Library& lib, std::string_view name, std::string_view path);
// Registers one of the embedded fonts under its own name: "noto_sans_regular",
// "liberation_sans_bold" or "orbitron_bold". Any other name adds nothing (false).
bool font_add_embedded(Library& lib, std::string_view name);

// Replaces (destroying) a shader stored under the name with a new one made
// through the backend; nothing is stored when the backend refuses it.
void shader_add(Library& lib, Backend& backend, std::string_view name, const Shader_Desc& desc);
void shader_remove(Library& lib, Backend& backend, std::string_view name);
// The shader stored under the name, 0 when none.
Handle shader_find(const Library& lib, std::string_view name);

// The CJK fallback faces, in the order they are tried: 0 Japanese,
// 1 Traditional Chinese, 2 Simplified Chinese, 3 Korean.
inline constexpr uint8_t cjk_order_default[4] = {0, 1, 2, 3};

// A Font of the named Library font at size x scale pixels (one em), with
// the embedded CJK faces as fallbacks in cjk_order. nullptr when the name
// is unknown, the bytes are no font, or the atlas cannot be made.
Font* font_create(Library& lib, Renderer& renderer, float scale, std::string_view name, float size,
                  std::span<const uint8_t> cjk_order = cjk_order_default);
// Runs on_destroy (the atlas goes) and frees the font. nullptr is ignored.
void font_destroy(Font* font);

// unitsPerEm of the "head" table of the file's first font; 0 when absent or cut short.
float ttf_head(std::string_view bytes);

inline constexpr int atlas_size = 1024;
inline constexpr int max_fallback_faces = 8;
