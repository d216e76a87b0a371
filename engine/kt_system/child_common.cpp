// The parts of child processes shared by both back ends.
#include "engine/kt_system/child.h"

std::string child_command_line(const std::vector<std::string>& args) {
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i) out.push_back(' ');
        if (!a.empty() && a.find_first_of(" \t\"") == std::string::npos) {
            out += a;
            continue;
        }
        out.push_back('"');
        size_t slashes = 0;
        for (char c : a) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            if (c == '"') {
                out.append(2 * slashes + 1, '\\');
            } else {
                out.append(slashes, '\\');
            }
            slashes = 0;
            out.push_back(c);
        }
        out.append(2 * slashes, '\\');
        out.push_back('"');
    }
    return out;
}
