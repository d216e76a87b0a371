// The parts of the window layer that both back ends share: the event queue,
// the borderless hit-test rule, text input and the virtual-key table.
#include <algorithm>

#include "engine/kt_system/vk_codes.h"
#include "engine/kt_system/window.h"

void queue_input(Window& w, const Input_Event& e) {
    if (w.events.size() >= input_queue_cap) return;
    w.events.push_back(e);
}

void queue_input(Window& w, Input_Event_Kind kind, Key key, Mouse_Button button) {
    Input_Event e;
    e.kind = kind;
    e.key = key;
    e.button = button;
    queue_input(w, e);
}

uint8_t window_take_changes(Window& w) {
    uint8_t c = w.changes;
    w.changes = 0;
    return c;
}

Hit window_hit(Window& w, int x, int y, int dpi, bool zoomed) {
    bool edges = !(w.desc.flags & window_fixed_size) && !w.fullscreen && !zoomed;
    if (edges) {
        int e = std::max(dpi, 96) * 5 / 96;
        int right = w.width - e, bottom = w.height - e;
        if (y < e && x < e) return Hit::Top_Left;
        if (y < e && x >= right) return Hit::Top_Right;
        if (x < e && y >= bottom) return Hit::Bottom_Left;
        if (x >= right && y >= bottom) return Hit::Bottom_Right;
        if (x < e) return Hit::Left;
        if (x >= right) return Hit::Right;
        if (y < e) return Hit::Top;
        if (y >= bottom) return Hit::Bottom;
    }
    if (w.caption && w.caption(&w, x, y, w.caption_user) == 1) return Hit::Caption;
    return Hit::Client;
}

void window_text_unit(Window& w, uint16_t unit) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        w.pending_high = unit;
        return;
    }
    uint16_t high = w.pending_high;
    w.pending_high = 0;
    Input_Event e;
    e.kind = Input_Event_Kind::Text;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (!high) return;
        e.code_point = 0x10000 + (int32_t(high) - 0xD800) * 0x400 + (int32_t(unit) - 0xDC00);
    } else {
        if (unit < 0x20 || unit == 0x7F) return;
        e.code_point = unit;
    }
    queue_input(w, e);
}

Key key_from_vk(unsigned code, bool extended, unsigned shift_vk) {
    if (code >= 'A' && code <= 'Z') return Key(unsigned(Key::A) + code - 'A');
    if (code >= '0' && code <= '9') return Key(unsigned(Key::Num_0) + code - '0');
    if (code >= vk::f1 && code <= vk::f24) return Key(unsigned(Key::F1) + code - vk::f1);
    if (code >= vk::numpad0 && code <= vk::numpad9) return Key(unsigned(Key::Kp_0) + code - vk::numpad0);
    switch (code) {
    case vk::return_: return extended ? Key::Kp_Enter : Key::Enter;
    case vk::shift: return shift_vk == vk::rshift ? Key::Right_Shift : Key::Left_Shift;
    case vk::control: return extended ? Key::Right_Ctrl : Key::Left_Ctrl;
    case vk::menu: return extended ? Key::Right_Alt : Key::Left_Alt;
    default: break;
    }
    static const struct {
        unsigned code;
        Key key;
    } table[] = {
        {vk::back, Key::Backspace},        {vk::tab, Key::Tab},
        {vk::lshift, Key::Left_Shift},     {vk::rshift, Key::Right_Shift},
        {vk::lcontrol, Key::Left_Ctrl},    {vk::rcontrol, Key::Right_Ctrl},
        {vk::lmenu, Key::Left_Alt},        {vk::rmenu, Key::Right_Alt},
        {vk::pause, Key::Pause},           {vk::capital, Key::Caps_Lock},
        {vk::escape, Key::Escape},         {vk::space, Key::Space},
        {vk::prior, Key::Page_Up},         {vk::next, Key::Page_Down},
        {vk::end, Key::End},               {vk::home, Key::Home},
        {vk::left, Key::Left},             {vk::up, Key::Up},
        {vk::right, Key::Right},           {vk::down, Key::Down},
        {vk::snapshot, Key::Print_Screen}, {vk::insert, Key::Insert},
        {vk::delete_, Key::Delete},        {vk::lwin, Key::Left_Super},
        {vk::rwin, Key::Right_Super},      {vk::apps, Key::Menu},
        {vk::multiply, Key::Kp_Multiply},  {vk::add, Key::Kp_Add},
        {vk::subtract, Key::Kp_Subtract},  {vk::decimal, Key::Kp_Decimal},
        {vk::divide, Key::Kp_Divide},      {vk::numlock, Key::Num_Lock},
        {vk::scroll, Key::Scroll_Lock},    {vk::oem_1, Key::Semicolon},
        {vk::oem_plus, Key::Equal},        {vk::oem_comma, Key::Comma},
        {vk::oem_minus, Key::Minus},       {vk::oem_period, Key::Period},
        {vk::oem_2, Key::Slash},           {vk::oem_3, Key::Grave},
        {vk::oem_4, Key::Left_Bracket},    {vk::oem_5, Key::Backslash},
        {vk::oem_6, Key::Right_Bracket},   {vk::oem_7, Key::Apostrophe},
    };
    for (const auto& row : table) {
        if (row.code == code) return row.key;
    }
    return Key::None;
}
