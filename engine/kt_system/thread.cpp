// Threads on top of std::thread (winpthreads with mingw-w64).
#include "engine/kt_system/thread.h"

#include <cstdint>
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
    if (take_forced_failure()) return false;
    return thread_start_detached_native(std::move(body));
}

int cpu_quota_cpus(std::string_view text) {
    // Two decimal numbers separated by blanks; anything else is no limit.
    auto number = [&](size_t& at, int64_t& out) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
        size_t start = at;
        int64_t v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (v > (int64_t{1} << 50)) return false;
            v = v * 10 + (text[at++] - '0');
        }
        out = v;
        return at > start;
    };
    size_t at = 0;
    int64_t quota = 0, period = 0;
    if (!number(at, quota) || !number(at, period)) return 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n')) ++at;
    if (at != text.size() || quota <= 0 || period <= 0) return 0;
    int64_t n = (quota + period - 1) / period;
    return n > (1 << 20) ? (1 << 20) : static_cast<int>(n);
}

void thread_fail_next(int count) { starts_to_fail.store(count > 0 ? count : 0); }
