// Runs whole interface frames without a window: the real fonts over the
// in-memory backend, scripted input, the world the interface reads set by
// the test, and every side effect recorded instead of done.
#pragma once
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "launcher/core/ui_fonts.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"
#include "tests/support/fake_backend.h"


// A picture's path under screenshots/ of the build folder (of the working
// folder when run by hand), the folder made.
inline std::string screenshot_path(std::string_view name) {
    std::string dir = env_get("QM_BINARY_DIR");
    if (dir.empty()) dir = ".";
    dir = path_join({dir, "screenshots"});
    fs_make_dirs(dir);
    return path_join({dir, std::string(name)});
}

struct Ui_World {
    bool task_running = false, game_running = false, deps_checked = true;
    Game_State game;
    Dependency deps[2];
    std::vector<Compiler> compilers{{"/usr/bin/clang", true, "Clang 16"}};
    std::string built_exe;
    bool stale = false, outdated = false;
    std::string game_dir = "/games/EMBERFALL SAGA";
    bool fsr4_present = false;
    std::string options_sig = "options a", built_options_sig = "options a";
    std::string lld = "/usr/bin/ld.lld";
    int64_t cores = 8;
    int64_t old_assets = 0, old_asset_bytes = 0, zip_bytes = 0;
    std::string hd_zip;
    bool hd_gui = false, hd_discarded = false;
    Features_State features;
    std::string task_name, task_step;   // the running task's name and step
    Cross_Toolchain cross{"/usr/bin/clang", "/usr/bin/ld.lld", ""};
    std::vector<std::string> files;   // what is_file finds
    // The system's file dialog: "not available" unless a test answers.
    File_Dialog_Result dialog_answer{{}, false, "not available"};
};

inline Dependency dep(std::string name, std::string role, std::string found, std::string status, bool ok) {
    Dependency d;
    d.name = std::move(name);
    d.role = std::move(role);
    d.found = std::move(found);
    d.status = std::move(status);
    d.ok = ok;
    return d;
}

struct Started {
    std::string name;
    Task_Proc proc = nullptr;
    uint64_t data = 0;
};

// One renderer and one set of fonts per interface scale for the whole
// program, so glyphs are rasterised once.
struct Ui_Kit {
    Renderer renderer;
    Library lib;
    Ui_Fonts fonts;
    explicit Ui_Kit(float scale) {
        draw_list_init(renderer, fake_backend_make(), 1080, 760);
        Ui_Font_Names names = add_startup_fonts(lib, "");
        ui_fonts_load(fonts, lib, renderer, names, scale, cjk_order_default);
    }
};
inline Ui_Kit& ui_kit(float scale = 1.0f) {
    // Live to the end of the program and never destroyed, so that the leak
    // check at exit still finds them through this pointer.
    static auto* kits = new std::vector<std::pair<float, Ui_Kit*>>;
    for (const auto& [s, kit] : *kits) {
        if (s == scale) return *kit;
    }
    kits->emplace_back(scale, new Ui_Kit(scale));
    return *kits->back().second;
}

struct Ui_Harness {
    Renderer& renderer;
    Ui_Fonts& fonts;
    App app;
    Ui_World world;
    Input_State input{};
    int64_t now = 1'000'000'000'000;
    std::vector<Started> started;
    std::vector<std::string> games_run;
    std::vector<std::string> opened;
    int cancels = 0, imports = 0, language_saves = 0, picks = 0;
    int settings_saves = 0, cfg_rewrites = 0, compilers_chosen = 0;
    std::vector<std::string> applied;                 // paths handed to pick_apply
    std::vector<std::string> dialog_titles, dialog_starts;
    std::vector<std::string> archives;                // imports started

