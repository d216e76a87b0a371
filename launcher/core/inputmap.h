// The controller and keyboard maps of the settings and their short text
// forms ("pad_map" / "key_map" in settings.txt, ZQR_PAD_MAP / ZQR_KEY_MAP in
// the game's configuration).
//
// pad_map[i]: 0 = game button i is pressed by its own controller button,
// v = pressed by controller button v - 1. key_map[c] (c = 1..255, a USB HID
// keyboard usage id): 0 = physical key c is itself, v = it acts as key v.
#pragma once
#include <string>
#include <string_view>

#include "engine/kt_system/keys.h"

struct Settings;

struct Pad_Button_Name {
    std::string_view label;   // shown (translated) on the Input Map page
    std::string_view name;    // used in the text form and as the drop-down id
};
inline constexpr int pad_button_count = 16;
extern const Pad_Button_Name pad_button_names[pad_button_count];

// "game=controller" pairs joined by ","; empty when nothing is remapped.
std::string pad_map_text(const Settings& s);
// Replaces the pad map from its text; unknown or malformed pieces are skipped.
void pad_map_parse(Settings& s, std::string_view text);
// "target=physical" key codes joined by ","; empty when nothing is remapped.
std::string key_map_text(const Settings& s);
// Replaces the key map from its text; pieces that are not two whole numbers
// in 1..255 are skipped.
void key_map_parse(Settings& s, std::string_view text);

// The game key code (USB HID usage id) of a key, 0 when it has none.
int key_code(Key key);
// The name shown for a game key code, "Key %d" when no key has that code.
std::string key_name(int code);
