// Running the real tools the cross-build tests compare with (unsquashfs,
// qemu-aarch64, llvm-readelf): one shell command, its output and exit code.
#pragma once
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "launcher/core/child_run.h"

struct Shell_Result {
    int code = -1;
    std::string out;
};

// Runs `command` with /bin/sh, standard error joined to the output.
inline Shell_Result shell(const std::string& command) {
    Shell_Result r;
    std::string full = "{ " + command + " ; } 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// A path as one word for the shell.
inline std::string sh_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

inline bool have_tool(const char* name) { return !find_program(name).empty(); }
