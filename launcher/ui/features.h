// The Features & Mods page: what it reads of the imported mods in one
// record, and the two folder measures it uses.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Settings;

struct Features_State {
    bool hd_folder = false;          // an HD folder exists
    bool hd_project = false;         // its HD Project marker is there
    std::string hd_zip, hd_region;   // the marker's "zip" and "region"
    std::vector<std::string> hd_left;   // what an uninstall deletes
    bool hd_left_real = false;       // ... and it holds more than the import log
    bool hd_gui = false;
    std::string gui_archive, gui_files;
    bool discarded = false;
    int64_t old_bytes = 0;
    bool buttons = false, hard = false, hdm = false, sculpt = false;
    std::array<std::string, 6> hdm_asks, hdm_applied;
    std::array<std::string, 3> sculpt_state, sculpt_applied;
};

// Reads every marker and state the page shows, for these settings.
Features_State features_state_read(const Settings& s);

// Entries of the folder that are no folders and whose lower-cased name ends
// in ".dat" (at least 4 characters); sub-folders are not looked into; 0 when
// the folder cannot be listed.
int64_t count_saves(std::string_view folder);
// The bytes of a file, or of a folder tree summed over every entry (links
// counted as themselves, never followed); 0 when the path cannot be
// examined or a folder cannot be listed.
int64_t path_size(std::string_view path);
