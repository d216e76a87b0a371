// The frame both Options pages are drawn in: the note line, the panel, the
// scroll bar, the read-only state while a task runs and the saving of
// changes.
#include <algorithm>

#include "launcher/core/i18n.h"
#include "launcher/ui/options_page.h"
#include "launcher/ui/widgets.h"

namespace {

// Where the pointer goes while it is outside the content: nothing hidden by
// the scrolling can react to it.
constexpr int64_t pointer_away = -1048576;

}  // namespace

Row_Rects options_row(Options_Page& o, std::string_view label, int64_t indent) {
    return row_label_hint(o.ui, o.area, o.cursor, options_row_height(o.ui), px(o.ui, 230), px(o.ui, 270), label,
                          indent, o.after_heading);
}

void options_section(Options_Page& o, std::string_view title) {
    section_heading(o.ui, o.area, o.cursor, title, o.after_heading);
}

void options_note(Options_Page& o, const Ui_Rect& hint, std::string_view text, uint32_t colour) {
    if (hint.w > 0) note_text(o.ui, text, hint, colour);
}

Dropdown_Result options_dropdown(Options_Page& o, std::string_view id, const Ui_Rect& r,
                                 const std::vector<std::string>& labels, int64_t index, bool enabled, bool raw) {
    return dropdown(o.ui, id, r, labels, index, {}, enabled, raw);
}

void draw_options(App& app, const Ui_Rect& r, int page) {
    Ui_State& ui = app.ui;
    Ui_Shared& sh = app.shared;
    page = page == 1 || page == 2 ? page : 0;
    bool read_only = app.procs.task_running();

    // The note line.
    int64_t note_h = std::min(px(ui, 24), r.h);
    std::string note;
    uint32_t note_colour = ui_hint;
    if (read_only) {
        note = shown(page == 2 ? "These can be changed once the current task has finished."
                               : "The options can be changed once the current task has finished.");
    } else if (page == 2) {
        note = shown("These apply the next time the game starts; no Build needed.");
    } else if (page == 0) {
        note = shown("The game reads these as it starts: no Build needed.");
    } else {
        build_options_note(app, note, note_colour);
    }
    draw_text_at(ui, ui.font, ellipsize(ui.font, note, r.w), r.x, r.y + (note_h - line_height(ui.font)) / 2,
                 note_colour, {r.x, r.y, r.w, note_h});

    // The panel and its content.
    int64_t panel_top = r.y + note_h + std::min(px(ui, 8), std::max<int64_t>(r.h - note_h, 0));
    Ui_Rect panel{r.x, panel_top, r.w, std::max<int64_t>(r.y + r.h - panel_top, 0)};
    draw_panel(ui, panel, px(ui, 7), colour_rgb(0xFBFBFB));
    Ui_Rect content{panel.x + px(ui, 20), panel.y + px(ui, 8), std::max<int64_t>(panel.w - px(ui, 40), 0),
                    std::max<int64_t>(panel.h - px(ui, 16), 0)};
    int64_t v = content.h;
    int64_t h = sh.options_height[page];
    int64_t d = h - v;
    int64_t& scroll = sh.options_scroll[page];

    // The scroll bar: wheel, track and thumb.
    Ui_Rect bar{content.x + content.w + px(ui, 4), content.y, px(ui, 8), v};
    if (d > 0) content.w = std::max<int64_t>(content.w - px(ui, 12), 0);
    int64_t thumb_h = d > 0 ? std::min(std::max(std::min(px(ui, 28), v), v * v / h), v) : 0;
    auto thumb_y = [&] { return d > 0 ? content.y + (v - thumb_h) * std::min(scroll, d) / d : content.y; };
    int64_t near = px(ui, 4);
    bool near_bar = d > 0 && ui.mouse_x >= bar.x - near && ui.mouse_x < bar.x + bar.w + near &&
                    ui.mouse_y >= bar.y - near && ui.mouse_y < bar.y + bar.h + near;
    if (ui_input_open(ui)) {
        if (sh.wheel_step != 0 && ui_inside(r, ui.mouse_x, ui.mouse_y) && ui.mouse_y >= panel.y) {
            scroll -= px(ui, 16) * sh.wheel_step;
        }
        if (near_bar && ui.clicked) {
            int64_t ty = thumb_y();
            if (ui.mouse_y >= ty && ui.mouse_y < ty + thumb_h) {
                sh.options_drag = 1;
                sh.options_grab = ui.mouse_y - ty;
            } else if (ui.mouse_y < ty) {
                scroll -= v;
            } else {
                scroll += v;
            }
            ui.clicked = 0;
        }
    }
    if (sh.options_drag) {
        if (ui.mouse_down) {
            int64_t room = v - thumb_h;
            scroll = room < 1 ? 0 : std::clamp<int64_t>(ui.mouse_y - content.y - sh.options_grab, 0, room) * d / room;
        } else {
            sh.options_drag = 0;
        }
    }
    scroll = std::clamp<int64_t>(scroll, 0, std::max<int64_t>(d, 0));
    if (d > 0) {
        fill_rounded_rect(ui, bar, px(ui, 4), 0x0C000000u);
        uint32_t thumb_colour = sh.options_drag || near_bar ? 0x6E000000u : 0x46000000u;
        fill_rounded_rect(ui, {bar.x, thumb_y(), bar.w, thumb_h}, px(ui, 4), thumb_colour);
    }

    // The rows. Outside the content the pointer is hidden from them, except
    // from a widget that holds the mouse (a slider being dragged keeps
    // following it).
    int64_t real_x = ui.mouse_x, real_y = ui.mouse_y;
    if (!ui_inside(content, real_x, real_y) && ui.active_id.empty()) {
        ui.mouse_x = pointer_away;
        ui.mouse_y = pointer_away;
    }
    if (ui.draw_list) {
        int64_t widen = px(ui, 6);
        push_clip(*ui.draw_list, {int(content.x - widen), int(content.y), int(content.w + 2 * widen), int(content.h)});
    }
    Settings now = settings_copy();
    Options_Page o{app, ui, {content.x, content.y - scroll, content.w, content.h}, 0, 0, read_only, now, now,
                   false, false};
    if (page == 0) {
        game_options_rows(o);
    } else if (page == 2) {
        features_rows(o);
        if (o.changed) o.cfg = true;
    } else {
        build_options_rows(o);
    }
    sh.options_height[page] = o.cursor + px(ui, 12);
    if (ui.draw_list) pop_clip(*ui.draw_list);
    ui.mouse_x = real_x;
    ui.mouse_y = real_y;

    // Saving, once no slider is held: a drag writes the files when it ends,
    // not in every frame of it.
    if (o.changed) sh.options_unsaved = 1;
    if (o.cfg) sh.options_cfg_unsaved = 1;
    if (sh.options_unsaved && ui.active_id.empty()) {
        sh.options_unsaved = 0;
        if (app.procs.save_settings) app.procs.save_settings();
        if (sh.options_cfg_unsaved && app.procs.cfg_rewrite) app.procs.cfg_rewrite();
        sh.options_cfg_unsaved = 0;
    }
}
