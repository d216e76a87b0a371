#include "launcher/gamebuild/appimage.h"

#include "engine/kt_system/clock.h"
#include "engine/kt_system/file.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/core/bundle.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"

const std::string_view desktop_entry_text =
    "[Desktop Entry]\nType=Application\nName=Quillmarsh\nComment=EMBERFALL SAGA, recompiled\nExec=Quillmarsh\n"
    "Icon=quillmarsh\nTerminal=false\nCategories=Game;\n";

std::string apprun_text(std::string_view program, bool game_folder) {
    std::string s;
    s += "#!/bin/sh\n";
    s += "# Quillmarsh's AppImage: written by the Quillmarsh launcher.\n";
    s += "HERE=\"$(dirname \"$(readlink -f \"$0\")\")\"\n";
    s += "OUT=\"$(dirname \"${APPIMAGE:-$HERE/x}\")\"\n";
    if (game_folder) {
        s += "# the game's install, its saves (cdrive) and its pipeline cache: beside the .AppImage (the environment "
             "wins)\n";
        s += ": \"${ZQR_GAME_DIR:=$OUT/EMBERFALL SAGA}\"\n";
        s += ": \"${ZQR_EXE:=$ZQR_GAME_DIR/amber_data/prog/win/bin/efsagaimg.exe}\"\n";
        s += ": \"${ZQR_CDRIVE:=$OUT/cdrive}\"\n";
        s += "export ZQR_GAME_DIR ZQR_EXE ZQR_CDRIVE\n";
        s += "if [ ! -f \"$ZQR_EXE\" ]; then\n";
        s += "\techo \"Quillmarsh: the game is not at $ZQR_GAME_DIR\" >&2\n";
        s += "\techo \"Copy your \\\"EMBERFALL SAGA\\\" folder (the one with amber_data in it) next to the AppImage, "
             "or set ZQR_GAME_DIR.\" >&2\n";
        s += "\texit 1\n";
        s += "fi\n";
        s += "mkdir -p \"$ZQR_CDRIVE\"\n";
    }
    s += "cd \"$OUT\" || exit 1\n";
    s += fmt("exec \"$HERE/usr/bin/%s\" \"$@\"\n", program);
    return s;
}

std::vector<Sq_File> appimage_files(std::string_view apprun, std::string_view program, std::string_view cfg,
                                    std::string_view arch, std::vector<std::string>& extras) {
    std::vector<Sq_File> files = {
        {"AppRun", apprun, true},
        {"quillmarsh.desktop", desktop_entry_text, false},
        {"quillmarsh.png", icon_png(), false},
        {".DirIcon", icon_png(), false},
        {fmt("usr/bin/%s", program_name), program, true},
        {fmt("usr/bin/%s.cfg", program_name), cfg, false},
    };
    // The optional files from the bundle; their bytes live in `extras`.
    extras.clear();
    extras.reserve(2);
    std::string bytes;
    if (bundle_read(fsr_vk_lib(arch), bytes)) {
        extras.push_back(std::move(bytes));
        files.push_back({"usr/bin/libamd_fidelityfx_vk.so", extras.back(), false});
    }
    if (arch == "aarch64" && bundle_read("tools/steamhelper_linux_x64", bytes)) {
        extras.push_back(std::move(bytes));
        files.push_back({"usr/bin/steamhelper_linux_x64", extras.back(), true});
    }
    return files;
}

bool appimage_pack(Task& t, std::string_view path, std::string_view program_path, std::string_view cfg,
                   std::string_view arch, bool game_folder) {
    set_status(t, 0.95f, "Packing the AppImage");
    bundle_extract(t, data_dir(), {"appimage/"});
    std::string runtime;
    if (!fs_read(data_path({"appimage", fmt("runtime-%s", arch)}), runtime)) {
        logf(t, "This launcher carries no AppImage runtime for %s.", arch);
        return false;
    }
    // The program is copied from its file into the image, never read whole.
    int64_t program_size = 0;
    {
        File program;
        if (!file_open_read(program, program_path) || !file_size(program, program_size)) {
            logf(t, "Cannot read %s.", program_path);
            return false;
        }
    }
    std::string apprun = apprun_text(program_name, game_folder);
    std::vector<std::string> extras;
    std::vector<Sq_File> files = appimage_files(apprun, {}, cfg, arch, extras);
    for (Sq_File& f : files) {
        if (f.path != fmt("usr/bin/%s", program_name)) continue;
        f.from_path = program_path;
        f.from_size = uint64_t(program_size);
    }
    Sq_Layout layout;
    std::string err;
    if (!squashfs_layout(sq_entries(files), uint32_t(wall_ns() / 1000000000), layout, err)) {
        log_line(t, err);
        return false;
    }

    // The runtime, then the image right after it, written in turn.
    std::string tmp = fmt("%s.tmp", path);
    File out;
    uint64_t image_size = 0;
    bool ok = file_create(out, tmp) && file_write(out, runtime.data(), runtime.size()) &&
              squashfs_stream(out, layout, files, image_size, err);
    ok = file_close(out) && ok;
    if (!ok) {
        fs_remove_file(tmp);
        logf(t, "Cannot write %s.", tmp);
        return false;
    }
    fs_remove_file(path);
    if (!fs_rename(tmp, path)) {
        logf(t, "Cannot write %s.", path);
        return false;
    }
    logf(t, "AppImage: %s (%.0f MB, %s)", path, double(runtime.size() + image_size) / 1000000.0,
         "not compressed: install squashfs-tools (mksquashfs) for a smaller file");
    return true;
}
