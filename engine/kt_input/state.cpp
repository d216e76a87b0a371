#include "engine/kt_input/state.h"

#include <cmath>
#include <cstring>

#include "engine/kt_system/clock.h"

namespace {

void key_down(uint8_t& b) { b = (b & input_down) ? input_down : input_down | input_pressed; }
void key_up(uint8_t& b) { b = (b & input_down) ? uint8_t((b & input_pressed) | input_released) : 0; }

float clamp_axis(float v, float lo) {
    if (std::isnan(v)) return -1.0f;
    return v < lo ? lo : v > 1.0f ? 1.0f : v;
}

}  // namespace

void input_begin_frame(Input_State& s) {
    for (uint8_t& b : s.keys) b &= input_down;
    for (uint8_t& b : s.mouse_buttons) b &= input_down;
    for (auto& pad : s.pad_buttons) {
        for (uint8_t& b : pad) b &= input_down;
    }
    std::memcpy(s.prev_pad_axes, s.pad_axes, sizeof s.pad_axes);
    s.mouse_dx = s.mouse_dy = 0;
    s.wheel_x = s.wheel_y = 0;
    s.text_count = 0;
}

void input_poll_pads(Pad_Poll& pads, Pad_State out[pad_count]) {
    double now = double(clock_ns()) / 1e9;
    for (int i = 0; i < pad_count; ++i) {
        out[i] = Pad_State{};
        if (pads.retry_at[i] > now) continue;
        Pad_State got;
        if (!pads.read || pads.read(i, &got) != 0) {
            pads.retry_at[i] = now + 1.0;
            continue;
        }
        got.connected = true;
        out[i] = got;
    }
}

void input_merge_pads(Input_State& s, const Pad_State pads[pad_count]) {
    for (int i = 0; i < pad_count; ++i) {
        s.pad_connected[i] = pads[i].connected;
        if (!pads[i].connected) {
            std::memset(s.pad_buttons[i], 0, sizeof s.pad_buttons[i]);
            std::memset(s.pad_axes[i], 0, sizeof s.pad_axes[i]);
            std::memset(s.prev_pad_axes[i], 0, sizeof s.prev_pad_axes[i]);
            continue;
        }
        for (int b = 0; b < gamepad_button_count; ++b) {
            uint8_t& byte = s.pad_buttons[i][b];
            if (pads[i].buttons[b]) {
                key_down(byte);
            } else {
                key_up(byte);
            }
        }
        for (int a = 0; a < gamepad_axis_count; ++a) {
            bool trigger = a == int(Gamepad_Axis::Left_Trigger) || a == int(Gamepad_Axis::Right_Trigger);
            s.pad_axes[i][a] = clamp_axis(pads[i].axes[a], trigger ? 0.0f : -1.0f);
        }
    }
}

void input_apply_event(Input_State& s, const Input_Event& e) {
    switch (e.kind) {
    case Input_Event_Kind::Key_Down:
    case Input_Event_Kind::Key_Up:
    case Input_Event_Kind::Key_Repeat:
        if (unsigned(e.key) >= unsigned(key_count)) return;
        if (e.kind == Input_Event_Kind::Key_Down) key_down(s.keys[int(e.key)]);
        if (e.kind == Input_Event_Kind::Key_Up) key_up(s.keys[int(e.key)]);
        if (e.kind == Input_Event_Kind::Key_Repeat) s.keys[int(e.key)] |= input_down | input_repeated;
        return;
    case Input_Event_Kind::Mouse_Down:
    case Input_Event_Kind::Mouse_Up:
        if (unsigned(e.button) >= unsigned(mouse_button_count)) return;
        if (e.kind == Input_Event_Kind::Mouse_Down) {
            key_down(s.mouse_buttons[int(e.button)]);
        } else {
            key_up(s.mouse_buttons[int(e.button)]);
        }
        return;
    case Input_Event_Kind::Text:
        if (s.text_count < input_text_cap) s.text[s.text_count++] = e.code_point;
        return;
    case Input_Event_Kind::Mouse_Move:
        if (s.mouse_known) {
            s.mouse_dx += e.x - s.mouse_x;
            s.mouse_dy += e.y - s.mouse_y;
        }
        s.mouse_x = e.x;
        s.mouse_y = e.y;
        s.mouse_known = true;
        return;
    case Input_Event_Kind::Wheel:
        s.wheel_x += e.x;
        s.wheel_y += e.y;
        return;
    case Input_Event_Kind::Focus_Lost:
        s = Input_State{};
        return;
    }
}

void input_update(Window& w, Input_State& s, Pad_Poll& pads) {
    input_begin_frame(s);
    Pad_State polled[pad_count];
    input_poll_pads(pads, polled);
    input_merge_pads(s, polled);
    for (const Input_Event& e : w.events) input_apply_event(s, e);
    w.events.clear();
}

