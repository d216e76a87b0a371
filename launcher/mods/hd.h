// The HD folder that the game reads before its own data, and its marker
// files. Every function here is a plain query of the file system, callable
// from any thread; none keeps state, and none reports a message: a folder or
// file that cannot be read answers "absent".
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/archive/zip.h"

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

// The mod's download pages, named in refusals and markers.
inline constexpr std::string_view hd_project_page = "https://www.nexusmods.com/emberfallsaga/mods/1";
inline constexpr std::string_view hd_gui_page = "https://www.nexusmods.com/emberfallsaga/mods/2";

// The members an HD Project ZIP must hold (compared case-insensitively).
inline constexpr std::string_view hd_project_files[] = {
    "SupportFiles/efsgtool.exe", "SupportFiles/EFSAGA_HDProject.exe", "SupportFiles/EFSAGA_ModelsHD.exe",
    "Data/LoadHDPCs.tx1", "Data/LoadHDEnvironments.txt",
};
// What the members lack to be the HD Project's ZIP: "textures/" when no
// texture is among them, else the first missing member of hd_project_files,
// else "" (it is the HD Project's ZIP). `textures` gets the texture count.
std::string hd_project_missing(const std::vector<Zip_Entry>& entries, int64_t* textures = nullptr);
// True when the file is a ZIP holding the HD Project's files.
bool hd_project_zip_ok(std::string_view path);
// The HD folder holds the HD Project's marker: an HD Project import finished.
bool hd_project_imported();

// Deletes a file, or a folder with everything in it; true when nothing is
// left at the path. `err` gets the system's reason.
bool hd_delete_path(std::string_view path, std::string* err = nullptr);

// Puts the folder `fresh` in the place of `target` without losing either:
// an old `target` is renamed to `target`.old, `fresh` renamed to `target`,
// the entries named in `carry` that the old one holds and the new one lacks
// are moved into the new one, then the old one is deleted. When the second
// rename fails the old folder is put back and `fresh` stays where it was.
// Every step is one rename, and whatever a stop between two of them leaves
// is settled from the disk alone (hd_swap_settle), first of all by the next
// swap. False (with the system's reason) when `fresh` is not in place.
bool hd_swap_dir(std::string_view fresh, std::string_view target, std::string* err = nullptr,
                 const std::vector<std::string_view>& carry = {});
// Finishes or undoes a swap of `target` that stopped half-way: a
// `target`.old with no `target` is put back; beside a `target` it gets the
// carrying done (see hd_swap_dir) and is deleted. True when no backup is left.
bool hd_swap_settle(std::string_view target, const std::vector<std::string_view>& carry, std::string* err = nullptr);
// What an HD folder's swap carries from the old folder to the new: the HD
// Fonts and GUI textures and their marker.
inline const std::vector<std::string_view> hd_gui_carry = {"hd_textures", hd_gui_marker_file};
// Settles the swaps a stopped import may have left in both places an HD
// folder can be (its own and that of its "hd_textures").
void hd_settle_folders();
// Test seam: makes the rename of `fresh` onto `target` in hd_swap_dir fail.
void hd_swap_fail_for_test(bool fail);
// Test seam: called before every rename of hd_swap_dir and hd_swap_settle,
// while nothing of that rename is done yet (nullptr removes it).
void hd_set_rename_seam(std::function<void(std::string_view from, std::string_view to)> seam);

// Finishes or undoes every swap of a mod folder that a stop (a kill, a
// crash) cut short: the HD folders and the mod source folders. Run before
// an import and at start-up.
void mods_settle();
