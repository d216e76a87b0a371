// The import of HD Fonts and GUI: the archive's "hd_textures" folder goes
// unchanged into the HD folder, unpacked first into "hd_textures.new" so an
// interrupted import resumes from the files already written intact.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/archive/zip.h"
#include "launcher/archive/rar5.h"

struct Task;

// One member of the archive that is not a folder, in archive order: the
// reader's own record for its kind (the other is left empty).
struct Gui_Member {
    std::string name;
    int64_t size = 0;
    rar5::Rar5_Entry rar;
    Zip_Entry zip;
};

// The open archive: a ZIP, or a listed RAR5 archive when `rar` is set.
struct Gui_Archive {
    Zip_Archive* zip = nullptr;
    const rar5::Rar5_Archive* rar = nullptr;
};

// The importer, on the task thread of "HD Textures". A failure, a refusal
// or a cancel leaves the HD folder as it was.
void hd_gui_import(Task& t, std::string_view archive_path, const Gui_Archive& archive,
                   const std::vector<Gui_Member>& members);
