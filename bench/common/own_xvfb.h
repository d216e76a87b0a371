// The benchmarks' X server of their own (Xvfb -displayfd, a free display
// number) and the child helpers they share.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"

namespace bench {

// Reads a child's output until it ends or `until` returns true for what
// was read so far; gives up after `wait_ms`.
template <typename Until>
std::string read_output(Child* c, int64_t wait_ms, Until until) {
    std::string out;
    char buf[4096];
    int64_t deadline = clock_ns() + wait_ms * 1000000;
    while (clock_ns() < deadline && !until(out)) {
        if (!child_look(c, 100)) continue;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

inline void stop(Child* c) {
    uint32_t code;
    child_terminate(c, 0);
    child_wait(c, 5000, code);
    child_close(c);
}

// Starts Xvfb at 1280x1024x24 and sets `display` to its number (no colon).
// nullptr after a message that starts with `who` when it fails.
inline Child* start_xvfb(const char* who, std::string& display) {
    std::string err;
    Child* xvfb = child_start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, "",
                              nullptr, &err);
    if (!xvfb) {
        std::fprintf(stderr, "%s: cannot start Xvfb: %s\n", who, err.c_str());
        return nullptr;
    }
    // The number is a line of digits; the server's warnings share the pipe.
    auto number_line = [&display](const std::string& text) {
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
                display = line;
                return true;
            }
        }
        return false;
    };
    display.clear();
    read_output(xvfb, 30000, number_line);
    if (display.empty()) {
        std::fprintf(stderr, "%s: Xvfb gave no display number\n", who);
        stop(xvfb);
        return nullptr;
    }
    return xvfb;
}

}  // namespace bench
