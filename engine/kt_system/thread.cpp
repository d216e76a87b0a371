// Threads on top of std::thread (winpthreads with mingw-w64).
#include "engine/kt_system/thread.h"

#include <system_error>

namespace {

std::atomic<int> starts_to_fail{0};

// Takes one pending failure of the test seam, if there is one.
bool take_forced_failure() {
    int n = starts_to_fail.load();
    while (n > 0) {
        if (starts_to_fail.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
}

}  // namespace

bool thread_start(Thread& t, std::function<void()> body) {
    if (t.handle.joinable()) return false;
    if (take_forced_failure()) return false;
    try {
        t.handle = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void thread_join(Thread& t) {
    if (t.handle.joinable()) t.handle.join();
}

bool thread_start_detached(std::function<void()> body) {
    Thread t;
    if (!thread_start(t, std::move(body))) return false;
    t.handle.detach();
    return true;
}

int cpu_count() {
    unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

void thread_fail_next(int count) { starts_to_fail.store(count > 0 ? count : 0); }
