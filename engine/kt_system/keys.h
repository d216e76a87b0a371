// The engine's input vocabulary: keys, mouse and gamepad buttons, gamepad
// axes, modifiers and the input events the window layer queues. The numeric
// values are fixed: tables elsewhere are indexed by them.
#pragma once
#include <cstdint>
#include <variant>

enum class Key : uint16_t {
    None = 0,
    A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q, R, S, T, U, V, W, X, Y, Z,   // 1..26
    Num_0, Num_1, Num_2, Num_3, Num_4, Num_5, Num_6, Num_7, Num_8, Num_9,            // 27..36
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,                               // 37..48
    F13, F14, F15, F16, F17, F18, F19, F20, F21, F22, F23, F24,                      // 49..60
    Escape = 61, Enter, Tab, Space, Backspace, Delete, Insert, Home, End, Page_Up, Page_Down,
    Left = 72, Right, Up, Down,
    Left_Shift = 76, Right_Shift, Left_Ctrl, Right_Ctrl, Left_Alt, Right_Alt, Left_Super, Right_Super,
    Caps_Lock = 84, Scroll_Lock, Num_Lock, Print_Screen, Pause, Menu,
    Apostrophe = 90, Comma, Minus, Period, Slash, Semicolon, Equal, Left_Bracket, Backslash,
    Right_Bracket, Grave,
    Kp_0 = 101, Kp_1, Kp_2, Kp_3, Kp_4, Kp_5, Kp_6, Kp_7, Kp_8, Kp_9,
    Kp_Decimal = 111, Kp_Divide, Kp_Multiply, Kp_Subtract, Kp_Add, Kp_Enter, Kp_Equal,
};
inline constexpr int key_count = 118;
static_assert(int(Key::Kp_Equal) == key_count - 1);
static_assert(int(Key::Escape) == 61 && int(Key::Menu) == 89 && int(Key::Grave) == 100);

enum class Mouse_Button : uint8_t { Left, Right, Middle, Back, Forward, Extra };
inline constexpr int mouse_button_count = 6;

enum class Gamepad_Button : uint8_t {
    Face_Down, Face_Right, Face_Left, Face_Up,
    Dpad_Up, Dpad_Down, Dpad_Left, Dpad_Right,
    Left_Shoulder, Right_Shoulder, Left_Trigger, Right_Trigger,
    Back, Guide, Start, Left_Stick, Right_Stick,
};
inline constexpr int gamepad_button_count = 17;

enum class Gamepad_Axis : uint8_t { Left_X, Left_Y, Right_X, Right_Y, Left_Trigger, Right_Trigger };
inline constexpr int gamepad_axis_count = 6;

// Modifiers are kept as a bit set: bit (1 << value) per modifier held.
enum class Modifier : uint8_t { Shift, Ctrl, Alt, Super };
using Modifier_Set = uint8_t;
inline constexpr Modifier_Set modifier_bit(Modifier m) { return Modifier_Set(1u << uint8_t(m)); }

enum class Input_Event_Kind : uint8_t {
    Key_Down, Key_Up, Key_Repeat, Text, Mouse_Down, Mouse_Up, Mouse_Move, Wheel, Focus_Lost,
};

// One queued input event; the fields a kind does not use are 0.
struct Input_Event {
    Input_Event_Kind kind = Input_Event_Kind::Key_Down;
    Key key = Key::None;
    Mouse_Button button = Mouse_Button::Left;
    int32_t code_point = 0;   // Text
    float x = 0, y = 0;       // Mouse_Move: client position in pixels; Wheel: notches
};

// Binding sources: what a binding listens to. Indexes in a source (key,
// button, pad, axis) come from settings and are checked when the source is
// read: an index out of range reads as nothing.
enum class Wheel_Axis : uint8_t { Vertical, Horizontal };
enum class Direction : uint8_t { Positive, Negative };

struct Key_Source {
    Key key = Key::None;
    Modifier_Set mods = 0;   // these modifiers must be held
    bool exact = false;      // and no other modifier may be
};
struct Mouse_Source {
    Mouse_Button button = Mouse_Button::Left;
};
struct Wheel_Source {
    Wheel_Axis axis = Wheel_Axis::Vertical;
    Direction direction = Direction::Positive;
};
struct Pad_Button_Source {
    Gamepad_Button button = Gamepad_Button::Face_Down;
    uint8_t pad = 0;
};
struct Pad_Axis_Source {
    Gamepad_Axis axis = Gamepad_Axis::Left_X;
    Direction direction = Direction::Positive;
    float threshold = 0.5f;   // how far the axis must go that way to count
    uint8_t pad = 0;
};
using Source = std::variant<Key_Source, Mouse_Source, Wheel_Source, Pad_Button_Source, Pad_Axis_Source>;
