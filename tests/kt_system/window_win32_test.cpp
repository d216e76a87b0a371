// The Windows back end's real window procedure: windows made by make_window
// receive the messages the system would send (SendMessageW) or post
// (PostMessageW, then the pump), and the record, its change bits and its
// event queue must follow.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "engine/kt_input/state.h"
#include "engine/kt_system/win_util.h"
#include "engine/kt_system/window.h"

namespace {

int caption_top_30(Window*, int, int y, void*) { return y < 30 ? 1 : 0; }

struct Test_Window {
    Window w;
    explicit Test_Window(uint8_t flags, int width = 400, int height = 300) {
        Window_Desc d;
        d.title = "qm window test";
        d.width = width;
        d.height = height;
        d.flags = flags | window_start_hidden;
        int x = 100, y = 100;
        std::string err;
        EXPECT_TRUE(make_window(w, d, &x, &y, &err)) << err;
        w.caption = caption_top_30;
    }
    ~Test_Window() { destroy_window(w); }
    HWND hwnd() const { return static_cast<HWND>(w.native); }
    LRESULT send(UINT msg, WPARAM wp, LPARAM lp) { return SendMessageW(hwnd(), msg, wp, lp); }
    std::vector<Input_Event> take_events() {
        std::vector<Input_Event> e = w.events;
        w.events.clear();
        return e;
    }
};

TEST(WindowProc, MinimiseTwiceSetsItsBitOnceAndRestoreOnce) {
    Test_Window t(0);
    window_take_changes(t.w);
    t.send(WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_TRUE(t.w.minimised);
    EXPECT_EQ(window_take_changes(t.w), change_minimised);
    t.send(WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(window_take_changes(t.w), 0);
    t.send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(t.w.width, t.w.height));
    EXPECT_FALSE(t.w.minimised);
    EXPECT_EQ(window_take_changes(t.w), change_restored);
    t.send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(t.w.width, t.w.height));
    EXPECT_EQ(window_take_changes(t.w), 0);
    t.send(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(640, 480));
    EXPECT_TRUE(t.w.maximised);
    EXPECT_EQ(t.w.width, 640);
    EXPECT_EQ(window_take_changes(t.w), change_resized);
}

TEST(WindowProc, CloseOnlyRecordsTheWish) {
    Test_Window t(0);
    window_take_changes(t.w);
    EXPECT_EQ(t.send(WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(t.hwnd()));
    EXPECT_TRUE(t.w.close_requested);
    EXPECT_EQ(window_take_changes(t.w), change_close);
}

TEST(WindowProc, BorderlessHitTest) {
    Test_Window t(window_borderless);
    struct Case {
        int x, y;
        LRESULT hit;
    };
    const Case cases[] = {
        {2, 150, HTLEFT},   {397, 150, HTRIGHT},  {200, 2, HTTOP},          {200, 297, HTBOTTOM},
        {1, 1, HTTOPLEFT},  {398, 1, HTTOPRIGHT}, {1, 298, HTBOTTOMLEFT},   {399, 299, HTBOTTOMRIGHT},
        {200, 10, HTCAPTION}, {200, 200, HTCLIENT},
    };
    for (const Case& c : cases) {
        POINT p{c.x, c.y};
        ClientToScreen(t.hwnd(), &p);
        EXPECT_EQ(t.send(WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y)), c.hit) << c.x << "," << c.y;
    }
}

TEST(WindowProc, MaximisedBorderlessKeepsItsContentOnScreenWithoutEdges) {
    Test_Window t(window_borderless);
    ShowWindow(t.hwnd(), SW_MAXIMIZE);
    ASSERT_TRUE(IsZoomed(t.hwnd()));
    RECT outer, client;
    GetWindowRect(t.hwnd(), &outer);
    GetClientRect(t.hwnd(), &client);
    UINT dpi = GetDpiForWindow(t.hwnd());
    if (dpi < 96) dpi = 96;
    int pad = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi);
    int dx = pad + GetSystemMetricsForDpi(SM_CXFRAME, dpi);
    int dy = pad + GetSystemMetricsForDpi(SM_CYFRAME, dpi);
    EXPECT_EQ(client.right, outer.right - outer.left - 2 * dx);
    EXPECT_EQ(client.bottom, outer.bottom - outer.top - 2 * dy);
    // No resize edges while zoomed: the corner is caption, the left edge client.
    POINT corner{0, 0}, left{0, 150};
    ClientToScreen(t.hwnd(), &corner);
    ClientToScreen(t.hwnd(), &left);
    EXPECT_EQ(t.send(WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)), HTCAPTION);
    EXPECT_EQ(t.send(WM_NCHITTEST, 0, MAKELPARAM(left.x, left.y)), HTCLIENT);
}

