// Process environment and process-wide set-up on POSIX systems.
#include "engine/kt_system/env.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

extern char** environ;

namespace {

// getenv and setenv are not safe against each other across threads.
std::mutex env_lock;

}  // namespace

std::string env_get(std::string_view name) {
    std::lock_guard<std::mutex> guard(env_lock);
    const char* v = getenv(std::string(name).c_str());
    return v ? std::string(v) : std::string();
}

bool env_is_set(std::string_view name) {
    std::lock_guard<std::mutex> guard(env_lock);
    return getenv(std::string(name).c_str()) != nullptr;
}

void env_set(std::string_view name, std::string_view value, bool unset) {
    std::lock_guard<std::mutex> guard(env_lock);
    std::string n(name);
    if (unset) {
        unsetenv(n.c_str());
    } else {
        setenv(n.c_str(), std::string(value).c_str(), 1);
    }
}

std::vector<std::string> env_all() {
    std::lock_guard<std::mutex> guard(env_lock);
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
    return out;
}

std::string env_local_app_data() {
    std::string v = env_get("LOCALAPPDATA");
    if (!v.empty()) return v;
    v = env_get("XDG_DATA_HOME");
    if (!v.empty()) return v;
    std::string home = env_get("HOME");
    if (home.empty()) return std::string();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") return "/.local/share";
    return home + "/.local/share";
}

std::string env_user_profile() { return env_get("HOME"); }

std::string exe_path() {
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

std::string current_dir() {
    std::string buf(256, '\0');
    for (;;) {
        if (getcwd(buf.data(), buf.size())) {
            buf.resize(std::char_traits<char>::length(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
}

// Terminals here take UTF-8 already; there is no error-dialog mode.
void console_utf8() {}
void console_restore() {}
bool console_release_if_own() { return false; }
void set_quiet_error_mode() {}
