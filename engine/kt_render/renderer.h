// The renderer front end: one backend followed by the frame's draw list.
// Everything that draws appends to the draw list; once a frame the owner
// hands it to the backend's render slot (ren_render).
#pragma once
#include <span>

#include "engine/kt_render/backend.h"
#include "engine/kt_render/draw_list.h"

struct Renderer {
    Backend backend;
    Draw_List draw_list;
};

// Copies the backend in and makes the draw list's arrays empty.
void draw_list_init(Renderer& r, const Backend& backend, int window_width, int window_height);
// Destroys the backend (its destroy slot, when set), frees the draw list and
// leaves the whole Renderer zeroed.
void draw_list_destroy(Renderer& r);
// A new window size, given to the draw list and the backend.
void renderer_resize(Renderer& r, int width, int height);

// The last frame the backend presented, kept so that a frame showing the
// same picture again is left out.
struct Shown_Frame {
    bool valid = false;
    uint64_t changes = 0;   // the backend's change count as it was presented
    Draw_List list;         // a copy of the presented draw list
};
// True when the draw list would draw what the backend shows already: the
// same commands, vertices, indices, uniform bytes and texture lists, the
// same clear and size, and no window size, texture or shader given to the
// backend since.
bool frame_shown(const Shown_Frame& shown, const Renderer& r);
// Hands the draw list to the backend unless `shown` says it shows that
// picture already and nothing else (`changed`: the window was resized,
// exposed, ...) asks for it; remembers a presented frame. False when the
// frame was left out.
bool render_changed(Renderer& r, Shown_Frame& shown, bool changed);

// Tries the requested kinds in order (at most 3 attempts): probe, then
// create. No kinds requested means [Vulkan]. When none can be made the
// Renderer works over the empty backend. The report says what was tried.
Renderer_Report renderer_create(Renderer& out, Window* window, int window_width, int window_height,
                                std::span<const Backend_Desc> descs, std::span<const Backend_Kind> requested);
