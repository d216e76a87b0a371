#include "launcher/ui/widgets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/kt_render/text.h"
#include "launcher/core/i18n.h"

namespace {

Rect to_rect(const Ui_Rect& r) {
    auto clamp_int = [](int64_t v) { return int(std::clamp<int64_t>(v, -(int64_t(1) << 30), int64_t(1) << 30)); };
    return {clamp_int(r.x), clamp_int(r.y), clamp_int(r.w), clamp_int(r.h)};
}

uint32_t with_alpha_scaled(uint32_t colour, double coverage) {
    uint32_t a = uint32_t(double(colour >> 24) * coverage + 0.5);
    return (colour & 0x00FFFFFFu) | (std::min<uint32_t>(a, 255) << 24);
}

int64_t nonneg(int64_t v) { return v < 0 ? 0 : v; }

Font* or_body(Ui_State& ui, Font* f) { return f ? f : ui.font; }

}  // namespace

bool ui_input_open(const Ui_State& ui) { return !(ui.modal && !ui.in_dialog) && ui.popup_id.empty(); }

bool ui_hot(const Ui_State& ui, const Ui_Rect& r) { return ui_input_open(ui) && ui_inside(r, ui.mouse_x, ui.mouse_y); }

void ui_trace(Ui_State& ui, Widget_Kind kind, std::string_view id, std::string_view label, const Ui_Rect& r,
              bool enabled, int64_t value) {
    if (!ui.trace_on) return;
    ui.trace.push_back({kind, std::string(id), std::string(label), r, enabled, value});
}

void fill_rect(Ui_State& ui, const Ui_Rect& r, uint32_t colour) {
    if (!ui.draw_list || r.w <= 0 || r.h <= 0) return;
    draw_rect(*ui.draw_list, to_rect(r), colour);
}

void fill_rounded_rect(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t colour) {
    if (r.w <= 0 || r.h <= 0) return;
    int64_t rad = std::min({radius, r.w / 2, r.h / 2});
    if (rad <= 0) {
        fill_rect(ui, r, colour);
        return;
    }
    fill_rect(ui, {r.x, r.y + rad, r.w, r.h - 2 * rad}, colour);
    for (int64_t l = 0; l < rad; ++l) {
        double d = double(rad) - (double(l) + 0.5);
        double m = double(rad) - std::sqrt(std::max(double(rad) * double(rad) - d * d, 0.0));
        int64_t v = int64_t(std::ceil(m));
        int64_t rows[2] = {r.y + l, r.y + r.h - 1 - l};
        for (int64_t y : rows) {
            fill_rect(ui, {r.x + v, y, r.w - 2 * v, 1}, colour);
            if (v > 0 && double(v) - m > 0.02) {
                uint32_t edge = with_alpha_scaled(colour, double(v) - m);
                fill_rect(ui, {r.x + v - 1, y, 1, 1}, edge);
                fill_rect(ui, {r.x + r.w - v, y, 1, 1}, edge);
            }
        }
    }
}

void fill_circle(Ui_State& ui, int64_t cx, int64_t cy, int64_t diameter, uint32_t colour) {
    fill_rounded_rect(ui, {cx - diameter / 2, cy - diameter / 2, diameter, diameter}, diameter / 2, colour);
}

void fill_framed(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t frame, uint32_t fill) {
    fill_rounded_rect(ui, r, radius, frame);
    fill_rounded_rect(ui, {r.x + 1, r.y + 1, nonneg(r.w - 2), nonneg(r.h - 2)}, radius - 1 > 0 ? radius - 1 : 0,
                      fill);
}

void draw_frosted(Ui_State& ui, const Ui_Rect& r, int64_t radius, const float tint[4], float tint_mix) {
    if (!ui.draw_list || r.w < 1 || r.h < 1) return;
    const float scale = ui.scale > 0 ? ui.scale : 1.0f;
    const float u[14] = {float(r.x),  float(r.y),   float(r.w),   float(r.h),           float(ui.area.w),
                         float(ui.area.h), tint[0], tint[1], tint[2], tint[3], float(radius) / scale,
                         scale, tint_mix, 1.0f};
    const Handle texture = ui.panel_texture;
    draw_image(*ui.draw_list, ui.panel_shader, {int(r.x), int(r.y), int(r.w), int(r.h)}, {&texture, 1},
               {reinterpret_cast<const uint8_t*>(u), sizeof u});
}

