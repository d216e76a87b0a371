#include "launcher/core/format.h"

#include <cstdio>

static void append_value(std::string& out, const Fmt_Arg& a) {
    char buf[64];
    switch (a.kind) {
    case Fmt_Arg::Kind::Int: snprintf(buf, sizeof buf, "%lld", (long long)a.i); out += buf; break;
    case Fmt_Arg::Kind::Uint: snprintf(buf, sizeof buf, "%llu", (unsigned long long)a.u); out += buf; break;
    case Fmt_Arg::Kind::Real: snprintf(buf, sizeof buf, "%g", a.r); out += buf; break;
    case Fmt_Arg::Kind::Text: out.append(a.s); break;
    case Fmt_Arg::Kind::Bool: out += a.i ? "true" : "false"; break;
    case Fmt_Arg::Kind::List:
        out.push_back('[');
        for (size_t k = 0; k < a.list->size(); k++) {
            if (k) out += ", ";
            out += (*a.list)[k];
        }
        out.push_back(']');
        break;
    }
}

static void pad(std::string& out, std::string text, int width, bool left, bool zero) {
    if (width <= 0 || int(text.size()) >= width) {
        out += text;
        return;
    }
    size_t fill = size_t(width) - text.size();
    if (left) {
        out += text;
        out.append(fill, ' ');
    } else if (zero && !text.empty() && (text[0] == '-' || text[0] == '+')) {
        out.push_back(text[0]);
        out.append(fill, '0');
        out.append(text, 1);
    } else {
        out.append(fill, zero ? '0' : ' ');
        out += text;
    }
}

std::string fmt_args(std::string_view f, const Fmt_Arg* args, size_t count) {
    std::string out;
    out.reserve(f.size() + 16 * count);
    size_t next = 0;
    for (size_t i = 0; i < f.size(); i++) {
        char c = f[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '%') {
            out.push_back('%');
            i++;
            continue;
        }
        size_t j = i + 1;
        bool left = false, zero = false;
        while (j < f.size() && (f[j] == '-' || f[j] == '0' || f[j] == '+' || f[j] == ' ')) {
            if (f[j] == '-') left = true;
            if (f[j] == '0') zero = true;
            j++;
        }
        int width = 0;
        while (j < f.size() && f[j] >= '0' && f[j] <= '9') width = width * 10 + (f[j++] - '0');
        int precision = -1;
        if (j < f.size() && f[j] == '.') {
            precision = 0;
            j++;
            while (j < f.size() && f[j] >= '0' && f[j] <= '9') precision = precision * 10 + (f[j++] - '0');
        }
        if (j >= f.size()) {   // a lone "%" at the end stays as it is
            out.append(f.substr(i));
            break;
        }
        char verb = f[j];
        i = j;
        if (next >= count) {
            out += "%!";
            out.push_back(verb);
            out += "(MISSING)";
            continue;
        }
        const Fmt_Arg& a = args[next++];
        std::string text;
        char buf[128];
        switch (verb) {
        case 'd':
            if (a.kind == Fmt_Arg::Kind::Int || a.kind == Fmt_Arg::Kind::Bool) {
                snprintf(buf, sizeof buf, "%lld", (long long)a.i);
                text = buf;
            } else if (a.kind == Fmt_Arg::Kind::Uint) {
                snprintf(buf, sizeof buf, "%llu", (unsigned long long)a.u);
                text = buf;
            } else if (a.kind == Fmt_Arg::Kind::Real) {
                snprintf(buf, sizeof buf, "%lld", (long long)a.r);
                text = buf;
            } else {
                append_value(text, a);
            }
            break;
        case 'x':
        case 'X':
            if (a.kind == Fmt_Arg::Kind::Int || a.kind == Fmt_Arg::Kind::Uint || a.kind == Fmt_Arg::Kind::Bool) {
                snprintf(buf, sizeof buf, verb == 'x' ? "%llx" : "%llX", (unsigned long long)a.u);
                text = buf;
            } else if (a.kind == Fmt_Arg::Kind::Text) {
                static const char* digits_lower = "0123456789abcdef";
                static const char* digits_upper = "0123456789ABCDEF";
                const char* d = verb == 'x' ? digits_lower : digits_upper;
                for (unsigned char b : a.s) {
                    text.push_back(d[b >> 4]);
                    text.push_back(d[b & 15]);
                }
            } else {
                append_value(text, a);
            }
            break;
        case 'f':
        case 'e':
        case 'g': {
            double v = a.kind == Fmt_Arg::Kind::Real ? a.r
                     : a.kind == Fmt_Arg::Kind::Uint ? double(a.u)
                                                    : double(a.i);
            char conv[16];
            snprintf(conv, sizeof conv, "%%.%d%c", precision < 0 ? 6 : precision, verb);
            snprintf(buf, sizeof buf, conv, v);
            text = buf;
            break;
        }
        case 'q': {
            std::string plain;
            append_value(plain, a);
            text = quoted(plain);
            break;
        }
        case 'c':
            text.push_back(char(a.kind == Fmt_Arg::Kind::Text ? (a.s.empty() ? 0 : a.s[0]) : a.i));
            break;
        case 's':
        case 'v':
        default:
            append_value(text, a);
            if (precision >= 0 && a.kind == Fmt_Arg::Kind::Text && text.size() > size_t(precision)) text.resize(precision);
            break;
        }
        pad(out, std::move(text), width, left, zero && !left);
    }
    return out;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                static const char* digits = "0123456789abcdef";
                out += "\\x";
                out.push_back(digits[c >> 4]);
                out.push_back(digits[c & 15]);
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
    return out;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return out;
}
