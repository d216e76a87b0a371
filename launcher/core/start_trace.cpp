#include "launcher/core/start_trace.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/log.h"
#include "launcher/core/parse_int.h"

namespace {

int64_t origin_ns = 0;

double since_origin_ms() { return double(clock_system_ns() - origin_ns) / 1e6; }

// Every line, debug lines too, on standard error with its time.
void trace_sink(Log_Level, std::string_view line) {
    std::fprintf(stderr, "%.*s (at %.1f ms)\n", int(line.size()), line.data(), since_origin_ms());
}

// Whether lines are wanted; the first call fixes the origin.
bool trace_on() {
    if (env_get("QM_START_TRACE").empty()) return false;
    int64_t origin = 0;
    origin_ns = parse_int(env_get("QM_START_CLOCK_NS"), origin) && origin > 0 ? origin : clock_system_ns();
    log_set_sink(trace_sink);
    return true;
}

}  // namespace

void start_trace(const char* phase) {
    static const bool on = trace_on();
    if (!on) return;
    std::fprintf(stderr, "start: %s %.1f\n", phase, since_origin_ms());
    std::fflush(stderr);
}
