// Where the launcher's start spends its time: with QM_START_TRACE set, one
// line per phase on standard error, "start: <phase> <ms>", the milliseconds
// since the process was started. The starter may pass its own reading of
// the monotonic clock, taken just before it started the process, in
// QM_START_CLOCK_NS (the benchmarks do); without it the time counts from the
// first line. The engine's debug lines (each pipeline made, with its time)
// are shown too. Nothing is written, and nothing costs, when the variable
// is unset.
#pragma once

void start_trace(const char* phase);
