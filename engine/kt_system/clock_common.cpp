// The clock's test seam, shared by both back ends.
#include "engine/kt_system/clock.h"

#include <atomic>

namespace {

std::atomic<int64_t (*)()> clock_hook{nullptr};

}  // namespace

void clock_set_hook(int64_t (*hook)()) { clock_hook.store(hook); }

int64_t clock_ns() {
    if (int64_t (*hook)() = clock_hook.load()) return hook();
    return clock_system_ns();
}
