#include "launcher/gamebuild/cross.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/appimage.h"
#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/fsr4.h"
#include "launcher/core/bundle.h"
#include "launcher/core/child_run.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"

namespace {

std::string before_dash(std::string_view s) {
    size_t dash = s.find('-');
    return std::string(dash == std::string_view::npos ? s : s.substr(0, dash));
}

// Writes one whole file in the output folder, or logs why not.
// The plain folder's optional files, beside the game.
constexpr std::string_view fsr_lib_name = "libamd_fidelityfx_vk.so";
constexpr std::string_view steamhelper_name = "steamhelper_linux_x64";

bool write_out(Task& t, std::string_view folder, std::string_view name, std::string_view text) {
    std::string path = path_join({folder, name});
    std::string err;
    if (fs_write(path, text, &err)) return true;
    logf(t, "Cannot write %s: %s.", path, err);
    return false;
}

}  // namespace

const Cross_Target& cross_target_named(std::string_view name) {
    for (const Cross_Target& t : cross_targets) {
        if (name == t.name) return t;
    }
    return cross_targets[0];
}

const Cross_Target& cross_target() { return cross_target_named(settings_copy().cross_target); }

std::string cross_cpu_named(const Cross_Target& target, std::string_view cpu) {
    for (const Cross_Cpu& c : target.cpus) {
        if (cpu == c.cpu) return c.cpu;
    }
    return target.cpus.front().cpu;
}

std::string cross_cpu(const Cross_Target& target) { return cross_cpu_named(target, settings_copy().cross_cpu); }

std::string cross_find_linker(std::string_view compiler) {
    std::string lld = find_lld(compiler);
    if (lld.empty()) lld = find_program("ld.lld");
    for (int v = lld_newest_version; lld.empty() && v >= lld_oldest_version; --v) lld = find_program(fmt("ld.lld-%d", v));
    return lld;
}

std::string cross_toolchain_from(const std::vector<Compiler>& list, std::string_view chosen, std::string& compiler,
                                 std::string& linker) {
    compiler.clear();
    linker.clear();
    for (const Compiler& c : list) {
        if (c.clang && c.path == chosen) compiler = c.path;
    }
    for (const Compiler& c : list) {
        if (compiler.empty() && c.clang) compiler = c.path;
    }
    if (compiler.empty()) {
        return "Needs Clang (GCC compiles only for its own computer): install Clang, then Check again on the Home tab.";
    }
    linker = cross_find_linker(compiler);
    if (linker.empty()) {
        return "Needs LLVM's linker (ld.lld.exe) beside Clang: LLVM-MinGW and MSYS2's Clang have it.";
    }
    return std::string();
}

std::string cross_toolchain(std::string& compiler, std::string& linker) {
    return cross_toolchain_from(compilers_get(), settings_copy().compiler, compiler, linker);
}

std::string cross_arch(const Cross_Target& target) { return before_dash(target.triple); }

std::string appimage_name(std::string_view arch) { return fmt("%s-%s.AppImage", program_name, arch); }

std::string cross_out_name(const Cross_Target& target) {
    if (target.android) return "Quillmarsh.apk";
    if (settings_copy().cross_appimage) return appimage_name(cross_arch(target));
    return std::string(program_name);
}

std::string cross_out_dir(const Cross_Target& target) {
    std::string name = target.name;
    for (char& c : name) {
        if (c == '_') c = '-';
    }
    return path_join({exe_dir(), fmt("%s-%s", program_name, name)});
}

void cross_build_task(Task& t) {
    const Cross_Target& target = cross_target();
    Build_Spec req;
    std::string message = cross_toolchain(req.compiler, req.linker);
    if (!message.empty()) {
        log_line(t, message);
        t.failed.store(1);
        return;
    }
    std::string folder = data_path({"cross", target.name});
    req.target = &target;
    req.cpu = cross_cpu(target);
    req.sysroot = path_join({folder, "sysroot"});
    req.ffmpeg = target.android ? std::string() : path_join({folder, "ffmpeg"});
    req.obj_dir = data_path({fmt("obj-%s", target.name)});
    req.out_dir = cross_out_dir(target);
    logf(t, "Target: %s, CPU %s", target.label, req.cpu);
    logf(t, "Linker: %s", req.linker);
    build_set_cross_output(cross_write_output);
    build_task(t, req);
}

bool cross_write_output(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked,
                        bool appimage, std::string& out_name) {
    if (target.android) {
        out_name = "Quillmarsh.apk";
        return android_write_output(t, target, out_dir, linked);
    }
    if (appimage) {
        out_name = appimage_name(cross_arch(target));
        return cross_write_appimage(t, target, out_dir, linked);
    }
    out_name = std::string(program_name);
    return cross_write_extras(t, target, out_dir);
}

