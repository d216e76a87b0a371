// High-resolution clock in nanoseconds, and sleeping.
#pragma once
#include <cstdint>

// Monotonic counter in ns (the performance counter on Windows).
int64_t clock_ns();
// Wall-clock time in ns since the Unix epoch.
int64_t wall_ns();
void sleep_ms(int64_t ms);
// CPU time this process has used so far (user and system, every thread).
int64_t process_cpu_ns();

// The system's counter itself, which the test seam below never replaces.
int64_t clock_system_ns();

// Test seam: replaces clock_ns() (nullptr restores the real clock).
void clock_set_hook(int64_t (*hook)());
