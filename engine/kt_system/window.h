// The platform window: one top-level window per `Window` record, its size,
// DPI scale, focus and state flags kept current from the window system, and
// its keyboard, mouse and text input queued as `Input_Event`s. Windows builds
// it on Win32 (window_windows.cpp), Linux on SDL2 (window_posix.cpp); this
// header names neither.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/kt_system/keys.h"

// Creation flags (Window_Desc::flags).
inline constexpr uint8_t window_borderless = 0x01;
inline constexpr uint8_t window_fixed_size = 0x02;
inline constexpr uint8_t window_start_maximised = 0x04;
inline constexpr uint8_t window_start_fullscreen = 0x08;
inline constexpr uint8_t window_start_hidden = 0x10;
inline constexpr uint8_t window_topmost = 0x20;
inline constexpr uint8_t window_no_activate = 0x40;   // shown at the bottom, not activated

// Change bits, set as things happen and taken once per frame.
inline constexpr uint8_t change_close = 0x01;
inline constexpr uint8_t change_resized = 0x02;
inline constexpr uint8_t change_focus_gained = 0x04;
inline constexpr uint8_t change_focus_lost = 0x08;
inline constexpr uint8_t change_minimised = 0x10;
inline constexpr uint8_t change_restored = 0x20;
inline constexpr uint8_t change_dpi = 0x40;
inline constexpr uint8_t change_exposed = 0x80;   // the system asks for the picture again

enum class Cursor : uint8_t { Arrow = 0, Hand = 1, Text = 2, Crosshair = 3, Resize_Horizontal = 4 };

// At most this many events wait in a window's queue; later ones are dropped.
inline constexpr size_t input_queue_cap = 4096;

struct Window_Desc {
    std::string title;
    int width = 0, height = 0;              // client size in pixels
    int min_width = 0, min_height = 0;      // 0 = no minimum
    uint8_t flags = 0;
    uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
    bool has_bg = false;
    // The sizes above are for a 96 DPI display and grow with the window's
    // DPI scale (never shrink below them): the window and its smallest size
    // keep their room for an interface drawn at that scale.
    bool scale_with_dpi = false;
};

struct Window;
// Returns 1 where the client point belongs to the caption (drags the window).
using Caption_Proc = int (*)(Window* w, int x, int y, void* user);

struct Window {
    Window_Desc desc;

    int width = 0, height = 0;   // client size in pixels, kept current
    float dpi_scale = 1.0f;      // DPI / 96
    float pixel_ratio = 1.0f;    // pixels per window-system unit (Linux: a scaled Wayland output)
    bool focused = false;
    bool minimised = false;
    bool maximised = false;
    bool fullscreen = false;
    bool framed = false;         // has a system frame (not borderless, not fullscreen)
    bool hovered = false;        // the pointer is over the client area
    bool close_requested = false;
    uint8_t changes = 0;         // change_* bits since the last window_take_changes

    std::vector<Input_Event> events;   // emptied by the input update after folding
    uint16_t pending_high = 0;         // high surrogate waiting for its low half

    Cursor cursor = Cursor::Arrow;
    bool cursor_hidden = false;

    Caption_Proc caption = nullptr;
    void* caption_user = nullptr;

    // The system's own objects. Windows: the HWND, the HINSTANCE and the
    // background HBRUSH. Linux: the SDL_Window (for the Vulkan surface) and
    // whether it was made able to carry one; `brush` is unused.
    void* native = nullptr;
    void* module = nullptr;
    void* brush = nullptr;
    bool vulkan_ready = false;
};

// Makes the system window for `desc` and fills `w` (which must stay at its
// address while the window exists). `x`, `y` place the window's outer
// top-left corner; nullptr for either = the system's choice. False when the
// window system cannot be started or the window cannot be made; `err` says why.
bool make_window(Window& w, const Window_Desc& desc, const int* x = nullptr, const int* y = nullptr,
                 std::string* err = nullptr);
// Destroys the system window and its brush; the record is left empty.
void destroy_window(Window& w);

// Handles every waiting window-system message (of every window of this
// thread) without blocking.
void window_pump();
// The change bits since the last call, cleared.
uint8_t window_take_changes(Window& w);

// Covers the monitor the window is on, without a frame. Nothing when it is
// already fullscreen. There is no way back: make the window again.
void enter_fullscreen(Window& w);
// Applies the window's cursor kind (or none when hidden) while the pointer
// is over it.
void window_apply_cursor(Window& w);

// Shows an error message in the system's message box and waits until the
// user closes it (Linux: SDL's, where a display answers). False when no
// box could be shown.
bool message_box(const std::string& title, const std::string& text);

// Appends an event unless `input_queue_cap` are already waiting.
void queue_input(Window& w, const Input_Event& e);
// The same for an event of a kind, with its key or button.
void queue_input(Window& w, Input_Event_Kind kind, Key key = Key::None, Mouse_Button button = Mouse_Button::Left);

// Where a client point of a borderless window lies.
enum class Hit : uint8_t {
    Client, Caption, Left, Right, Top, Bottom, Top_Left, Top_Right, Bottom_Left, Bottom_Right,
};
// The hit-test rule of borderless windows. Unless the window is fixed size,
// fullscreen or `zoomed`, a band of max(dpi, 96) * 5 / 96 pixels along each
// side resizes it (corners first); elsewhere the caption callback decides.
Hit window_hit(Window& w, int x, int y, int dpi, bool zoomed);

// Text input arrives in UTF-16 code units (WM_CHAR; the Linux back end
// feeds its UTF-8 text through the same rule). Queues a Text event for a
// complete code point; control characters are dropped; a high surrogate
// waits for its low half, and is forgotten when anything else follows.
void window_text_unit(Window& w, uint16_t unit);

// A length given for 96 DPI at a DPI scale: never below the length
// itself, rounded to whole pixels.
inline int dpi_scaled(int length, float scale) {
    return scale <= 1.0f ? length : int(float(length) * scale + 0.5f);
}

// Wheel notches from a system wheel delta (120 per notch), kept fractional
// for high-resolution wheels.
inline float wheel_notches(int delta) { return float(delta) / 120.0f; }

// Windows virtual-key code to `Key`. `extended` is bit 24 of the key
// message's lParam; `shift_vk` is what the scan code maps to (MapVirtualKeyW
// with MAPVK_VSC_TO_VK_EX), consulted for VK_SHIFT only. Key::None for a
// code without a key.
Key key_from_vk(unsigned vk, bool extended, unsigned shift_vk);

#ifdef _WIN32
// The outer size of a window whose client area is `width` x `height` at
// `dpi` (0 = the system's DPI): the client size itself when borderless.
// `style` is the window style (WS_*).
void outer_size(uint8_t flags, uint32_t style, int width, int height, unsigned dpi, int& outer_w, int& outer_h);
#else
// The Xft.dpi value of an X server's resource text ("Xft.dpi:\t144" on a
// line of its own); 0 when it holds none or no positive number.
float xft_dpi(const char* resources);
// SDL scan code (USB usage) and key code to `Key`: letters and digits follow
// the key code (the layout), everything else the scan code.
Key key_from_sdl(int scancode, int keycode);
#endif
