// Runs a copy of the built launcher from a folder of its own, with the data
// folder in a chosen place, and collects its exit code and output.
#pragma once
#include <cctype>
#include <cstdint>
#include <string_view>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/kt_system/child.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

// A path the build system wrote (a host path) as this program sees it: under
// wine the host's "/" is the drive Z:.
inline std::string host_path(std::string p) {
#ifdef _WIN32
    if (!p.empty() && p[0] == '/') {
        for (char& c : p) {
            if (c == '/') c = '\\';
        }
        p = "Z:" + p;
    }
#endif
    return p;
}

struct Run_Result {
    int code = -1;
    std::string out, err;
};

// Copies the built launcher into `dir` under `name`; the copy's path.
inline std::string launcher_copy(const std::string& built, const std::string& dir, const std::string& name) {
    std::string to = path_join({dir, name});
    if (!fs_make_dirs(dir) || !fs_copy_file(host_path(built), to)) return std::string();
    return to;
}

// Runs `exe` with `args`, standard input from the null device, in `cwd`,
// with this process's environment where the variables in `env` are set (an
// empty value removes one). `out` gets standard output and error together,
// in the order the program wrote them, with CR LF line ends made LF; `err`
// says why the program could not be started, and is empty otherwise.
inline Run_Result run_program(const std::string& exe, const std::vector<std::string>& args,
                              const std::vector<std::pair<std::string, std::string>>& env,
                              const std::string& cwd) {
    auto same_name = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i) {
#ifdef _WIN32
            if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
#else
            if (a[i] != b[i]) return false;
#endif
        }
        return true;
    };
    std::vector<std::string> vars;
    for (const std::string& v : env_all()) {
        std::string_view name = std::string_view(v).substr(0, v.find('=', 1));
        bool replaced = false;
        for (const auto& e : env) replaced = replaced || same_name(name, e.first);
        if (!replaced) vars.push_back(v);
    }
    for (const auto& [name, value] : env)
        if (!value.empty()) vars.push_back(name + "=" + value);
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());

    Run_Result r;
    Child* c = child_start(argv, cwd, &vars, &r.err);
    if (!c) {
        if (r.err.empty()) r.err = "could not start " + exe;
        return r;
    }
    std::string text;
    char buf[4096];
    for (;;) {
        if (!child_look(c, 1000)) continue;
        int64_t n = child_read(c, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    uint32_t code = 0;
    child_wait(c, -1, code);
    child_close(c);
    r.code = int(code);
    // Text-mode output on Windows ends its lines with CR LF.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        r.out += text[i];
    }
    return r;
}
