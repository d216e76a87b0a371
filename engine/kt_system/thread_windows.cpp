// The processors this process may use, on Windows.
#include "engine/kt_system/thread.h"

#include <memory>
#include <thread>

#include "engine/kt_system/win_util.h"

// A system thread whose handle is closed at once. With detached
// std::threads (winpthreads), a burst of starts while earlier threads ended
// sometimes started a thread without its work: the work never ran, or the
// thread crashed at its first step.
bool thread_start_detached_native(std::function<void()> body) {
    auto* work = new std::function<void()>(std::move(body));
    HANDLE h = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            std::unique_ptr<std::function<void()>> own(static_cast<std::function<void()>*>(p));
            (*own)();
            return 0;
        },
        work, 0, nullptr);
    if (!h) {
        delete work;
        return false;
    }
    CloseHandle(h);
    return true;
}

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
