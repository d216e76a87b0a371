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

// Tries the requested kinds in order (at most 3 attempts): probe, then
// create. No kinds requested means [Vulkan]. When none can be made the
// Renderer works over the empty backend. The report says what was tried.
Renderer_Report renderer_create(Renderer& out, Window* window, int window_width, int window_height,
                                std::span<const Backend_Desc> descs, std::span<const Backend_Kind> requested);
