// The data folder and the launcher's own folder.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

// Resolves the data folder (LOCALAPPDATA, or "." when unset or empty, joined
// with "efsg-launcher") and makes it with its parents. A failure is silent:
// whoever writes there later reports it.
void paths_init();
const std::string& data_dir();
// data_dir joined with the parts (cleaned like a standard path join).
std::string data_path(std::initializer_list<std::string_view> parts);
// The folder of the launcher's executable; data_path("game") when unknown.
std::string exe_dir();
// True when something that is not a folder exists at the path.
bool file_exists(std::string_view path);

// Test seam: the folder exe_dir() answers (empty restores the real one).
void paths_set_exe_dir(std::string_view dir);
