#include "launcher/archive/progress.h"

#include <algorithm>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/task.h"

namespace {

constexpr int64_t report_every_ns = 250000000;

}  // namespace

bool hd_progress(Hd_Progress* p, int64_t in_flight, bool force) {
    if (!p || !p->task) return true;
    if (p->task->cancel.load()) return false;
    if (p->quiet) return true;
    int64_t now = clock_ns();
    if (!force && p->last_report != 0 && now - p->last_report < report_every_ns) return true;
    p->last_report = now;
    int64_t done = p->bytes_done + in_flight;
    double total = p->bytes_total == 0 ? 1.0 : double(p->bytes_total);
    double fraction = std::min(double(done) / total, 1.0);
    std::string text = fmt("%s: %d of %d files (%.1f of %.1f GB)", p->label, p->files_done, p->files_total,
                           double(done) / 1e9, double(p->bytes_total) / 1e9);
    if (in_flight != 0 && !p->current.empty())
        text = fmt("%s, %s %s", text, p->checking ? "checking" : "now", path_base(p->current));
    set_status_text(*p->task, float(fraction * (p->to - p->from) + p->from), std::move(text));
    return true;
}
