// The HD folder that the game reads before its own data, and its marker
// files. Every function here is a plain query of the file system, callable
// from any thread; none keeps state, and none reports a message: a folder or
// file that cannot be read answers "absent".
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/mods/zip.h"

inline constexpr std::string_view hd_folder_name = "amber_data_hd";
inline constexpr std::string_view hd_marker_file = "quillmarsh_hd.txt";
inline constexpr std::string_view hd_gui_marker_file = "quillmarsh_hd_gui.txt";
inline constexpr std::string_view hd_discard_file = "discarded.txt";
inline constexpr std::string_view hd_probe_file = "quillmarsh_hd_probe.tmp";

// True when the folder holds "quillmarsh_hd.txt" or "quillmarsh_hd_gui.txt"
// as a file.
bool hd_marker_present(std::string_view folder);
// The present HD folder: <game>/amber_data_hd when the game folder is set and
// it holds a marker, else <data>/hd when that holds one, else "".
std::string hd_dir();

struct Hd_Target {
    std::string hd_dir;   // where the import puts its result
    std::string root;     // the folder that holds it (the game or the data folder)
};
// Where an import writes: the game folder when a probe file can be written
// there (and is deleted again), else the data folder. The caller has checked
// that a game folder is set.
Hd_Target hd_target_dir();

// The value of `key` in the HD folder's "quillmarsh_hd_gui.txt" (gui) or
// "quillmarsh_hd.txt"; "" when there is no folder, file or key.
std::string hd_info(std::string_view key, bool gui);
// The HD folder holds "quillmarsh_hd_gui.txt" as a file.
bool hd_gui_imported();
// The HD folder holds the discard marker "discarded.txt" as a file.
bool hd_discarded();
// The HD Project ZIP that Discard may delete; "" when none exists.
std::string hd_zip_find();

struct Hd_Old_Asset {
    std::string path;   // a game archive
    int64_t size = 0;
};
struct Hd_Old_Assets {
    std::vector<Hd_Old_Asset> list;
    int64_t total = 0;
};
// The game's archives that the HD folder's rebuilt "sys" and "zone" files
// replace, in that order, and their total size.
Hd_Old_Assets hd_old_assets();

// The ZIP members an HD import keeps: "textures/", "data/", "supportfiles/"
// (compared in lower case).
bool hd_zip_wanted(std::string_view member);
// Reduces an import's work folder to the wanted ZIP members: its "data",
// "textures" and "supportfiles" folders (any case) are pruned to the files
// whose lower-cased paths relative to the work folder are kept; every other
// entry is deleted with its content. Links are deleted, never followed.
void hd_clean_dir(std::string_view work, const Keep_Set& keep);
// The class folder of a one-letter model class code; false for any other code.
bool hd_class_dir(std::string_view code, std::string& folder);
