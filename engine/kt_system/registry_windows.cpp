// Registry string values on Windows.
#include "engine/kt_system/registry.h"

#include "engine/kt_system/win_util.h"

std::string reg_string(Reg_Root root, std::string_view key, std::string_view value, size_t max_bytes) {
    HKEY hive = root == Reg_Root::Current_User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    std::wstring k = wide_z(key);
    std::wstring v = wide_z(value);
    const DWORD only_strings = RRF_RT_REG_SZ;
    DWORD size = 0;
    if (RegGetValueW(hive, k.c_str(), v.c_str(), only_strings, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
    if (size < 2) return {};
    if (max_bytes != 0 && size > max_bytes) return {};
    // Room for the value rounded down to whole characters and a NUL of our own,
    // so that a value stored without its terminator still ends.
    DWORD bytes = (size & ~static_cast<DWORD>(1)) + 2;
    std::wstring buf(bytes / 2, L'\0');
    DWORD got = bytes;
    if (RegGetValueW(hive, k.c_str(), v.c_str(), only_strings, nullptr, buf.data(), &got) != ERROR_SUCCESS) return {};
    size_t len = 0;
    while (len < buf.size() && buf[len] != L'\0') ++len;
    return narrow(buf.data(), len);
}
