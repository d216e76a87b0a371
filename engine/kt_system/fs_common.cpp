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
