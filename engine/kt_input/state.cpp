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
