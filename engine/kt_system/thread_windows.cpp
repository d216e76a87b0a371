// The processors this process may use, on Windows.
#include "engine/kt_system/thread.h"

#include <thread>

#include "engine/kt_system/win_util.h"

bool thread_lower_own_priority() { return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL) != 0; }

int cpu_count() {
    // The affinity mask covers the process's processor group (up to 64).
    DWORD_PTR process = 0, system = 0;
    int n = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
        for (DWORD_PTR m = process; m != 0; m &= m - 1) ++n;
    }
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    return n > 0 ? n : 1;
}
