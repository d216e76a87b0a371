// The file-system test seams and texts shared by both back ends.
#include "engine/kt_system/fs.h"

#include <mutex>

namespace {

std::mutex hook_lock;
std::string refused_prefix;
std::string full_prefix;
std::function<bool(std::string_view, uint64_t&)> free_space_hook;

std::string unified(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

}  // namespace

namespace {

// Where the file name begins in `path` (after the last separator).
size_t name_start(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// The file name as the temporary name keeps it: at most fs_temp_name_keep
// bytes, not ending inside a UTF-8 sequence.
std::string_view kept_part(std::string_view name) {
    if (name.size() <= fs_temp_name_keep) return name;
    size_t end = fs_temp_name_keep;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::string fs_temp_name(std::string_view path, uint64_t pid, uint64_t serial) {
    size_t start = name_start(path);
    std::string out(path.substr(0, start));
    out += kept_part(path.substr(start));
    out += "." + std::to_string(pid) + "-" + std::to_string(serial) + ".tmp";
    return out;
}

bool fs_is_temp_name_of(std::string_view name, std::string_view file_name, uint64_t* pid) {
    std::string_view kept = kept_part(file_name);
    if (name.size() <= kept.size() + 1 || name.substr(0, kept.size()) != kept || name[kept.size()] != '.') return false;
    std::string_view rest = name.substr(kept.size() + 1);
    if (rest.size() < 4 || rest.substr(rest.size() - 4) != ".tmp") return false;
    rest.remove_suffix(4);
    size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash > 19 || !all_digits(rest.substr(0, dash)) ||
        !all_digits(rest.substr(dash + 1)))
        return false;
    if (pid) *pid = std::stoull(std::string(rest.substr(0, dash)));
    return true;
}

std::string fs_not_regular_text() { return "not a regular file"; }

std::string fs_too_large_text(uint64_t limit) {
    return "larger than the " + std::to_string(limit) + " bytes allowed for this file";
}

void fs_fail_under(std::string_view prefix) {
    std::lock_guard<std::mutex> guard(hook_lock);
    refused_prefix = unified(prefix);
}

void fs_disk_full_under(std::string_view prefix) {
    std::lock_guard<std::mutex> guard(hook_lock);
    full_prefix = unified(prefix);
}

bool fs_hook_disk_full(std::string_view path) {
    std::lock_guard<std::mutex> guard(hook_lock);
    return !full_prefix.empty() && unified(path).compare(0, full_prefix.size(), full_prefix) == 0;
}

void fs_set_free_space_hook(std::function<bool(std::string_view path, uint64_t& bytes)> hook) {
    std::lock_guard<std::mutex> guard(hook_lock);
    free_space_hook = std::move(hook);
}

bool fs_hook_refuses(std::string_view path, std::string* err) {
    std::lock_guard<std::mutex> guard(hook_lock);
    if (refused_prefix.empty()) return false;
    if (unified(path).compare(0, refused_prefix.size(), refused_prefix) != 0) return false;
    if (err) *err = "refused by the test hook";
    return true;
}

bool fs_hook_free_space(std::string_view path, uint64_t& bytes, bool& handled) {
    std::function<bool(std::string_view, uint64_t&)> hook;
    {
        std::lock_guard<std::mutex> guard(hook_lock);
        hook = free_space_hook;
    }
    handled = static_cast<bool>(hook);
    if (!handled) return false;
    return hook(path, bytes);
}