TEST(WindowProc, DpiChangeTakesTheSuggestedRectangle) {
    Test_Window t(0);
    window_take_changes(t.w);
    RECT suggested{50, 60, 50 + 700, 60 + 500};
    EXPECT_EQ(t.send(WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested)), 0);
    EXPECT_FLOAT_EQ(t.w.dpi_scale, 1.5f);
    EXPECT_TRUE(window_take_changes(t.w) & change_dpi);
    RECT now;
    GetWindowRect(t.hwnd(), &now);
    EXPECT_EQ(now.left, 50);
    EXPECT_EQ(now.top, 60);
    EXPECT_EQ(now.right - now.left, 700);
    EXPECT_EQ(now.bottom - now.top, 500);
}

TEST(WindowProc, AltAloneEntersNoMenuLoop) {
    Test_Window t(0);
    EXPECT_EQ(t.send(WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
    EXPECT_EQ(t.send(WM_SYSCHAR, 'f', 0), 0);
}

TEST(WindowProc, PostedCharactersJoinSurrogatePairs) {
    Test_Window t(0);
    const WPARAM units[] = {0xD83D, 0xDE00, 'a', 0xD83D, 'x', 0xDE00, 0x0D};
    for (WPARAM u : units) PostMessageW(t.hwnd(), WM_CHAR, u, 1);
    window_pump();
    std::vector<int32_t> text;
    for (const Input_Event& e : t.take_events()) {
        EXPECT_EQ(e.kind, Input_Event_Kind::Text);
        text.push_back(e.code_point);
    }
    EXPECT_EQ(text, (std::vector<int32_t>{0x1F600, 'a', 'x'}));
}

TEST(WindowProc, KeyMessagesGiveKeys) {
    Test_Window t(0);
    struct Case {
        UINT msg;
        WPARAM vk;
        LPARAM lp;
        Input_Event_Kind kind;
        Key key;
    };
    const LPARAM extended = LPARAM(1) << 24, repeat = LPARAM(1) << 30;
    const Case cases[] = {
        {WM_KEYDOWN, 'Q', 0x10 << 16, Input_Event_Kind::Key_Down, Key::Q},
        {WM_KEYUP, 'Q', 0x10 << 16, Input_Event_Kind::Key_Up, Key::Q},
        {WM_KEYDOWN, 'Q', (0x10 << 16) | repeat, Input_Event_Kind::Key_Repeat, Key::Q},
        {WM_KEYDOWN, VK_SHIFT, 0x2A << 16, Input_Event_Kind::Key_Down, Key::Left_Shift},
        {WM_KEYDOWN, VK_SHIFT, 0x36 << 16, Input_Event_Kind::Key_Down, Key::Right_Shift},
        {WM_KEYDOWN, VK_CONTROL, (0x1D << 16) | extended, Input_Event_Kind::Key_Down, Key::Right_Ctrl},
        {WM_KEYDOWN, VK_RETURN, (0x1C << 16) | extended, Input_Event_Kind::Key_Down, Key::Kp_Enter},
        {WM_KEYDOWN, VK_RETURN, 0x1C << 16, Input_Event_Kind::Key_Down, Key::Enter},
        {WM_SYSKEYDOWN, VK_MENU, 0x38 << 16, Input_Event_Kind::Key_Down, Key::Left_Alt},
        {WM_SYSKEYUP, VK_MENU, (0x38 << 16) | extended, Input_Event_Kind::Key_Up, Key::Right_Alt},
    };
    for (const Case& c : cases) {
        t.send(c.msg, c.vk, c.lp);
        std::vector<Input_Event> e = t.take_events();
        ASSERT_EQ(e.size(), 1u) << "vk " << c.vk;
        EXPECT_EQ(e[0].kind, c.kind) << "vk " << c.vk;
        EXPECT_EQ(e[0].key, c.key) << "vk " << c.vk;
    }
    t.send(WM_KEYDOWN, VK_CLEAR, 0);
    EXPECT_TRUE(t.take_events().empty()) << "a key without a Key makes no event";
}

TEST(WindowProc, MouseButtonsCaptureAndWheel) {
    Test_Window t(0);
    EXPECT_EQ(t.send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 20)), 0);
    EXPECT_EQ(GetCapture(), t.hwnd());
    t.send(WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, 0);
    t.send(WM_LBUTTONUP, MK_RBUTTON, 0);
    EXPECT_EQ(GetCapture(), t.hwnd()) << "the right button is still held";
    t.send(WM_RBUTTONUP, 0, 0);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(t.send(WM_XBUTTONDOWN, MAKEWPARAM(MK_XBUTTON2, XBUTTON2), 0), TRUE);
    t.send(WM_MOUSEWHEEL, MAKEWPARAM(0, 30), 0);
    t.send(WM_MOUSEHWHEEL, MAKEWPARAM(0, WORD(-240)), 0);
    std::vector<Input_Event> e = t.take_events();
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[0].kind, Input_Event_Kind::Mouse_Down);
    EXPECT_EQ(e[0].button, Mouse_Button::Left);
    EXPECT_EQ(e[1].button, Mouse_Button::Right);
    EXPECT_EQ(e[3].kind, Input_Event_Kind::Mouse_Up);
    EXPECT_EQ(e[3].button, Mouse_Button::Right);
    EXPECT_EQ(e[4].button, Mouse_Button::Forward);
    EXPECT_EQ(e[5].kind, Input_Event_Kind::Wheel);
    EXPECT_FLOAT_EQ(e[5].y, 0.25f) << "a high-resolution wheel step is kept";
    EXPECT_FLOAT_EQ(e[6].x, -2.0f);
}

