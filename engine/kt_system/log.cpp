#include "engine/kt_system/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::atomic<Log_Sink> current_sink{nullptr};
}

Log_Sink log_set_sink(Log_Sink sink) { return current_sink.exchange(sink); }

void log_write(Log_Level level, std::string_view line) {
    if (Log_Sink sink = current_sink.load()) {
        sink(level, line);
        return;
    }
    if (level == Log_Level::Debug) return;
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void log_printf(Log_Level level, const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (size_t(n) < sizeof small) {
        va_end(again);
        log_write(level, std::string_view(small, size_t(n)));
        return;
    }
    std::string big(size_t(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    big.resize(size_t(n));
    log_write(level, big);
}
