// Page layout elements: section headings, option rows, notes, the frame and
// footer of a modal dialog and the folder browser's shortcut buttons. Each
// takes the layout rectangle and a cursor and moves the cursor down.
#pragma once
#include <cstdint>
#include <string_view>

#include "launcher/ui/ui.h"

void section_heading(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, std::string_view title,
                     uint8_t& after_heading);
void section_heading_hint(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, std::string_view title,
                          std::string_view hint);

struct Row_Rects {
    Ui_Rect row, control, hint;
};
// An option row of the Options pages; `indent` in pixels (0: a normal row).
Row_Rects row_label_hint(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, int64_t row_height,
                         int64_t label_width, int64_t control_width, std::string_view label, int64_t indent,
                         uint8_t& after_heading);
// An option row by pixel cursor (the rule is left out right after a heading).
Row_Rects row_label(Ui_State& ui, const Ui_Rect& area, int64_t& cursor, int64_t row_height, int64_t label_width,
                    int64_t control_width, std::string_view label, uint8_t& after_heading);
// An option row by row index (no rule above the first row).
Row_Rects row_label_index(Ui_State& ui, const Ui_Rect& area, int64_t& index, int64_t row_height,
                          int64_t label_width, int64_t control_width, std::string_view label);

// A note in the small font, wrapped to its lines and centred in `r`.
void note_text(Ui_State& ui, std::string_view english, const Ui_Rect& r, uint32_t colour);

// Dims the window and draws a centred dialog box of width x height pixels.
Ui_Rect dialog_begin(Ui_State& ui, int64_t width, int64_t height);
// The footer band; returns the row the dialog's buttons go in.
Ui_Rect dialog_buttons(Ui_State& ui, const Ui_Rect& box);

// One shortcut button of the folder browser; nothing (0) for a folder that
// does not exist. A click calls `go` with the folder.
int64_t folder_row(Ui_State& ui, int64_t& x, int64_t y, std::string_view label, std::string_view folder,
                   const std::function<void(std::string_view)>& go);