    // A window of width x height pixels drawn at the interface scale.
    explicit Ui_Harness(int width = 1080, int height = 760, float scale = 1.0f)
        : renderer(ui_kit(scale).renderer), fonts(ui_kit(scale).fonts) {
        renderer_resize(renderer, width, height);
        app.ui.scale = scale;
        fake_state(renderer.backend).frame.clear();
        app.ui.draw_list = &renderer.draw_list;
        app.ui.font = fonts.regular;
        app.ui.small_font = fonts.small;
        app.ui.bold_font = fonts.bold;
        app.ui.title_font = fonts.heading;
        app.ui.trace_on = true;
        app.width = width;
        app.height = height;
        world.game.checked = true;
        world.game.ok = true;
        world.game.edition = "EN";
        world.deps[0] = dep("C compiler", "builds the game", "/usr/bin/clang", "Clang 16 works", true);
        world.deps[1] = dep("FFmpeg", "converts the cutscenes", "/usr/bin/ffmpeg", "has H.264", true);
        Ui_Procs& p = app.procs;
        p.task_running = [this] { return world.task_running; };
        p.game_running = [this] { return world.game_running; };
        p.game_state = [this] { return world.game; };
        p.dependency = [this](Dep_Kind k) { return world.deps[k == Dep_Kind::Compiler ? 0 : 1]; };
        p.deps_checked = [this] { return world.deps_checked; };
        p.compilers = [this] { return world.compilers; };
        p.built_exe = [this] { return world.built_exe; };
        p.build_stale = [this] { return world.stale; };
        p.build_outdated = [this] { return world.outdated; };
        p.game_dir = [this] { return world.game_dir; };
        p.task_start = [this](std::string_view name, Task_Proc proc, uint64_t data) {
            started.push_back({std::string(name), proc, data});
            return true;
        };
        p.task_cancel = [this] { ++cancels; };
        p.run_game = [this](std::string_view program, std::string_view) {
            games_run.emplace_back(program);
            return true;
        };
        p.shell_open = [this](std::string_view target) {
            opened.emplace_back(target);
            return true;
        };
        p.pick_with_dialog = [this](App&) { ++picks; };
        p.pick_apply = [this](App&, std::string_view path) {
            applied.emplace_back(path);
            return true;
        };
        p.fsr4_present = [this] { return world.fsr4_present; };
        p.options_sig = [this] { return world.options_sig; };
        p.built_options_sig = [this] { return world.built_options_sig; };
        p.find_lld = [this](std::string_view) { return world.lld; };
        p.core_count = [this] { return world.cores; };
        p.file_dialog = [this](App&, const File_Dialog_Request& rq) {
            dialog_titles.emplace_back(rq.title);
            dialog_starts.emplace_back(rq.start_folder);
            return world.dialog_answer;
        };
        p.compiler_chosen = [this] { ++compilers_chosen; };
        p.cross_toolchain = [this] { return world.cross; };
        p.is_file = [this](std::string_view path) {
            for (const std::string& f : world.files) {
                if (f == path) return true;
            }
            return false;
        };
        p.old_asset_count = [this] { return world.old_assets; };
        p.old_asset_bytes = [this] { return world.old_asset_bytes; };
        p.hd_zip = [this] { return world.hd_zip; };
        p.file_size = [this](std::string_view) { return world.zip_bytes; };
        p.hd_gui_imported = [this] { return world.hd_gui; };
        p.hd_discarded = [this] { return world.hd_discarded; };
        p.features_state = [this](const Settings&) { return world.features; };
        p.task_step = [this](std::string_view name, std::string& step) {
            if (!world.task_running || world.task_name != name) return false;
            step = world.task_step;
            return true;
        };
        p.save_settings = [this] {
            ++settings_saves;
            return true;
        };
        p.cfg_rewrite = [this] {
            ++cfg_rewrites;
            return true;
        };
        p.import_archive = [this](std::string_view a) {
            archives.emplace_back(a);
            return true;
        };
        p.cfg_import = [this] { ++imports; };
        p.save_language = [this] { ++language_saves; };
        p.reload_fonts = nullptr;
    }
    ~Ui_Harness() = default;
    Ui_Harness(const Ui_Harness&) = delete;
    Ui_Harness& operator=(const Ui_Harness&) = delete;

    // One frame; the input's per-frame bits end with it.
    Frame_Result frame(int64_t advance_ns = 16'000'000) {
        now += advance_ns;
        Frame_Result r = ui_frame(app, input, now);
        for (uint8_t& b : input.mouse_buttons) b &= input_down;
        input.wheel_y = 0;
        return r;
    }
    void move(int64_t x, int64_t y) {
        input.mouse_x = float(x);
        input.mouse_y = float(y);
    }
    // Press and release of the left button at a point, over two frames.
    void click_at(int64_t x, int64_t y) {
        move(x, y);
        input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
        frame();
        input.mouse_buttons[int(Mouse_Button::Left)] = input_released;
        frame();
    }
    // By English label, a tooltip by its id; of two, the one drawn last (on top).
    const Trace_Item* find(std::string_view label, Widget_Kind kind = Widget_Kind::Button) const {
        for (auto t = app.ui.trace.rbegin(); t != app.ui.trace.rend(); ++t) {
            if (t->kind == kind && (kind == Widget_Kind::Tooltip ? t->id : t->label) == label) return &*t;
        }
        return nullptr;
    }
    // Clicks the centre of the widget the last frame drew with this label.
    void click(std::string_view label, Widget_Kind kind = Widget_Kind::Button) {
        const Trace_Item* t = find(label, kind);
        ASSERT_NE(t, nullptr) << "no widget labelled " << label;
        click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
    }
    // Clicks row `index` of the open drop-down list.
    void choose_row(int64_t index) {
        Popup_Place p = popup_rect(app.ui);
        click_at(p.rect.x + p.rect.w / 2, p.rect.y + px(app.ui, 4) + index * p.row_height + p.row_height / 2);
        frame();
    }
    // Opens the drop-down `id` and clicks its row `index`.
    void choose(std::string_view id, int64_t index) {
        click(id, Widget_Kind::Dropdown);
        ASSERT_EQ(app.ui.popup_id, id);
        choose_row(index);
    }
    // A traced item by its id, the one drawn last.
    const Trace_Item* find_id(std::string_view id, Widget_Kind kind) const {
        for (auto t = app.ui.trace.rbegin(); t != app.ui.trace.rend(); ++t) {
            if (t->kind == kind && t->id == id) return &*t;
        }
        return nullptr;
    }
    bool started_task(std::string_view name) const {
        for (const Started& s : started) {
            if (s.name == name) return true;
        }
        return false;
    }
};
