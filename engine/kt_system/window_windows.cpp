// The window on Windows: one Win32 window of the class "KtSystemWindow" per
// `Window`, found by the window procedure through the window's user-data
// slot. Borderless windows do their own non-client work: no system frame,
// their own resize edges and a caption area the application decides.
#include "engine/kt_system/window.h"

#include "engine/kt_system/vk_codes.h"
#include "engine/kt_system/win_util.h"

static_assert(vk::return_ == VK_RETURN && vk::shift == VK_SHIFT && vk::rshift == VK_RSHIFT);
static_assert(vk::f24 == VK_F24 && vk::numpad9 == VK_NUMPAD9 && vk::apps == VK_APPS && vk::scroll == VK_SCROLL);
static_assert(vk::oem_1 == VK_OEM_1 && vk::oem_7 == VK_OEM_7 && vk::snapshot == VK_SNAPSHOT);

namespace {

const wchar_t class_name[] = L"KtSystemWindow";
bool class_registered = false;

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

bool register_class(std::string* err) {
    if (class_registered) return true;
    // Per-monitor DPI awareness, version 2; older systems keep their own.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = class_name;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        if (err) *err = "cannot register the window class: " + win_error_text(GetLastError());
        return false;
    }
    class_registered = true;
    return true;
}

Window* window_of(HWND hwnd) { return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }
HWND hwnd_of(const Window& w) { return static_cast<HWND>(w.native); }

DWORD style_for(uint8_t flags) {
    DWORD style = (flags & window_borderless) ? WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX
                                              : WS_OVERLAPPEDWINDOW;
    if (flags & window_fixed_size) style &= ~DWORD(WS_THICKFRAME | WS_MAXIMIZEBOX);
    return style;
}

int window_dpi(HWND hwnd) {
    UINT dpi = GetDpiForWindow(hwnd);
    return dpi < 96 ? 96 : int(dpi);
}

HCURSOR load_cursor(const Window& w) {
    if (w.cursor_hidden) return nullptr;
    switch (w.cursor) {
    case Cursor::Arrow: return LoadCursorW(nullptr, IDC_ARROW);
    case Cursor::Hand: return LoadCursorW(nullptr, IDC_HAND);
    case Cursor::Text: return LoadCursorW(nullptr, IDC_IBEAM);
    case Cursor::Crosshair: return LoadCursorW(nullptr, IDC_CROSS);
    case Cursor::Resize_Horizontal: return LoadCursorW(nullptr, IDC_SIZEWE);
    }
    return nullptr;
}

void queue_move(Window& w, int x, int y) {
    Input_Event e;
    e.kind = Input_Event_Kind::Mouse_Move;
    e.x = float(x);
    e.y = float(y);
    queue_input(w, e);
}

int lp_x(LPARAM lp) { return int(short(LOWORD(lp))); }
int lp_y(LPARAM lp) { return int(short(HIWORD(lp))); }

LRESULT key_message(Window& w, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Input_Event_Kind kind = Input_Event_Kind::Key_Up;
    if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
        kind = (lp & (LPARAM(1) << 30)) ? Input_Event_Kind::Key_Repeat : Input_Event_Kind::Key_Down;
    }
    unsigned code = unsigned(wp);
    unsigned shift_vk = code == VK_SHIFT ? MapVirtualKeyW(UINT((lp >> 16) & 0xFF), MAPVK_VSC_TO_VK_EX) : 0;
    Key key = key_from_vk(code, (lp >> 24) & 1, shift_vk);
    if (key != Key::None) queue_input(w, kind, key);
    if (msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP) return DefWindowProcW(hwnd, msg, wp, lp);
    return 0;
}

LRESULT button_message(Window& w, HWND hwnd, UINT msg, WPARAM wp) {
    Mouse_Button button = Mouse_Button::Left;
    bool down = false;
    switch (msg) {
    case WM_LBUTTONDOWN: down = true; [[fallthrough]];
    case WM_LBUTTONUP: button = Mouse_Button::Left; break;
    case WM_RBUTTONDOWN: down = true; [[fallthrough]];
    case WM_RBUTTONUP: button = Mouse_Button::Right; break;
    case WM_MBUTTONDOWN: down = true; [[fallthrough]];
    case WM_MBUTTONUP: button = Mouse_Button::Middle; break;
    case WM_XBUTTONDOWN: down = true; [[fallthrough]];
    default: {   // WM_XBUTTONUP
        WORD x = HIWORD(wp);
        button = x == XBUTTON1 ? Mouse_Button::Back : x == XBUTTON2 ? Mouse_Button::Forward : Mouse_Button::Extra;
        break;
    }
    }
    if (down) {
        queue_input(w, Input_Event_Kind::Mouse_Down, Key::None, button);
        SetCapture(hwnd);
    } else {
        queue_input(w, Input_Event_Kind::Mouse_Up, Key::None, button);
        if (!(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | MK_XBUTTON1 | MK_XBUTTON2))) ReleaseCapture();
    }
    return (msg == WM_XBUTTONDOWN || msg == WM_XBUTTONUP) ? TRUE : 0;
}

