// Process environment and process-wide set-up.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The value of an environment variable (UTF-8), empty when unset.
std::string env_get(std::string_view name);
bool env_is_set(std::string_view name);
// Sets (or, with unset true, removes) a variable of this process.
void env_set(std::string_view name, std::string_view value, bool unset = false);
// Every variable of this process as "NAME=value", in the system's order.
std::vector<std::string> env_all();

// The folder that stands for LOCALAPPDATA. On Windows the variable itself
// (empty when unset). Elsewhere the variable when set and not empty, else
// $XDG_DATA_HOME, else $HOME/.local/share.
std::string env_local_app_data();
// USERPROFILE on Windows; $HOME elsewhere.
std::string env_user_profile();

// Full path of this program's executable, empty when it cannot be had.
std::string exe_path();
std::string current_dir();

// Standard output and error carry UTF-8: on Windows the console's output
// code page becomes 65001 until console_restore() puts the old one back.
void console_utf8();
void console_restore();
// No system dialogs for critical errors, crashes or missing files.
void set_quiet_error_mode();
// A program started from Explorer gets a console of its own, which would
// stay open empty beside its window: when this process is the only one
// attached to its console, it lets the console go (Windows; nothing
// elsewhere). True when it did.
bool console_release_if_own();
