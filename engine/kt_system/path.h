// Path text helpers; no file-system access.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

// Joins the parts with the platform separator and cleans the result the way a
// standard path join does: doubled separators and "." elements removed, ".."
// folded into its parent where it has one. Empty parts are skipped. An empty
// result is "".
std::string path_join(std::initializer_list<std::string_view> parts);
std::string path_clean(std::string_view path);
// The last element ("." for an empty path), and everything before it
// ("" when there is no separator).
std::string path_base(std::string_view path);
std::string path_dir(std::string_view path);
// True for "/x", "\x", "C:\x", "C:/x", "\\server\x" and reserved device names
// such as "NUL" or "COM1".
bool path_is_absolute(std::string_view path);
bool is_separator(char c);
