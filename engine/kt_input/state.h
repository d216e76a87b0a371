// The frame's input state: what the window queued since the last frame and
// the game pads, folded into one record once per frame. The interface reads
// only this record.
#pragma once
#include <cstdint>

#include "engine/kt_system/keys.h"
#include "engine/kt_system/gamepad.h"
#include "engine/kt_system/window.h"

// State byte of every key, mouse button and pad button.
inline constexpr uint8_t input_down = 0x01;       // held now
inline constexpr uint8_t input_pressed = 0x02;    // went down this frame
inline constexpr uint8_t input_released = 0x04;   // went up this frame
inline constexpr uint8_t input_repeated = 0x08;   // auto-repeat this frame

inline constexpr int input_text_cap = 32;   // code points kept per frame

struct Input_State {
    uint8_t keys[key_count];
    uint8_t mouse_buttons[mouse_button_count];
    uint8_t pad_buttons[pad_count][gamepad_button_count];
    float pad_axes[pad_count][gamepad_axis_count];
    float prev_pad_axes[pad_count][gamepad_axis_count];
    bool pad_connected[pad_count];
    float mouse_x, mouse_y;
    float mouse_dx, mouse_dy;
    bool mouse_known;
    float wheel_x, wheel_y;   // notches this frame
    int32_t text[input_text_cap];
    int text_count;
};

// The pads' reader and, per pad, the time (seconds of clock_ns) before
// which a pad that did not answer is not asked again.
struct Pad_Poll {
    Pad_Read_Proc read = pad_read_system;
    double retry_at[pad_count] = {};
};

// The whole per-frame update: begin the frame, poll and merge the pads,
// fold the window's queued events in order and empty its queue.
void input_update(Window& w, Input_State& s, Pad_Poll& pads);

// Its steps.
void input_begin_frame(Input_State& s);
// Asks every pad not waiting for a retry; a pad that does not answer waits 1 s.
void input_poll_pads(Pad_Poll& pads, Pad_State out[pad_count]);
void input_merge_pads(Input_State& s, const Pad_State pads[pad_count]);
// Events with a kind, key or button out of range are ignored.
void input_apply_event(Input_State& s, const Input_Event& e);

// The modifiers whose keys are held.
Modifier_Set input_modifiers(const Input_State& s);

// A binding source read against the frame's state. The value is 1 or 0 for
// keys and buttons, the notches turned that way this frame for the wheel,
// and for a pad axis how far it points that way (0 below the threshold).
// Pressed: a key or button went down this frame, the wheel turned that way,
// or the axis crossed its threshold since the last frame. A source whose key,
// button, pad or axis is out of range, or whose key's modifiers do not
// match, reads 0 and not pressed.
float source_value(const Input_State& s, const Source& source);
bool source_pressed(const Input_State& s, const Source& source);
