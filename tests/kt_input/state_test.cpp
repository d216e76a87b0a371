#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/kt_input/state.h"
#include "engine/kt_system/clock.h"

namespace {

Input_Event key_event(Input_Event_Kind kind, Key k) {
    Input_Event e;
    e.kind = kind;
    e.key = k;
    return e;
}
Input_Event button_event(Input_Event_Kind kind, Mouse_Button b) {
    Input_Event e;
    e.kind = kind;
    e.button = b;
    return e;
}
Input_Event move_event(float x, float y) {
    Input_Event e;
    e.kind = Input_Event_Kind::Mouse_Move;
    e.x = x;
    e.y = y;
    return e;
}
Input_Event text_event(int32_t cp) {
    Input_Event e;
    e.kind = Input_Event_Kind::Text;
    e.code_point = cp;
    return e;
}

int no_pad(int, Pad_State*) { return 1; }

// Runs frames of events through the whole update with no pads, returning
// the state after the last one.
struct Frames {
    Window w;
    Input_State s{};
    Pad_Poll pads{no_pad, {}};
    void frame(std::vector<Input_Event> events) {
        for (const Input_Event& e : events) queue_input(w, e);
        input_update(w, s, pads);
    }
};

constexpr auto Down = Input_Event_Kind::Key_Down;
constexpr auto Up = Input_Event_Kind::Key_Up;
constexpr auto Repeat = Input_Event_Kind::Key_Repeat;

TEST(InputFold, KeyStateBytesAcrossFrames) {
    struct Case {
        const char* what;
        std::vector<std::vector<Input_Event>> frames;
        uint8_t expect;   // the byte of Key::A after the last frame
    };
    const Case cases[] = {
        {"pressed this frame", {{key_event(Down, Key::A)}}, 3},
        {"held into the next frame", {{key_event(Down, Key::A)}, {}}, 1},
        {"press and release in one frame", {{key_event(Down, Key::A), key_event(Up, Key::A)}}, 6},
        {"released in a later frame", {{key_event(Down, Key::A)}, {key_event(Up, Key::A)}}, 4},
        {"release bit gone the frame after", {{key_event(Down, Key::A)}, {key_event(Up, Key::A)}, {}}, 0},
        {"repeat while held", {{key_event(Down, Key::A)}, {key_event(Repeat, Key::A)}}, 9},
        {"repeat bit gone the frame after", {{key_event(Down, Key::A)}, {key_event(Repeat, Key::A)}, {}}, 1},
        {"second down while held is no new press", {{key_event(Down, Key::A)}, {key_event(Down, Key::A)}}, 1},
        {"up without down", {{key_event(Up, Key::A)}}, 0},
    };
    for (const Case& c : cases) {
        Frames f;
        for (const auto& events : c.frames) f.frame(events);
        EXPECT_EQ(f.s.keys[int(Key::A)], c.expect) << c.what;
        EXPECT_TRUE(f.w.events.empty()) << c.what;
    }
}

TEST(InputFold, ClickWithinOneFrameShowsPressedAndReleasedWithDownClear) {
    Frames f;
    f.frame({button_event(Input_Event_Kind::Mouse_Down, Mouse_Button::Left),
             button_event(Input_Event_Kind::Mouse_Up, Mouse_Button::Left)});
    EXPECT_EQ(f.s.mouse_buttons[int(Mouse_Button::Left)], 6);
}

TEST(InputFold, TextKeepsTheFirst32CodePointsOfAFrame) {
    Frames f;
    std::vector<Input_Event> typed;
    for (int i = 0; i < 40; ++i) typed.push_back(text_event('a' + i % 26));
    f.frame(typed);
    ASSERT_EQ(f.s.text_count, 32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(f.s.text[i], 'a' + i % 26);
    f.frame({text_event(0x1F600)});
    ASSERT_EQ(f.s.text_count, 1);
    EXPECT_EQ(f.s.text[0], 0x1F600);
}

TEST(InputFold, MouseMovesSumIntoADeltaAfterTheFirstKnownPosition) {
    Frames f;
    f.frame({move_event(10, 20)});
    EXPECT_TRUE(f.s.mouse_known);
    EXPECT_EQ(f.s.mouse_dx, 0);
    EXPECT_EQ(f.s.mouse_dy, 0);
    f.frame({move_event(15, 18), move_event(25, 30)});
    EXPECT_EQ(f.s.mouse_x, 25);
    EXPECT_EQ(f.s.mouse_dx, 15);
    EXPECT_EQ(f.s.mouse_dy, 10);
    Input_Event wheel;
    wheel.kind = Input_Event_Kind::Wheel;
    wheel.y = 0.25f;
    f.frame({wheel, wheel});
    EXPECT_EQ(f.s.mouse_dx, 0);
    EXPECT_FLOAT_EQ(f.s.wheel_y, 0.5f);
    f.frame({});
    EXPECT_EQ(f.s.wheel_y, 0);
}

TEST(InputFold, FocusLossClearsEverythingAndLaterEventsApplyToTheClearedState) {
    Frames f;
    f.frame({key_event(Down, Key::Left_Shift), move_event(5, 5), text_event('x'),
             button_event(Input_Event_Kind::Mouse_Down, Mouse_Button::Right)});
    Input_Event lost;
    lost.kind = Input_Event_Kind::Focus_Lost;
    f.frame({lost, key_event(Down, Key::B)});
    EXPECT_EQ(f.s.keys[int(Key::Left_Shift)], 0);
    EXPECT_EQ(f.s.keys[int(Key::B)], 3);
    EXPECT_EQ(f.s.mouse_buttons[int(Mouse_Button::Right)], 0);
    EXPECT_FALSE(f.s.mouse_known);
    EXPECT_EQ(f.s.text_count, 0);
    // The key that was held while switching away comes up: no released bit.
    f.frame({key_event(Up, Key::Left_Shift)});
    EXPECT_EQ(f.s.keys[int(Key::Left_Shift)], 0);
    // The first move after the loss sets the position without a delta.
    f.frame({move_event(50, 60)});
    EXPECT_EQ(f.s.mouse_dx, 0);
}

TEST(InputFold, EventsOutOfRangeAreIgnored) {
    Frames f;
    Input_Event bad_key = key_event(Down, Key(key_count));
    Input_Event huge_key = key_event(Down, Key(0xFFFF));
    Input_Event bad_button = button_event(Input_Event_Kind::Mouse_Down, Mouse_Button(mouse_button_count));
    Input_Event bad_kind = text_event('q');
    bad_kind.kind = Input_Event_Kind(9);
    Input_State before{};
    f.frame({bad_key, huge_key, bad_button, bad_kind});
    EXPECT_EQ(std::memcmp(&before, &f.s, sizeof before), 0);
}

TEST(InputQueue, The4097thWaitingEventIsDropped) {
    Window w;
    for (int i = 0; i < 4097; ++i) queue_input(w, text_event(i));
    ASSERT_EQ(w.events.size(), 4096u);
    EXPECT_EQ(w.events.back().code_point, 4095);
}

TEST(InputModifiers, HeldModifierKeysOfEitherSide) {
    Frames f;
    f.frame({key_event(Down, Key::Right_Ctrl), key_event(Down, Key::Left_Super)});
    EXPECT_EQ(input_modifiers(f.s), modifier_bit(Modifier::Ctrl) | modifier_bit(Modifier::Super));
}

TEST(Pads, XinputStateMapsToPadState) {
    struct Case {
        const char* what;
        Xinput_Pad pad;
        Gamepad_Axis axis;
        float value;
    };
    Xinput_Pad left_full;
    left_full.thumb_lx = -32768;
    Xinput_Pad up_full;
    up_full.thumb_ly = 32767;
    Xinput_Pad right_down;
    right_down.thumb_ry = -32768;
    Xinput_Pad lt;
    lt.left_trigger = 255;
    const Case cases[] = {
        {"full left reads exactly -1", left_full, Gamepad_Axis::Left_X, -1.0f},
        {"up reads positive Y", up_full, Gamepad_Axis::Left_Y, 1.0f},
        {"down reads negative Y", right_down, Gamepad_Axis::Right_Y, -1.0f},
        {"trigger full", lt, Gamepad_Axis::Left_Trigger, 1.0f},
    };
    for (const Case& c : cases) {
        Pad_State s;
        pad_from_xinput(c.pad, s);
        EXPECT_TRUE(s.connected);
        EXPECT_EQ(s.axes[int(c.axis)], c.value) << c.what;
    }
    // Triggers count as buttons above half way: 128 is, 127 is not.
    Xinput_Pad triggers;
    triggers.left_trigger = 128;
    triggers.right_trigger = 127;
    triggers.buttons = 0x1000 | 0x0008 | 0x0020;   // A, D-pad right, Back
    Pad_State s;
    pad_from_xinput(triggers, s);
    EXPECT_TRUE(s.buttons[int(Gamepad_Button::Left_Trigger)]);
    EXPECT_FALSE(s.buttons[int(Gamepad_Button::Right_Trigger)]);
    EXPECT_TRUE(s.buttons[int(Gamepad_Button::Face_Down)]);
    EXPECT_TRUE(s.buttons[int(Gamepad_Button::Dpad_Right)]);
    EXPECT_TRUE(s.buttons[int(Gamepad_Button::Back)]);
    EXPECT_FALSE(s.buttons[int(Gamepad_Button::Start)]);
    EXPECT_FALSE(s.buttons[int(Gamepad_Button::Guide)]);
}

// A fake pad reader: pad 1 answers, the others do not; every call counted.
int calls[pad_count];
bool pad1_a_held;
float pad1_left_x;
int fake_pads(int user, Pad_State* out) {
    calls[user]++;
    if (user != 1) return 1167;   // ERROR_DEVICE_NOT_CONNECTED
    Xinput_Pad p;
    p.buttons = pad1_a_held ? 0x1000 : 0;
    pad_from_xinput(p, *out);
    out->axes[int(Gamepad_Axis::Left_X)] = pad1_left_x;
    return 0;
}
int64_t fake_now;
int64_t fake_clock() { return fake_now; }

TEST(Pads, AMissingPadIsAskedAgainOnlyAfterOneSecond) {
    clock_set_hook(fake_clock);
    fake_now = 5'000'000'000;
    Frames f;
    f.pads.read = fake_pads;
    std::fill(std::begin(calls), std::end(calls), 0);
    f.frame({});
    EXPECT_EQ(calls[0], 1);
    EXPECT_EQ(calls[1], 1);
    fake_now += 999'000'000;
    f.frame({});
    EXPECT_EQ(calls[0], 1) << "asked again before its second was up";
    EXPECT_EQ(calls[1], 2) << "a pad that answers is asked every frame";
    EXPECT_FALSE(f.s.pad_connected[0]);
    EXPECT_TRUE(f.s.pad_connected[1]);
    fake_now += 1'000'000;
    f.frame({});
    EXPECT_EQ(calls[0], 2);
    EXPECT_EQ(calls[3], 2);
    clock_set_hook(nullptr);
}

TEST(Pads, ButtonsFollowTheKeyRuleAndADisconnectClearsWithoutRelease) {
    clock_set_hook(fake_clock);
    fake_now = 0;
    Frames f;
    f.pads.read = fake_pads;
    const int a = int(Gamepad_Button::Face_Down);
    pad1_a_held = true;
    pad1_left_x = 0.5f;
    f.frame({});
    EXPECT_EQ(f.s.pad_buttons[1][a], 3);
    f.frame({});
    EXPECT_EQ(f.s.pad_buttons[1][a], 1);
    EXPECT_EQ(f.s.prev_pad_axes[1][int(Gamepad_Axis::Left_X)], 0.5f);
    pad1_a_held = false;
    pad1_left_x = std::numeric_limits<float>::quiet_NaN();
    f.frame({});
    EXPECT_EQ(f.s.pad_buttons[1][a], 4);
    EXPECT_EQ(f.s.pad_axes[1][int(Gamepad_Axis::Left_X)], -1.0f) << "NaN reads -1";
    pad1_a_held = true;
    pad1_left_x = 3.0f;
    f.frame({});
    EXPECT_EQ(f.s.pad_axes[1][int(Gamepad_Axis::Left_X)], 1.0f) << "clamped";
    // Unplugged while held: everything 0, no released bit.
    f.pads.read = no_pad;
    f.frame({});
    EXPECT_FALSE(f.s.pad_connected[1]);
    EXPECT_EQ(f.s.pad_buttons[1][a], 0);
    EXPECT_EQ(f.s.pad_axes[1][int(Gamepad_Axis::Left_X)], 0.0f);
    EXPECT_EQ(f.s.prev_pad_axes[1][int(Gamepad_Axis::Left_X)], 0.0f);
    clock_set_hook(nullptr);
}

}  // namespace

namespace {

TEST(Sources, ReadAgainstTheFrameState) {
    Input_State s{};
    s.keys[int(Key::S)] = input_down | input_pressed;
    s.keys[int(Key::A)] = input_down;
    s.keys[int(Key::Left_Ctrl)] = input_down;
    s.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
    s.wheel_y = -2;
    s.wheel_x = 0.5f;
    s.pad_buttons[0][int(Gamepad_Button::Face_Down)] = input_down | input_pressed;
    s.pad_buttons[2][0] = input_down | input_pressed;
    s.pad_buttons[3][int(Gamepad_Button::Start)] = input_down;
    s.pad_axes[1][int(Gamepad_Axis::Left_X)] = 0.7f;
    s.prev_pad_axes[1][int(Gamepad_Axis::Left_X)] = 0.2f;
    s.pad_axes[1][int(Gamepad_Axis::Left_Y)] = -0.9f;
    s.prev_pad_axes[1][int(Gamepad_Axis::Left_Y)] = -0.8f;
    s.pad_axes[1][int(Gamepad_Axis::Right_Trigger)] = 0.3f;
    // What an unchecked index past its array would land on.
    s.pad_axes[0][0] = 0.1f;   // its first byte 0xCD reads as a held button
    s.pad_axes[2][0] = 0.8f;
    s.prev_pad_axes[0][0] = 0.9f;

    const Modifier_Set ctrl = modifier_bit(Modifier::Ctrl), shift = modifier_bit(Modifier::Shift);
    using B = Gamepad_Button;
    using A = Gamepad_Axis;
    constexpr auto pos = Direction::Positive, neg = Direction::Negative;
    struct Case {
        const char* what;
        Source source;
        float value;
        bool pressed;
    };
    const Case cases[] = {
        {"key with its modifier held", Key_Source{Key::S, ctrl, false}, 1, true},
        {"key without its modifier", Key_Source{Key::S, shift, false}, 0, false},
        {"another modifier held, not exact", Key_Source{Key::S, 0, false}, 1, true},
        {"another modifier held, exact", Key_Source{Key::S, 0, true}, 0, false},
        {"a modifier key does not block itself", Key_Source{Key::Left_Ctrl, 0, true}, 1, false},
        {"held, not pressed this frame", Key_Source{Key::A, ctrl, true}, 1, false},
        {"mouse button", Mouse_Source{Mouse_Button::Left}, 1, true},
        {"mouse button up", Mouse_Source{Mouse_Button::Middle}, 0, false},
        {"wheel turned down", Wheel_Source{Wheel_Axis::Vertical, neg}, 2, true},
        {"wheel not turned up", Wheel_Source{Wheel_Axis::Vertical, pos}, 0, false},
        {"wheel right", Wheel_Source{Wheel_Axis::Horizontal, pos}, 0.5f, true},
        {"pad button", Pad_Button_Source{B::Face_Down, 0}, 1, true},
        {"the same button of another pad", Pad_Button_Source{B::Face_Down, 3}, 0, false},
        {"pad button held", Pad_Button_Source{B::Start, 3}, 1, false},
        {"axis crossed its threshold", Pad_Axis_Source{A::Left_X, pos, 0.5f, 1}, 0.7f, true},
        {"axis beyond its threshold since the last frame", Pad_Axis_Source{A::Left_Y, neg, 0.5f, 1}, 0.9f, false},
        {"axis the other way", Pad_Axis_Source{A::Left_X, neg, 0.5f, 1}, 0, false},
        {"axis short of its threshold", Pad_Axis_Source{A::Right_Trigger, pos, 0.5f, 1}, 0, false},
        {"axis at rest with threshold 0", Pad_Axis_Source{A::Right_X, pos, 0, 1}, 0, false},
        // Indexes out of range read nothing.
        {"key 118", Key_Source{Key(key_count), 0, false}, 0, false},
        {"key 0xFFFF", Key_Source{Key(0xFFFF), 0, false}, 0, false},
        {"mouse button 6", Mouse_Source{Mouse_Button(mouse_button_count)}, 0, false},
        {"pad button 17", Pad_Button_Source{B(gamepad_button_count), 1}, 0, false},
        {"pad 4", Pad_Button_Source{B::Face_Down, pad_count}, 0, false},
        {"pad 255", Pad_Button_Source{B::Face_Down, 255}, 0, false},
        {"axis 6", Pad_Axis_Source{A(gamepad_axis_count), pos, 0.5f, 1}, 0, false},
        {"axis of pad 4", Pad_Axis_Source{A::Left_X, pos, 0.5f, pad_count}, 0, false},
        {"wheel axis 2", Wheel_Source{Wheel_Axis(2), pos}, 0, false},
        {"direction 2", Pad_Axis_Source{A::Left_X, Direction(2), 0.5f, 1}, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(source_value(s, c.source), c.value) << c.what;
        EXPECT_EQ(source_pressed(s, c.source), c.pressed) << c.what;
    }
}

}  // namespace
