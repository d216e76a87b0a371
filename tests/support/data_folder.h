// Points the launcher's data folder at a fresh temporary folder for one
// test (through LOCALAPPDATA) and puts the variable back afterwards.
#pragma once
#include <string>

#include "engine/kt_system/env.h"
#include "launcher/core/paths.h"
#include "tests/support/temp_dir.h"

struct Data_Folder {
    Temp_Dir dir;
    std::string saved = env_get("LOCALAPPDATA");
    bool was_set = env_is_set("LOCALAPPDATA");
    Data_Folder() {
        env_set("LOCALAPPDATA", dir.path);
        paths_init();
    }
    ~Data_Folder() { env_set("LOCALAPPDATA", saved, !was_set); }
    Data_Folder(const Data_Folder&) = delete;
    Data_Folder& operator=(const Data_Folder&) = delete;
};
