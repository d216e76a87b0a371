// The import of the button icons mod: its glyph sheets cut out of the
// mod's system files into the data folder's "button_icons".
#pragma once
#include <string_view>
#include <vector>

struct Task;
struct Zip_Archive;
struct Zip_Entry;

// Imports both sheets of a recognised button-icons ZIP (`entries` is its
// listing) into "button_icons" and turns the setting on. Reports through the
// task; the caller closes the archive.
void bb_import(Task& t, Zip_Archive& archive, const std::vector<Zip_Entry>& entries, std::string_view archive_name);
