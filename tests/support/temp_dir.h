// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends.
#pragma once
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

struct Temp_Dir {
    std::string path;

    Temp_Dir() {
        std::string base = env_get("TMPDIR");
        if (base.empty()) base = env_get("TEMP");
        if (base.empty()) base = env_get("TMP");
        if (base.empty()) base = "/tmp";
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, "qm-test-%08x%08x-%u", random(), random(), counter++);
            std::string candidate = path_join({base, name});
            File_Info info;
            if (fs_stat(candidate, info)) continue;
            if (fs_make_dirs(candidate)) {
                path = candidate;
                return;
            }
        }
        std::fprintf(stderr, "Temp_Dir: cannot make a folder under %s\n", base.c_str());
        std::abort();
    }
    ~Temp_Dir() { fs_remove_tree(path); }
    Temp_Dir(const Temp_Dir&) = delete;
    Temp_Dir& operator=(const Temp_Dir&) = delete;
};
