// The system's dialog for choosing a file or a folder.
#pragma once
#include <string>
#include <string_view>

struct Window;

struct File_Dialog_Request {
    std::string_view title;          // UTF-8, shown as it is
    std::string_view start_folder;   // "" lets the system choose
    bool pick_file = false;          // a file (else a folder)
    std::string_view filter_name;    // e.g. "Mod archives (.zip, .rar)"
    std::string_view filter_pattern; // e.g. "*.zip;*.rar"; "" for none
};

struct File_Dialog_Result {
    std::string path;      // UTF-8, empty unless chosen
    bool chosen = false;   // the user confirmed a path
    std::string error;     // why no dialog could be shown ("" when it was)
};

// Shows the dialog modally over `owner` (may be null) and waits for the user.
// Where the system has no such dialog the result says "not available" and
// the caller uses its own browser.
File_Dialog_Result file_dialog(Window* owner, const File_Dialog_Request& request);

// Whether this system has the dialog at all.
bool file_dialog_available();

// Makes the dialog object and sets it up as file_dialog would (options,
// title, file types, start folder), then releases it without showing it.
// "" when every step succeeded, else the first step that failed.
std::string file_dialog_prepare_only(const File_Dialog_Request& request);
