// The controller and keyboard maps' text forms, the game key codes and the
// key names.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "launcher/core/settings.h"
#include "launcher/core/inputmap.h"

namespace {

Settings with_maps_set() {
    Settings s;
    s.pad_map.fill(5);
    s.key_map.fill(9);
    return s;
}

}  // namespace

TEST(InputMap, PadMapParse) {
    struct Case {
        const char* text;
        std::vector<std::pair<int, int>> set;   // entries that are not 0
    } cases[] = {
        {"", {}},
        {"a=a", {}},
        {"a=b,a=x", {{0, 3}}},                       // the later piece wins
        {"A=b,a=,zz=b,b,=a,x=y", {{2, 4}}},          // case matters; pieces without two names are skipped
        {"a=b,b=a", {{0, 2}, {1, 1}}},
        {"lt=rt,rt=lt,start=back,up=a,a=up", {{14, 16}, {15, 15}, {7, 7}, {10, 1}, {0, 11}}},
        {"x=lb=rb", {}},                            // the name after the first "=" is "lb=rb"
        {"a=b, b=a", {{0, 2}}},                      // " b" is no name
    };
    for (const Case& c : cases) {
        Settings s = with_maps_set();
        pad_map_parse(s, c.text);
        std::array<uint8_t, 16> want{};
        for (auto [i, v] : c.set) want[size_t(i)] = uint8_t(v);
        EXPECT_EQ(s.pad_map, want) << c.text;
        EXPECT_EQ(s.key_map[5], 9) << "the key map is not touched";
    }
}

TEST(InputMap, PadMapText) {
    Settings s;
    EXPECT_EQ(pad_map_text(s), "");
    s.pad_map[0] = 1;   // a by a: no remap
    s.pad_map[3] = 40;  // names no button
    EXPECT_EQ(pad_map_text(s), "");
    s.pad_map[0] = 2;
    s.pad_map[1] = 1;
    s.pad_map[15] = 15;
    EXPECT_EQ(pad_map_text(s), "a=b,b=a,rt=lt");
}

TEST(InputMap, KeyMapParse) {
    struct Case {
        const char* text;
        std::vector<std::pair<int, int>> set;
    } cases[] = {
        {"", {}},
        {"26=29,0=5,300=4,x=1", {{29, 26}}},
        {"0x1a=29", {{29, 26}}},
        {"0b11010=0o35, 0z22 = 0d29 ", {{29, 26}}},
        {"5=5", {}},
        {"26=29,4=29", {{29, 4}}},
        {"1=255,255=1,-4=5,4=+5,4", {{255, 1}, {1, 255}, {5, 4}}},
        {"26=29=30,256=1,1=256,1_0=2", {{2, 10}}},
    };
    for (const Case& c : cases) {
        Settings s = with_maps_set();
        key_map_parse(s, c.text);
        std::array<uint8_t, 256> want{};
        for (auto [i, v] : c.set) want[size_t(i)] = uint8_t(v);
        EXPECT_EQ(s.key_map, want) << c.text;
        EXPECT_EQ(s.pad_map[0], 5) << "the pad map is not touched";
    }
}

TEST(InputMap, KeyMapText) {
    Settings s;
    EXPECT_EQ(key_map_text(s), "");
    s.key_map[7] = 7;   // itself
    EXPECT_EQ(key_map_text(s), "");
    s.key_map[29] = 26;
    s.key_map[26] = 29;
    s.key_map[255] = 4;
    EXPECT_EQ(key_map_text(s), "29=26,26=29,4=255");
}

TEST(InputMap, TextsRoundTrip) {
    std::mt19937 random(12345);
    for (int round = 0; round < 50; round++) {
        Settings s;
        for (int i = 0; i < 16; i++)
            if (random() % 3 == 0) s.pad_map[size_t(i)] = uint8_t(1 + random() % 16);
        for (int c = 1; c < 256; c++)
            if (random() % 4 == 0) s.key_map[size_t(c)] = uint8_t(1 + random() % 255);
        // What the texts cannot tell apart from "itself" reads back as 0.
        Settings want = s;
        for (int i = 0; i < 16; i++)
            if (want.pad_map[size_t(i)] == i + 1) want.pad_map[size_t(i)] = 0;
        for (int c = 1; c < 256; c++)
            if (want.key_map[size_t(c)] == c) want.key_map[size_t(c)] = 0;

        Settings back = with_maps_set();
        pad_map_parse(back, pad_map_text(s));
        key_map_parse(back, key_map_text(s));
        EXPECT_EQ(back.pad_map, want.pad_map) << pad_map_text(s);
        EXPECT_EQ(back.key_map, want.key_map) << key_map_text(s);
    }
}

TEST(InputMap, KeyCodes) {
    struct Case {
        Key key;
        int code;
    } cases[] = {
        {Key::None, 0},       {Key::A, 4},          {Key::W, 26},          {Key::Z, 29},
        {Key::Num_1, 30},     {Key::Num_9, 38},     {Key::Num_0, 39},      {Key::F1, 58},
        {Key::F12, 69},       {Key::F13, 104},      {Key::F24, 115},       {Key::Kp_1, 89},
        {Key::Kp_9, 97},      {Key::Kp_0, 98},      {Key::Enter, 40},      {Key::Backslash, 49},
        {Key::Semicolon, 51}, {Key::Menu, 101},     {Key::Kp_Decimal, 99}, {Key::Kp_Equal, 103},
        {Key::Left_Ctrl, 224}, {Key::Right_Alt, 230}, {Key::Right_Super, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(key_code(c.key), c.code) << int(c.key);

    // Every other key has a code of its own.
    std::set<int> seen;
    for (int k = 1; k < key_count; k++) {
        int code = key_code(Key(k));
        if (Key(k) == Key::Right_Super) continue;
        EXPECT_GE(code, 1) << k;
        EXPECT_LE(code, 255) << k;
        EXPECT_TRUE(seen.insert(code).second) << "code " << code << " given twice";
    }
    EXPECT_EQ(seen.size(), size_t(key_count - 2));
}

TEST(InputMap, KeyNames) {
    struct Case {
        int code;
        const char* name;
    } cases[] = {
        {4, "A"},          {29, "Z"},          {30, "1"},           {39, "0"},         {58, "F1"},
        {115, "F24"},      {41, "Esc"},        {76, "Del"},         {73, "Ins"},       {75, "Page Up"},
        {225, "Left Shift"}, {229, "Right Shift"}, {227, "Left Super"}, {70, "Print Screen"}, {101, "Menu"},
        {52, "'"},         {54, ","},          {45, "-"},           {55, "."},         {56, "/"},
        {51, ";"},         {46, "="},          {47, "["},           {49, "\\"},        {48, "]"},
        {53, "`"},         {98, "Kp 0"},       {97, "Kp 9"},        {99, "Kp ."},      {84, "Kp /"},
        {85, "Kp *"},      {86, "Kp -"},       {87, "Kp +"},        {88, "Kp Enter"},  {103, "Kp ="},
        {231, "Key 231"},  {50, "Key 50"},     {100, "Key 100"},    {0, "Key 0"},      {255, "Key 255"},
    };
    for (const Case& c : cases) EXPECT_EQ(key_name(c.code), c.name) << c.code;
}