TEST(WindowProc, FocusLossQueuesFocusLost) {
    Test_Window t(0);
    window_take_changes(t.w);
    t.send(WM_SETFOCUS, 0, 0);
    t.send(WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(window_take_changes(t.w), change_focus_gained | change_focus_lost);
    std::vector<Input_Event> e = t.take_events();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].kind, Input_Event_Kind::Focus_Lost);
}

TEST(WindowProc, PostedKeysFoldIntoTheFrameState) {
    Test_Window t(0);
    PostMessageW(t.hwnd(), WM_KEYDOWN, 'A', 0x1E << 16);
    PostMessageW(t.hwnd(), WM_KEYUP, 'A', (0x1E << 16) | (LPARAM(1) << 30) | (LPARAM(1) << 31));
    window_pump();
    Input_State s{};
    Pad_Poll pads;
    pads.read = [](int, Pad_State*) { return 1; };
    input_update(t.w, s, pads);
    EXPECT_EQ(s.keys[int(Key::A)], input_pressed | input_released);
    EXPECT_TRUE(t.w.events.empty());
}

TEST(MakeWindow, ClientSizeStylesAndMinimumSize) {
    {
        Test_Window framed(0, 320, 200);
        RECT c;
        GetClientRect(framed.hwnd(), &c);
        EXPECT_EQ(c.right, 320);
        EXPECT_EQ(c.bottom, 200);
        EXPECT_EQ(framed.w.width, 320);
        EXPECT_TRUE(framed.w.framed);
        LONG_PTR style = GetWindowLongPtrW(framed.hwnd(), GWL_STYLE);
        EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    }
    {
        Test_Window fixed(window_fixed_size);
        LONG_PTR style = GetWindowLongPtrW(fixed.hwnd(), GWL_STYLE);
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    }
    {
        Test_Window borderless(window_borderless, 320, 200);
        RECT r;
        GetWindowRect(borderless.hwnd(), &r);
        EXPECT_EQ(r.right - r.left, 320) << "outer size = client size";
        EXPECT_FALSE(borderless.w.framed);
        borderless.w.desc.min_width = 200;
        borderless.w.desc.min_height = 100;
        MINMAXINFO info{};
        EXPECT_EQ(borderless.send(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 0);
        EXPECT_EQ(info.ptMinTrackSize.x, 200);
        EXPECT_EQ(info.ptMinTrackSize.y, 100);
    }
    int ow = 0, oh = 0;
    outer_size(0, WS_OVERLAPPEDWINDOW, 320, 200, 96, ow, oh);
    EXPECT_GT(ow, 320);
    EXPECT_GT(oh, 200);
    outer_size(window_borderless, WS_OVERLAPPEDWINDOW, 320, 200, 96, ow, oh);
    EXPECT_EQ(ow, 320);
}

TEST(WideZ, TurnsSlashesAndEndsWithNul) {
    std::wstring path = wide_z("C:/games/h\xC3\xA9/x.exe", true);
    EXPECT_EQ(path, L"C:\\games\\h\u00e9\\x.exe");
    EXPECT_EQ(path.c_str()[path.size()], L'\0');
    EXPECT_EQ(wide_z("a/b"), L"a/b");
    EXPECT_EQ(wide_z("", true).size(), 0u);
}

}  // namespace
