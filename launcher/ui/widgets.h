// The immediate-mode widgets: each call draws into the frame's draw list
// and answers at once what the user did this frame. What must outlast a
// frame (the open popup, the dragged slider, the hovered tooltip) lives in
// Ui_State. Also the text procedures every page uses.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/ui/ui.h"

// Colours of the interface (packed, see draw_list.h).
inline constexpr uint32_t ui_accent = colour_rgb(0x005FB8);
inline constexpr uint32_t ui_text = colour_rgb(0x1B1B1B);
inline constexpr uint32_t ui_hint = colour_rgb(0x606060);
inline constexpr uint32_t ui_rule = colour_rgb(0xE5E5E5);
inline constexpr uint32_t ui_error = colour_rgb(0xC42B1C);
inline constexpr uint32_t ui_warning = colour_rgb(0x9D5D00);
inline constexpr uint32_t ui_success = colour_rgb(0x0F7B0F);
inline constexpr uint32_t ui_disabled_text = colour_rgb(0xA0A0A0);
inline constexpr uint32_t ui_white = colour_rgb(0xFFFFFF);
inline constexpr uint32_t ui_page_background = colour_rgb(0xF3F3F3);
inline constexpr uint32_t ui_disabled_fill = colour_rgb(0xC7C7C7);

// A widget may react: input not blocked by a dialog or popup, and the mouse
// inside the rectangle.
bool ui_input_open(const Ui_State& ui);
bool ui_hot(const Ui_State& ui, const Ui_Rect& r);

void ui_trace(Ui_State& ui, Widget_Kind kind, std::string_view id, std::string_view label, const Ui_Rect& r,
              bool enabled, int64_t value);

void fill_rect(Ui_State& ui, const Ui_Rect& r, uint32_t colour);
// Nothing for an empty rectangle; the radius is limited to half the sides.
void fill_rounded_rect(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t colour);
void fill_circle(Ui_State& ui, int64_t cx, int64_t cy, int64_t diameter, uint32_t colour);
// Frame colour, then the rectangle inset by one pixel in the fill colour.
void fill_framed(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t frame, uint32_t fill);
void draw_panel(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t colour);
// How much of a frosted box is its tint (the rest: the blurred background).
inline constexpr float panel_tint_mix = 0.86f;
// A box through the rounded-panel shader over the blurred background
// (while ui.panel_effect): tint RGBA 0..1, radius in pixels.
void draw_frosted(Ui_State& ui, const Ui_Rect& r, int64_t radius, const float tint[4], float tint_mix);

int64_t line_height(const Font* f);
int64_t text_width(Font* f, std::string_view text);

bool button(Ui_State& ui, const Ui_Rect& r, std::string_view label, bool enabled, bool accent = false,
            Font* font = nullptr, bool go = false);
// The width a button needs for its translated label, `least` at the least.
int64_t button_width(Ui_State& ui, std::string_view label, int64_t least, Font* font = nullptr);
// Widths for buttons side by side in `total` pixels with `gap` between: equal
// parts (the first ones taking the odd pixels) where every label fits, else
// each label's own width and the rest shared so the narrow ones grow first.
std::vector<int64_t> share_row(Ui_State& ui, int64_t total, int64_t gap, const std::vector<std::string_view>& labels);

struct Toggle_Result {
    bool value = false;
    bool changed = false;
};
Toggle_Result toggle(Ui_State& ui, std::string_view id, const Ui_Rect& r, bool value, bool enabled);

struct Slider_Result {
    int64_t value = 0;
    bool changed = false;
    bool released = false;
};
Slider_Result slider(Ui_State& ui, std::string_view id, const Ui_Rect& r, int64_t value, int64_t min, int64_t max,
                     bool enabled);

struct Dropdown_Result {
    int64_t index = 0;
    bool changed = false;
};
Dropdown_Result dropdown(Ui_State& ui, std::string_view id, const Ui_Rect& r, const std::vector<std::string>& labels,
                         int64_t index, const std::vector<uint8_t>& row_enabled, bool enabled, bool raw);

struct Popup_Place {
    Ui_Rect rect;
    int64_t row_height = 0;
};
Popup_Place popup_rect(const Ui_State& ui);
// The open popup over everything (the main loop, after the pages).
void draw_popup(Ui_State& ui);
// The main loop's click on an open popup, before the pages: a choosable row
// gives the result; a click outside or on a row closes it and is used up.
void popup_take_click(Ui_State& ui);

// Returns the drawn width; a click opens `url` through `open`.
int64_t link(Ui_State& ui, int64_t x, int64_t y, std::string_view text, std::string_view url,
             const std::function<bool(std::string_view)>& open);

void tooltip(Ui_State& ui, std::string_view id, const Ui_Rect& r, std::string_view text);
// The tooltip near the mouse, once hovered 450 ms.
void draw_tooltip(Ui_State& ui);
inline constexpr int64_t tooltip_delay_ns = 450'000'000;

void draw_label(Ui_State& ui, Font* font, std::string_view text, const Ui_Rect& r, uint32_t colour, bool centred,
                bool raw);
// One line at (x, y); `box` is the rectangle the text belongs in (the
// widget's or the layout's), recorded with the glyphs when tracing.
void draw_text_at(Ui_State& ui, Font* font, std::string_view text, int64_t x, int64_t y, uint32_t colour,
                  const Ui_Rect& box);
std::string ellipsize(Font* font, std::string_view text, int64_t width);
// The number with `digits` decimals and the decimal sign of the language
// shown (a comma in de, es, fr, it, pl, pt-BR and ru).
std::string decimal_text(double value, int digits);
// A translated format with its first "%.<digits>f" replaced by the value as
// decimal_text writes it; the other placeholders stay for fmt.
std::string with_decimal(std::string_view format, double value);
// The translated text broken into lines no wider than `width` where it can.
std::vector<std::string> wrap(Font* font, std::string_view text, int64_t width);