bool cross_write_extras(Task& t, const Cross_Target& target, std::string_view out_dir) {
    std::string arch = cross_arch(target);
    fs_remove_file(path_join({out_dir, appimage_name(arch)}));

    std::string cfg = fmt("# Quillmarsh's settings for %s, written by the launcher's Cross-Compile Build.\n",
                          target.label);
    cfg += "# A path that starts with ./ is from this folder. The environment overrides any of them.\n";
    cfg += "ZQR_GAME_DIR=./EMBERFALL SAGA\n";
    cfg += "ZQR_EXE=./EMBERFALL SAGA/amber_data/prog/win/bin/efsagaimg.exe\n";
    cfg += "ZQR_CDRIVE=./cdrive\n";
    cfg_game_lines(cfg, &target);
    if (!write_out(t, out_dir, cfg_file_name, cfg)) return false;
    fs_make_dirs(path_join({out_dir, "cdrive"}));

    if (std::string_view(target.name) == "linux_arm64") {
        std::string bytes;
        if (bundle_read(fsr_vk_lib("aarch64"), bytes)) write_out(t, out_dir, fsr_lib_name, bytes);
        // The helper is a program: executable here as inside the AppImage.
        if (bundle_read("tools/steamhelper_linux_x64", bytes) && write_out(t, out_dir, steamhelper_name, bytes))
            fs_set_executable(path_join({out_dir, steamhelper_name}));
    }
    return write_out(t, out_dir, "README.txt", cross_readme_folder(target, cross_cpu(target)));
}

bool cross_write_appimage(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked) {
    std::string arch = cross_arch(target);
    std::string cfg = fmt("# Quillmarsh's settings for %s, written by the launcher's Cross-Compile Build (inside its "
                          "AppImage).\n",
                          target.label);
    cfg += "# The game's install and the saves are beside the .AppImage (its AppRun). The environment overrides any "
           "of them.\n";
    cfg_game_lines(cfg, &target);
    std::string name = appimage_name(arch);
    if (!appimage_pack(t, path_join({out_dir, name}), linked, cfg, arch, true)) return false;

    // What a plain-folder build left; a saves folder with saves in it stays.
    for (const std::string& name : {std::string(program_name), fmt("%s.cfg", program_name), std::string(fsr_lib_name),
                                    std::string(steamhelper_name)})
        fs_remove_file(path_join({out_dir, name}));
    std::string cdrive = path_join({out_dir, "cdrive"});
    if (fs_is_dir(cdrive)) fs_remove_dir(cdrive);
    return write_out(t, out_dir, "README.txt", cross_readme_appimage(target, cross_cpu(target), name));
}

std::string cross_readme_folder(const Cross_Target& target, std::string_view cpu) {
    std::string s;
    s += fmt("Quillmarsh for %s\n", target.label);
    s += "==========================\n";
    s += "\n";
    s += fmt("Built by the Quillmarsh launcher's Cross-Compile tab, for another computer (CPU: %s).\n", cpu);
    s += "\n";
    s += "To play there:\n";
    s += "  1. Copy this whole folder to that computer.\n";
    s += "  2. Put your EMBERFALL SAGA folder (the one with amber_data in it) inside it, named \"EMBERFALL SAGA\",\n";
    s += "     or link it there:   ln -s \"/path/to/EMBERFALL SAGA\" \"EMBERFALL SAGA\"\n";
    s += fmt("     (or change ZQR_GAME_DIR and ZQR_EXE in %s.cfg to where it is).\n", program_name);
    s += "     Converted cutscenes (amber_data/movie/*.mp4) come with it: convert them on a Windows PC first.\n";
    s += fmt("  3. Run ./%s  (it needs Vulkan graphics drivers and SDL2: e.g. sudo apt install libsdl2-2.0-0 "
             "mesa-vulkan-drivers,\n",
             program_name);
    s += "     and OpenSSL 3, which every current distribution has).\n";
    s += "\n";
    if (std::string_view(target.name) == "linux_arm64") {
        s += "Steam (achievements, cloud saves, \"Playing\" on your profile): start Steam first. It runs on ARM64 "
             "under FEX or\n";
        s += "Box64, and so does steamhelper_linux_x64 here, which the game starts for it (chmod +x it if the copy "
             "lost that).\n";
        s += "\n";
    }
    s += "Saves go in cdrive/ here. To bring your saves from the PC, copy the launcher's cdrive folder over this one.\n";
    return s;
}

std::string cross_readme_appimage(const Cross_Target& target, std::string_view cpu, std::string_view appimage) {
    std::string s;
    s += fmt("Quillmarsh for %s (AppImage)\n", target.label);
    s += "======================================\n";
    s += "\n";
    s += fmt("Built by the Quillmarsh launcher's Cross-Compile tab, for another computer (CPU: %s).\n", cpu);
    s += "\n";
    s += "To play there:\n";
    s += fmt("  1. Copy %s to a folder on that computer.\n", appimage);
    s += "  2. Put your EMBERFALL SAGA folder (the one with amber_data in it) next to it, named \"EMBERFALL SAGA\",\n";
    s += "     or link it there:   ln -s \"/path/to/EMBERFALL SAGA\" \"EMBERFALL SAGA\"\n";
    s += "     (or start it with ZQR_GAME_DIR set to where it is).\n";
    s += "     Converted cutscenes (amber_data/movie/*.mp4) come with it: convert them on a Windows PC first.\n";
    s += fmt("  3. chmod +x %s, then run ./%s\n", appimage, appimage);
    s += "     It needs Vulkan graphics drivers and SDL2 (e.g. sudo apt install libsdl2-2.0-0 mesa-vulkan-drivers),\n";
    s += "     OpenSSL 3, and FUSE 2 to open AppImages (sudo apt install libfuse2, or libfuse2t64). Without FUSE:\n";
    s += fmt("     ./%s --appimage-extract-and-run\n", appimage);
    s += "\n";
    s += "Saves go in cdrive/ next to the AppImage. To bring your saves from the PC, copy the launcher's cdrive "
         "folder there.\n";
    return s;
}
