// Threads, locks and the processor count. Standard C++ threads underneath
// (winpthreads with the posix mingw-w64 toolchain).
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <thread>

// A slim reader/writer lock, taken exclusively for short copies.
using Slim_Lock = std::shared_mutex;
using Lock_Guard = std::unique_lock<std::shared_mutex>;
using Shared_Guard = std::shared_lock<std::shared_mutex>;

struct Thread {
    std::thread handle;
    bool started() const { return handle.joinable(); }
};

// Starts a thread running `body`. False when the system could not make one.
bool thread_start(Thread& t, std::function<void()> body);
// Waits for the thread and releases it; nothing happens for one not started.
void thread_join(Thread& t);
// Starts a thread that nobody joins; it releases its own resources.
bool thread_start_detached(std::function<void()> body);
// The system's part of it (thread_windows.cpp, thread_posix.cpp).
bool thread_start_detached_native(std::function<void()> body);
// The logical processors this process may use, at least 1: those of its
// affinity mask (and, on Linux, no more than its control group's CPU
// quota allows), not all of the machine's.
int cpu_count();
// The processors a control group's CPU quota allows, rounded up, from the
// text "QUOTA PERIOD" (cgroup v2's cpu.max, or v1's quota and period joined
// by a blank): "150000 100000" gives 2. 0 when there is no limit ("max",
// a negative quota) or the text is not understood.
int cpu_quota_cpus(std::string_view text);

// Lowers the calling thread's scheduling priority below the others', for
// a worker whose work can wait: on a busy machine the thread that draws
// the window then runs before it. False when the system refused.
bool thread_lower_own_priority();

// Test seam: the next `count` thread starts fail.
void thread_fail_next(int count);
