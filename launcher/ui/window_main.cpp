#include "launcher/ui/window_main.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "engine/kt_input/state.h"
#include "engine/kt_render/renderer.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"
#include "launcher/core/start_trace.h"
#include "launcher/core/task.h"
#include "launcher/core/ui_fonts.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/game.h"
#include "launcher/ui/background.h"
#include "launcher/ui/ui.h"

namespace {

void set_fonts(App& app, const Ui_Fonts& f) {
    app.ui.font = f.regular;
    app.ui.small_font = f.small;
    app.ui.bold_font = f.bold;
    app.ui.title_font = f.heading;
}

// The frames to run before closing by itself (tests and CI); 0 = no limit.
int64_t frame_limit() {
    int64_t n = 0;
    std::string text = env_get("QM_EXIT_AFTER_FRAMES");
    if (text.empty() || !parse_int(text, n) || n < 0) return 0;
    return n;
}

// QM_PAGE_SHOTS=FOLDER: once the frame limit is reached, every page is drawn
// in English, Japanese and German and written there as ui_<page>_<lang>.png
// (for the tests and the README); then the window closes.
constexpr std::string_view shot_languages[] = {"en", "ja", "de"};
constexpr std::string_view shot_pages[page_count] = {"home",          "cross_compile", "game_options",
                                                     "build_options", "features",      "input_map"};
constexpr int shot_count = int(std::size(shot_languages)) * page_count;
// Frames drawn before a capture: the language switch, the new fonts'
// glyphs uploaded, the page settled.
constexpr int shot_frames = 3;

struct Page_Shots {
    std::string folder;
    int next = 0, frames = 0;
};

// After a frame past the limit: asks for the next page and language, or
// writes the frame it asked for. False once every page was written.
bool page_shot_step(Page_Shots& shots, App& app, Backend& backend) {
    if (shots.next >= shot_count) return false;
    const int lang = shots.next / page_count, page = shots.next % page_count;
    if (shots.frames == 0) {
        app.shared.language_request = language_index(shot_languages[lang]);
        app.shared.current_page = Page(page);
    }
    if (++shots.frames <= shot_frames) return true;
    std::string name = "ui_" + std::string(shot_pages[page]) + "_" + std::string(shot_languages[lang]) + ".png";
    std::string path = path_join({shots.folder, name});
    if (!window_screenshot(backend, path)) {
        std::fprintf(stderr, "Quillmarsh: no screenshot could be written to %s\n", path.c_str());
    }
    shots.frames = 0;
    return ++shots.next < shot_count;
}

// QM_MESSAGE_BOX_LOG=FILE (tests): a message box's title and text are
// written there instead of shown.
void record_message_boxes(App& app) {
    std::string log = env_get("QM_MESSAGE_BOX_LOG");
    if (log.empty()) return;
    app.procs.message_box = [log](std::string_view title, std::string_view text) {
        fs_write(log, std::string(title) + "\n" + std::string(text) + "\n");
    };
}

}  // namespace

std::string no_renderer_text(const Renderer_Report& report) {
    std::string reason = "no renderer was tried";
    for (int i = 0; i < report.attempt_count; ++i) {
        const Backend_Attempt& a = report.attempts[i];
        if (!a.create_called) {
            reason = a.probe.text.empty() ? "Vulkan is not available" : a.probe.text;
        } else if (a.create_error == Create_Error::Not_A_Native_Window) {
            reason = "Vulkan cannot draw into this window";
        } else {
            reason = "the Vulkan device (" + a.probe.device + ") could not be set up";
        }
    }
    return cannot_draw_text(reason);
}

std::string cannot_draw_text(std::string_view reason) {
    return "Quillmarsh cannot draw its window (" + std::string(reason) +
           "): update the graphics driver, or use the command-line modes (such as --check and --build), which "
           "still work.";
}

