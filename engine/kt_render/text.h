// Text drawing and measurement: UTF-8 laid out with a Font, one textured
// quad per visible glyph appended to the draw list.
#pragma once
#include <cstdint>
#include <string_view>

#include "engine/kt_render/draw_list.h"
#include "engine/kt_render/font.h"

inline constexpr uint32_t replacement_character = 0xFFFD;

// The code point at `pos`, moving `pos` past it. A byte that starts no valid
// sequence of 1 to 4 bytes, or a sequence cut short, gives U+FFFD and moves
// on by one byte. `pos` must be below text.size().
uint32_t utf8_next(std::string_view text, size_t& pos);

// The glyph of a code point, made on first use; the font's replacement
// ("?") when the code point is in no face; false when that is missing too.
bool glyph_of(Font& font, uint32_t code_point, Glyph& out);

// Draws the text with its first line's top at y. Nothing without a font.
void draw_text(Draw_List& list, Font* font, std::string_view text, int x, int y, uint32_t colour);

// Width in whole pixels (rounded up) of the text's widest line; 0 without a
// font or text.
int measure_text(Font* font, std::string_view text);