Modifier_Set input_modifiers(const Input_State& s) {
    auto held = [&](Key a, Key b) { return ((s.keys[int(a)] | s.keys[int(b)]) & input_down) != 0; };
    Modifier_Set m = 0;
    if (held(Key::Left_Shift, Key::Right_Shift)) m |= modifier_bit(Modifier::Shift);
    if (held(Key::Left_Ctrl, Key::Right_Ctrl)) m |= modifier_bit(Modifier::Ctrl);
    if (held(Key::Left_Alt, Key::Right_Alt)) m |= modifier_bit(Modifier::Alt);
    if (held(Key::Left_Super, Key::Right_Super)) m |= modifier_bit(Modifier::Super);
    return m;
}

namespace {

// The modifier a key is itself, 0 for other keys.
Modifier_Set modifier_of(Key k) {
    switch (k) {
    case Key::Left_Shift:
    case Key::Right_Shift: return modifier_bit(Modifier::Shift);
    case Key::Left_Ctrl:
    case Key::Right_Ctrl: return modifier_bit(Modifier::Ctrl);
    case Key::Left_Alt:
    case Key::Right_Alt: return modifier_bit(Modifier::Alt);
    case Key::Left_Super:
    case Key::Right_Super: return modifier_bit(Modifier::Super);
    default: return 0;
    }
}

// The state byte a digital source reads (0 when out of range or when a
// key's modifiers do not match), or -1 for the wheel and pad axes.
int source_byte(const Input_State& s, const Source& source) {
    if (const auto* k = std::get_if<Key_Source>(&source)) {
        if (unsigned(k->key) >= unsigned(key_count)) return 0;
        // A modifier key does not count against its own binding.
        Modifier_Set held = Modifier_Set(input_modifiers(s) & ~modifier_of(k->key));
        if ((held & k->mods) != k->mods) return 0;
        if (k->exact && (held & ~k->mods) != 0) return 0;
        return s.keys[int(k->key)];
    }
    if (const auto* m = std::get_if<Mouse_Source>(&source)) {
        return unsigned(m->button) < unsigned(mouse_button_count) ? s.mouse_buttons[int(m->button)] : 0;
    }
    if (const auto* p = std::get_if<Pad_Button_Source>(&source)) {
        if (p->pad >= pad_count || unsigned(p->button) >= unsigned(gamepad_button_count)) return 0;
        return s.pad_buttons[p->pad][int(p->button)];
    }
    return -1;
}

// How far an analogue value points in a direction (negative: the other way);
// NaN for a direction out of range.
float along(float v, Direction d) {
    if (d == Direction::Positive) return v;
    if (d == Direction::Negative) return -v;
    return std::nanf("");
}

// The wheel's notches that way this frame, or a pad axis's reach that way
// now and at the last frame; false when the source is out of range.
bool analogue(const Input_State& s, const Source& source, float& now, float& before) {
    if (const auto* w = std::get_if<Wheel_Source>(&source)) {
        if (w->axis != Wheel_Axis::Vertical && w->axis != Wheel_Axis::Horizontal) return false;
        now = along(w->axis == Wheel_Axis::Vertical ? s.wheel_y : s.wheel_x, w->direction);
        before = 0;
        return !std::isnan(now);
    }
    if (const auto* a = std::get_if<Pad_Axis_Source>(&source)) {
        if (a->pad >= pad_count || unsigned(a->axis) >= unsigned(gamepad_axis_count)) return false;
        now = along(s.pad_axes[a->pad][int(a->axis)], a->direction);
        before = along(s.prev_pad_axes[a->pad][int(a->axis)], a->direction);
        return !std::isnan(now);
    }
    return false;
}

// At least the threshold, and beyond 0 (a threshold of 0 or less still
// needs the axis off its rest).
bool reaches(float v, float threshold) { return v > 0 && v >= threshold; }

}  // namespace

float source_value(const Input_State& s, const Source& source) {
    int byte = source_byte(s, source);
    if (byte >= 0) return (byte & input_down) ? 1.0f : 0.0f;
    float now = 0, before = 0;
    if (!analogue(s, source, now, before)) return 0;
    if (std::holds_alternative<Wheel_Source>(source)) return now > 0 ? now : 0;
    return reaches(now, std::get<Pad_Axis_Source>(source).threshold) ? now : 0;
}

bool source_pressed(const Input_State& s, const Source& source) {
    int byte = source_byte(s, source);
    if (byte >= 0) return (byte & input_pressed) != 0;
    float now = 0, before = 0;
    if (!analogue(s, source, now, before)) return false;
    if (std::holds_alternative<Wheel_Source>(source)) return now > 0;
    float threshold = std::get<Pad_Axis_Source>(source).threshold;
    return reaches(now, threshold) && !reaches(before, threshold);
}
