#include "launcher/ui/activity.h"

#include <algorithm>
#include <mutex>

#include "launcher/core/format.h"
#include "launcher/core/i18n.h"
#include "launcher/ui/widgets.h"

std::string activity_step_text(const std::string& step, bool running, int64_t elapsed_ns) {
    if (!running || step.empty() || elapsed_ns < 30'000'000'000) return std::string(shown(step));
    int64_t seconds = elapsed_ns / 1'000'000'000;
    return fmt(shown("%s   (%d:%02d on this step)"), shown(step), seconds / 60, seconds % 60);
}

Block_Span activity_block(int64_t track_width, int64_t now_ns) {
    if (track_width <= 0) return {};
    int64_t w = track_width;
    double s = double(now_ns) / 1e9;
    int64_t k = int64_t(s * 320.0) % (w + w / 4);
    return {std::max<int64_t>(0, k - w / 4), std::min(k, w)};
}

void draw_activity(Ui_State& ui, const Ui_Rect& r, bool running, int64_t& log_scroll, int64_t wheel_step) {
    if (r.h < px(ui, 60)) return;
    draw_panel(ui, r, px(ui, 7), colour_rgb(0xFBFBFB));
    int64_t ix = px(ui, 16), iy = px(ui, 12);
    Ui_Rect in{r.x + ix, r.y + iy, r.w - 2 * ix, r.h - 2 * iy};
    if (in.w < 0) {
        in.x = r.x + r.w / 2;
        in.w = 0;
    }
    if (in.h < 0) {
        in.y = r.y + r.h / 2;
        in.h = 0;
    }
    Task& t = the_task();
    std::lock_guard<Slim_Lock> guard(t.lock);
    int64_t y = in.y, left = in.h;
    auto take = [&](int64_t want) {
        int64_t h = std::min(want, left);
        left -= h;
        int64_t top = y;
        y += h;
        return Ui_Rect{in.x, top, in.w, h};
    };

    // Title: the name with its outcome; the outcome's words are translated
    // on their own and the name on its own, so both can match the catalogue.
    bool failed = t.failed.load() != 0;
    bool named = !t.name.empty();
    std::string title = named ? std::string(shown(t.name)) : std::string(shown("Activity"));
    uint32_t title_colour = ui_text;
    if (!running && named) {
        title += " ";
        title += shown(failed ? "— failed" : "— done");
        title_colour = failed ? ui_error : ui_success;
    }
    Ui_Rect title_row = take(px(ui, 22));
    draw_label(ui, ui.bold_font, title, title_row, title_colour, false, true);

    Ui_Rect bar = take(px(ui, 14));
    int64_t by = bar.y + px(ui, 5), bh = px(ui, 3), bw = in.w;
    int64_t thick = ui.scale >= 2.0f ? int64_t(ui.scale) : 1;
    fill_rect(ui, {in.x, by + bh / 2 - thick / 2, bw, thick}, colour_rgb(0x8A8A8A));
    float p = t.progress;
    if (!running && p < 0) p = 0;
    if (p >= 0) {
        int64_t fw = std::max<int64_t>(int64_t(std::min(p, 1.0f) * float(bw)), bh);
        fill_rounded_rect(ui, {in.x, by, fw, bh}, bh / 2, ui_accent);
    } else {
        Block_Span b = activity_block(bw, ui.now);
        if (b.to > b.from) fill_rounded_rect(ui, {in.x + b.from, by, b.to - b.from, bh}, bh / 2, ui_accent);
    }

    Ui_Rect step_row = take(px(ui, 20));
    std::string step = activity_step_text(t.status, running, ui.now - t.status_time);
    draw_label(ui, ui.small_font, step, step_row, ui_hint, false, true);

    take(px(ui, 6));
    Ui_Rect box{in.x, y, in.w, left};
    draw_panel(ui, box, px(ui, 4), ui_white);
    int64_t lh = std::max<int64_t>(line_height(ui.small_font), 1);
    int64_t n = std::max<int64_t>(1, (box.h - px(ui, 12)) / lh);
    int64_t c = int64_t(t.log.size());
    if (wheel_step != 0 && ui_hot(ui, box)) log_scroll += wheel_step;
    log_scroll = std::clamp<int64_t>(log_scroll, 0, std::max<int64_t>(c - n, 0));
    int64_t first = std::max<int64_t>(c - log_scroll - n, 0), end = c - log_scroll;
    if (ui.draw_list) push_clip(*ui.draw_list, {int(box.x), int(box.y), int(std::max<int64_t>(box.w, 0)),
                                                int(std::max<int64_t>(box.h, 0))});
    int64_t tx = box.x + px(ui, 10), tw = box.w - 2 * px(ui, 10);
    for (int64_t i = first; i < end; ++i) {
        std::string line = ellipsize(ui.small_font, shown(t.log[size_t(i)]), tw);
        int64_t ty = box.y + px(ui, 6) + (i - first) * lh;
        draw_text_at(ui, ui.small_font, line, tx, ty, ui_text, {tx, ty, std::max<int64_t>(tw, 0), lh});
    }
    if (ui.draw_list) pop_clip(*ui.draw_list);
}
