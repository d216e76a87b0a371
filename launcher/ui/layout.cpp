#include "launcher/ui/layout.h"

#include <algorithm>
#include <string>

#include "engine/kt_system/fs.h"
#include "launcher/core/i18n.h"
#include "launcher/ui/widgets.h"

namespace {

int64_t nonneg(int64_t v) { return v < 0 ? 0 : v; }

// The title line of a heading and its rule; returns the gap above it.
int64_t heading_line(Ui_State& ui, const Ui_Rect& area, int64_t cursor, std::string_view title) {
    int64_t gap = cursor <= 0 ? px(ui, 4) : px(ui, 18);
    std::string t = ellipsize(ui.bold_font, shown(title), area.w);
    draw_text_at(ui, ui.bold_font, t, area.x, area.y + cursor + gap + (px(ui, 26) - line_height(ui.bold_font)) / 2,
                 ui_accent, {area.x, area.y + cursor + gap, area.w, px(ui, 26)});
    if (area.w > 0 && !ui.panel_effect) fill_rect(ui, {area.x, area.y + cursor + gap + px(ui, 30), area.w, 2}, ui_rule);
    return gap;
}

Row_Rects row_at(Ui_State& ui, const Ui_Rect& area, int64_t y, int64_t row_height, int64_t label_width,
                 int64_t control_width, std::string_view label, int64_t indent, bool rule) {
    if (rule && area.w - indent >= 1 && !ui.panel_effect) fill_rect(ui, {area.x + indent, y, area.w - indent, 1}, ui_rule);
    Font* f = ui.font;
    std::string t = ellipsize(f, shown(label), label_width - indent);
    draw_text_at(ui, f, t, area.x + indent, y + (row_height - line_height(f)) / 2, indent == 0 ? ui_text : ui_hint,
                 {area.x + indent, y, nonneg(label_width - indent), row_height});
    Row_Rects out;
    out.row = {area.x, y, area.w, row_height};
    out.control = {area.x + label_width, y + (row_height - px(ui, 32)) / 2, control_width, px(ui, 32)};
    int64_t hx = area.x + label_width + control_width + px(ui, 16);
    out.hint = {hx, y, area.w - label_width - control_width - px(ui, 16), row_height};
    return out;
}

}  // namespace

void section_heading(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, std::string_view title,
                     uint8_t& after_heading) {
    int64_t gap = heading_line(ui, area, cursor, title);
    cursor += gap + px(ui, 34);
    after_heading = 1;
}

void section_heading_hint(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, std::string_view title,
                          std::string_view hint) {
    int64_t gap = heading_line(ui, area, cursor, title);
    // The hint as translated, at its own width, against the right edge.
    std::string h(shown(hint));
    int64_t w = text_width(ui.font, h);
    draw_text_at(ui, ui.font, h, area.x + area.w - w, area.y + cursor + gap + (px(ui, 26) - line_height(ui.font)) / 2,
                 ui_hint, {area.x + area.w - w, area.y + cursor + gap, w, px(ui, 26)});
    cursor += gap + px(ui, 34);
}

Row_Rects row_label_hint(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, int64_t row_height,
                         int64_t label_width, int64_t control_width, std::string_view label, int64_t indent,
                         uint8_t& after_heading) {
    int64_t y = area.y + cursor;
    Row_Rects out = row_at(ui, area, y, row_height, label_width, control_width, label, indent, !after_heading);
    after_heading = 0;
    cursor += row_height;
    return out;
}

Row_Rects row_label(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, int64_t row_height, int64_t label_width,
                    int64_t control_width, std::string_view label, uint8_t& after_heading) {
    return row_label_hint(ui, area, cursor, row_height, label_width, control_width, label, 0, after_heading);
}

Row_Rects row_label_index(Ui_State& ui, const Ui_Rect& area, int64_t& index, int64_t row_height,
                          int64_t label_width, int64_t control_width, std::string_view label) {
    int64_t y = area.y + index * row_height;
    Row_Rects out = row_at(ui, area, y, row_height, label_width, control_width, label, 0, index >= 1);
    index += 1;
    return out;
}

void note_text(Ui_State& ui, std::string_view english, const Ui_Rect& r, uint32_t colour) {
    Font* f = ui.small_font;
    std::vector<std::string> lines = wrap(f, english, r.w);
    if (lines.empty()) return;
    int64_t lh = line_height(f);
    int64_t y = r.y + (r.h - int64_t(lines.size()) * lh) / 2;
    for (const std::string& line : lines) {
        draw_text_at(ui, f, line, r.x, y, colour, r);
        y += lh;
    }
}

Ui_Rect dialog_begin(Ui_State& ui, int64_t width, int64_t height) {
    fill_rect(ui, ui.area, 0x4D000000u);
    Ui_Rect box{ui.area.x + (ui.area.w - width) / 2, ui.area.y + (ui.area.h - height) / 2, width, height};
    ui_trace(ui, Widget_Kind::Panel, "dialog", {}, box, false, 0);
    for (int64_t i = 1; i <= 6; ++i) {
        fill_rounded_rect(ui, {box.x - i, box.y, width + 2 * i, height + 2 * i}, px(ui, 8) + i, 0x06000000u);
    }
    int64_t r = px(ui, 8);
    if (ui.panel_effect) {
        // The colour 132, 168, 214 at 230 of 255 over the blurred background.
        const float tint[4] = {132.0f / 255.0f, 168.0f / 255.0f, 214.0f / 255.0f, 230.0f / 255.0f};
        draw_frosted(ui, box, r, tint, panel_tint_mix);
        return box;
    }
    fill_rounded_rect(ui, box, r, ui_rule);
    int64_t iw = box.w < 2 ? 0 : box.w - 2, ih = box.h < 2 ? 0 : box.h - 2;
    fill_rounded_rect(ui, {box.x + 1, box.y + 1, iw, ih}, std::max<int64_t>(r - 1, 0), ui_white);
    return box;
}

Ui_Rect dialog_buttons(Ui_State& ui, const Ui_Rect& box) {
    int64_t bottom = box.y + box.h;
    int64_t f = px(ui, 80);
    if (!ui.panel_effect) {
        fill_rect(ui, {box.x + 1, bottom - f, box.w - 2, f - px(ui, 8)}, ui_page_background);
        fill_rounded_rect(ui, {box.x + 1, bottom - px(ui, 16), box.w - 2, px(ui, 15)}, px(ui, 7), ui_page_background);
    }
    if (box.w - 2 >= 1) fill_rect(ui, {box.x + 1, bottom - f, box.w - 2, 1}, ui_rule);
    return {box.x + px(ui, 24), bottom - f + px(ui, 24), nonneg(box.w - px(ui, 48)), px(ui, 32)};
}

int64_t folder_row(Ui_State& ui, int64_t& x, int64_t y, std::string_view label, std::string_view folder,
                   const std::function<void(std::string_view)>& go) {
    if (!fs_is_dir(folder)) return 0;
    int64_t w = text_width(ui.small_font, shown(label)) + px(ui, 24);
    if (button(ui, {x, y, w, px(ui, 28)}, label, true, false, ui.small_font) && go) go(folder);
    x += w + px(ui, 6);
    return px(ui, 6);
}
