// The Input Map page: which controller button presses each of the game's
// buttons, and which keys act as other keys of the game. Every change is
// saved at once; the game applies it the next time it starts.
#include <algorithm>

#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/core/settings.h"
#include "launcher/core/inputmap.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"

namespace {

constexpr int pad_display_order[pad_button_count] = {0, 1, 2, 3, 4, 5, 14, 15, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr int64_t pointer_away = -1048576;

int pressing_button(const Settings& s, int i) { return s.pad_map[i] ? s.pad_map[i] - 1 : i; }
int key_target(const Settings& s, int c) { return s.key_map[c] ? s.key_map[c] : c; }

void pad_map_choose(Settings& s, int game_button, int pressing) {
    int p = pressing_button(s, game_button);
    for (int m = 0; m < pad_button_count; ++m) {
        if (m != game_button && pressing_button(s, m) == pressing) s.pad_map[m] = uint8_t(p == m ? 0 : p + 1);
    }
    s.pad_map[game_button] = uint8_t(pressing == game_button ? 0 : pressing + 1);
}

void key_map_undo(Settings& s, int code) {
    int t = key_target(s, code);
    for (int m = 1; m < 256; ++m) {
        if (m != code && key_target(s, m) == code) s.key_map[m] = uint8_t(t == m ? 0 : t);
    }
    s.key_map[code] = 0;
}

void key_map_assign(Settings& s, int first, int game_key) {
    int t = key_target(s, first);
    for (int m = 1; m < 256; ++m) {
        if (m != first && key_target(s, m) == game_key) s.key_map[m] = uint8_t(t == m ? 0 : t);
    }
    s.key_map[first] = uint8_t(game_key == first ? 0 : game_key);
}

int first_pressed_key_code(const Input_State& in) {
    for (int k = 1; k < key_count; ++k) {
        if (in.keys[k] & input_pressed) {
            int e = key_code(Key(k));
            if (e != 0) return e;
        }
    }
    return 0;
}

// A reset button with its note beside it, under a rule; true when clicked.
bool reset_row(Ui_State& ui, const Ui_Rect& r, const char* label, bool enabled, const char* note) {
    fill_rect(ui, {r.x, r.y, r.w, 1}, ui_rule);
    Ui_Rect b{r.x, r.y + (r.h - px(ui, 32)) / 2, px(ui, 170), px(ui, 32)};
    bool clicked = button(ui, b, label, enabled);
    int64_t nx = r.x + px(ui, 170 + 16);
    note_text(ui, note, {nx, r.y, std::max<int64_t>(r.x + r.w - nx, 0), r.h}, ui_hint);
    return clicked;
}

}  // namespace

void draw_input_map(App& app, const Ui_Rect& c) {
    Ui_State& ui = app.ui;
    Ui_Shared& sh = app.shared;
    Ui_Procs& p = app.procs;
    bool busy = p.task_running();
    Settings s = settings_copy();
    const Settings at_start = s;

    int64_t intro_h = std::min(px(ui, 24), c.h);
    std::string intro(shown(busy ? "These can be changed once the current task has finished."
                                 : "These apply the next time the game starts; no Build needed."));
    if (busy) sh.remap_state = 0;
    draw_label(ui, ui.font, ellipsize(ui.font, intro, c.w), {c.x, c.y, c.w, intro_h}, ui_hint, false, true);

    std::vector<int> remapped;
    for (int code = 1; code < 256; ++code) {
        if (s.key_map[code] != 0 && s.key_map[code] != code) remapped.push_back(code);
    }
    int64_t k = int64_t(remapped.size());
    int64_t row = px(ui, 46);
    int64_t content_h = px(ui, 18) + px(ui, 16) + px(ui, 4) + (k + 11) * row + 2 * px(ui, 34);
    int64_t top = c.y + intro_h + px(ui, 8);
    int64_t room = std::max<int64_t>(c.y + c.h - top, 0);
    int64_t inset_v = px(ui, 8), inset_h = px(ui, 20);
    Ui_Rect panel{c.x, top, c.w, std::min(content_h + 2 * inset_v, room)};
    draw_panel(ui, panel, px(ui, 7), colour_rgb(0xFBFBFB));
    Ui_Rect inner{panel.x + inset_h, panel.y + inset_v, std::max<int64_t>(panel.w - 2 * inset_h, 0),
                  std::max<int64_t>(panel.h - 2 * inset_v, 0)};

    // Scrolling.
    int64_t h = inner.h;
    int64_t over = content_h - h;
    bool may_react = ui_input_open(ui) && ui.active_id.empty();
    if (over > 0) {
        inner.w = std::max<int64_t>(inner.w - px(ui, 12), 0);
        Ui_Rect track{inner.x + inner.w + px(ui, 4), inner.y, px(ui, 8), h};
        int64_t thumb = std::min(h, std::max(px(ui, 28), h * h / (over + h)));
        int64_t thumb_top = track.y + sh.input_scroll * (h - thumb) / over;
        Ui_Rect near{track.x - px(ui, 4), track.y, track.w + px(ui, 8), track.h};
        bool near_track = ui_inside(near, ui.mouse_x, ui.mouse_y);
        if (may_react) {
            if (ui_inside(panel, ui.mouse_x, ui.mouse_y)) sh.input_scroll -= 16 * sh.wheel_step;
            if (ui.clicked && near_track) {
                if (ui.mouse_y >= thumb_top && ui.mouse_y < thumb_top + thumb) {
                    sh.input_drag = 1;
                    sh.input_grab = ui.mouse_y - thumb_top;
                } else {
                    sh.input_scroll += ui.mouse_y < thumb_top ? -h : h;
                }
                ui.clicked = 0;
            }
        }
        if (sh.input_drag) {
            if (ui.mouse_down) {
                int64_t span = h - thumb;
                sh.input_scroll =
                    span < 1 ? 0 : over * std::clamp<int64_t>(ui.mouse_y - sh.input_grab - track.y, 0, span) / span;
            } else {
                sh.input_drag = 0;
            }
        }
        sh.input_scroll = std::clamp<int64_t>(sh.input_scroll, 0, over);
        thumb_top = track.y + sh.input_scroll * (h - thumb) / over;
        fill_rounded_rect(ui, track, px(ui, 4), 0x0C000000u);
        uint32_t thumb_colour = sh.input_drag || near_track ? 0x6E000000u : 0x46000000u;
        fill_rounded_rect(ui, {track.x, thumb_top, track.w, thumb}, px(ui, 4), thumb_colour);
    } else {
        sh.input_scroll = 0;
        sh.input_drag = 0;
    }

    // Nothing scrolled out of view reacts.
    int64_t real_x = ui.mouse_x, real_y = ui.mouse_y;
    if (!ui_inside(inner, ui.mouse_x, ui.mouse_y) && ui.active_id.empty()) {
        ui.mouse_x = pointer_away;
        ui.mouse_y = pointer_away;
    }
    int64_t widen = px(ui, 6);
    if (ui.draw_list) {
        push_clip(*ui.draw_list, {int(inner.x - widen), int(inner.y - widen), int(inner.w + 2 * widen),
                                  int(inner.h + 2 * widen)});
    }
    Ui_Rect area{inner.x, inner.y - sh.input_scroll, inner.w, content_h};
    int64_t cursor = 0;
    bool en = !busy;

    // Controller.
    bool any_pad = false;
    if (app.input) {
        for (bool connected : app.input->pad_connected) any_pad = any_pad || connected;
    }
    section_heading_hint(ui, area, cursor, "Controller",
                         any_pad ? "Each of the game's buttons, and the button on your controller that presses it"
                                 : "Each of the game's buttons, and the button on your controller that presses it "
                                   "(no controller connected now)");
    std::vector<std::string> labels;
    for (int j : pad_display_order) labels.emplace_back(pad_button_names[j].label);
    int64_t w = inner.w;
    int64_t half = (w - px(ui, 28)) / 2;
    int64_t label_w = std::min(px(ui, 200), (w - px(ui, 28)) / 4);
    for (int r = 0; r < 8; ++r) {
        int64_t y = area.y + cursor;
        if (r > 0) fill_rect(ui, {area.x, y, w, 1}, ui_rule);
        for (int cell = 0; cell < 2; ++cell) {
            int i = pad_display_order[r * 2 + cell];
            int64_t x = area.x + (cell == 0 ? 0 : px(ui, 28) + half);
            draw_label(ui, ui.font, ellipsize(ui.font, std::string(shown(pad_button_names[i].label)), label_w),
                       {x, y, label_w, row}, ui_text, false, true);
            Ui_Rect d{x + label_w, y + (row - px(ui, 32)) / 2, std::max<int64_t>(half - label_w, 0), px(ui, 32)};
            int pressing = pressing_button(s, i);
            int64_t sel = 0;
            for (int j = 0; j < pad_button_count; ++j) {
                if (pad_display_order[j] == pressing) sel = j;
            }
            if (pressing != i) {
                int64_t dot = px(ui, 6);
                fill_rounded_rect(ui, {d.x - px(ui, 10) - dot, d.y + (d.h - dot) / 2, dot, dot}, px(ui, 3), ui_accent);
                ui_trace(ui, Widget_Kind::Text, pad_button_names[i].name, "remapped", d, true, 0);
            }
            Dropdown_Result dr = dropdown(ui, pad_button_names[i].name, d, labels, sel, {}, en, false);
            if (dr.changed && dr.index >= 0 && dr.index < pad_button_count) {
                pad_map_choose(s, i, pad_display_order[dr.index]);
            }
        }
        cursor += row;
    }
    if (reset_row(ui, {area.x, area.y + cursor, w, row}, "Reset Controller", en && !pad_map_text(s).empty(),
                  "The game's prompts keep showing its own buttons. Two inputs never share a button: picking one "
                  "that's taken swaps them.")) {
        s.pad_map = {};
    }
    cursor += row;

    // Keyboard.
    cursor += px(ui, 18);
    section_heading_hint(ui, area, cursor, "Keyboard", "Keys that act as other keys of the game");
    int undo = 0;
    for (size_t n = 0; n < remapped.size(); ++n) {
        int code = remapped[n];
        int64_t y = area.y + cursor;
        if (n > 0) fill_rect(ui, {area.x, y, w, 1}, ui_rule);
        Ui_Rect rr{area.x, y, w, row};
        draw_label(ui, ui.bold_font, ellipsize(ui.bold_font, key_name(code), px(ui, 180)),
                   {rr.x, y, px(ui, 180), row}, ui_text, false, true);
        draw_label(ui, ui.font, ellipsize(ui.font, std::string(shown("acts as")), px(ui, 90)),
                   {rr.x + px(ui, 180), y, px(ui, 90), row}, ui_hint, false, true);
        draw_label(ui, ui.bold_font, key_name(key_target(s, code)), {rr.x + px(ui, 270), y, px(ui, 200), row},
                   ui_text, false, true);
        Ui_Rect b{area.x + w - px(ui, 100), y + (row - px(ui, 32)) / 2, px(ui, 100), px(ui, 32)};
        ui_trace(ui, Widget_Kind::Text, "key " + key_name(code), key_name(key_target(s, code)), b, true, code);
        if (button(ui, b, "Undo", en)) undo = code;
        cursor += row;
    }
    if (undo) key_map_undo(s, undo);
    {
        int64_t y = area.y + cursor;
        if (k > 0) fill_rect(ui, {area.x, y, w, 1}, ui_rule);
        Ui_Rect b{area.x, y + (row - px(ui, 32)) / 2, px(ui, 170), px(ui, 32)};
        int64_t nx = area.x + px(ui, 170 + 16);
        Ui_Rect note{nx, y, std::max<int64_t>(area.x + w - nx, 0), row};
        if (sh.remap_state == 0) {
            if (button(ui, b, "Remap a Key…", en)) sh.remap_state = 1;
            note_text(ui,
                      k > 0 ? "Press a key, then the key of the game it is to act as"
                            : "No keys remapped: every key is the game's own",
                      note, ui_hint);
        } else {
            if (button(ui, b, "Cancel", true)) sh.remap_state = 0;
            std::string text = sh.remap_state == 1
                                   ? std::string(shown("Press the key to change…"))
                                   : fmt(shown("Now press the key of the game that %s is to act as…"),
                                         key_name(int(sh.remap_first)));
            draw_label(ui, ui.bold_font, ellipsize(ui.bold_font, text, note.w), note, ui_accent, false, true);
        }
        cursor += row;
    }
    // The key capture.
    if (sh.remap_state != 0 && app.input) {
        int e = first_pressed_key_code(*app.input);
        if (e != 0 && sh.remap_state == 1) {
            sh.remap_first = e;
            sh.remap_state = 2;
        } else if (e != 0) {
            key_map_assign(s, int(sh.remap_first), e);
            sh.remap_state = 0;
        }
    }
    if (reset_row(ui, {area.x, area.y + cursor, w, row}, "Reset Keyboard", en && k > 0,
                  "The game's prompts keep showing its own keys. The Boosters' F-keys, F11 (fullscreen) and F12 stay "
                  "where they are.")) {
        s.key_map = {};
        sh.remap_state = 0;
    }
    cursor += row;

    if (ui.draw_list) pop_clip(*ui.draw_list);
    ui.mouse_x = real_x;
    ui.mouse_y = real_y;

    if (s.pad_map != at_start.pad_map || s.key_map != at_start.key_map) {
        settings_edit([&](Settings& live) {
            live.pad_map = s.pad_map;
            live.key_map = s.key_map;
        });
        if (p.save_settings) p.save_settings();
        if (p.cfg_rewrite) p.cfg_rewrite();
    }
}
