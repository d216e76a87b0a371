// The import of every mod archive the player hands to the launcher (the task
// "HD Textures"): the archive's kind is recognised from its signature and
// its member names, then Hard Mode, Body Sculpting and HD Models+ are
// unpacked into the data folder's "mod_src", and the other kinds go to their
// own importers.
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct Task;
struct Zip_Archive;
struct Zip_Entry;

// Keeps a copy of the archive path and starts the task "HD Textures" with
// hd_import_any. False when a task is already running (the path is still
// kept).
bool hd_import_start(std::string_view archive_path);
// The task procedure: recognises the archive kept by hd_import_start and
// imports it. Reports only through the task.
void hd_import_any(Task& t);
// The path hd_import_start kept last.
std::string hd_import_path();

// What a ZIP holds, by its member names (tested in this order).
enum class Zip_Kind { Hard_Mode, Sculpt, Hd_Models, Button_Icons, Hd_Gui, Hd_Project };
Zip_Kind zip_kind(const std::vector<Zip_Entry>& entries);

// The importers of the three kinds unpacked into "mod_src"; each opens
// nothing itself and reports through the task. Each unpacks into a new
// folder beside its own, checks what the archive brought there and swaps it
// in whole: a refusal, a failure or a cancel leaves the folder as it was.
void hard_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name);
void sculpt_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name);
void hdm_import(Task& t, Zip_Archive& a, const std::vector<Zip_Entry>& entries, std::string_view archive_name);

// The progress of the HD Models+ import after `n` members, kept within 1.
float hdm_import_progress(int n);

// ASCII lower case, and a suffix test on it.
std::string lower_ascii(std::string_view s);
bool ends_with_lower(std::string_view name, std::string_view lower_suffix);
