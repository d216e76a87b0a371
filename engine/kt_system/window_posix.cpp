// The window on Linux: one SDL window per `Window`, found through the SDL
// window's data slot. SDL's window, keyboard, text and mouse events fill the
// record and its queue the way the Windows back end's messages do:
// the same change bits, keys, text rule and wheel units. Borderless windows
// use SDL's hit-test callback with the same edge rule.
#include "engine/kt_system/window.h"

#include <SDL.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "engine/kt_system/dynlib.h"
#include "engine/kt_system/utf.h"

namespace {

const char data_key[] = "kt_window";

bool start_video(std::string* err) {
    static bool started = false;
    if (started) return true;
    // Ctrl+C stays the process's own business, and closing the last window
    // only asks the application to close it.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (err) *err = std::string("cannot start the window system: ") + SDL_GetError();
        return false;
    }
    started = true;
    return true;
}

SDL_Window* sdl_of(const Window& w) { return static_cast<SDL_Window*>(w.native); }

Window* window_for_id(Uint32 id) {
    SDL_Window* s = SDL_GetWindowFromID(id);
    return s ? static_cast<Window*>(SDL_GetWindowData(s, data_key)) : nullptr;
}

// The desktop's scale on X11, Xft.dpi / 96 from the X server's resources
// (what the desktop's own programs follow); 1 without it or elsewhere.
// Read once, through libX11 as SDL itself loads it.
float display_scale() {
    static float scale = 0;
    if (scale > 0) return scale;
    scale = 1.0f;
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0) return scale;
    Dyn_Lib x11 = lib_open("libX11.so.6");
    using Open = void* (*)(const char*);
    using Resources = char* (*)(void*);
    using Close = int (*)(void*);
    auto open = reinterpret_cast<Open>(lib_symbol(x11, "XOpenDisplay"));
    auto resources = reinterpret_cast<Resources>(lib_symbol(x11, "XResourceManagerString"));
    auto close = reinterpret_cast<Close>(lib_symbol(x11, "XCloseDisplay"));
    if (open && resources && close) {
        if (void* display = open(nullptr)) {
            const char* text = resources(display);
            float dpi = text ? xft_dpi(text) : 0;
            if (dpi > 0) scale = dpi / 96.0f;
            close(display);
        }
    }
    lib_close(x11);
    return scale;
}

// Pixels per SDL window unit (1 on X11; more on a scaled Wayland output).
float pixel_ratio(SDL_Window* s) {
    int w = 0, h = 0, pw = 0, ph = 0;
    SDL_GetWindowSize(s, &w, &h);
    SDL_GetWindowSizeInPixels(s, &pw, &ph);
    return w > 0 && pw > 0 ? float(pw) / float(w) : 1.0f;
}

// Reads the client size and the scale again; sets the bits that changed.
void refresh_size(Window& w) {
    SDL_Window* s = sdl_of(w);
    int pw = 0, ph = 0;
    SDL_GetWindowSizeInPixels(s, &pw, &ph);
    if (pw != w.width || ph != w.height) {
        w.width = pw;
        w.height = ph;
        w.changes |= change_resized;
    }
    w.pixel_ratio = pixel_ratio(s);
    float scale = w.pixel_ratio * display_scale();
    if (std::fabs(scale - w.dpi_scale) > 1e-3f) {
        w.dpi_scale = scale;
        w.changes |= change_dpi;
    }
}

SDL_HitTestResult SDLCALL hit_test(SDL_Window*, const SDL_Point* p, void* data) {
    Window& w = *static_cast<Window*>(data);
    float r = w.pixel_ratio;
    int dpi = int(std::lround(96.0f * w.dpi_scale));
    switch (window_hit(w, int(float(p->x) * r), int(float(p->y) * r), dpi, w.maximised)) {
    case Hit::Client: return SDL_HITTEST_NORMAL;
    case Hit::Caption: return SDL_HITTEST_DRAGGABLE;
    case Hit::Left: return SDL_HITTEST_RESIZE_LEFT;
    case Hit::Right: return SDL_HITTEST_RESIZE_RIGHT;
    case Hit::Top: return SDL_HITTEST_RESIZE_TOP;
    case Hit::Bottom: return SDL_HITTEST_RESIZE_BOTTOM;
    case Hit::Top_Left: return SDL_HITTEST_RESIZE_TOPLEFT;
    case Hit::Top_Right: return SDL_HITTEST_RESIZE_TOPRIGHT;
    case Hit::Bottom_Left: return SDL_HITTEST_RESIZE_BOTTOMLEFT;
    case Hit::Bottom_Right: return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
    }
    return SDL_HITTEST_NORMAL;
}

