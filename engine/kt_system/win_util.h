// Helpers for the Windows back ends only (every *_windows.cpp of this folder
// includes it; nothing else may, since it brings in <windows.h>).
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "engine/kt_system/utf.h"

// UTF-8 text as the NUL-terminated UTF-16 string a system call takes; with
// `turn_slashes` every "/" becomes a backslash.
inline std::wstring wide_z(std::string_view text, bool turn_slashes = false) {
    std::u16string w = utf16_from_utf8(text);
    std::wstring out(w.begin(), w.end());
    if (turn_slashes) {
        for (wchar_t& c : out) {
            if (c == L'/') c = L'\\';
        }
    }
    return out;
}

// UTF-16 text from the system as UTF-8.
inline std::string narrow(const wchar_t* text, size_t size) {
    std::u16string w(text, text + size);
    return utf8_from_utf16(w);
}
inline std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }

// A path for a file-system call. Long absolute paths ("C:\..." or
// "\\server\share\...") get the "\\?\" prefix that lifts the 260-character
// limit; that form is taken literally by the system, so it is used only for
// paths without "." or ".." elements or doubled separators.
inline std::wstring wide_path_z(std::string_view path) {
    std::wstring w = wide_z(path);
    if (w.size() < 240) return w;
    for (wchar_t& c : w) {
        if (c == L'/') c = L'\\';
    }
    if (w.compare(0, 4, L"\\\\?\\") == 0) return w;
    bool drive = w.size() >= 3 && w[1] == L':' && w[2] == L'\\' &&
                 ((w[0] >= L'A' && w[0] <= L'Z') || (w[0] >= L'a' && w[0] <= L'z'));
    bool unc = !drive && w[0] == L'\\' && w[1] == L'\\' && w[2] != L'\\';
    if (!drive && !unc) return wide_z(path);
    size_t start = drive ? 3 : 2;
    for (size_t i = start; i <= w.size(); ++i) {
        if (i < w.size() && w[i] != L'\\') continue;
        std::wstring_view part(w.data() + start, i - start);
        bool last = i == w.size();
        if ((part.empty() && !last) || part == L"." || part == L"..") return wide_z(path);
        start = i + 1;
    }
    if (drive) return L"\\\\?\\" + w;
    return L"\\\\?\\UNC\\" + w.substr(2);
}

// The system's text for an error code, as UTF-8 without the final period
// and line break.
inline std::string win_error_text(DWORD code) {
    wchar_t buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             static_cast<DWORD>(sizeof buf / sizeof buf[0]), nullptr);
    while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ' || buf[n - 1] == L'.')) --n;
    if (n == 0) return "system error " + std::to_string(code);
    return narrow(buf, n);
}

// Nanoseconds since the Unix epoch from a FILETIME (100 ns since 1601).
inline int64_t filetime_ns(FILETIME ft) {
    int64_t t = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return (t - 116444736000000000LL) * 100;
}

// An owned handle, closed when it goes.
struct Win_Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Win_Handle(HANDLE handle) : h(handle) {}
    ~Win_Handle() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
    }
    Win_Handle(const Win_Handle&) = delete;
    Win_Handle& operator=(const Win_Handle&) = delete;
    bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};
