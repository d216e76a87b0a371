// The Cross-Compile page: the target and CPU of a build for another kind of
// computer, the phone preset of the options, the toolchain and the output
// the build uses, and the button that starts it.
#include <algorithm>

#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/ui/activity.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"

namespace {

// The options of a phone build (960x540 is entry 1 of the resolution list).
void apply_android_preset(Settings& s) {
    s.resolution = 1;
    s.fps = 60;
    s.graphics = 4;   // custom
    s.shadow_res = 512;
    s.aa_fxaa = true;
    s.aa_taa = false;
    s.aa_fsr = false;
    s.aa_fsr4 = false;
    s.aa_dlss = false;
    s.aa_quality = 1;
    s.aniso = false;
    s.memory_2gb = false;
    s.fx_full = false;
    s.minimap_circle = false;
    s.fullscreen = false;
    s.hdr = false;
    s.opt_level = 1;
    s.pipe_threads = 2;
}

// A status text of a row, traced under the row's id for readers without pixels.
void row_text(Ui_State& ui, std::string_view id, const Ui_Rect& r, std::string_view english, uint32_t colour,
              bool raw) {
    ui_trace(ui, Widget_Kind::Text, id, english, r, true, int64_t(colour));
    std::string text(raw ? english : shown(english));
    draw_label(ui, ui.font, ellipsize(ui.font, text, r.w), r, colour, false, true);
}

// A path beside a row, shortened to one line.
void row_path(Ui_State& ui, const Ui_Rect& r, std::string_view path, uint32_t colour) {
    if (r.w <= 0) return;
    draw_label(ui, ui.small_font, ellipsize(ui.small_font, path, r.w), r, colour, false, true);
}

// A row's description, wrapped to its lines.
void row_hint(Ui_State& ui, const Ui_Rect& r, std::string_view text, uint32_t colour) {
    if (r.w <= 0) return;
    note_text(ui, text, r, colour);
}

}  // namespace