SDL_Cursor* system_cursor(Cursor c) {
    static SDL_Cursor* made[5] = {};
    static const SDL_SystemCursor kinds[5] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_HAND, SDL_SYSTEM_CURSOR_IBEAM,
                                              SDL_SYSTEM_CURSOR_CROSSHAIR, SDL_SYSTEM_CURSOR_SIZEWE};
    unsigned i = unsigned(c);
    if (i >= 5) return nullptr;
    if (!made[i]) made[i] = SDL_CreateSystemCursor(kinds[i]);
    return made[i];
}

void window_event(Window& w, const SDL_WindowEvent& e) {
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
        w.close_requested = true;
        w.changes |= change_close;
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_DISPLAY_CHANGED:
        refresh_size(w);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        w.focused = true;
        w.changes |= change_focus_gained;
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        w.focused = false;
        w.changes |= change_focus_lost;
        queue_input(w, Input_Event_Kind::Focus_Lost);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        if (!w.minimised) w.changes |= change_minimised;
        w.minimised = true;
        break;
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
        if (w.minimised) {
            w.minimised = false;
            w.changes |= change_restored;
        }
        w.maximised = e.event == SDL_WINDOWEVENT_MAXIMIZED;
        refresh_size(w);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        w.changes |= change_exposed;
        break;
    case SDL_WINDOWEVENT_ENTER:
        w.hovered = true;
        window_apply_cursor(w);
        break;
    case SDL_WINDOWEVENT_LEAVE:
        w.hovered = false;
        break;
    default:
        break;
    }
}

Mouse_Button button_of(Uint8 b) {
    switch (b) {
    case SDL_BUTTON_LEFT: return Mouse_Button::Left;
    case SDL_BUTTON_RIGHT: return Mouse_Button::Right;
    case SDL_BUTTON_MIDDLE: return Mouse_Button::Middle;
    case SDL_BUTTON_X1: return Mouse_Button::Back;
    case SDL_BUTTON_X2: return Mouse_Button::Forward;
    default: return Mouse_Button::Extra;
    }
}

void dispatch(const SDL_Event& e) {
    switch (e.type) {
    case SDL_WINDOWEVENT:
        if (Window* w = window_for_id(e.window.windowID)) window_event(*w, e.window);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (Window* w = window_for_id(e.key.windowID)) {
            Key key = key_from_sdl(e.key.keysym.scancode, e.key.keysym.sym);
            if (key == Key::None) break;
            Input_Event_Kind kind = e.type == SDL_KEYUP ? Input_Event_Kind::Key_Up
                                    : e.key.repeat      ? Input_Event_Kind::Key_Repeat
                                                        : Input_Event_Kind::Key_Down;
            queue_input(*w, kind, key);
        }
        break;
    case SDL_TEXTINPUT:
        if (Window* w = window_for_id(e.text.windowID)) {
            for (char16_t unit : utf16_from_utf8(e.text.text)) window_text_unit(*w, uint16_t(unit));
        }
        break;
    case SDL_MOUSEMOTION:
        if (Window* w = window_for_id(e.motion.windowID)) {
            Input_Event m;
            m.kind = Input_Event_Kind::Mouse_Move;
            m.x = float(e.motion.x) * w->pixel_ratio;
            m.y = float(e.motion.y) * w->pixel_ratio;
            queue_input(*w, m);
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        // SDL holds the mouse for the window while a button is down.
        if (Window* w = window_for_id(e.button.windowID)) {
            queue_input(*w, e.type == SDL_MOUSEBUTTONDOWN ? Input_Event_Kind::Mouse_Down : Input_Event_Kind::Mouse_Up,
                       Key::None, button_of(e.button.button));
        }
        break;
    case SDL_MOUSEWHEEL:
        if (Window* w = window_for_id(e.wheel.windowID)) {
            float flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
            Input_Event m;
            m.kind = Input_Event_Kind::Wheel;
            m.x = e.wheel.preciseX * flip;   // one notch = 1, as 120 units are on Windows
            m.y = e.wheel.preciseY * flip;
            queue_input(*w, m);
        }
        break;
    default:
        break;
    }
}

}  // namespace

float xft_dpi(const char* resources) {
    std::string_view text = resources;
    constexpr std::string_view name = "Xft.dpi:";
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.starts_with(name)) continue;
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        float dpi = 0;
        auto [rest, ec] = std::from_chars(line.data(), line.data() + line.size(), dpi);
        return ec == std::errc{} && dpi > 0 && std::isfinite(dpi) ? dpi : 0.0f;
    }
    return 0.0f;
}

