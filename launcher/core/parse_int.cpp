#include "launcher/core/parse_int.h"

std::vector<std::string_view> split_at(std::string_view text, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        if (at == std::string_view::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

int take_base_prefix(std::string_view& s) {
    if (s.size() < 3 || s[0] != '0') return 10;
    int base = 0;
    switch (s[1]) {
    case 'b': base = 2; break;
    case 'o': base = 8; break;
    case 'd': base = 10; break;
    case 'z': base = 12; break;
    case 'x': base = 16; break;
    default: return 10;
    }
    s.remove_prefix(2);
    return base;
}

bool parse_int(std::string_view text, int64_t& out) {
    std::string_view s = trim_space(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = take_base_prefix(s);
    // The magnitude may reach 2^63 for the most negative value.
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    uint64_t value = 0;
    bool digits = false, last_was_digit = false;
    for (char c : s) {
        if (c == '_') {
            if (!digits) return false;   // "_" only between digits
            last_was_digit = false;
            continue;
        }
        int d = digit_value(c);
        if (d >= base) return false;
        if (value > (limit - uint64_t(d)) / uint64_t(base)) return false;
        value = value * uint64_t(base) + uint64_t(d);
        digits = true;
        last_was_digit = true;
    }
    if (!digits || !last_was_digit) return false;
    out = negative ? int64_t(0 - value) : int64_t(value);
    return true;
}
