// Interrupts on POSIX: SIGINT and SIGTERM set a flag; the handler resets
// itself, so the same signal a second time ends the process.
#include "engine/kt_system/interrupt.h"

#include <signal.h>

#include <atomic>
#include <cstring>

namespace {

std::atomic<int> seen{0};
static_assert(std::atomic<int>::is_always_lock_free);

void on_signal(int) { seen.store(1); }

}  // namespace

void interrupt_catch() {
    // Once per run: set again, the handler would outlive a first signal
    // that has already reset it.
    static std::atomic<bool> caught{false};
    if (caught.exchange(true)) return;
    struct sigaction a;
    std::memset(&a, 0, sizeof a);
    a.sa_handler = on_signal;
    a.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&a.sa_mask);
    sigaction(SIGINT, &a, nullptr);
    sigaction(SIGTERM, &a, nullptr);
}

bool interrupt_seen() { return seen.load() != 0; }

void interrupt_finished() {}