Key key_from_sdl(int scancode, int keycode) {
    // Letters, digits and punctuation follow the layout, as virtual keys do.
    if (keycode >= 'a' && keycode <= 'z') return Key(int(Key::A) + keycode - 'a');
    if (keycode >= '0' && keycode <= '9') return Key(int(Key::Num_0) + keycode - '0');
    static const struct {
        char c;
        Key key;
    } punctuation[] = {
        {'\'', Key::Apostrophe}, {',', Key::Comma},        {'-', Key::Minus},     {'.', Key::Period},
        {'/', Key::Slash},       {';', Key::Semicolon},    {'=', Key::Equal},     {'[', Key::Left_Bracket},
        {'\\', Key::Backslash},  {']', Key::Right_Bracket}, {'`', Key::Grave},
    };
    for (const auto& p : punctuation) {
        if (keycode == p.c) return p.key;
    }
    // Everything else by its place on the keyboard.
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return Key(int(Key::A) + scancode - SDL_SCANCODE_A);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return Key(int(Key::Num_1) + scancode - SDL_SCANCODE_1);
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return Key(int(Key::F1) + scancode - SDL_SCANCODE_F1);
    if (scancode >= SDL_SCANCODE_F13 && scancode <= SDL_SCANCODE_F24) return Key(int(Key::F13) + scancode - SDL_SCANCODE_F13);
    if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) return Key(int(Key::Kp_1) + scancode - SDL_SCANCODE_KP_1);
    static const struct {
        int scancode;
        Key key;
    } table[] = {
        {SDL_SCANCODE_0, Key::Num_0},
        {SDL_SCANCODE_RETURN, Key::Enter},
        {SDL_SCANCODE_ESCAPE, Key::Escape},
        {SDL_SCANCODE_BACKSPACE, Key::Backspace},
        {SDL_SCANCODE_TAB, Key::Tab},
        {SDL_SCANCODE_SPACE, Key::Space},
        {SDL_SCANCODE_MINUS, Key::Minus},
        {SDL_SCANCODE_EQUALS, Key::Equal},
        {SDL_SCANCODE_LEFTBRACKET, Key::Left_Bracket},
        {SDL_SCANCODE_RIGHTBRACKET, Key::Right_Bracket},
        {SDL_SCANCODE_BACKSLASH, Key::Backslash},
        {SDL_SCANCODE_SEMICOLON, Key::Semicolon},
        {SDL_SCANCODE_APOSTROPHE, Key::Apostrophe},
        {SDL_SCANCODE_GRAVE, Key::Grave},
        {SDL_SCANCODE_COMMA, Key::Comma},
        {SDL_SCANCODE_PERIOD, Key::Period},
        {SDL_SCANCODE_SLASH, Key::Slash},
        {SDL_SCANCODE_CAPSLOCK, Key::Caps_Lock},
        {SDL_SCANCODE_PRINTSCREEN, Key::Print_Screen},
        {SDL_SCANCODE_SCROLLLOCK, Key::Scroll_Lock},
        {SDL_SCANCODE_PAUSE, Key::Pause},
        {SDL_SCANCODE_INSERT, Key::Insert},
        {SDL_SCANCODE_HOME, Key::Home},
        {SDL_SCANCODE_PAGEUP, Key::Page_Up},
        {SDL_SCANCODE_DELETE, Key::Delete},
        {SDL_SCANCODE_END, Key::End},
        {SDL_SCANCODE_PAGEDOWN, Key::Page_Down},
        {SDL_SCANCODE_RIGHT, Key::Right},
        {SDL_SCANCODE_LEFT, Key::Left},
        {SDL_SCANCODE_DOWN, Key::Down},
        {SDL_SCANCODE_UP, Key::Up},
        {SDL_SCANCODE_NUMLOCKCLEAR, Key::Num_Lock},
        {SDL_SCANCODE_KP_DIVIDE, Key::Kp_Divide},
        {SDL_SCANCODE_KP_MULTIPLY, Key::Kp_Multiply},
        {SDL_SCANCODE_KP_MINUS, Key::Kp_Subtract},
        {SDL_SCANCODE_KP_PLUS, Key::Kp_Add},
        {SDL_SCANCODE_KP_ENTER, Key::Kp_Enter},
        {SDL_SCANCODE_KP_0, Key::Kp_0},
        {SDL_SCANCODE_KP_PERIOD, Key::Kp_Decimal},
        {SDL_SCANCODE_KP_EQUALS, Key::Kp_Equal},
        {SDL_SCANCODE_APPLICATION, Key::Menu},
        {SDL_SCANCODE_LCTRL, Key::Left_Ctrl},
        {SDL_SCANCODE_LSHIFT, Key::Left_Shift},
        {SDL_SCANCODE_LALT, Key::Left_Alt},
        {SDL_SCANCODE_LGUI, Key::Left_Super},
        {SDL_SCANCODE_RCTRL, Key::Right_Ctrl},
        {SDL_SCANCODE_RSHIFT, Key::Right_Shift},
        {SDL_SCANCODE_RALT, Key::Right_Alt},
        {SDL_SCANCODE_RGUI, Key::Right_Super},
    };
    for (const auto& row : table) {
        if (row.scancode == scancode) return row.key;
    }
    return Key::None;
}

