// Waiting for a state in a test: poll until it holds. The limit only guards
// against a hang and is long enough for a very busy machine: no test may
// depend on how fast the machine is. It reads the system's own counter, so
// it also holds while a test has replaced clock_ns().
#pragma once
#include <cstdint>

#include "engine/kt_system/clock.h"

constexpr int64_t poll_guard_ms = 300'000;

// Whether `done()` held before the guard ran out.
template <typename Done>
bool poll_until(Done done, int64_t guard_ms = poll_guard_ms, int64_t step_ms = 10) {
    const int64_t end = clock_system_ns() + guard_ms * 1'000'000;
    while (!done()) {
        if (clock_system_ns() > end) return done();
        sleep_ms(step_ms);
    }
    return true;
}
