// The game-pad mapping both back ends share.
#include <algorithm>

#include "engine/kt_system/gamepad.h"

float stick_axis(int value) { return std::max(float(value) / 32767.0f, -1.0f); }

void pad_from_xinput(const Xinput_Pad& pad, Pad_State& out) {
    static const struct {
        uint16_t bit;
        Gamepad_Button button;
    } table[] = {
        {0x1000, Gamepad_Button::Face_Down},     {0x2000, Gamepad_Button::Face_Right},
        {0x4000, Gamepad_Button::Face_Left},     {0x8000, Gamepad_Button::Face_Up},
        {0x0001, Gamepad_Button::Dpad_Up},       {0x0002, Gamepad_Button::Dpad_Down},
        {0x0004, Gamepad_Button::Dpad_Left},     {0x0008, Gamepad_Button::Dpad_Right},
        {0x0100, Gamepad_Button::Left_Shoulder}, {0x0200, Gamepad_Button::Right_Shoulder},
        {0x0020, Gamepad_Button::Back},          {0x0010, Gamepad_Button::Start},
        {0x0040, Gamepad_Button::Left_Stick},    {0x0080, Gamepad_Button::Right_Stick},
    };
    out = Pad_State{};
    out.connected = true;
    for (const auto& row : table) out.buttons[int(row.button)] = (pad.buttons & row.bit) != 0;
    out.axes[int(Gamepad_Axis::Left_X)] = stick_axis(pad.thumb_lx);
    out.axes[int(Gamepad_Axis::Left_Y)] = stick_axis(pad.thumb_ly);
    out.axes[int(Gamepad_Axis::Right_X)] = stick_axis(pad.thumb_rx);
    out.axes[int(Gamepad_Axis::Right_Y)] = stick_axis(pad.thumb_ry);
    out.axes[int(Gamepad_Axis::Left_Trigger)] = float(pad.left_trigger) / 255.0f;
    out.axes[int(Gamepad_Axis::Right_Trigger)] = float(pad.right_trigger) / 255.0f;
    out.buttons[int(Gamepad_Button::Left_Trigger)] = out.axes[int(Gamepad_Axis::Left_Trigger)] > 0.5f;
    out.buttons[int(Gamepad_Button::Right_Trigger)] = out.axes[int(Gamepad_Axis::Right_Trigger)] > 0.5f;
}
