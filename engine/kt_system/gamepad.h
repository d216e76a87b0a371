// Game pads: the state of pad 0..3 as the input update reads it each frame.
// Windows reads them through XInput (xinput1_4.dll, loaded when first
// needed), Linux through SDL's game-controller API.
#pragma once
#include <cstdint>

#include "engine/kt_system/keys.h"

inline constexpr int pad_count = 4;

struct Pad_State {
    bool connected = false;
    bool buttons[gamepad_button_count] = {};   // by Gamepad_Button
    float axes[gamepad_axis_count] = {};       // by Gamepad_Axis: sticks -1..1 (up positive), triggers 0..1
};

// Reads pad `user` (0..3) into `out`: 0 when a pad answered, anything else
// when there is none.
using Pad_Read_Proc = int (*)(int user, Pad_State* out);
int pad_read_system(int user, Pad_State* out);

// One pad as XInput reports it (XINPUT_GAMEPAD's fields).
struct Xinput_Pad {
    uint16_t buttons = 0;
    uint8_t left_trigger = 0, right_trigger = 0;
    int16_t thumb_lx = 0, thumb_ly = 0, thumb_rx = 0, thumb_ry = 0;
};
// Fills a connected `Pad_State` from it: face buttons A B X Y, the D-pad,
// shoulders, Back, Start, stick clicks; the trigger buttons when their axis
// is above 0.5; Guide never.
void pad_from_xinput(const Xinput_Pad& pad, Pad_State& out);
// A stick value -32768..32767 as -1..1 (-32768 gives exactly -1).
float stick_axis(int value);
