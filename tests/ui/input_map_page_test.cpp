// The Input Map page through whole frames: controller swaps, key capture,
// Undo, the running task, saving and scrolling.
#include <initializer_list>

#include <gtest/gtest.h>

#include "launcher/core/settings.h"
#include "launcher/core/inputmap.h"
#include "tests/ui/ui_harness.h"

namespace {

struct Map_Harness : Ui_Harness {
    explicit Map_Harness(std::string_view pad, std::string_view keys, int height = 760) : Ui_Harness(1080, height) {
        Settings s;
        pad_map_parse(s, pad);
        key_map_parse(s, keys);
        settings_replace(s);
        app.shared.current_page = Page::Input_Map;
        frame();
    }
    ~Map_Harness() { settings_replace(Settings{}); }
    // Keys pressed together in one frame.
    void press(std::initializer_list<Key> keys) {
        for (Key k : keys) input.keys[int(k)] = input_down | input_pressed;
        frame();
        for (Key k : keys) input.keys[int(k)] = 0;
        frame();
    }
    std::string pad() const { return pad_map_text(settings_copy()); }
    std::string keys() const { return key_map_text(settings_copy()); }
    bool dot(std::string_view id) const { return find_id(id, Widget_Kind::Text) != nullptr; }
};

TEST(InputMapPage, ControllerChoicesSwapAndOwnLabelResets) {
    struct Case {
        const char* start;
        const char* cell;
        int64_t choice;   // position in the page's order: a b x y lb rb lt rt back start ls rs up down left right
        const char* end;
        std::vector<const char*> dots;
    };
    const Case cases[] = {
        {"", "a", 1, "a=b,b=a", {"a", "b"}},
        {"a=b,b=a", "a", 0, "", {}},              // a's own label: back to default, and b follows
        {"a=b,b=a", "x", 1, "a=x,b=a,x=b", {"a", "b", "x"}},
        {"", "lt", 0, "a=lt,lt=a", {"a", "lt"}},   // lt sits at position 6 of the order
        {"", "rt", 15, "right=rt,rt=right", {"right", "rt"}},
        {"a=a", "b", 1, "", {}},                  // b's own label changes nothing
    };
    for (const Case& c : cases) {
        Map_Harness h(c.start, "");
        SCOPED_TRACE(std::string(c.start) + " " + c.cell);
        h.choose(c.cell, c.choice);
        EXPECT_EQ(h.pad(), c.end);
        for (const Pad_Button_Name& b : pad_button_names) {
            bool want = std::find(c.dots.begin(), c.dots.end(), b.name) != c.dots.end();
            EXPECT_EQ(h.dot(b.name), want) << b.name;
        }
        bool changed = std::string(c.start) != c.end && !(std::string(c.start) == "a=a" && *c.end == 0);
        EXPECT_EQ(h.settings_saves, changed ? 1 : 0);
        EXPECT_EQ(h.cfg_rewrites, h.settings_saves);
    }
}

TEST(InputMapPage, ResetControllerClearsAndIsDisabledAtDefaults) {
    Map_Harness h("a=b,b=a,lt=rt", "");
    h.click("Reset Controller");
    EXPECT_EQ(h.pad(), "");
    h.frame();
    EXPECT_FALSE(h.find("Reset Controller")->enabled);
}

TEST(InputMapPage, ScriptedKeyCapture) {
    struct Case {
        const char* start;
        std::vector<std::vector<Key>> presses;   // one entry per frame
        const char* end;
    };
    const Case cases[] = {
        {"", {{Key::Q}, {Key::W}}, "26=20,20=26"},                         // Q acts as W, W takes Q
        {"", {{Key::Q}, {Key::Q}}, ""},
        {"26=20,20=26", {{Key::E}, {Key::W}}, "26=8,8=20,20=26"},          // W acted as Q: it takes E's place                                    // the same key twice: no remap
        {"26=20", {{Key::Q}, {Key::Q}}, ""},                               // ... and clears an old one
        {"26=8", {{Key::Q}, {Key::W}}, "20=8,26=20,20=26"},                // E and W had W: now Q's old target
        {"", {{Key::Right_Super}, {Key::A}, {Key::Right_Super}, {Key::B}}, "5=4,4=5"},
        {"", {{Key::B, Key::A}, {Key::C}}, "6=4,4=6"},                         // first key in enum order
        {"", {{Key::F13}, {Key::Kp_1}}, "104=89,89=104"},
    };
    for (const Case& c : cases) {
        Map_Harness h("", c.start, 1000);
        SCOPED_TRACE(c.start);
        h.click("Remap a Key…");
        EXPECT_EQ(h.app.shared.remap_state, 1);
        for (const std::vector<Key>& keys : c.presses) {
            for (Key k : keys) h.input.keys[int(k)] = input_down | input_pressed;
            h.frame();
            for (Key k : keys) h.input.keys[int(k)] = 0;
        }
        h.frame();
        EXPECT_EQ(h.app.shared.remap_state, 0);
        EXPECT_EQ(h.keys(), c.end);
    }
}

TEST(InputMapPage, CancelAndARunningTaskStopTheCapture) {
    Map_Harness h("", "");
    h.click("Remap a Key…");
    h.press({Key::Q});
    EXPECT_EQ(h.app.shared.remap_state, 2);
    h.click("Cancel");
    EXPECT_EQ(h.app.shared.remap_state, 0);

    h.click("Remap a Key…");
    h.press({Key::Q});
    h.world.task_running = true;
    h.frame();
    EXPECT_EQ(h.app.shared.remap_state, 0);
    h.press({Key::W});
    EXPECT_EQ(h.keys(), "");
    EXPECT_FALSE(h.find("Remap a Key…")->enabled);
    EXPECT_EQ(h.settings_saves, 0);
}

TEST(InputMapPage, UndoHandsTheTargetOn) {
    struct Case {
        const char* start;
        const char* row;   // the key whose Undo is clicked
        const char* end;
    };
    const Case cases[] = {
        {"26=20,20=8", "Q", "26=8"},   // E acted as Q: it now acts as W
        {"26=20,20=8", "E", "26=20"},
        {"26=20,20=26", "Q", ""},      // W acted as Q: it gets W, that is itself
        {"26=20", "Q", ""},
    };
    for (const Case& c : cases) {
        Map_Harness h("", c.start);
        SCOPED_TRACE(std::string(c.start) + " undo " + c.row);
        const Trace_Item* t = h.find_id(std::string("key ") + c.row, Widget_Kind::Text);
        ASSERT_NE(t, nullptr);
        h.click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
        EXPECT_EQ(h.keys(), c.end);
        EXPECT_EQ(h.settings_saves, 1);
    }
}

TEST(InputMapPage, ResetKeyboardClearsEveryKey) {
    Map_Harness h("", "26=20,20=8,5=104", 1000);
    h.click("Reset Keyboard");
    EXPECT_EQ(h.keys(), "");
    h.frame();
    EXPECT_FALSE(h.find("Reset Keyboard")->enabled);
}

TEST(InputMapPage, ScrolledAwayRowsDoNotReact) {
    Map_Harness h("", "26=20,20=8,5=6,7=9,10=11,12=13", 420);
    const Trace_Item* reset = h.find("Reset Keyboard");
    ASSERT_NE(reset, nullptr);
    ASSERT_GT(reset->rect.y, 420) << "the fixture needs the row below the window";
    h.click_at(reset->rect.x + 5, 410);   // below the panel's inner edge
    EXPECT_NE(h.keys(), "");
    // The wheel brings it into view, where it works.
    h.move(300, 300);
    for (int i = 0; i < 20; ++i) {
        h.input.wheel_y = -1.0f;
        h.frame();
    }
    EXPECT_GT(h.app.shared.input_scroll, 0);
    h.frame();
    reset = h.find("Reset Keyboard");
    ASSERT_LT(reset->rect.y + reset->rect.h, 420);
    h.click("Reset Keyboard");
    EXPECT_EQ(h.keys(), "");
}

}  // namespace