bool make_window(Window& w, const Window_Desc& desc, const int* x, const int* y, std::string* err) {
    if (!start_video(err)) return false;
    w = Window{};
    w.desc = desc;
    uint8_t flags = desc.flags;
    Uint32 sdl_flags = SDL_WINDOW_ALLOW_HIGHDPI;
    if (flags & window_borderless) sdl_flags |= SDL_WINDOW_BORDERLESS;
    if (!(flags & window_fixed_size)) sdl_flags |= SDL_WINDOW_RESIZABLE;
    if (flags & window_start_maximised) sdl_flags |= SDL_WINDOW_MAXIMIZED;
    if (flags & window_start_hidden) sdl_flags |= SDL_WINDOW_HIDDEN;
    if (flags & window_topmost) sdl_flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, (flags & window_no_activate) ? "1" : "0");
    // SDL's sizes are in window units: on X11 pixels at the desktop's scale.
    const float units = desc.scale_with_dpi ? display_scale() : 1.0f;
    int cw = dpi_scaled(desc.width < 1 ? 1 : desc.width, units);
    int ch = dpi_scaled(desc.height < 1 ? 1 : desc.height, units);
    int px = (x && y) ? *x : int(SDL_WINDOWPOS_UNDEFINED);
    int py = (x && y) ? *y : int(SDL_WINDOWPOS_UNDEFINED);
    // A window that can carry a Vulkan surface when the loader is there.
    SDL_Window* s = SDL_CreateWindow(desc.title.c_str(), px, py, cw, ch, sdl_flags | SDL_WINDOW_VULKAN);
    w.vulkan_ready = s != nullptr;
    if (!s) s = SDL_CreateWindow(desc.title.c_str(), px, py, cw, ch, sdl_flags);
    if (!s) {
        if (err) *err = std::string("cannot create the window: ") + SDL_GetError();
        return false;
    }
    w.native = s;
    SDL_SetWindowData(s, data_key, &w);
    if (desc.min_width > 0 || desc.min_height > 0) {
        SDL_SetWindowMinimumSize(s, dpi_scaled(desc.min_width, units), dpi_scaled(desc.min_height, units));
    }
    if (flags & window_borderless) SDL_SetWindowHitTest(s, hit_test, &w);
    w.pixel_ratio = pixel_ratio(s);
    w.dpi_scale = w.pixel_ratio * display_scale();
    SDL_GetWindowSizeInPixels(s, &w.width, &w.height);
    w.framed = !(flags & window_borderless);
    w.focused = (SDL_GetWindowFlags(s) & SDL_WINDOW_INPUT_FOCUS) != 0;
    if (flags & window_start_fullscreen) enter_fullscreen(w);
    SDL_StartTextInput();
    w.changes = 0;
    return true;
}

void destroy_window(Window& w) {
    if (SDL_Window* s = sdl_of(w)) {
        SDL_SetWindowData(s, data_key, nullptr);
        SDL_DestroyWindow(s);
    }
    w = Window{};
}

void window_pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) dispatch(e);
}

void enter_fullscreen(Window& w) {
    SDL_Window* s = sdl_of(w);
    if (w.fullscreen || !s) return;
    SDL_SetWindowFullscreen(s, SDL_WINDOW_FULLSCREEN_DESKTOP);
    w.fullscreen = true;
    w.framed = false;
}

bool message_box(const std::string& title, const std::string& text) {
    return start_video(nullptr) &&
           SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr) == 0;
}

void window_apply_cursor(Window& w) {
    if (!w.hovered) return;
    if (w.cursor_hidden) {
        SDL_ShowCursor(SDL_DISABLE);
        return;
    }
    SDL_ShowCursor(SDL_ENABLE);
    if (SDL_Cursor* c = system_cursor(w.cursor)) SDL_SetCursor(c);
}
