// Clocks and sleeping on POSIX systems.
#include "engine/kt_system/clock.h"

#include <time.h>

#include <cerrno>

int64_t clock_system_ns() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t wall_ns() {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t process_cpu_ns() {
    struct timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleep_ms(int64_t ms) {
    if (ms <= 0) return;
    struct timespec t;
    t.tv_sec = static_cast<time_t>(ms / 1000);
    t.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}
