// The window layer's rules that do not need a window system: the
// virtual-key table, the borderless hit test and text input.
#include <gtest/gtest.h>

#include <vector>

#include "engine/kt_system/vk_codes.h"
#include "engine/kt_system/window.h"

namespace {

TEST(KeyFromVk, Table) {
    struct Case {
        unsigned code;
        bool extended;
        unsigned shift_vk;
        Key key;
    };
    const Case cases[] = {
        {'A', false, 0, Key::A},
        {'Z', false, 0, Key::Z},
        {'0', false, 0, Key::Num_0},
        {'9', false, 0, Key::Num_9},
        {vk::f1, false, 0, Key::F1},
        {vk::f24, false, 0, Key::F24},
        {vk::numpad0, false, 0, Key::Kp_0},
        {vk::numpad9, false, 0, Key::Kp_9},
        {vk::return_, false, 0, Key::Enter},
        {vk::return_, true, 0, Key::Kp_Enter},   // keypad Enter: bit 24
        {vk::shift, false, vk::lshift, Key::Left_Shift},
        {vk::shift, false, vk::rshift, Key::Right_Shift},   // right Shift: by scan code
        {vk::shift, true, vk::lshift, Key::Left_Shift},     // ... not by bit 24
        {vk::control, false, 0, Key::Left_Ctrl},
        {vk::control, true, 0, Key::Right_Ctrl},
        {vk::menu, false, 0, Key::Left_Alt},
        {vk::menu, true, 0, Key::Right_Alt},
        {vk::rshift, false, 0, Key::Right_Shift},
        {vk::rcontrol, false, 0, Key::Right_Ctrl},
        {vk::lmenu, false, 0, Key::Left_Alt},
        {vk::escape, false, 0, Key::Escape},
        {vk::prior, false, 0, Key::Page_Up},
        {vk::next, false, 0, Key::Page_Down},
        {vk::snapshot, false, 0, Key::Print_Screen},
        {vk::apps, false, 0, Key::Menu},
        {vk::divide, false, 0, Key::Kp_Divide},
        {vk::oem_1, false, 0, Key::Semicolon},
        {vk::oem_3, false, 0, Key::Grave},
        {vk::oem_7, false, 0, Key::Apostrophe},
        {0x6C, false, 0, Key::None},   // VK_SEPARATOR
        {0x92, false, 0, Key::None},   // OEM-specific
        {0x07, false, 0, Key::None},   // undefined
        {0x0C, false, 0, Key::None},   // VK_CLEAR
    };
    for (const Case& c : cases) {
        EXPECT_EQ(int(key_from_vk(c.code, c.extended, c.shift_vk)), int(c.key)) << "vk 0x" << std::hex << c.code;
    }
}

TEST(KeyFromVk, NoCodeGivesKpEqual) {
    for (unsigned code = 0; code < 256; ++code) {
        for (bool extended : {false, true}) EXPECT_NE(key_from_vk(code, extended, vk::rshift), Key::Kp_Equal);
    }
}

int caption_top_strip(Window*, int, int y, void*) { return y < 40 ? 1 : 0; }

TEST(WindowHit, EdgesScaleWithDpiAndStopWhenZoomedFixedOrFullscreen) {
    struct Case {
        int dpi;
        int x, y;
        Hit hit;
    };
    // 800 x 600 client; edge 5 px at 72 and 96 DPI (72 counts as 96), 7 at 144.
    const Case cases[] = {
        {96, 0, 0, Hit::Top_Left},       {96, 4, 4, Hit::Top_Left},     {96, 5, 4, Hit::Top},
        {96, 795, 0, Hit::Top_Right},    {96, 794, 0, Hit::Top},        {96, 0, 595, Hit::Bottom_Left},
        {96, 799, 599, Hit::Bottom_Right}, {96, 4, 300, Hit::Left},     {96, 5, 300, Hit::Client},
        {96, 795, 300, Hit::Right},      {96, 400, 599, Hit::Bottom},   {96, 400, 4, Hit::Top},
        {96, 400, 5, Hit::Caption},      {96, 400, 40, Hit::Client},
        {72, 4, 300, Hit::Left},         {72, 5, 300, Hit::Client},
        {144, 6, 300, Hit::Left},        {144, 7, 300, Hit::Client},    {144, 793, 300, Hit::Right},
        {144, 792, 300, Hit::Client},    {144, 6, 6, Hit::Top_Left},    {144, 400, 6, Hit::Top},
    };
    Window w;
    w.width = 800;
    w.height = 600;
    w.caption = caption_top_strip;
    for (const Case& c : cases) {
        EXPECT_EQ(int(window_hit(w, c.x, c.y, c.dpi, false)), int(c.hit))
            << c.dpi << " dpi at " << c.x << "," << c.y;
    }
    // No edges at all when zoomed, fixed or fullscreen: the caption callback decides.
    EXPECT_EQ(window_hit(w, 0, 0, 96, true), Hit::Caption);
    EXPECT_EQ(window_hit(w, 0, 300, 96, true), Hit::Client);
    Window fixed = w;
    fixed.desc.flags = window_fixed_size | window_borderless;
    EXPECT_EQ(window_hit(fixed, 0, 300, 96, false), Hit::Client);
    Window full = w;
    full.fullscreen = true;
    EXPECT_EQ(window_hit(full, 799, 599, 96, false), Hit::Client);
    Window plain = w;
    plain.caption = nullptr;
    EXPECT_EQ(window_hit(plain, 400, 10, 96, false), Hit::Client);
}

std::vector<int32_t> typed(std::vector<uint16_t> units) {
    Window w;
    for (uint16_t u : units) window_text_unit(w, u);
    std::vector<int32_t> out;
    for (const Input_Event& e : w.events) {
        EXPECT_EQ(e.kind, Input_Event_Kind::Text);
        out.push_back(e.code_point);
    }
    return out;
}

TEST(WindowText, SurrogatePairsAndControlCharacters) {
    struct Case {
        const char* what;
        std::vector<uint16_t> units;
        std::vector<int32_t> text;
    };
    const Case cases[] = {
        {"plain", {'h', 0xE9, 'l'}, {'h', 0xE9, 'l'}},
        {"pair", {0xD83D, 0xDE00}, {0x1F600}},
        {"lone low half", {0xDE00, 'a'}, {'a'}},
        {"control characters and DEL dropped", {0x08, 0x0D, 0x1B, 0x7F, ' '}, {' '}},
        {"a high half replaced by the next high half", {0xD83D, 0xD83C, 0xDF89}, {0x1F389}},
        // A high half followed by anything but a low half is forgotten, so a
        // later stray low half cannot pair with it.
        {"high half then a character", {0xD83D, 'x', 0xDE00}, {'x'}},
        {"high half then a control character", {0xD83D, 0x0D, 0xDE00}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(typed(c.units), c.text) << c.what;
}

TEST(WindowWheel, DeltaIsFractional) {
    EXPECT_FLOAT_EQ(wheel_notches(120), 1.0f);
    EXPECT_FLOAT_EQ(wheel_notches(-240), -2.0f);
    EXPECT_FLOAT_EQ(wheel_notches(30), 0.25f);   // a high-resolution wheel's step
}

TEST(WindowScale, LengthsForNinetySixDpiGrowWithTheScaleOnly) {
    struct Case {
        int length;
        float scale;
        int scaled;
    } cases[] = {
        {1080, 1.0f, 1080}, {1080, 1.25f, 1350}, {760, 1.5f, 1140}, {940, 2.0f, 1880},
        {641, 1.5f, 962},   // 961.5, rounded
        {1080, 0.75f, 1080},   // a display below 96 DPI keeps the room the interface needs
    };
    for (const Case& c : cases) EXPECT_EQ(dpi_scaled(c.length, c.scale), c.scaled) << c.length << " at " << c.scale;
}

#ifndef _WIN32
TEST(WindowScale, XftDpiFromTheServersResources) {
    struct Case {
        const char* resources;
        float dpi;   // 0: none
    } cases[] = {
        {"Xft.dpi:\t144\n", 144},
        {"Xcursor.size:\t24\nXft.antialias:\t1\nXft.dpi:\t120\nXft.hinting:\t1\n", 120},
        {"Xft.dpi: 96.5", 96.5f},   // fractional, no line end
        {"Xft.dpiX:\t144\nXft.rgba:\trgb\n", 0},   // other names only
        {"Xft.dpi:\tlarge\n", 0},
        {"Xft.dpi:\t-96\n", 0},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_FLOAT_EQ(xft_dpi(c.resources), c.dpi) << c.resources;
}
#endif

}  // namespace
