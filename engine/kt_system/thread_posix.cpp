// The processors this process may use, on POSIX systems.
#include "engine/kt_system/thread.h"

#include <sched.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The first line of a small system file; empty when it cannot be read.
std::string first_line(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return text;
    char buf[256];
    if (std::fgets(buf, sizeof buf, f)) text = buf;
    std::fclose(f);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// The lowest limit of `folder` and the folders above it up to `root`, where
// `limit_of` reads one folder's limit (0 = none).
template <typename F>
int lowest_limit(const std::string& root, std::string folder, F limit_of) {
    int best = 0;
    for (;;) {
        int n = limit_of(root + folder);
        if (n > 0 && (best == 0 || n < best)) best = n;
        size_t slash = folder.find_last_of('/');
        if (folder.empty() || slash == std::string::npos) break;
        folder.resize(slash);
    }
    return best;
}

// The CPU quota of this process's control group (v2's cpu.max, or v1's
// cfs quota and period), counting the groups above it; 0 when none.
int control_group_cpus() {
    FILE* f = std::fopen("/proc/self/cgroup", "r");
    if (!f) return 0;
    int best = 0;
    char buf[1024];
    while (std::fgets(buf, sizeof buf, f)) {
        std::string line = buf;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        // "ID:CONTROLLERS:PATH"; v2 has the ID 0 and no controllers.
        size_t a = line.find(':');
        size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        std::string controllers = line.substr(a + 1, b - a - 1);
        std::string path = line.substr(b + 1);
        if (path == "/") path.clear();
        int n = 0;
        if (line.compare(0, a, "0") == 0 && controllers.empty()) {
            n = lowest_limit("/sys/fs/cgroup", path, [](const std::string& dir) {
                return cpu_quota_cpus(first_line(dir + "/cpu.max"));
            });
        } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
            auto v1 = [](const std::string& dir) {
                return cpu_quota_cpus(first_line(dir + "/cpu.cfs_quota_us") + " " +
                                      first_line(dir + "/cpu.cfs_period_us"));
            };
            // Inside a container the group's folder is often the mount itself.
            for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
                int m = lowest_limit(mount, path, v1);
                if (m == 0) m = v1(mount);
                if (m > 0 && (n == 0 || m < n)) n = m;
            }
        }
        if (n > 0 && (best == 0 || n < best)) best = n;
    }
    std::fclose(f);
    return best;
}

}  // namespace

bool thread_start_detached_native(std::function<void()> body) {
    try {
        std::thread(std::move(body)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool thread_lower_own_priority() {
#ifdef __linux__
    // Linux keeps a nice value for each thread: 0 names the caller's.
    return setpriority(PRIO_PROCESS, 0, 10) == 0;
#else
    return false;
#endif
}

int cpu_count() {
    int n = 0;
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
#endif
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    int quota = control_group_cpus();
    if (quota > 0 && quota < n) n = quota;
    return n > 0 ? n : 1;
}
