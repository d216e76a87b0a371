// What the benchmarks share for their figures: min / median / max of the
// ratios of alternating pairs, and the process's peak memory over a stretch
// of work (Linux: the high-water mark in /proc, reset before the stretch).
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

struct Spread {
    double min = 0, median = 0, max = 0;
};

inline Spread spread(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return s;
}

inline std::string spread_text(const std::vector<double>& v) {
    Spread s = spread(v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f / %.2f / %.2f", s.min, s.median, s.max);
    return buf;
}

// A "VmHWM:" or "VmRSS:" line of /proc/self/status in MiB; 0 when unknown.
inline double status_mib(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return double(std::stoull(line.substr(std::string(key).size()))) / 1024.0;
    }
    return 0;
}

// Starts a stretch: the high-water mark falls back to the current size.
inline void peak_reset() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}
// The process's peak resident size since peak_reset, in MiB.
inline double peak_mib() { return status_mib("VmHWM:"); }
inline double resident_mib() { return status_mib("VmRSS:"); }

}  // namespace bench
