#include "engine/kt_system/file_dialog.h"

// There is no dialog every desktop has: the launcher's own browser is used.
File_Dialog_Result file_dialog(Window*, const File_Dialog_Request&) {
    File_Dialog_Result r;
    r.error = "not available";
    return r;
}

bool file_dialog_available() { return false; }

std::string file_dialog_prepare_only(const File_Dialog_Request&) { return "not available"; }
