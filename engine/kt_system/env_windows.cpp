// Process environment and process-wide set-up on Windows.
#include "engine/kt_system/env.h"

#include "engine/kt_system/win_util.h"

namespace {

UINT saved_output_cp = 0;

}  // namespace

std::string env_get(std::string_view name) {
    std::wstring n = wide_z(name);
    std::wstring buf;
    DWORD size = GetEnvironmentVariableW(n.c_str(), nullptr, 0);
    // The value may change between the calls; try again with the new size.
    while (size > 0) {
        buf.assign(size, L'\0');
        DWORD got = GetEnvironmentVariableW(n.c_str(), buf.data(), size);
        if (got < size) {
            buf.resize(got);
            return narrow(buf);
        }
        size = got;
    }
    return std::string();
}

bool env_is_set(std::string_view name) {
    std::wstring n = wide_z(name);
    SetLastError(ERROR_SUCCESS);
    if (GetEnvironmentVariableW(n.c_str(), nullptr, 0) != 0) return true;
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void env_set(std::string_view name, std::string_view value, bool unset) {
    std::wstring n = wide_z(name);
    if (unset) {
        SetEnvironmentVariableW(n.c_str(), nullptr);
    } else {
        SetEnvironmentVariableW(n.c_str(), wide_z(value).c_str());
    }
}

std::vector<std::string> env_all() {
    std::vector<std::string> out;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return out;
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) out.push_back(narrow(p, wcslen(p)));
    FreeEnvironmentStringsW(block);
    return out;
}

std::string env_local_app_data() { return env_get("LOCALAPPDATA"); }

std::string env_user_profile() { return env_get("USERPROFILE"); }

std::string exe_path() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        if (buf.size() >= 32768) return std::string();
        buf.resize(buf.size() * 2);
    }
}

std::string current_dir() {
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    while (size > 0) {
        std::wstring buf(size, L'\0');
        DWORD got = GetCurrentDirectoryW(size, buf.data());
        if (got < size) {
            buf.resize(got);
            return narrow(buf);
        }
        size = got;
    }
    return std::string();
}

void console_utf8() {
    UINT cp = GetConsoleOutputCP();
    if (cp == 0) return;
    if (saved_output_cp == 0) saved_output_cp = cp;
    SetConsoleOutputCP(CP_UTF8);
}

bool console_release_if_own() {
    DWORD ids[2];
    if (GetConsoleProcessList(ids, 2) != 1) return false;
    console_restore();
    return FreeConsole() != 0;
}

void console_restore() {
    if (saved_output_cp == 0) return;
    SetConsoleOutputCP(saved_output_cp);
    saved_output_cp = 0;
}

void set_quiet_error_mode() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}
