// Runs a copy of the built launcher from a folder of its own, with the data
// folder in a chosen place, and collects its exit code and output.
#pragma once
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

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

inline std::string shell_quoted(const std::string& s) {
#ifdef _WIN32
    return "\"" + s + "\"";
#else
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
#endif
}

// Runs `exe` with `args` and the variables in `env` added to this process's
// environment; standard output and error are written into files in
// `scratch` and read back.
inline Run_Result run_program(const std::string& exe, const std::vector<std::string>& args,
                              const std::vector<std::pair<std::string, std::string>>& env,
                              const std::string& scratch) {
    std::string out_file = path_join({scratch, "stdout.txt"});
    std::string err_file = path_join({scratch, "stderr.txt"});
    std::string cmd;
#ifdef _WIN32
    // cmd.exe: `set "NAME=value"` for each variable (an empty value removes it).
    for (const auto& [name, value] : env) cmd += "set \"" + name + "=" + value + "\" & ";
#else
    for (const auto& [name, value] : env) cmd += name + "=" + shell_quoted(value) + " ";
#endif
    cmd += shell_quoted(exe);
    for (const std::string& a : args) cmd += " " + shell_quoted(a);
#ifdef _WIN32
    cmd += " <NUL";
#else
    cmd += " </dev/null";
#endif
    cmd += " >" + shell_quoted(out_file) + " 2>" + shell_quoted(err_file);

    Run_Result r;
    int status = std::system(cmd.c_str());
#ifdef _WIN32
    r.code = status;
#else
    // The shell's wait status: the exit code in the second byte unless a signal ended it.
    r.code = status != -1 && (status & 0x7f) == 0 ? (status >> 8) & 0xff : -1;
#endif
    fs_read(out_file, r.out);
    fs_read(err_file, r.err);
    // Text-mode output on Windows ends its lines with CR LF.
    for (std::string* text : {&r.out, &r.err}) {
        std::string plain;
        for (size_t i = 0; i < text->size(); ++i) {
            if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
            plain += (*text)[i];
        }
        *text = plain;
    }
    fs_remove_file(out_file);
    fs_remove_file(err_file);
    return r;
}
