// Clear Cache: empties the data folder except what the player cannot get
// back, and deletes the build outputs and the game's run files beside the
// launcher.
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct Task;

// The task's work. True when everything that was to be deleted is gone.
bool clear_cache_task(Task& t);
// The task procedure of "Clear Cache": marks the task failed when not
// everything could be deleted.
void cli_task_clear_cache(Task& t);

// True when <data>/settings.txt is exactly what this version writes for the
// settings it describes (missing keys allowed, nothing unknown or different).
bool settings_file_exact();

// Puts the defaults (with the graphics preset applied) back into the live
// settings record, replacing it whole.
void settings_reset();

// The text's lines: a CR at the end dropped, trimmed of surrounding white
// space, empty ones left out, sorted in byte order.
std::vector<std::string> lines(std::string_view text);
// Byte order: -1, 0 or 1.
int cmp_strings(std::string_view a, std::string_view b);

// Whether an entry of the launcher's folder is one of the files Clear Cache
// deletes there (the built game, its configuration, identity, logs, caches,
// profiles and packages). Folders are never passed here.
bool clear_cache_launcher_file(std::string_view name);
