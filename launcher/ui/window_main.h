// The window's start-up, its main loop and its shut-down: what the
// launcher does when no command-line mode was asked for.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/kt_render/backend.h"

// Opens the window, the renderer, the fonts, starts the task "Checking" and
// runs frames until the window is closed (or QM_EXIT_AFTER_FRAMES frames
// have run), then shuts down. The process's exit code: 0 after a normal
// close, 1 when no window could be made ("Quillmarsh: could not open a
// window" on standard error), or when nothing can draw in it (no renderer
// backend, or its device lost: the player is told in a message box and on
// standard error).
int window_main();

// The frame interval: 60 frames a second while something happened within
// the last second, 20 after.
inline constexpr int64_t active_interval_ns = 16'667'000;
inline constexpr int64_t idle_interval_ns = 50'000'000;
inline int64_t frame_interval_ns(int64_t now, int64_t last_active) {
    return now - last_active < 1'000'000'000 ? active_interval_ns : idle_interval_ns;
}

// What the player reads when no renderer backend could be made: one
// sentence with the renderer's reason and what to do.
std::string no_renderer_text(const Renderer_Report& report);
// That sentence for a reason.
std::string cannot_draw_text(std::string_view reason);

// The renderer backends the window asks for, in order.
std::span<const Backend_Desc> window_backends();
// Starts making the pipelines the first frame draws with, on threads of
// their own, while the first frame is built.
struct Background_Pass;
void window_warm_pipelines(Backend& b, const Background_Pass& bg);
// Screenshots for tests and the README: keeps a copy of every frame, and
// writes the last one as a PNG file (false when there is none).
void window_capture_frames(Backend& b);
bool window_screenshot(Backend& b, const std::string& path);
// The backend's code of one of the launcher's shaders ("background",
// "panel") or post effects ("blur"); no code when it has none.
Shader_Desc window_shader(std::string_view name);
// The backend's device was lost: it draws nothing any more.
bool window_device_lost(Backend& b);
// Errors the backend's validation reported during the run.
int window_backend_errors();
