#include "launcher/core/inputmap.h"

#include <iterator>

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"

const Pad_Button_Name pad_button_names[pad_button_count] = {
    {"A (Cross)", "a"},
    {"B (Circle)", "b"},
    {"X (Square)", "x"},
    {"Y (Triangle)", "y"},
    {"LB (L1)", "lb"},
    {"RB (R1)", "rb"},
    {"Back (Select)", "back"},
    {"Start (Options)", "start"},
    {"Left Stick Click (L3)", "ls"},
    {"Right Stick Click (R3)", "rs"},
    {"D-Pad Up", "up"},
    {"D-Pad Down", "down"},
    {"D-Pad Left", "left"},
    {"D-Pad Right", "right"},
    {"LT (L2)", "lt"},
    {"RT (R2)", "rt"},
};

static int pad_index(std::string_view name) {
    for (int i = 0; i < pad_button_count; i++)
        if (pad_button_names[i].name == name) return i;
    return -1;
}

std::string pad_map_text(const Settings& s) {
    std::string out;
    for (int i = 0; i < pad_button_count; i++) {
        int v = s.pad_map[size_t(i)];
        // A value beyond the 16 buttons names no button: it is no remap.
        if (v == 0 || v > pad_button_count || v - 1 == i) continue;
        out += fmt("%s%s=%s", out.empty() ? "" : ",", pad_button_names[i].name, pad_button_names[v - 1].name);
    }
    return out;
}

void pad_map_parse(Settings& s, std::string_view text) {
    s.pad_map.fill(0);
    for (std::string_view piece : split_at(text, ',')) {
        size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        int d = pad_index(piece.substr(0, eq));
        int b = pad_index(piece.substr(eq + 1));
        if (d < 0 || b < 0) continue;
        s.pad_map[size_t(d)] = d == b ? 0 : uint8_t(b + 1);
    }
}

std::string key_map_text(const Settings& s) {
    std::string out;
    for (int c = 1; c < 256; c++) {
        int v = s.key_map[size_t(c)] ? s.key_map[size_t(c)] : c;
        if (v == c) continue;
        out += fmt("%s%d=%d", out.empty() ? "" : ",", v, c);
    }
    return out;
}

void key_map_parse(Settings& s, std::string_view text) {
    s.key_map.fill(0);
    for (std::string_view piece : split_at(text, ',')) {
        size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        int64_t f = 0, c = 0;
        if (!parse_int(piece.substr(0, eq), f) || !parse_int(piece.substr(eq + 1), c)) continue;
        if (f < 1 || f > 255 || c < 1 || c > 255) continue;
        s.key_map[size_t(c)] = f == c ? 0 : uint8_t(f);
    }
}

struct Key_Code_Pair {
    Key key;
    int code;
};

static constexpr Key_Code_Pair key_code_pairs[] = {
    {Key::Enter, 40}, {Key::Escape, 41}, {Key::Backspace, 42}, {Key::Tab, 43}, {Key::Space, 44},
    {Key::Minus, 45}, {Key::Equal, 46}, {Key::Left_Bracket, 47}, {Key::Right_Bracket, 48},
    {Key::Backslash, 49}, {Key::Semicolon, 51}, {Key::Apostrophe, 52}, {Key::Grave, 53},
    {Key::Comma, 54}, {Key::Period, 55}, {Key::Slash, 56}, {Key::Caps_Lock, 57},
    {Key::Print_Screen, 70}, {Key::Scroll_Lock, 71}, {Key::Pause, 72}, {Key::Insert, 73},
    {Key::Home, 74}, {Key::Page_Up, 75}, {Key::Delete, 76}, {Key::End, 77}, {Key::Page_Down, 78},
    {Key::Right, 79}, {Key::Left, 80}, {Key::Down, 81}, {Key::Up, 82}, {Key::Num_Lock, 83},
    {Key::Kp_Divide, 84}, {Key::Kp_Multiply, 85}, {Key::Kp_Subtract, 86}, {Key::Kp_Add, 87},
    {Key::Kp_Enter, 88}, {Key::Kp_Decimal, 99}, {Key::Menu, 101}, {Key::Kp_Equal, 103},
    {Key::Left_Ctrl, 224}, {Key::Left_Shift, 225}, {Key::Left_Alt, 226}, {Key::Left_Super, 227},
    {Key::Right_Ctrl, 228}, {Key::Right_Shift, 229}, {Key::Right_Alt, 230},
};
static_assert(std::size(key_code_pairs) == 46);

int key_code(Key key) {
    int k = int(key);
    if (key >= Key::A && key <= Key::Z) return k + 3;
    if (key >= Key::Num_1 && key <= Key::Num_9) return k + 2;
    if (key == Key::Num_0) return 39;
    if (key >= Key::F1 && key <= Key::F12) return k + 21;
    if (key >= Key::F13 && key <= Key::F24) return k + 55;
    if (key >= Key::Kp_1 && key <= Key::Kp_9) return k - 13;
    if (key == Key::Kp_0) return 98;
    for (const Key_Code_Pair& p : key_code_pairs)
        if (p.key == key) return p.code;
    return 0;
}

// Names of the keys from Escape to Menu, in Key order.
static constexpr std::string_view named_keys[] = {
    "Esc", "Enter", "Tab", "Space", "Backspace", "Del", "Ins", "Home", "End", "Page Up", "Page Down",
    "Left", "Right", "Up", "Down", "Left Shift", "Right Shift", "Left Ctrl", "Right Ctrl", "Left Alt",
    "Right Alt", "Left Super", "Right Super", "Caps Lock", "Scroll Lock", "Num Lock", "Print Screen",
    "Pause", "Menu",
};
static_assert(std::size(named_keys) == int(Key::Menu) - int(Key::Escape) + 1);
// What the keys from Apostrophe to Grave type without Shift on a US layout.
static constexpr std::string_view punctuation_keys = "',-./;=[\\]`";
static_assert(punctuation_keys.size() == int(Key::Grave) - int(Key::Apostrophe) + 1);
// Keypad keys after the digits, from Kp_Decimal to Kp_Equal.
static constexpr std::string_view keypad_keys[] = {"Kp .", "Kp /", "Kp *", "Kp -", "Kp +", "Kp Enter", "Kp ="};
static_assert(std::size(keypad_keys) == int(Key::Kp_Equal) - int(Key::Kp_Decimal) + 1);

static std::string name_of(Key key) {
    int k = int(key);
    if (key >= Key::A && key <= Key::Z) return std::string(1, char('A' + (k - int(Key::A))));
    if (key >= Key::Num_0 && key <= Key::Num_9) return std::string(1, char('0' + (k - int(Key::Num_0))));
    if (key >= Key::F1 && key <= Key::F24) return fmt("F%d", k - int(Key::F1) + 1);
    if (key >= Key::Escape && key <= Key::Menu) return std::string(named_keys[k - int(Key::Escape)]);
    if (key >= Key::Apostrophe && key <= Key::Grave) return std::string(1, punctuation_keys[size_t(k - int(Key::Apostrophe))]);
    if (key >= Key::Kp_0 && key <= Key::Kp_9) return fmt("Kp %d", k - int(Key::Kp_0));
    if (key >= Key::Kp_Decimal && key <= Key::Kp_Equal) return std::string(keypad_keys[k - int(Key::Kp_Decimal)]);
    return "";
}

std::string key_name(int code) {
    // Keys without a code (0) are never named by it.
    for (int k = 1; code > 0 && k < key_count; k++)
        if (key_code(Key(k)) == code) return name_of(Key(k));
    return fmt("Key %d", code);
}