LRESULT hit_test(Window& w, HWND hwnd, LPARAM lp) {
    POINT p{lp_x(lp), lp_y(lp)};
    ScreenToClient(hwnd, &p);
    switch (window_hit(w, p.x, p.y, window_dpi(hwnd), IsZoomed(hwnd) != 0)) {
    case Hit::Client: return HTCLIENT;
    case Hit::Caption: return HTCAPTION;
    case Hit::Left: return HTLEFT;
    case Hit::Right: return HTRIGHT;
    case Hit::Top: return HTTOP;
    case Hit::Bottom: return HTBOTTOM;
    case Hit::Top_Left: return HTTOPLEFT;
    case Hit::Top_Right: return HTTOPRIGHT;
    case Hit::Bottom_Left: return HTBOTTOMLEFT;
    case Hit::Bottom_Right: return HTBOTTOMRIGHT;
    }
    return HTCLIENT;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* w = static_cast<Window*>(create->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
        if (w) w->native = hwnd;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    Window* found = window_of(hwnd);
    if (!found) return DefWindowProcW(hwnd, msg, wp, lp);
    Window& w = *found;
    bool borderless = (w.desc.flags & window_borderless) != 0;

    switch (msg) {
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcW(hwnd, msg, wp, lp);
    case WM_SIZE:
        if (wp == SIZE_MINIMIZED) {
            if (!w.minimised) w.changes |= change_minimised;
            w.minimised = true;
        } else {
            if (w.minimised) {
                w.minimised = false;
                w.changes |= change_restored;
            }
            w.maximised = wp == SIZE_MAXIMIZED;
            int width = LOWORD(lp), height = HIWORD(lp);
            if (width != w.width || height != w.height) {
                w.width = width;
                w.height = height;
                w.changes |= change_resized;
            }
        }
        return 0;
    case WM_SETFOCUS:
        w.focused = true;
        w.changes |= change_focus_gained;
        return 0;
    case WM_KILLFOCUS:
        w.focused = false;
        w.changes |= change_focus_lost;
        queue_input(w, Input_Event_Kind::Focus_Lost);
        return 0;
    case WM_CLOSE:
        w.close_requested = true;
        w.changes |= change_close;
        return 0;
    case WM_PAINT:
        // The picture is drawn by the renderer: the next frame draws it.
        ValidateRect(hwnd, nullptr);
        w.changes |= change_exposed;
        return 0;
    case WM_ERASEBKGND:
        if (w.brush) {
            RECT r;
            GetClientRect(hwnd, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, static_cast<HBRUSH>(w.brush));
        }
        return 1;
    case WM_SETCURSOR:
        if (LOWORD(lp) == HTCLIENT) {
            SetCursor(load_cursor(w));
            return 1;
        }
        break;
    case WM_GETMINMAXINFO:
        if (w.desc.min_width > 0 || w.desc.min_height > 0) {
            int ow = 0, oh = 0, dpi = window_dpi(hwnd);
            float scale = w.desc.scale_with_dpi ? float(dpi) / 96.0f : 1.0f;
            outer_size(w.desc.flags, DWORD(GetWindowLongPtrW(hwnd, GWL_STYLE)), dpi_scaled(w.desc.min_width, scale),
                       dpi_scaled(w.desc.min_height, scale), unsigned(dpi), ow, oh);
            auto* info = reinterpret_cast<MINMAXINFO*>(lp);
            info->ptMinTrackSize.x = ow;
            info->ptMinTrackSize.y = oh;
        }
        return 0;
    case WM_NCCALCSIZE:
        if (!borderless) break;
        if (wp && IsZoomed(hwnd)) {
            // A maximised window reaches past the monitor by its frame: keep
            // the content on screen.
            UINT dpi = UINT(window_dpi(hwnd));
            int pad = GetSystemMetricsForDpi(SM_CXPADDEDBORDER, dpi);
            int dx = pad + GetSystemMetricsForDpi(SM_CXFRAME, dpi);
            int dy = pad + GetSystemMetricsForDpi(SM_CYFRAME, dpi);
            RECT& r = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0];
            r.left += dx;
            r.right -= dx;
            r.top += dy;
            r.bottom -= dy;
        }
        return 0;
    case WM_NCHITTEST:
        if (!borderless) break;
        return hit_test(w, hwnd, lp);
    case WM_NCMOUSEMOVE:
        if (borderless) {
            POINT p{lp_x(lp), lp_y(lp)};
            ScreenToClient(hwnd, &p);
            queue_move(w, p.x, p.y);
        }
        break;
    case WM_DPICHANGED: {
        w.dpi_scale = float(HIWORD(wp)) / 96.0f;
        w.changes |= change_dpi;
        const RECT* r = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_MOUSELEAVE:
        w.hovered = false;
        return 0;
    case WM_SYSCHAR:
        if (wp == ' ') break;   // Alt+Space opens the system menu
        return 0;
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_KEYMENU && lp == 0) return 0;   // Alt or F10 alone: no menu loop
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return key_message(w, hwnd, msg, wp, lp);
    case WM_CHAR:
        window_text_unit(w, uint16_t(wp));
        return 0;
    case WM_MOUSEMOVE:
        if (!w.hovered) {
            w.hovered = true;
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = hwnd;
            TrackMouseEvent(&track);
        }
        queue_move(w, lp_x(lp), lp_y(lp));
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONUP:
        return button_message(w, hwnd, msg, wp);
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
        Input_Event e;
        e.kind = Input_Event_Kind::Wheel;
        float notches = wheel_notches(int(short(HIWORD(wp))));
        (msg == WM_MOUSEWHEEL ? e.y : e.x) = notches;
        queue_input(w, e);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void outer_size(uint8_t flags, uint32_t style, int width, int height, unsigned dpi, int& outer_w, int& outer_h) {
    if (flags & window_borderless) {
        outer_w = width;
        outer_h = height;
        return;
    }
    RECT r{0, 0, width, height};
    if (dpi) {
        AdjustWindowRectExForDpi(&r, style, FALSE, 0, dpi);
    } else {
        AdjustWindowRectEx(&r, style, FALSE, 0);
    }
    outer_w = r.right - r.left;
    outer_h = r.bottom - r.top;
}

bool make_window(Window& w, const Window_Desc& desc, const int* x, const int* y, std::string* err) {
    if (!register_class(err)) return false;
    w = Window{};
    w.desc = desc;
    HINSTANCE module = GetModuleHandleW(nullptr);
    w.module = module;
    uint8_t flags = desc.flags;
    DWORD style = style_for(flags);
    DWORD ex_style = (flags & window_topmost) ? WS_EX_TOPMOST : 0;
    int cw = desc.width < 1 ? 1 : desc.width;
    int ch = desc.height < 1 ? 1 : desc.height;
    int ow = cw, oh = ch;
    outer_size(flags, style, cw, ch, 0, ow, oh);
    int px = (x && y) ? *x : CW_USEDEFAULT;
    int py = (x && y) ? *y : CW_USEDEFAULT;
    std::wstring title = wide_z(desc.title);
    HWND hwnd = CreateWindowExW(ex_style, class_name, title.c_str(), style, px, py, ow, oh, nullptr, nullptr,
                                module, &w);
    if (!hwnd) {
        if (err) *err = "cannot create the window: " + win_error_text(GetLastError());
        return false;
    }
    w.native = hwnd;
    UINT dpi = GetDpiForWindow(hwnd);
    w.dpi_scale = float(dpi ? dpi : 96) / 96.0f;
    if (desc.scale_with_dpi) {
        cw = dpi_scaled(cw, w.dpi_scale);
        ch = dpi_scaled(ch, w.dpi_scale);
    }
    outer_size(flags, style, cw, ch, dpi, ow, oh);
    SetWindowPos(hwnd, nullptr, 0, 0, ow, oh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(hwnd, &client);
    w.width = client.right - client.left;
    w.height = client.bottom - client.top;
    w.minimised = w.maximised = false;
    w.framed = !(flags & window_borderless);
    w.close_requested = false;
    w.focused = GetForegroundWindow() == hwnd;
    if (desc.has_bg && !w.brush) w.brush = CreateSolidBrush(RGB(desc.bg_r, desc.bg_g, desc.bg_b));

    bool shown = false;
    if ((flags & window_no_activate) && !(flags & window_start_hidden)) {
        SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        shown = true;
    } else if (!(flags & window_start_hidden)) {
        ShowWindow(hwnd, (flags & window_start_maximised) ? SW_SHOWMAXIMIZED : SW_SHOW);
        shown = true;
    }
    if (shown && w.brush) UpdateWindow(hwnd);
    if (flags & window_start_fullscreen) enter_fullscreen(w);
    w.changes = 0;
    w.events.clear();
    return true;
}

void destroy_window(Window& w) {
    if (w.native) DestroyWindow(hwnd_of(w));
    if (w.brush) DeleteObject(static_cast<HBRUSH>(w.brush));
    w = Window{};
}

void window_pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void enter_fullscreen(Window& w) {
    HWND hwnd = hwnd_of(w);
    if (w.fullscreen || !hwnd) return;
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info);
    style &= ~LONG_PTR(WS_POPUP | WS_VISIBLE | WS_OVERLAPPEDWINDOW);
    style |= WS_POPUP | WS_VISIBLE;
    SetWindowLongPtrW(hwnd, GWL_STYLE, style);
    const RECT& r = info.rcMonitor;
    SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
    w.fullscreen = true;
    w.framed = false;
}

bool message_box(const std::string& title, const std::string& text) {
    return MessageBoxW(nullptr, wide_z(text).c_str(), wide_z(title).c_str(), MB_OK | MB_ICONERROR) != 0;
}

void window_apply_cursor(Window& w) {
    if (w.hovered) SetCursor(load_cursor(w));
}