void draw_panel(Ui_State& ui, const Ui_Rect& r, int64_t radius, uint32_t colour) {
    ui_trace(ui, Widget_Kind::Panel, "panel", {}, r, false, 0);
    if (ui.panel_effect) {
        // Frosted: mostly the panel's colour, with the blurred background
        // showing through.
        const float tint[4] = {float(colour & 0xFF) / 255.0f, float(colour >> 8 & 0xFF) / 255.0f,
                               float(colour >> 16 & 0xFF) / 255.0f, 1.0f};
        draw_frosted(ui, r, radius, tint, panel_tint_mix);
        return;
    }
    fill_rounded_rect(ui, r, radius, ui_rule);
    fill_rounded_rect(ui, {r.x + 1, r.y + 1, nonneg(r.w - 2), nonneg(r.h - 2)}, radius < 2 ? 0 : radius - 1,
                      colour);
}

int64_t line_height(const Font* f) { return f ? f->line_height : 0; }

int64_t text_width(Font* f, std::string_view text) { return measure_text(f, text); }

void draw_text_at(Ui_State& ui, Font* font, std::string_view text, int64_t x, int64_t y, uint32_t colour,
                  const Ui_Rect& box) {
    if (!ui.draw_list || !font || text.empty()) return;
    Draw_List& list = *ui.draw_list;
    size_t first = list.vertices.size();
    draw_text(list, font, text, int(x), int(y), colour);
    if (!ui.trace_on) return;
    // The glyph quads as placed (the offset already added), and the box
    // moved by the same offset.
    Text_Item item{std::string(text), box, {}, {}};
    float ox = list.offset_stack.empty() ? 0.0f : list.offset_stack.back().x;
    float oy = list.offset_stack.empty() ? 0.0f : list.offset_stack.back().y;
    item.box.x += int64_t(std::lround(ox));
    item.box.y += int64_t(std::lround(oy));
    Rect clip = current_clip(list);
    item.clip = {clip.x, clip.y, clip.width, clip.height};
    if (list.vertices.size() > first) {
        float left = list.vertices[first].position[0], top = list.vertices[first].position[1];
        float right = left, bottom = top;
        for (size_t i = first; i < list.vertices.size(); ++i) {
            left = std::min(left, list.vertices[i].position[0]);
            right = std::max(right, list.vertices[i].position[0]);
            top = std::min(top, list.vertices[i].position[1]);
            bottom = std::max(bottom, list.vertices[i].position[1]);
        }
        int64_t l = int64_t(std::floor(left)), t = int64_t(std::floor(top));
        item.ink = {l, t, int64_t(std::ceil(right)) - l, int64_t(std::ceil(bottom)) - t};
    }
    ui.texts.push_back(std::move(item));
}

