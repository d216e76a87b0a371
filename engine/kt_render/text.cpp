#include "engine/kt_render/text.h"

#include <algorithm>
#include <cmath>

uint32_t utf8_next(std::string_view text, size_t& pos) {
    auto byte = [&](size_t i) { return uint8_t(text[i]); };
    uint8_t lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    uint8_t low = 0x80, high = 0xBF;   // range of the first continuation byte
    uint32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;   // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;   // nothing above U+10FFFF
    } else {
        ++pos;
        return replacement_character;
    }
    if (pos + size_t(length) > text.size()) {
        ++pos;
        return replacement_character;
    }
    for (int i = 1; i < length; ++i) {
        uint8_t c = byte(pos + size_t(i));
        uint8_t lo = i == 1 ? low : 0x80, hi = i == 1 ? high : 0xBF;
        if (c < lo || c > hi) {
            ++pos;
            return replacement_character;
        }
        cp = cp << 6 | (c & 0x3F);
    }
    pos += size_t(length);
    return cp;
}

bool glyph_of(Font& font, uint32_t code_point, Glyph& out) {
    auto it = font.glyphs.find(code_point);
    if (it != font.glyphs.end()) {
        out = it->second;
        return true;
    }
    Glyph g;
    if (font.make_glyph && font.make_glyph(font, code_point, g)) {
        font.glyphs.emplace(code_point, g);
        out = g;
        return true;
    }
    if (font.replacement != 0 && font.replacement != code_point) return glyph_of(font, font.replacement, out);
    return false;
}

void draw_text(Draw_List& list, Font* font, std::string_view text, int x, int y, uint32_t colour) {
    if (!font) return;
    float pen_x = float(x);
    int line_top = y;
    uint32_t previous = 0;
    static constexpr uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
    for (size_t pos = 0; pos < text.size();) {
        uint32_t cp = utf8_next(text, pos);
        if (cp == '\n') {
            pen_x = float(x);
            line_top += font->line_height;
            previous = 0;
            continue;
        }
        Glyph g;
        if (!glyph_of(*font, cp, g)) {
            previous = cp;
            continue;
        }
        if (previous != 0 && font->kerning) pen_x += font->kerning(*font, previous, cp);
        if (g.width >= 1 && g.height >= 1) {
            float left = float(std::lround(pen_x) + g.x_offset);
            float top = float(line_top + g.y_offset);
            float right = left + float(g.width), bottom = top + float(g.height);
            float u0 = 0, v0 = 0, u1 = 1, v1 = 1;
            if (font->atlas_width > 0 && font->atlas_height > 0) {
                float aw = float(font->atlas_width), ah = float(font->atlas_height);
                u0 = float(g.x) / aw;
                v0 = float(g.y) / ah;
                u1 = float(g.x + g.width) / aw;
                v1 = float(g.y + g.height) / ah;
            }
            const Vertex v[4] = {
                {{left, top}, {u0, v0}, colour},
                {{right, top}, {u1, v0}, colour},
                {{right, bottom}, {u1, v1}, colour},
                {{left, bottom}, {u0, v1}, colour},
            };
            emit_command(list, font->atlas, font->material, v, indices);
        }
        pen_x += g.advance;
        previous = cp;
    }
}

int measure_text(Font* font, std::string_view text) {
    if (!font || text.empty()) return 0;
    float widest = 0, line = 0;
    uint32_t previous = 0;
    for (size_t pos = 0; pos < text.size();) {
        uint32_t cp = utf8_next(text, pos);
        if (cp == '\n') {
            widest = std::max(widest, line);
            line = 0;
            previous = 0;
            continue;
        }
        Glyph g;
        if (glyph_of(*font, cp, g)) {
            if (previous != 0 && font->kerning) line += font->kerning(*font, previous, cp);
            line += g.advance;
        }
        previous = cp;
    }
    widest = std::max(widest, line);
    return int(std::ceil(widest));
}
