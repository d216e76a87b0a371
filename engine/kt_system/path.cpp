#include "engine/kt_system/path.h"

#include <cctype>
#include <vector>

bool is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

static bool is_reserved_device(std::string_view name) {
    std::string up;
    for (char c : name) up.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    if (up == "NUL" || up == "CON" || up == "PRN" || up == "AUX") return true;
    if (up.size() == 4 && (up.compare(0, 3, "COM") == 0 || up.compare(0, 3, "LPT") == 0) && up[3] >= '1' && up[3] <= '9')
        return true;
    return false;
}

bool path_is_absolute(std::string_view p) {
    if (p.empty()) return false;
    if (p[0] == '/' || p[0] == '\\') return true;
    if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && (p[2] == '\\' || p[2] == '/'))
        return true;
    return is_reserved_device(p);
}

std::string path_clean(std::string_view path) {
    if (path.empty()) return "";
    std::string prefix;
    size_t i = 0;
#ifdef _WIN32
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        prefix = std::string(path.substr(0, 2));
        i = 2;
    } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        prefix = "\\\\";   // a UNC path keeps its leading pair
        i = 2;
    }
#endif
    bool rooted = i < path.size() && is_separator(path[i]);
    std::vector<std::string_view> parts;
    while (i < path.size()) {
        while (i < path.size() && is_separator(path[i])) i++;
        size_t start = i;
        while (i < path.size() && !is_separator(path[i])) i++;
        std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
                continue;
            }
            if (rooted) continue;   // nothing above the root
        }
        parts.push_back(part);
    }
    std::string out = prefix;
    if (rooted && prefix != "\\\\") out.push_back(path_separator);
    for (size_t k = 0; k < parts.size(); k++) {
        if (k) out.push_back(path_separator);
        out.append(parts[k]);
    }
    if (out.empty()) return ".";
    return out;
}

std::string path_join(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (std::string_view p : parts) {
        if (p.empty()) continue;
        if (!joined.empty()) joined.push_back(path_separator);
        joined.append(p);
    }
    if (joined.empty()) return "";
    return path_clean(joined);
}

std::string path_base(std::string_view path) {
    if (path.empty()) return ".";
    size_t end = path.size();
    while (end > 1 && is_separator(path[end - 1])) end--;
    size_t start = end;
    while (start > 0 && !is_separator(path[start - 1])) start--;
    std::string_view b = path.substr(start, end - start);
    if (b.empty()) return std::string(1, path_separator);
    return std::string(b);
}

std::string path_dir(std::string_view path) {
    size_t i = path.size();
    while (i > 0 && !is_separator(path[i - 1])) i--;
    if (i == 0) return "";
    size_t end = i - 1;
    while (end > 0 && is_separator(path[end - 1])) end--;
    if (end == 0) return std::string(path.substr(0, 1));
    return std::string(path.substr(0, end));
}