void draw_cross(App& app, const Ui_Rect& c) {
    Ui_State& ui = app.ui;
    Ui_Procs& p = app.procs;
    bool busy = p.task_running();
    Settings s = settings_copy();
    const Cross_Target& target = cross_target_named(s.cross_target);
    std::string cpu = cross_cpu_named(target, s.cross_cpu);
    bool checked = p.deps_checked && p.deps_checked();
    Cross_Toolchain tc = p.cross_toolchain ? p.cross_toolchain() : Cross_Toolchain{};
    bool game_ok = p.game_state().ok;

    // Vertical layout.
    int64_t intro_h = px(ui, 24);
    int64_t rows = target.android ? 6 : 5;
    int64_t row_h = px(ui, 46);
    Ui_Rect panel{c.x, c.y + intro_h + px(ui, 8), c.w, rows * row_h + px(ui, 16)};
    int64_t button_row_y = c.y + c.h - px(ui, 44);
    int64_t appimage_y = button_row_y - px(ui, 16) - px(ui, 32);
    int64_t activity_bottom = target.android ? button_row_y - px(ui, 16) : appimage_y - px(ui, 10);
    Ui_Rect activity{c.x, panel.y + panel.h + px(ui, 10), c.w, 0};
    activity.h = std::max<int64_t>(activity_bottom - activity.y, 0);

    draw_label(ui, ui.font,
               ellipsize(ui.font,
                         std::string(shown("Builds the game for another kind of computer, with the Game Options and "
                                           "Build Options. It runs there, not here.")),
                         c.w),
               {c.x, c.y, c.w, intro_h}, ui_hint, false, true);

    draw_panel(ui, panel, px(ui, 7), colour_rgb(0xFBFBFB));
    Ui_Rect inner{panel.x + px(ui, 20), panel.y + px(ui, 8), std::max<int64_t>(panel.w - px(ui, 40), 0),
                  rows * row_h};
    int64_t index = 0;
    int64_t label_w = px(ui, 230), control_w = px(ui, 270);
    bool changed = false;

    {
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, control_w, "Target:");
        std::vector<std::string> labels;
        for (const Cross_Target& t : cross_targets) labels.emplace_back(t.label);
        int64_t sel = target.name == std::string_view(cross_targets[1].name) ? 1 : 0;
        Dropdown_Result d = dropdown(ui, "xtarget", r.control, labels, sel, {}, !busy, true);
        if (d.changed && d.index >= 0 && d.index < 2 && d.index != sel) {
            std::string name = cross_targets[d.index].name;
            settings_edit([&](Settings& live) { live.cross_target = name; });
            changed = true;
        }
        row_hint(ui, r.hint, target.description, ui_hint);
    }
    {
        std::vector<std::string> labels;
        int64_t sel = 0;
        // The box grows into the description's room until its longest CPU name fits.
        int64_t cpu_w = control_w;
        for (size_t i = 0; i < target.cpus.size(); ++i) {
            labels.emplace_back(target.cpus[i].label);
            if (s.cross_cpu == target.cpus[i].cpu) sel = int64_t(i);
            cpu_w = std::max(cpu_w, text_width(ui.font, shown(labels.back())) + px(ui, 51));
        }
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, cpu_w, "CPU:");
        Dropdown_Result d = dropdown(ui, "xcpu", r.control, labels, sel, {}, !busy, false);
        if (d.changed && d.index >= 0 && d.index < int64_t(target.cpus.size())) {
            std::string chosen = target.cpus[size_t(d.index)].cpu;
            if (chosen != s.cross_cpu) {
                settings_edit([&](Settings& live) { live.cross_cpu = chosen; });
                changed = true;
            }
            sel = d.index;
        }
        std::string_view hint = sel > 0            ? "Faster there, but only that CPU and newer ones"
                                : target.android ? "Runs on every 64-bit ARM phone"
                                                 : "Runs on every ARM64 CPU";
        row_hint(ui, r.hint, hint, ui_hint);
    }
    if (target.android) {
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, control_w, "Settings:");
        if (button(ui, r.control, "Use Android Preset", !busy)) {
            settings_edit([](Settings& live) { apply_android_preset(live); });
            if (p.save_settings) p.save_settings();
            if (p.cfg_rewrite) p.cfg_rewrite();
        }
        tooltip(ui, "xpreset", r.control,
                "Sets the Game Options and Build Options for a phone: 960x540, 60 fps, 512 shadows, anti-aliasing "
                "off, half-resolution effects, 4 GB memory, -O1, 2 pipeline threads. Builds for this computer use "
                "them too.");
        row_hint(ui, r.hint, "Sets the options: 960x540, 60 fps, light graphics", ui_hint);
    }
    {
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, control_w, "Compiler:");
        if (!checked) {
            row_text(ui, "xcompiler", r.control, "Looking for compilers…", ui_hint, false);
        } else if (!tc.compiler.empty()) {
            row_text(ui, "xcompiler", r.control, compiler_label(tc.compiler), ui_text, true);
            row_path(ui, r.hint, tc.compiler, ui_hint);
        } else {
            row_text(ui, "xcompiler", r.control, "No Clang found", ui_error, false);
            row_hint(ui, r.hint, tc.message, ui_error);
        }
    }
    {
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, control_w, "Linker:");
        if (!tc.linker.empty()) {
            row_text(ui, "xlinker", r.control, "LLVM lld", ui_text, true);
            row_path(ui, r.hint, tc.linker, ui_hint);
        } else if (!tc.compiler.empty()) {
            row_text(ui, "xlinker", r.control, "No lld found", ui_error, false);
            row_hint(ui, r.hint, tc.message, ui_error);
        }
    }
    std::string out_dir = cross_out_dir(target);
    {
        Row_Rects r = row_label_index(ui, inner, index, row_h, label_w, control_w, "Output:");
        std::string name = target.android      ? std::string("Quillmarsh.apk")
                           : s.cross_appimage ? appimage_name(cross_arch(target))
                                              : std::string("Quillmarsh");
        bool built = p.is_file && p.is_file(path_join({out_dir, name}));
        row_text(ui, "xoutput", r.control, built ? "Built" : "Not built yet", built ? ui_success : ui_hint, false);
        row_path(ui, r.hint, out_dir, ui_hint);
    }
    if (changed && p.save_settings) p.save_settings();

    draw_activity(ui, activity, busy, app.shared.log_scroll, app.shared.wheel_step);

    // The Build button.
    std::string build_label = fmt(shown("Build for %s"), target.label);
    int64_t bw = std::min(px(ui, 220), c.w);
    Ui_Rect build{c.x + c.w - bw, button_row_y, bw, px(ui, 44)};
    bool can_build = tc.message.empty() && !busy && game_ok && checked;
    if (button(ui, build, build_label, can_build, true, ui.bold_font)) {
        p.task_start(build_label, cross_build_task, 0);
    }
    std::string why;
    if (busy) {
        why = shown("Wait for the current task to finish.");
    } else if (!game_ok) {
        why = shown("Needs the game (its exe is read for the build): choose its folder on the Home tab.");
    } else if (!tc.message.empty()) {
        why = std::string(shown(tc.message));
    } else {
        why = fmt(shown("Builds the game for %s into %s."), target.label, out_dir);
    }
    tooltip(ui, "xbuild", build, why);

    if (!target.android) {
        Ui_Rect t{build.x, appimage_y, build.w, px(ui, 32)};
        std::string label(shown("As AppImage:"));
        int64_t lw = text_width(ui.font, label);
        Ui_Rect lr{t.x - px(ui, 12) - lw, t.y, lw, t.h};
        draw_label(ui, ui.font, label, lr, busy ? ui_disabled_text : ui_text, false, true);
        Toggle_Result r = toggle(ui, "xappimage", t, s.cross_appimage, !busy);
        if (r.changed) {
            bool v = r.value;
            settings_edit([&](Settings& live) { live.cross_appimage = v; });
            if (p.save_settings) p.save_settings();
        }
        Ui_Rect tip{lr.x, t.y, t.x + std::min<int64_t>(px(ui, 100), t.w) - lr.x, t.h};
        tooltip(ui, "xappimage", tip,
                "On: Build makes one file, Quillmarsh-<CPU>.AppImage, with the game and its settings inside, instead "
                "of the program and its .cfg. Off: the program, as before.");
    }

    if (busy) {
        Ui_Rect cancel{c.x, button_row_y + px(ui, 6), px(ui, 100), px(ui, 32)};
        if (button(ui, cancel, "Cancel", true) && p.task_running() && p.task_cancel) p.task_cancel();
    }
}
