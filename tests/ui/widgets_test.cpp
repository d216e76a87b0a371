// The widgets and text procedures, and the activity panel, one at a time.
#include <gtest/gtest.h>

#include <mutex>

#include "engine/kt_render/text.h"
#include "launcher/ui/activity.h"
#include "tests/ui/ui_harness.h"

namespace {

// Straight after begin_frame, drawing with the harness's Ui_State.
struct Canvas : Ui_Harness {
    Canvas() : Ui_Harness(200, 100) {
        draw_list_begin_frame(renderer.draw_list, 0xFF000000u);
        app.ui.area = {0, 0, 200, 100};
    }
    const uint8_t* pixel(int x, int y) {
        Fake_State& s = fake_state(renderer.backend);
        if (s.frame.empty()) ren_render(renderer.backend, renderer.draw_list);
        return &fake_state(renderer.backend).frame[(size_t(y) * 200 + size_t(x)) * 4];
    }
};

TEST(Widgets, RoundedRectangles) {
    struct Case {
        Ui_Rect r;
        int64_t radius;
        int filled_x, filled_y;   // a pixel that must be white
        int empty_x, empty_y;     // one that must stay black (-1: none)
    };
    const Case cases[] = {
        // 10 high with radius 8 uses radius 5: its top row starts 3 in.
        {{10, 10, 40, 10}, 8, 13, 10, 11, 10},
        // Radius 1 at width 1 is a plain rectangle.
        {{10, 10, 1, 6}, 1, 10, 10, -1, -1},
        // No radius: square corners.
        {{10, 10, 20, 20}, 0, 10, 10, -1, -1},
    };
    for (const Case& c : cases) {
        Canvas k;
        fill_rounded_rect(k.app.ui, c.r, c.radius, 0xFFFFFFFFu);
        EXPECT_EQ(k.pixel(c.filled_x, c.filled_y)[0], 255) << c.r.w << "x" << c.r.h << " r" << c.radius;
        if (c.empty_x >= 0) {
            EXPECT_EQ(k.pixel(c.empty_x, c.empty_y)[0], 0) << c.r.w << "x" << c.r.h;
        }
        // Every row of the shape is inside the rectangle.
        for (const Vertex& v : k.renderer.draw_list.vertices) {
            EXPECT_GE(v.position[0], float(c.r.x));
            EXPECT_LE(v.position[0], float(c.r.x + c.r.w));
            EXPECT_GE(v.position[1], float(c.r.y));
            EXPECT_LE(v.position[1], float(c.r.y + c.r.h));
        }
    }
    Canvas k;
    fill_rounded_rect(k.app.ui, {5, 5, 0, 10}, 4, 0xFFFFFFFFu);
    fill_rounded_rect(k.app.ui, {5, 5, 10, -1}, 4, 0xFFFFFFFFu);
    EXPECT_TRUE(k.renderer.draw_list.vertices.empty());
}

bool valid_utf8(const std::string& s) {
    for (size_t pos = 0; pos < s.size();) {
        if (utf8_next(s, pos) == replacement_character) return false;
    }
    return true;
}

TEST(Widgets, EllipsizeNeverSplitsACharacter) {
    Ui_Harness h;
    Font* f = h.fonts.regular;
    for (std::string text : {std::string("Überprüfung läuft — schön"), std::string("日本語のテキストです"),
                             std::string("Ελληνικά κείμενα")}) {
        int64_t full = text_width(f, text);
        EXPECT_EQ(ellipsize(f, text, full), text);
        for (int64_t w = 0; w < full; w += 3) {
            std::string e = ellipsize(f, text, w);
            EXPECT_TRUE(valid_utf8(e)) << text << " at " << w;
            ASSERT_GE(e.size(), 3u);
            EXPECT_EQ(e.substr(e.size() - 3), "…");
            if (e != "…") {
                EXPECT_LE(text_width(f, e), w) << text << " at " << w;
            }
        }
    }
}

TEST(Widgets, WrapKeepsPunctuationAndWords) {
    Ui_Harness h;
    Font* f = h.fonts.regular;
    const std::string japanese = "これは「テスト」です。ゲームを起動しています、少々お待ちください。";
    for (int64_t w = 20; w <= 200; w += 7) {
        for (const std::string& line : wrap(f, japanese, w)) {
            ASSERT_FALSE(line.empty());
            for (std::string_view bad : {"。", "、", "」", "ょ", "ッ"}) {
                EXPECT_NE(line.rfind(bad, 0), 0u) << "line starts with " << bad << " at " << w << ": " << line;
            }
            EXPECT_FALSE(line.size() >= 3 && line.substr(line.size() - 3) == "「") << "at " << w << ": " << line;
        }
    }
    struct Case {
        std::string text;
        int64_t width;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a extraordinarily b", 30, {"a", "extraordinarily", "b"}},
        {"one\n\ntwo", 500, {"one", "", "two"}},
        {"  spaced   out  ", 500, {"spaced   out"}},
        {"", 100, {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(wrap(f, c.text, c.width), c.lines) << c.text;
    // Mixed scripts: a CJK run breaks between characters, a Latin word does not.
    for (const std::string& line : wrap(f, "Quillmarsh を起動", text_width(f, "Quillmarsh を"))) {
        EXPECT_NE(line, "Quill");
    }
}

TEST(Widgets, PopupPlacement) {
    struct Case {
        Ui_Rect anchor;
        int rows;
        Ui_Rect want;
    };
    // Area 1080 x 760, pad 4, rows 32, gap 2.
    const Case cases[] = {
        {{100, 50, 190, 32}, 3, {100, 84, 190, 104}},          // below
        {{100, 700, 190, 32}, 3, {100, 594, 190, 104}},        // above: no room below
        {{100, 300, 190, 32}, 40, {100, 4, 190, 752}},         // taller than the window: cut and clamped
        {{1000, 50, 190, 32}, 1, {886, 84, 190, 40}},          // past the right edge: clamped
    };
    for (const Case& c : cases) {
        Ui_State ui;
        ui.area = {0, 0, 1080, 760};
        ui.popup_anchor = c.anchor;
        ui.popup_labels.assign(size_t(c.rows), "x");
        Popup_Place p = popup_rect(ui);
        EXPECT_EQ(p.rect, c.want) << c.anchor.y << " " << c.rows;
        EXPECT_EQ(p.row_height, 32);
    }
}

TEST(Widgets, SliderDrag) {
    struct Step {
        int64_t mouse_x;
        uint8_t clicked, down;
        int64_t value;
        bool released;
    };
    struct Case {
        int64_t min, max;
        std::vector<Step> steps;
    };
    // Slider at x 100..300 (track 108..292), values 0..10.
    const Case cases[] = {
        {0, 10, {{200, 1, 1, 5, false}, {900, 0, 1, 10, false}, {-50, 0, 1, 0, false}, {900, 0, 0, 0, true}}},
        {4, 4, {{200, 1, 1, 4, false}, {290, 0, 1, 4, false}, {290, 0, 0, 4, true}}},
    };
    for (const Case& c : cases) {
        Canvas k;
        Ui_State& ui = k.app.ui;
        int64_t value = c.min;
        for (const Step& s : c.steps) {
            ui.mouse_x = s.mouse_x;
            ui.mouse_y = 20;
            ui.clicked = s.clicked;
            ui.mouse_down = s.down;
            Slider_Result r = slider(ui, "volume", {100, 10, 200, 24}, value, c.min, c.max, true);
            EXPECT_EQ(r.value, s.value) << c.min << ".." << c.max << " at " << s.mouse_x;
            EXPECT_EQ(r.released, s.released) << c.min << ".." << c.max << " at " << s.mouse_x;
            EXPECT_EQ(r.changed, r.value != value);
            value = r.value;
        }
        EXPECT_TRUE(ui.active_id.empty());
    }
}

TEST(Widgets, DropdownOutsideItsLabelsShowsAnEmptyBox) {
    for (int64_t index : {-1, 3}) {
        Canvas k;
        dropdown(k.app.ui, "d", {10, 10, 150, 32}, {"a", "b", "c"}, index, {}, true, false);
        // The box and its chevron only: no glyph quads.
        for (const Draw_Command& c : k.renderer.draw_list.commands) EXPECT_EQ(c.texture, 0u) << index;
    }
}

TEST(ActivityPanel, StepTimeAndMovingBlock) {
    struct Step_Case {
        std::string step;
        bool running;
        int64_t seconds;
        std::string want;
    };
    const Step_Case steps[] = {
        {"Compiling", true, 29, "Compiling"},
        {"Compiling", true, 30, "Compiling   (0:30 on this step)"},
        {"Compiling", true, 75 * 60 + 3, "Compiling   (75:03 on this step)"},
        {"Compiling", false, 75 * 60 + 3, "Compiling"},
        {"", true, 100, ""},
    };
    for (const Step_Case& c : steps) {
        EXPECT_EQ(activity_step_text(c.step, c.running, c.seconds * 1'000'000'000), c.want) << c.seconds;
    }
    struct Block_Case {
        int64_t width;
        int64_t at_ns;
        int64_t from, to;
    };
    // 320 pixels a second over a cycle of width + width / 4.
    const Block_Case blocks[] = {
        {400, 0, 0, 0},
        {400, 312'500'000, 0, 100},           // entering: k = 100
        {400, 1'250'000'000, 300, 400},       // k = 400
        {400, 1'500'000'000, 380, 400},       // k = 480, leaving
        {0, 1'000'000'000, 0, 0},             // no track: nothing, no division by zero
        {1, 1'000'000'000, 0, 0},
    };
    for (const Block_Case& c : blocks) {
        Block_Span b = activity_block(c.width, c.at_ns);
        EXPECT_EQ(b.from, c.from) << c.width << " " << c.at_ns;
        EXPECT_EQ(b.to, c.to) << c.width << " " << c.at_ns;
    }
}

TEST(ActivityPanel, LogScrollClampsAndFollowsTheWheelOverTheLog) {
    Ui_Harness h;
    Task& t = the_task();
    ASSERT_EQ(t.running.load(), 0);
    {
        std::lock_guard<Slim_Lock> g(t.lock);
        t.log.clear();
        t.name = "Build";
    }
    for (int i = 0; i < 100; ++i) logf(t, "line %d", i);
    Ui_State& ui = h.app.ui;
    draw_list_begin_frame(h.renderer.draw_list, 0);
    Ui_Rect r{0, 0, 600, 300};
    int64_t scroll = 1000;
    draw_activity(ui, r, false, scroll, 0);
    int64_t lh = line_height(ui.small_font);
    // Box: 300 - 24 inner - 22 - 14 - 20 - 6 = 214 high; n = (214 - 12) / lh.
    int64_t n = (214 - 12) / lh;
    EXPECT_EQ(scroll, 100 - n);
    scroll = 0;
    ui.mouse_x = 300;
    ui.mouse_y = 200;   // over the log
    draw_activity(ui, r, false, scroll, 3);
    EXPECT_EQ(scroll, 3);
    draw_activity(ui, r, false, scroll, -9);
    EXPECT_EQ(scroll, 0);
    ui.mouse_y = 20;    // over the title
    draw_activity(ui, r, false, scroll, 3);
    EXPECT_EQ(scroll, 0);
    // A log shorter than the view cannot be scrolled.
    {
        std::lock_guard<Slim_Lock> g(t.lock);
        t.log.resize(3);
    }
    ui.mouse_y = 200;
    draw_activity(ui, r, false, scroll, 3);
    EXPECT_EQ(scroll, 0);
    // Too low a rectangle draws nothing.
    size_t before = h.renderer.draw_list.vertices.size();
    draw_activity(ui, {0, 0, 600, 59}, true, scroll, 0);
    EXPECT_EQ(h.renderer.draw_list.vertices.size(), before);
    // A running task with no progress in a panel with no inner width.
    draw_activity(ui, {0, 0, 20, 200}, true, scroll, 0);
}

}  // namespace
