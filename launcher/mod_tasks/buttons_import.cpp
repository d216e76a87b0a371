#include "launcher/mod_tasks/buttons_import.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/archive/zip.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/mods/buttons.h"

namespace {

struct Bb_Kind {
    std::string_view kind;
    std::string_view output;
    std::string_view log_name;
};
constexpr Bb_Kind bb_kinds[] = {
    {"ps3", "button_ps.dds", "PlayStation"},
    {"360", "button_xb.dds", "Xbox 360"},
};

// Unpacks, checks and converts one kind; false after logging why.
bool bb_import_kind(Task& t, Zip_Archive& archive, const std::vector<Zip_Entry>& entries,
                    std::string_view archive_name, const Bb_Kind& k, const std::string& icons,
                    const std::string& scratch) {
    std::string pattern = "system.win32." + std::string(k.kind);
    const Zip_Entry* member = nullptr;
    for (const Zip_Entry& e : entries) {
        if (ends_with_lower(e.name, pattern)) {
            member = &e;
            break;
        }
    }
    if (!member) return false;   // recognition guarantees one; nothing to say otherwise
    if (member->unpacked != bb_file_size) {
        logf(t, "%s's system.win32.%s is %d bytes, not %d: not the version this launcher knows (v2.0). Get it with Get.",
             archive_name, k.kind, member->unpacked, bb_file_size);
        return false;
    }
    std::string unpacked = path_join({scratch, pattern});
    if (!zip_extract(archive, *member, unpacked, nullptr)) {
        logf(t, "Cannot unpack %s from the ZIP: %s.", member->name, import_reason());
        return false;
    }
    std::string bytes;
    if (!fs_read(unpacked, bytes) || int64_t(bytes.size()) != bb_file_size) {
        logf(t, "Cannot read %s.", unpacked);
        return false;
    }
    std::string_view sheet = std::string_view(bytes).substr(bb_sheet_offset, bb_sheet_size);
    if (!bb_sheet_ok(sheet)) {
        logf(t, "system.win32.%s does not hold button icons where the launcher expects them.", k.kind);
        return false;
    }
    // Written beside the target and renamed over it: a cut file must never
    // count as present.
    if (!fs_write_atomic(path_join({icons, k.output}), bb_dds(sheet))) {
        logf(t, "Cannot write in %s.", icons);
        return false;
    }
    logf(t, "%s: the %s icons", k.output, k.log_name);
    return true;
}

}  // namespace

void bb_import(Task& t, Zip_Archive& archive, const std::vector<Zip_Entry>& entries, std::string_view archive_name) {
    set_status(t, 0, "Checking %s", archive_name);
    std::string icons = data_path({"button_icons"});
    std::string scratch = path_join({icons, "unpack"});
    fs_remove_tree(scratch);
    if (!fs_make_dirs(scratch) && !fs_is_dir(scratch)) {
        logf(t, "Cannot make %s.", scratch);
        t.failed.store(1);
        return;
    }
    bool ok = true;
    for (const Bb_Kind& k : bb_kinds) {
        if (!bb_import_kind(t, archive, entries, archive_name, k, icons, scratch)) {
            ok = false;
            break;
        }
    }
    if (ok) {
        settings_edit([](Settings& s) { s.button_icons = true; });
        save_settings();
        cfg_write_file(exe_dir(), Cfg_When::If_Present);
        logf(t,
             "Better Button Icons imported into %s. It is On: with no controller the game shows the keyboard's keys, "
             "with a PlayStation controller its buttons, with any other the Xbox 360 ones.",
             icons);
        set_status(t, 1, "Imported");
    } else {
        t.failed.store(1);
    }
    fs_remove_tree(scratch);
}
