#include "launcher/archive/member_name.h"

#include "engine/kt_system/fs.h"

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool is_sep(char c) { return c == '/' || c == '\\'; }

bool refuse(std::string* why, std::string_view reason) {
    if (why) *why = std::string(reason);
    return false;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension.
bool is_device_name(std::string_view element) {
    std::string_view stem = element.substr(0, element.find('.'));
    // Windows also ignores blanks before the extension ("nul .txt").
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string low;
    for (char c : stem) low.push_back(lower(c));
    if (low == "con" || low == "prn" || low == "aux" || low == "nul") return true;
    if (low.size() == 4 && (low.compare(0, 3, "com") == 0 || low.compare(0, 3, "lpt") == 0))
        return low[3] >= '1' && low[3] <= '9';
    return false;
}

}  // namespace

bool member_name_ok(std::string_view name, std::string* why) {
    if (name.empty()) return refuse(why, "the name is empty");
    if (is_sep(name.front())) return refuse(why, "the name starts at the root of the disk");
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == ':') return refuse(why, "the name holds a \":\"");
        if (u < 0x20 || u == 0x7f) return refuse(why, "the name holds a control character");
    }
    // One separator at the end marks a folder entry.
    if (is_sep(name.back())) name.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < name.size() && !is_sep(name[end])) end++;
        std::string_view element = name.substr(start, end - start);
        if (element.empty()) return refuse(why, "the name has an empty part");
        if (element == "." || element == "..") return refuse(why, "the name holds \".\" or \"..\"");
        if (element.back() == '.' || element.back() == ' ')
            return refuse(why, "a part of the name ends with a dot or a blank");
        if (is_device_name(element)) return refuse(why, "a part of the name is a Windows device name");
        if (end == name.size()) break;
        start = end + 1;
    }
    return true;
}

std::string member_join(std::string_view base, std::string_view checked_name) {
    std::string out(base);
    if (!out.empty() && !is_sep(out.back())) out.push_back('/');
    for (char c : checked_name) out.push_back(c == '\\' ? '/' : c);
    return out;
}

bool member_path(std::string_view base, std::string_view name, std::string& out, std::string* why) {
    out.clear();
    if (!member_name_ok(name, why)) return false;
    std::string path = member_join(base, name);
    // Every element below the base that exists already must be a real
    // folder or, for the last one, a file.
    size_t at = path.size() - name.size();
    while (at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        File_Info info;
        if (!fs_stat(std::string_view(path).substr(0, end), info)) break;   // nothing below here exists yet
        if (info.is_link) return refuse(why, "a part of its path on disk is a link");
        at = end + 1;
    }
    out = std::move(path);
    return true;
}
