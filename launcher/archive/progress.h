// The throttled progress of long copies and unpacks, reported on a task's
// bar and status line; also their cancel test.
#pragma once
#include <cstdint>
#include <string>

struct Task;

// The progress of one long copy or unpack.
struct Hd_Progress {
    Task* task = nullptr;      // none: nothing is reported, never cancelled
    std::string label;         // the step's name, e.g. "Unpacking the ZIP"
    int64_t files_done = 0, files_total = 0;
    int64_t bytes_done = 0;    // bytes of the finished files
    uint64_t bytes_total = 0;
    float from = 0, to = 1;    // the part of the task bar this step fills
    int64_t last_report = 0;   // clock_ns() of the last report, 0 = never
    std::string current;       // the file being worked on
    bool checking = false;     // an existing file is being verified
    bool quiet = false;        // only the cancel test: the caller keeps its own step text
};

// Reports the progress at most every 250 ms (always when `force`); false
// when the task was cancelled, so the caller stops.
bool hd_progress(Hd_Progress* p, int64_t in_flight, bool force = false);
