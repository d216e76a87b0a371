// What the two Options pages share inside one frame: the layout cursor, the
// settings as the frame began and as changed so far, the read-only state,
// and the row helpers both pages draw with.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/settings.h"
#include "launcher/ui/layout.h"
#include "launcher/ui/ui.h"
#include "launcher/ui/widgets.h"

struct Options_Page {
    App& app;
    Ui_State& ui;
    Ui_Rect area;          // the content, moved up by the scroll
    int64_t cursor = 0;
    uint8_t after_heading = 0;
    bool read_only = false;  // a task runs
    Settings at_start;     // as the frame began
    Settings s;            // with this frame's changes
    bool changed = false;  // a field changed: settings.txt is written
    bool cfg = false;      // ... and the game's configuration with it
};

// Sets one field in the page's copy and in the live record.
template <class T>
void options_set(Options_Page& o, T Settings::*field, T value) {
    if (o.s.*field == value) return;
    o.s.*field = value;
    settings_edit([&](Settings& live) { live.*field = value; });
    o.changed = true;
}

inline int64_t options_row_height(const Ui_State& ui) { return px(ui, 50); }

// An option row of these pages (label, control and the hint to its right).
Row_Rects options_row(Options_Page& o, std::string_view label, int64_t indent = 0);
void options_section(Options_Page& o, std::string_view title);
void options_note(Options_Page& o, const Ui_Rect& hint, std::string_view text, uint32_t colour);
// A drop-down of English labels.
Dropdown_Result options_dropdown(Options_Page& o, std::string_view id, const Ui_Rect& r,
                                 const std::vector<std::string>& labels, int64_t index, bool enabled,
                                 bool raw = false);

// The rows of each page.
void game_options_rows(Options_Page& o);
void build_options_rows(Options_Page& o);
void features_rows(Options_Page& o);
// The Hard Mode preset (1 ..) whose choices equal these, else 0 (Custom).
int64_t hard_preset_of(const std::array<uint8_t, 8>& hard);
// The notes of the optimisation rows: the text (English) and its colour.
struct Options_Note {
    std::string_view text;
    uint32_t colour;
};
Options_Note pgo_note(bool on, bool clang, bool lld);
Options_Note lto_note(bool on, bool clang, bool lld);
// The Build page's note line (the page's own, with no task running).
void build_options_note(App& app, std::string& text, uint32_t& colour);