int window_main() {
    // Started from Explorer: no empty console beside the window.
    console_release_if_own();

    // The window.
    static Window window;
    Window_Desc desc;
    desc.title = "Quillmarsh";
    desc.width = 1080;
    desc.height = 760;
    desc.min_width = 940;
    desc.min_height = 640;
    desc.bg_r = desc.bg_g = desc.bg_b = 0xF3;
    desc.has_bg = true;
    // The interface is drawn at the display's scale: so is the window.
    desc.scale_with_dpi = true;
    if (!make_window(window, desc)) {
        std::fputs("Quillmarsh: could not open a window\n", stderr);
        std::fflush(stderr);
        return 1;
    }

    start_trace("window open");

    // The renderer over the window; the empty backend when none can be made.
    static Renderer renderer;
    static constexpr Backend_Kind requested[] = {Backend_Kind::Vulkan};
    static App app;
    record_message_boxes(app);
    Renderer_Report report =
        renderer_create(renderer, &window, window.width, window.height, window_backends(), requested);
    auto tell = [](const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        if (app.procs.message_box) app.procs.message_box("Quillmarsh", text);
    };
    if (!renderer.backend.render) {
        // An empty window would tell the player nothing.
        tell(no_renderer_text(report));
        draw_list_destroy(renderer);
        destroy_window(window);
        return 1;
    }
    start_trace("renderer made");
    // QM_SCREENSHOT: the last frame is written there as a PNG file.
    const std::string screenshot = env_get("QM_SCREENSHOT");
    bool screenshot_written = false;
    Page_Shots shots{env_get("QM_PAGE_SHOTS")};
    if (!screenshot.empty() || !shots.folder.empty()) window_capture_frames(renderer.backend);

    // Fonts: the system's over the embedded stand-ins.
    static Library library;
    Ui_Font_Names names = add_startup_fonts(library, env_get("WINDIR"));
    app.ui.window = &window;
    app.ui.scale = std::max(1.0f, window.dpi_scale);
    app.ui.draw_list = &renderer.draw_list;
    static Ui_Fonts fonts;
    auto load_fonts = [names](App& a) {
        const auto& order = language_table[language].cjk_order;
        ui_fonts_load(fonts, library, renderer, names, a.ui.scale, {order.data(), order.size()});
        set_fonts(a, fonts);
    };
    load_fonts(app);
    app.procs.reload_fonts = load_fonts;
    start_trace("fonts made");

    // The background effect: off when a shader cannot be made.
    static Background_Pass background;
    background_start(background, renderer.backend, library,
                     {window_shader("background"), window_shader("panel"), window_shader("blur")});
    app.procs.draw_background = [](App& a) {
        background_draw(background, renderer, a.ui.scale);
        a.ui.panel_effect = background_on(background) && background.eighth_a != 0;
        a.ui.panel_shader = background.panel_shader;
        a.ui.panel_texture = background.eighth_a;
    };

    window_warm_pipelines(renderer.backend, background);
    start_trace("launcher shaders made");

    // The first check of the game and the toolchain: it shows as running
    // from the first frame, and its work begins once that frame is on
    // screen (its files and child processes would only slow the frame).
    task_start_held("Checking", find_game, 0);
    start_trace("task started");

    static Input_State input{};
    static Shown_Frame shown;
    Pad_Poll pads;
    int64_t last_active = clock_ns();
    const int64_t limit = frame_limit();
    int exit_code = 0;
    for (int64_t frame = 1;; ++frame) {
        if (window.close_requested) break;
        int64_t frame_start = clock_ns();
        window_pump();
        uint8_t changes = window_take_changes(window);
        size_t events = window.events.size();
        input_update(window, input, pads);
        if (changes & change_resized) renderer_resize(renderer, window.width, window.height);
        // Moved to a display of another scale: the system has sized the
        // window for it; the fonts follow (the background with the scale).
        if ((changes & change_dpi) && std::max(1.0f, window.dpi_scale) != app.ui.scale) {
            app.ui.scale = std::max(1.0f, window.dpi_scale);
            load_fonts(app);
        }
        app.width = window.width;
        app.height = window.height;
        bool running = the_task().running.load() != 0;
        if (changes || events || running || ui_modal(app.shared)) last_active = frame_start;

        ui_frame(app, input, frame_start);
        if (frame == 1) start_trace("first interface frame built");

        if (app.ui.cursor != window.cursor) {
            window.cursor = app.ui.cursor;
            window_apply_cursor(window);
        }
        // A frame with the picture on screen already costs nothing more.
        render_changed(renderer, shown, changes != 0);
        if (frame == 1) start_trace("first frame presented");
        if (window_device_lost(renderer.backend)) {
            // Nothing will be drawn any more: say so, then close as asked to.
            tell(cannot_draw_text("the graphics device stopped answering"));
            exit_code = 1;
            break;
        }
        if (limit > 0 && frame >= limit) {
            if (frame == limit && !screenshot.empty()) {
                screenshot_written = true;
                if (!window_screenshot(renderer.backend, screenshot)) {
                    std::fprintf(stderr, "Quillmarsh: no screenshot could be written to %s\n", screenshot.c_str());
                }
            }
            if (shots.folder.empty() || !page_shot_step(shots, app, renderer.backend)) break;
        }
        if (frame == 1) task_release();

        int64_t now = clock_ns();
        int64_t remaining = frame_interval_ns(now, last_active) - (now - frame_start);
        if (remaining > 0) sleep_ms(remaining / 1'000'000);
    }

    if (!screenshot.empty() && !screenshot_written && !window_screenshot(renderer.backend, screenshot)) {
        std::fprintf(stderr, "Quillmarsh: no screenshot could be written to %s\n", screenshot.c_str());
    }

    // Shut-down: the task ends first (its children stopped), the window
    // stays until it has.
    Task& t = the_task();
    if (t.running.load()) task_cancel(t);
    if (t.thread.started()) {
        while (t.running.load()) sleep_ms(10);
    }
    start_trace("task ended");
    // The last change's files are on the disk before the window goes.
    save_settings_wait();
    cfg_rewrite_wait();
    background_stop(background, renderer.backend);
    ui_fonts_destroy(fonts);
    draw_list_destroy(renderer);
    destroy_window(window);
    start_trace("shut down");
    // Validation on (tests): an error it reported fails the run.
    return window_backend_errors() > 0 ? 1 : exit_code;
}
