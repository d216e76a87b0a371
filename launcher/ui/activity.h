// The activity panel: the one background task's name and outcome, a
// progress bar, the current step with its time, and the end of its log.
#pragma once
#include <cstdint>
#include <string>

#include "launcher/ui/ui.h"

// Draws the panel into `r`; `running` says whether a task runs now.
// `log_scroll` (lines scrolled back from the log's end) moves by the frame's
// wheel steps while the pointer is over the log, and is kept between 0 and
// the largest value that still fills the view.
void draw_activity(Ui_State& ui, const Ui_Rect& r, bool running, int64_t& log_scroll, int64_t wheel_step);

// The step row's text: the step, and from the 30th second of a step on
// its time ("%s   (%d:%02d on this step)"), translated before filling in.
std::string activity_step_text(const std::string& step, bool running, int64_t elapsed_ns);

// The moving block of a task without progress: [from, to) in pixels from
// the track's left end, empty (from >= to) when there is nothing to draw.
struct Block_Span {
    int64_t from = 0, to = 0;
};
Block_Span activity_block(int64_t track_width, int64_t now_ns);
