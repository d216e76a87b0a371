// Interrupts on Windows: the console's control handler runs on a thread of
// its own. Ctrl+C and Ctrl+Break are noted once (the second goes to the
// system's handler, which ends the process); closing the console, logging
// off or shutting down waits a little for the mode to finish, since the
// process ends when the handler returns.
#include "engine/kt_system/interrupt.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<int> seen{0};
std::atomic<int> finished{0};

BOOL WINAPI on_control(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return seen.exchange(1) == 0 ? TRUE : FALSE;
    seen.store(1);
    // The system allows about five seconds after a close.
    for (int waited = 0; waited < 4500 && !finished.load(); waited += 50) Sleep(50);
    return TRUE;
}

}  // namespace

void interrupt_catch() {
    static std::atomic<bool> caught{false};
    if (!caught.exchange(true)) SetConsoleCtrlHandler(on_control, TRUE);
}

bool interrupt_seen() { return seen.load() != 0; }

void interrupt_finished() { finished.store(1); }
