// Runs a program to its end, with a time limit, and takes what it prints.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"

struct Program_Run {
    bool started = false;   // the program could be started
    bool ended = false;     // it ended by itself within the limit
    uint32_t code = 1;      // its exit code; 1 when it did not end
    std::string out;        // its output, or why it could not start
};

inline Program_Run run_program(const std::vector<std::string>& args, int64_t limit_ms) {
    Program_Run r;
    std::string err;
    Child* c = child_start(args, "", nullptr, &err);
    if (!c) {
        r.out = err;
        return r;
    }
    r.started = true;
    char buf[4096];
    const int64_t deadline = clock_ns() + limit_ms * 1'000'000;
    while (clock_ns() < deadline) {
        if (!child_look(c, 100)) continue;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) break;
        r.out.append(buf, size_t(n));
    }
    // Its output closed: it is ending (a guard against a hang, long enough
    // for a busy machine).
    r.ended = child_wait(c, 120'000, r.code);
    if (!r.ended) {
        child_terminate(c, 1);
        r.code = 1;
    }
    child_close(c);
    return r;
}
