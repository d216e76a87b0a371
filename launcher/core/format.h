// printf-like text formatting for log lines and messages.
//
// Verbs: %s (text; other values as %v), %d (integer), %x / %X (hexadecimal),
// %f / %.Nf (real), %v (any value: bools as true/false, lists of strings as
// [a, b]), %q (text in double quotes with C-like escapes, as `quoted`), %c
// (one byte), %% (a percent sign). Flags "0" and "-" and a width
// may stand before the verb, as in %016x or %02x.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

struct Fmt_Arg {
    enum class Kind { Int, Uint, Real, Text, Bool, List } kind;
    int64_t i = 0;
    uint64_t u = 0;
    double r = 0;
    std::string_view s{};
    const std::vector<std::string>* list = nullptr;
};

inline Fmt_Arg fmt_arg(bool v) { Fmt_Arg a{Fmt_Arg::Kind::Bool}; a.i = v; return a; }
inline Fmt_Arg fmt_arg(std::string_view v) { Fmt_Arg a{Fmt_Arg::Kind::Text}; a.s = v; return a; }
inline Fmt_Arg fmt_arg(const std::string& v) { return fmt_arg(std::string_view(v)); }
inline Fmt_Arg fmt_arg(const char* v) { return fmt_arg(std::string_view(v ? v : "")); }
inline Fmt_Arg fmt_arg(const std::vector<std::string>& v) { Fmt_Arg a{Fmt_Arg::Kind::List}; a.list = &v; return a; }
template <typename T>
    requires std::is_integral_v<T> && (!std::is_same_v<T, bool>)
inline Fmt_Arg fmt_arg(T v) {
    if constexpr (std::is_signed_v<T>) { Fmt_Arg a{Fmt_Arg::Kind::Int}; a.i = v; a.u = uint64_t(v); return a; }
    else { Fmt_Arg a{Fmt_Arg::Kind::Uint}; a.u = v; a.i = int64_t(v); return a; }
}
template <typename T>
    requires std::is_floating_point_v<T>
inline Fmt_Arg fmt_arg(T v) { Fmt_Arg a{Fmt_Arg::Kind::Real}; a.r = double(v); return a; }

std::string fmt_args(std::string_view format, const Fmt_Arg* args, size_t count);

template <typename... A>
std::string fmt(std::string_view format, const A&... args) {
    if constexpr (sizeof...(A) == 0) {
        return fmt_args(format, nullptr, 0);
    } else {
        const Fmt_Arg list[] = {fmt_arg(args)...};
        return fmt_args(format, list, sizeof...(A));
    }
}

// The text in double quotes, with \", \\, \n, \r, \t and \xNN for the other
// control bytes: how messages show a value that may hold anything.
std::string quoted(std::string_view s);

// The text with ASCII letters in lower case (other bytes unchanged).
std::string ascii_lower(std::string_view s);