std::string ellipsize(Font* font, std::string_view text, int64_t width) {
    if (text_width(font, text) <= width) return std::string(text);
    static constexpr std::string_view dots = "…";
    size_t lo = 0, hi = text.size();
    while (lo < hi) {
        size_t mid = (lo + hi + 1) / 2;
        std::string candidate = std::string(text.substr(0, mid)) + std::string(dots);
        if (text_width(font, candidate) <= width) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    size_t cut = lo;
    while (cut > 0 && cut < text.size() && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + std::string(dots);
}

std::string decimal_text(double value, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, value);
    std::string s = buf;
    static constexpr std::string_view comma_languages[] = {"de", "es", "fr", "it", "pl", "pt-BR", "ru"};
    std::string_view code = language_table[language].code;
    for (std::string_view c : comma_languages) {
        if (c != code) continue;
        size_t dot = s.find('.');
        if (dot != std::string::npos) s[dot] = ',';
    }
    return s;
}

std::string with_decimal(std::string_view format, double value) {
    for (size_t at = format.find("%."); at != std::string_view::npos; at = format.find("%.", at + 1)) {
        size_t end = at + 2;
        while (end < format.size() && format[end] >= '0' && format[end] <= '9') ++end;
        if (end == at + 2 || end >= format.size() || format[end] != 'f') continue;
        int digits = std::atoi(std::string(format.substr(at + 2, end - at - 2)).c_str());
        return std::string(format.substr(0, at)) + decimal_text(value, digits) + std::string(format.substr(end + 1));
    }
    return std::string(format);
}

void draw_label(Ui_State& ui, Font* font, std::string_view text, const Ui_Rect& r, uint32_t colour, bool centred,
                bool raw) {
    std::string s = ellipsize(font, raw ? text : shown(text), r.w);
    int64_t w = text_width(font, s);
    int64_t x = centred ? r.x + (r.w - w) / 2 : r.x;
    int64_t y = r.y + (r.h - line_height(font)) / 2;
    draw_text_at(ui, font, s, x, y, colour, r);
}

bool button(Ui_State& ui, const Ui_Rect& r, std::string_view label, bool enabled, bool accent, Font* font, bool go) {
    font = or_body(ui, font);
    ui_trace(ui, Widget_Kind::Button, label, label, r, enabled, 0);
    int64_t radius = px(ui, 4);
    bool hot = enabled && ui_hot(ui, r);
    bool pressed = hot && ui.mouse_down;
    uint32_t text_colour;
    if (enabled && (go || accent)) {
        uint32_t frame = go ? colour_rgb(0x0A640A) : colour_rgb(0x0050A0);
        uint32_t fill = go ? (pressed ? colour_rgb(0x389638) : hot ? colour_rgb(0x248A24) : colour_rgb(0x107C10))
                           : (pressed ? colour_rgb(0x317DC5) : hot ? colour_rgb(0x196EBF) : ui_accent);
        fill_framed(ui, r, radius, frame, fill);
        text_colour = ui_white;
    } else if (enabled) {
        uint32_t fill = pressed ? colour_rgb(0xF0F0F0) : hot ? colour_rgb(0xF6F6F6) : colour_rgb(0xFDFDFD);
        fill_framed(ui, r, radius, colour_rgb(0xD5D5D5), fill);
        if (r.w - 2 * radius > 0) fill_rect(ui, {r.x + radius, r.y + r.h - 1, r.w - 2 * radius, 1}, colour_rgb(0xBABABA));
        text_colour = pressed ? ui_hint : ui_text;
    } else if (go || accent) {
        fill_rounded_rect(ui, r, radius, ui_disabled_fill);
        text_colour = ui_page_background;
    } else {
        fill_framed(ui, r, radius, ui_rule, colour_rgb(0xF5F5F5));
        text_colour = ui_disabled_text;
    }
    int64_t pad = px(ui, 10);
    int64_t room = nonneg(r.w - 2 * pad);
    std::string s = ellipsize(font, shown(label), room);
    int64_t w = text_width(font, s);
    draw_text_at(ui, font, s, r.x + pad + (room - w) / 2, r.y + (r.h - line_height(font)) / 2, text_colour,
                 {r.x + pad, r.y, room, r.h});
    return enabled && hot && ui.clicked;
}

int64_t button_width(Ui_State& ui, std::string_view label, int64_t least, Font* font) {
    if (!font) font = ui.font;
    return std::max(least, text_width(font, shown(label)) + 2 * px(ui, 10));
}

std::vector<int64_t> share_row(Ui_State& ui, int64_t total, int64_t gap, const std::vector<std::string_view>& labels) {
    const int64_t n = int64_t(labels.size());
    std::vector<int64_t> out(labels.size());
    if (n == 0) return out;
    int64_t room = nonneg(total - gap * (n - 1));
    std::vector<int64_t> need(labels.size());
    int64_t needed = 0;
    for (size_t i = 0; i < labels.size(); ++i) needed += need[i] = button_width(ui, labels[i], 0);
    // The level every button below it is raised to: the widest share that
    // still leaves each wider label its own width.
    int64_t level = room / n;
    for (int64_t lo = 0, hi = room; lo <= hi;) {
        int64_t mid = (lo + hi) / 2, sum = 0;
        for (int64_t w : need) sum += std::max(w, mid);
        if (sum <= room) {
            level = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (needed > room) level = 0;
    int64_t used = 0;
    for (size_t i = 0; i < labels.size(); ++i) used += out[i] = std::max(need[i], level);
    // The pixels left over go one each to the first buttons at the level.
    for (size_t i = 0; i < labels.size() && used < room; ++i) {
        if (out[i] == level) {
            ++out[i];
            ++used;
        }
    }
    return out;
}

Toggle_Result toggle(Ui_State& ui, std::string_view id, const Ui_Rect& r, bool value, bool enabled) {
    Font* font = ui.font;
    int64_t pill_w = px(ui, 40), pill_h = px(ui, 20);
    Ui_Rect pill{r.x, r.y + (r.h - pill_h) / 2, pill_w, pill_h};
    std::string on = std::string(shown("On")), off = std::string(shown("Off"));
    int64_t word_w = std::max(text_width(font, on), text_width(font, off));
    Ui_Rect react{r.x, r.y, pill_w + px(ui, 12) + word_w, r.h};
    ui_trace(ui, Widget_Kind::Toggle, id, id, react, enabled, value);
    bool hot = enabled && ui_hot(ui, react);
    int64_t knob = hot ? px(ui, 14) : px(ui, 12);
    int64_t cy = pill.y + pill_h / 2;
    if (value) {
        uint32_t fill = !enabled ? ui_disabled_fill : hot ? colour_rgb(0x196EBF) : ui_accent;
        fill_rounded_rect(ui, pill, pill_h / 2, fill);
        fill_circle(ui, pill.x + pill_w - pill_h / 2, cy, knob, ui_white);
    } else {
        uint32_t frame = enabled ? colour_rgb(0x868686) : ui_rule;
        uint32_t fill = !enabled ? colour_rgb(0xF5F5F5) : hot ? colour_rgb(0xF6F6F6) : colour_rgb(0xFDFDFD);
        fill_framed(ui, pill, pill_h / 2, frame, fill);
        fill_circle(ui, pill.x + pill_h / 2, cy, knob, enabled ? colour_rgb(0x5D5D5D) : ui_disabled_text);
    }
    std::string word = ellipsize(font, value ? on : off, word_w);
    draw_text_at(ui, font, word, pill.x + pill_w + px(ui, 12), r.y + (r.h - line_height(font)) / 2,
                 enabled ? ui_text : ui_disabled_text, {pill.x + pill_w + px(ui, 12), r.y, word_w, r.h});
    if (hot && ui.clicked) return {!value, true};
    return {value, false};
}

Slider_Result slider(Ui_State& ui, std::string_view id, const Ui_Rect& r, int64_t value, int64_t min, int64_t max,
                     bool enabled) {
    Slider_Result out{value, false, false};
    int64_t k = px(ui, 16);
    int64_t track_h = px(ui, 4);
    Ui_Rect track{r.x + k / 2, r.y + (r.h - track_h) / 2, r.w - k, track_h};
    bool hot = enabled && ui_hot(ui, r);
    if (hot && ui.clicked) ui.active_id = std::string(id);
    bool held = ui.active_id == id;
    if (held) {
        if (enabled && ui_input_open(ui) && ui.mouse_down) {
            double tw = track.w < 2 ? 1.0 : double(track.w);
            double f = std::clamp(double(ui.mouse_x - track.x) / tw, 0.0, 1.0);
            out.value = min + int64_t(std::floor(double(max - min) * f + 0.5));
        } else {
            ui.active_id.clear();
            out.released = true;
            held = false;
        }
    }
    ui_trace(ui, Widget_Kind::Slider, id, id, r, enabled, out.value);
    if (enabled) {
        fill_framed(ui, track, track_h / 2, colour_rgb(0xD5D5D5), colour_rgb(0xF6F6F6));
    } else {
        fill_framed(ui, track, track_h / 2, ui_rule, colour_rgb(0xF5F5F5));
    }
    double range = max - min < 2 ? 1.0 : double(max - min);
    double frac = std::clamp(double(out.value - min) / range, 0.0, 1.0);
    if (max <= min) frac = 0;
    int64_t filled = int64_t(double(nonneg(track.w)) * frac);
    if (enabled && filled >= track_h) {
        fill_rounded_rect(ui, {track.x, track.y, filled, track_h}, track_h / 2,
                          hot || held ? colour_rgb(0x196EBF) : ui_accent);
    }
    int64_t d = hot || held ? k + px(ui, 2) : k;
    int64_t cx = track.x + filled, cy = track.y + track_h / 2;
    fill_circle(ui, cx, cy, d, enabled ? ui_accent : ui_disabled_text);
    fill_circle(ui, cx, cy, k / 2, ui_white);
    out.changed = out.value != value;
    return out;
}

Dropdown_Result dropdown(Ui_State& ui, std::string_view id, const Ui_Rect& r, const std::vector<std::string>& labels,
                         int64_t index, const std::vector<uint8_t>& row_enabled, bool enabled, bool raw) {
    Dropdown_Result out{index, false};
    if (!ui.result_id.empty() && ui.result_id == id) {
        out.index = ui.result_index;
        out.changed = out.index != index;
        ui.result_id.clear();
    }
    ui_trace(ui, Widget_Kind::Dropdown, id, id, r, enabled, out.index);
    int64_t radius = px(ui, 4);
    bool hot = enabled && ui_hot(ui, r);
    bool open = ui.popup_id == id;
    if (enabled) {
        uint32_t fill = open ? colour_rgb(0xF0F0F0) : hot ? colour_rgb(0xF6F6F6) : colour_rgb(0xFDFDFD);
        fill_framed(ui, r, radius, colour_rgb(0xD5D5D5), fill);
        if (r.w - 2 * radius > 0) fill_rect(ui, {r.x + radius, r.y + r.h - 1, r.w - 2 * radius, 1}, colour_rgb(0xBABABA));
    } else {
        fill_framed(ui, r, radius, ui_rule, colour_rgb(0xF5F5F5));
    }
    std::string_view current;
    if (out.index >= 0 && out.index < int64_t(labels.size())) current = labels[size_t(out.index)];
    const Ui_Rect label_box{r.x + px(ui, 11), r.y, nonneg(r.w - px(ui, 40)), r.h};
    draw_label(ui, ui.font, current, label_box, enabled ? ui_text : ui_disabled_text, false, raw);
    if (ui.trace_on && !raw) {
        for (const std::string& l : labels) ui_trace(ui, Widget_Kind::Entry, id, l, label_box, enabled, 0);
    }
    int64_t n = px(ui, 4);
    int64_t t = std::max<int64_t>(px(ui, 1), 1) + 1;
    int64_t cx = r.x + r.w - px(ui, 18) - t / 2, cy = r.y + r.h / 2 - n / 2;
    uint32_t chevron = enabled ? ui_hint : ui_disabled_text;
    for (int64_t i = 0; i <= n; ++i) {
        fill_rect(ui, {cx - n + i, cy + i, t, 1}, chevron);
        fill_rect(ui, {cx + n - i, cy + i, t, 1}, chevron);
    }
    if (hot && ui.clicked) {
        ui.popup_labels = labels;
        ui.popup_enabled.assign(labels.size(), 0);
        for (size_t i = 0; i < labels.size(); ++i) {
            ui.popup_enabled[i] = row_enabled.empty() ? 1 : (i < row_enabled.size() ? row_enabled[i] : 0);
        }
        ui.popup_id = std::string(id);
        ui.popup_raw = raw;
        ui.popup_anchor = r;
        ui.popup_current = out.index;
        ui.clicked = 0;
    }
    return out;
}

Popup_Place popup_rect(const Ui_State& ui) {
    int64_t p = px(ui, 4), rh = px(ui, 32), g = px(ui, 2);
    Ui_Rect allowed{ui.area.x + p, ui.area.y + p, nonneg(ui.area.w - 2 * p), nonneg(ui.area.h - 2 * p)};
    const Ui_Rect& a = ui.popup_anchor;
    int64_t w = std::min(a.w, allowed.w);
    int64_t h = std::min(rh * int64_t(ui.popup_labels.size()) + 2 * p, allowed.h);
    auto fits = [&](int64_t top) {
        return a.x >= allowed.x && a.x + w <= allowed.x + allowed.w && top >= allowed.y &&
               top + h <= allowed.y + allowed.h;
    };
    int64_t below = a.y + a.h + g, above = a.y - g - h;
    int64_t top = fits(below) ? below : fits(above) ? above : below;
    int64_t x = std::clamp(a.x, allowed.x, std::max(allowed.x, allowed.x + allowed.w - w));
    top = std::clamp(top, allowed.y, std::max(allowed.y, allowed.y + allowed.h - h));
    return {{x, top, w, h}, rh};
}

void popup_take_click(Ui_State& ui) {
    if (ui.popup_id.empty() || !ui.clicked) return;
    Popup_Place place = popup_rect(ui);
    const Ui_Rect& pr = place.rect;
    int64_t pad = px(ui, 4);
    bool stored = false;
    for (size_t i = 0; i < ui.popup_labels.size(); ++i) {
        Ui_Rect row{pr.x + pad, pr.y + pad + int64_t(i) * place.row_height, pr.w - 2 * pad, place.row_height};
        if (ui_inside(row, ui.mouse_x, ui.mouse_y) && i < ui.popup_enabled.size() && ui.popup_enabled[i]) {
            ui.result_id = ui.popup_id;
            ui.result_index = int64_t(i);
            stored = true;
            break;
        }
    }
    if (stored || !ui_inside(pr, ui.mouse_x, ui.mouse_y)) {
        ui.popup_id.clear();
        ui.clicked = 0;
    }
}

void draw_popup(Ui_State& ui) {
    if (ui.popup_id.empty()) return;
    Popup_Place place = popup_rect(ui);
    Ui_Rect r = place.rect;
    int64_t rh = place.row_height, pad = px(ui, 4);
    for (int64_t k = 1; k <= 4; ++k) {
        fill_rounded_rect(ui, {r.x - k, r.y, r.w + 2 * k, r.h + 2 * k}, px(ui, 8) + k, 0x07000000u);
    }
    fill_rounded_rect(ui, r, px(ui, 7), colour_rgb(0xCECECE));
    fill_rounded_rect(ui, {r.x + 1, r.y + 1, nonneg(r.w - 2), nonneg(r.h - 2)}, nonneg(px(ui, 7) - 1),
                      colour_rgb(0xF9F9F9));
    for (size_t i = 0; i < ui.popup_labels.size(); ++i) {
        Ui_Rect row{r.x + pad, r.y + pad + int64_t(i) * rh, r.w - 2 * pad, rh};
        if (row.y >= r.y + r.h) break;
        bool enabled = i < ui.popup_enabled.size() && ui.popup_enabled[i];
        bool current = int64_t(i) == ui.popup_current;
        Ui_Rect highlight{row.x, row.y + px(ui, 2), row.w, rh - 2 * px(ui, 2)};
        if (enabled && ui_inside(row, ui.mouse_x, ui.mouse_y)) {
            ui.cursor = Cursor::Arrow;
            fill_rounded_rect(ui, highlight, px(ui, 4), 0x0E000000u);
        } else if (current) {
            fill_rounded_rect(ui, highlight, px(ui, 4), 0x08000000u);
        }
        if (current) {
            fill_rounded_rect(ui, {row.x, row.y + rh / 2 - px(ui, 8), px(ui, 3), px(ui, 16)}, px(ui, 2), ui_accent);
        }
        draw_label(ui, ui.font, ui.popup_labels[i], {row.x + px(ui, 12), row.y, nonneg(row.w - px(ui, 16)), rh},
                   enabled ? ui_text : ui_disabled_text, false, ui.popup_raw);
    }
}

int64_t link(Ui_State& ui, int64_t x, int64_t y, std::string_view text, std::string_view url,
             const std::function<bool(std::string_view)>& open) {
    Font* font = ui.font;
    std::string s(shown(text));
    int64_t w = text_width(font, s);
    Ui_Rect r{x, y, w, line_height(font)};
    ui_trace(ui, Widget_Kind::Link, url, text, r, true, 0);
    if (!ui_input_open(ui) || !ui_inside(r, ui.mouse_x, ui.mouse_y)) {
        draw_text_at(ui, font, s, x, y, ui_accent, r);
        return w;
    }
    uint32_t hover = colour_rgb(0x196EBF);
    draw_text_at(ui, font, s, x, y, hover, r);
    int64_t baseline = font ? font->ascent : 0;
    fill_rect(ui, {x, y + baseline + px(ui, 2), w, std::max<int64_t>(px(ui, 1), 1)}, hover);
    ui.cursor = Cursor::Hand;
    if (ui.clicked && open) open(url);
    return w;
}

void tooltip(Ui_State& ui, std::string_view id, const Ui_Rect& r, std::string_view text) {
    ui_trace(ui, Widget_Kind::Tooltip, id, text, r, true, 0);
    if (!ui_input_open(ui) || !ui_inside(r, ui.mouse_x, ui.mouse_y)) return;
    ui.tooltip_hover = 1;
    if (ui.tooltip_id != id) {
        ui.tooltip_id = std::string(id);
        ui.tooltip_since = ui.now;
    }
    ui.tooltip_text = std::string(text);
}

void draw_tooltip(Ui_State& ui) {
    Font* font = ui.small_font;
    std::vector<std::string> lines = wrap(font, ui.tooltip_text, px(ui, 380));
    int64_t text_w = 0;
    for (const std::string& l : lines) text_w = std::max(text_w, text_width(font, l));
    int64_t p = px(ui, 9);
    int64_t step = line_height(font) + px(ui, 2);
    int64_t w = text_w + 2 * p;
    int64_t h = step * int64_t(lines.size()) + 2 * p - px(ui, 2);
    int64_t m = px(ui, 4);
    Ui_Rect allowed{ui.area.x + m, ui.area.y + m, nonneg(ui.area.w - 2 * m), nonneg(ui.area.h - 2 * m)};
    w = std::min(w, allowed.w);
    h = std::min(h, allowed.h);
    int64_t x = std::clamp(ui.mouse_x + px(ui, 14), allowed.x, allowed.x + allowed.w - w);
    int64_t y = std::clamp(ui.mouse_y + px(ui, 20), allowed.y, allowed.y + allowed.h - h);
    for (int64_t k = 1; k <= 3; ++k) {
        fill_rounded_rect(ui, {x - k, y, w + 2 * k, h + 2 * k}, px(ui, 6) + k, 0x07000000u);
    }
    fill_rounded_rect(ui, {x, y, w, h}, px(ui, 5), colour_rgb(0xCCCCCC));
    fill_rounded_rect(ui, {x + 1, y + 1, nonneg(w - 2), nonneg(h - 2)}, nonneg(px(ui, 5) - 1), colour_rgb(0xF9F9F9));
    for (size_t i = 0; i < lines.size(); ++i) {
        draw_text_at(ui, font, lines[i], x + p, y + p + int64_t(i) * step, ui_text,
                     {x + p, y + p, nonneg(w - 2 * p), nonneg(h - 2 * p)});
    }
}

namespace {

bool is_cjk(uint32_t c) {
    if (c < 0x2E80 || c > 0x9FFF) return false;
    return !(c >= 0x3130 && c <= 0x318F);
}

bool in_set(std::string_view set, uint32_t c) {
    for (size_t pos = 0; pos < set.size();) {
        if (utf8_next(set, pos) == c) return true;
    }
    return false;
}

constexpr std::string_view no_start =
    "、。，．・：；？！）」』】〕〉》ーぁぃぅぇぉっゃゅょァィゥェォッャュョ%,.:;!?)]}";
constexpr std::string_view no_end = "（「『【〔〈《([{";

std::string trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return std::string(s.substr(b, e - b));
}

void wrap_paragraph(Font* font, std::string_view para, int64_t width, std::vector<std::string>& out) {
    size_t line_start = 0;
    bool has_content = false;
    size_t pos = 0;
    while (pos < para.size()) {
        if (para[pos] == ' ') {
            ++pos;
            continue;
        }
        size_t token_start = pos;
        size_t next = pos;
        uint32_t first = utf8_next(para, next);
        pos = next;
        if (!is_cjk(first)) {
            while (pos < para.size() && para[pos] != ' ') {
                size_t look = pos;
                uint32_t c = utf8_next(para, look);
                if (is_cjk(c)) break;
                pos = look;
            }
        }
        while (pos < para.size()) {
            size_t look = pos;
            uint32_t c = utf8_next(para, look);
            if (!in_set(no_start, c)) break;
            pos = look;
        }
        if (in_set(no_end, first) && pos < para.size() && para[pos] != ' ') utf8_next(para, pos);
        if (has_content && text_width(font, para.substr(line_start, pos - line_start)) > width) {
            out.push_back(trimmed(para.substr(line_start, token_start - line_start)));
            line_start = token_start;
        }
        has_content = true;
    }
    out.push_back(trimmed(para.substr(line_start)));
}

}  // namespace

std::vector<std::string> wrap(Font* font, std::string_view text, int64_t width) {
    std::string_view t = shown(text);
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t nl = t.find('\n', start);
        wrap_paragraph(font, t.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start),
                       width, out);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return out;
}
