// The process logger: one line per message with a level. The engine's
// packages begin their lines with their name ("ren_ttf: ..."). Lines go to
// standard error (debug lines are dropped) unless a sink is set.
#pragma once
#include <string_view>

enum class Log_Level { Debug, Info, Warning, Error };

using Log_Sink = void (*)(Log_Level level, std::string_view line);

// Sets where lines go (nullptr: standard error) and returns the former sink.
Log_Sink log_set_sink(Log_Sink sink);
void log_write(Log_Level level, std::string_view line);
// printf-style.
void log_printf(Log_Level level, const char* format, ...) 
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 2, 3)))
#else
    __attribute__((format(printf, 2, 3)))
#endif
    ;
