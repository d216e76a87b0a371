// The Build Options page: the options compiled into the game.
#include <algorithm>
#include <cctype>

#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/ui/options_page.h"
#include "launcher/ui/widgets.h"

namespace {

constexpr std::string_view needs_lld = "Needs LLVM's linker (lld) beside Clang: not found";

bool path_says_clang(std::string_view path) {
    std::string lower(path);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("clang") != std::string::npos;
}

void compiler_row(Options_Page& o, const std::vector<Compiler>& found, bool& clang, std::string& shown_path) {
    Ui_State& ui = o.ui;
    Ui_Procs& p = o.app.procs;
    Row_Rects r = options_row(o, "Compiler:");
    clang = path_says_clang(o.s.compiler);
    shown_path = o.s.compiler;
    if (!found.empty()) {
        int64_t index = 0;
        for (size_t i = 0; i < found.size(); ++i) {
            if (found[i].path == o.s.compiler) {
                index = int64_t(i);
                break;
            }
        }
        std::vector<std::string> labels;
        for (const Compiler& c : found) labels.push_back(c.label);
        Dropdown_Result d = options_dropdown(o, "compiler", r.control, labels, index, !o.read_only, true);
        if (d.changed && d.index >= 0 && d.index < int64_t(found.size())) {
            index = d.index;
            options_set(o, &Settings::compiler, found[size_t(index)].path);
            // The toolchain follows at once: the setting is written now.
            if (p.save_settings) p.save_settings();
            if (p.compiler_chosen) p.compiler_chosen();
        }
        // The notes below follow the compiler the row shows (the first one
        // while the saved path is not among those found).
        const Compiler& c = found[size_t(index)];
        clang = c.clang;
        shown_path = c.path;
        std::string note = c.clang ? c.path : fmt(shown("%s (Clang makes a faster game; no PGO with GCC)"), c.path);
        options_note(o, r.hint, note, ui_hint);
        return;
    }
    bool searched = p.deps_checked && p.deps_checked();
    std::string text(shown(searched ? "No C compiler found" : "Looking for compilers…"));
    draw_label(ui, ui.font, ellipsize(ui.font, text, r.control.w), r.control, searched ? ui_error : ui_hint, true,
               true);
    if (searched) {
        Ui_Rect b{r.control.x + r.control.w + px(ui, 12), r.control.y, px(ui, 150), r.control.h};
        if (button(ui, b, "Where to get one", !o.read_only)) o.app.shared.compiler_probe = 1;
    }
}

}  // namespace

Options_Note pgo_note(bool on, bool clang, bool lld) {
    if (!on) return {"Off: the game built without the profile", ui_hint};
    if (!clang) return {"Needs Clang (GCC cannot read the profile)", ui_warning};
    if (!lld) return {needs_lld, ui_warning};
    return {"On: optimized for how the game runs (a faster game)", ui_hint};
}

Options_Note lto_note(bool on, bool clang, bool lld) {
    if (!on) return {"Off: a faster Build", ui_hint};
    if (clang && !lld) return {needs_lld, ui_warning};
    return {"On: optimizes across files (a much slower Build)", ui_hint};
}

void build_options_note(App& app, std::string& text, uint32_t& colour) {
    Ui_Procs& p = app.procs;
    if (!(p.build_outdated && p.build_outdated())) {
        text = shown("Compiled into the game: a change here needs a Build (Run does it first).");
        colour = ui_hint;
        return;
    }
    colour = ui_warning;
    std::string now = p.options_sig ? p.options_sig() : std::string();
    std::string built = p.built_options_sig ? p.built_options_sig() : std::string();
    text = now != built ? shown("The game was built with other Build Options: Build again to use these (Run does it "
                                "first).")
                        : shown("DLSS is compiled into the game: Build again to add it (Run does it first).");
}

// "Build" is a verb on Home's button and a noun over this section: the
// section's title has its own key, "Build|section", for the languages that
// need another word; English and a language without it show "Build".
std::string section_build_title() {
    static constexpr std::string_view key = "Build|section";
    const Catalog& c = the_catalog();
    int k = text_find(c, key, text_hash(key));
    const Text_Value* v = k >= 0 && c.current != 0 ? text_get(c, k, c.current) : nullptr;
    return std::string(v ? v->text : std::string_view("Build"));
}

void build_options_rows(Options_Page& o) {
    Ui_Procs& p = o.app.procs;
    bool en = !o.read_only;
    options_section(o, section_build_title());
    std::vector<Compiler> found = p.compilers ? p.compilers() : std::vector<Compiler>{};
    bool clang = false;
    std::string compiler;
    compiler_row(o, found, clang, compiler);
    bool lld = clang && p.find_lld && !p.find_lld(compiler).empty();

    {
        Row_Rects r = options_row(o, "Optimization Level:");
        Dropdown_Result d = options_dropdown(o, "opt", r.control, {"0 (Fastest)", "1 (Recommended)", "2", "3 (Slowest)"},
                                             std::clamp<int64_t>(o.s.opt_level, 0, 3), en);
        if (d.changed && d.index >= 0 && d.index <= 3) options_set(o, &Settings::opt_level, d.index);
        options_note(o, r.hint, "Higher: a slower build, a faster game", ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Profile-Guided Optimization:");
        Toggle_Result t = toggle(o.ui, "pgo", r.control, o.s.pgo, en);
        if (t.changed) options_set(o, &Settings::pgo, t.value);
        Options_Note n = pgo_note(o.s.pgo, clang, lld);
        options_note(o, r.hint, n.text, n.colour);
    }
    {
        Row_Rects r = options_row(o, "Link-Time Optimization:");
        Toggle_Result t = toggle(o.ui, "lto", r.control, o.s.lto, en);
        if (t.changed) options_set(o, &Settings::lto, t.value);
        Options_Note n = lto_note(o.s.lto, clang, lld);
        options_note(o, r.hint, n.text, n.colour);
    }
    {
        Row_Rects r = options_row(o, "Experimental Optimizations:");
        Toggle_Result t = toggle(o.ui, "experimental", r.control, o.s.experimental, en);
        if (t.changed) options_set(o, &Settings::experimental, t.value);
        if (o.s.experimental) {
            options_note(o, r.hint, "On: less-tested speed-ups that may break things", ui_warning);
        } else {
            options_note(o, r.hint, "Off: only the tested ones", ui_hint);
        }
    }
    {
        Row_Rects r = options_row(o, "Debug & Profile Tools:");
        Toggle_Result t = toggle(o.ui, "tools", r.control, o.s.tools, en);
        if (t.changed) {
            options_set(o, &Settings::tools, t.value);
            o.cfg = true;   // the game's console and profiler follow it
        }
        options_note(o, r.hint,
                     o.s.tools ? "Logs, tracing, the profiler and an FPS counter (console window)"
                               : "Off: no console window, nothing printed",
                     ui_hint);
    }
    {
        Row_Rects r = options_row(o, "Graphics Driver:");
        options_dropdown(o, "gfx", r.control, {"Vulkan"}, 0, en);
        options_note(o, r.hint, "The port's Vulkan renderer", ui_hint);
    }
}
