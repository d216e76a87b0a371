// Threads, locks and the processor count. Standard C++ threads underneath
// (winpthreads with the posix mingw-w64 toolchain).
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <shared_mutex>
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
// Logical processors, at least 1.
int cpu_count();

// Test seam: the next `count` thread starts fail.
void thread_fail_next(int count);
