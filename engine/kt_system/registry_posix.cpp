// Registry reads where there is no registry. The launcher reads two kinds of
// value: the store client's install folder ("SteamPath" under the current
// user's Software\Valve\Steam) and the "Path" values of the user's and the
// machine's environment. The first is answered from the folders the Linux
// client installs itself into; "Path" and everything else answer "", which
// the callers treat as a missing value.
#include "engine/kt_system/registry.h"

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/utf.h"

namespace {

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string steam_folder() {
    std::string home = env_get("HOME");
    if (home.empty()) return std::string();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") home.clear();
    for (const char* sub : {"/.local/share/Steam", "/.steam/steam"}) {
        std::string candidate = home + sub;
        if (fs_is_dir(candidate)) return candidate;
    }
    return std::string();
}

}  // namespace

std::string reg_string(Reg_Root root, std::string_view key, std::string_view value, size_t max_bytes) {
    std::string out;
    if (root == Reg_Root::Current_User && same_text_ignoring_case(key, "Software\\Valve\\Steam") &&
        same_text_ignoring_case(value, "SteamPath")) {
        out = steam_folder();
    }
    // The same limit as the registry's: UTF-16 bytes with the final NUL.
    if (!out.empty() && max_bytes != 0 && (utf16_from_utf8(out).size() + 1) * 2 > max_bytes) return std::string();
    return out;
}
