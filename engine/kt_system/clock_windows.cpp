// Clocks and sleeping on Windows.
#include "engine/kt_system/clock.h"

#include "engine/kt_system/win_util.h"

namespace {

int64_t counter_frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? static_cast<int64_t>(f.QuadPart) : 1;
    }();
    return frequency;
}

}  // namespace

int64_t clock_system_ns() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    int64_t f = counter_frequency();
    int64_t ticks = c.QuadPart;
    // Whole seconds and the remainder apart, so that ticks * 1e9 never overflows.
    return (ticks / f) * 1000000000 + (ticks % f) * 1000000000 / f;
}

int64_t wall_ns() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return filetime_ns(ft);
}

int64_t process_cpu_ns() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](FILETIME t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) * 100;
}

void sleep_ms(int64_t ms) {
    if (ms <= 0) return;
    // Sleep() rounds up to the scheduler tick (often 15.6 ms), too coarse for
    // pacing frames; a high-resolution timer wakes within a millisecond.
    const DWORD high_resolution = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, high_resolution, TIMER_ALL_ACCESS);
    if (timer) {
        LARGE_INTEGER due;
        due.QuadPart = -ms * 10000;  // relative, in 100 ns units
        bool waited = SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
                      WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
        CloseHandle(timer);
        if (waited) return;
    }
    while (ms > 0) {
        DWORD part = ms > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(ms);
        Sleep(part);
        ms -= part;
    }
}
