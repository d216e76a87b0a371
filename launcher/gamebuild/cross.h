// The cross build: which target and CPU the settings choose, the toolchain
// that can build for it, the names and folders of its output, the task that
// runs the build, and the output step after the link.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/cross_target.h"
#include "launcher/gamebuild/deps.h"

struct Task;

// The row named exactly `name` (byte for byte), else the first row.
const Cross_Target& cross_target_named(std::string_view name);
// The row the setting "cross_target" names; never fails.
const Cross_Target& cross_target();
// `cpu` when the target lists it, else the target's first CPU.
std::string cross_cpu_named(const Cross_Target& target, std::string_view cpu);
// The setting "cross_cpu" checked against the target.
std::string cross_cpu(const Cross_Target& target);

// The versioned linker names tried after "ld.lld", newest first.
inline constexpr int lld_newest_version = 30;
inline constexpr int lld_oldest_version = 10;
// LLVM's linker for a cross build: beside the compiler, then "ld.lld", then
// "ld.lld-30" down to "ld.lld-10" anywhere on the search path. "" when none.
std::string cross_find_linker(std::string_view compiler);
// The compiler (the listed Clang equal to `chosen`, else the first Clang)
// and the linker. Returns the message for the player, "" on success.
std::string cross_toolchain_from(const std::vector<Compiler>& list, std::string_view chosen, std::string& compiler,
                                 std::string& linker);
// The same with the found compilers and the setting "compiler".
std::string cross_toolchain(std::string& compiler, std::string& linker);

// The target's architecture word: its triple up to the first "-".
std::string cross_arch(const Cross_Target& target);
// "Quillmarsh-<arch>.AppImage".
std::string appimage_name(std::string_view arch);
// The main output's file name: "Quillmarsh.apk", the AppImage's name when
// the setting "cross_appimage" is on, else "Quillmarsh".
std::string cross_out_name(const Cross_Target& target);
// The launcher's folder joined with "Quillmarsh-<name with - for _>".
std::string cross_out_dir(const Cross_Target& target);

// The task procedure of a cross build (the Cross-Compile page's button and
// "--cross-build").
void cross_build_task(Task& t);

// The output step after a cross link: an APK for Android, else one AppImage
// or a plain folder. True on success (the reason is logged otherwise);
// `out_name` gets the name of the package written.
bool cross_write_output(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked,
                        bool appimage, std::string& out_name);
// Linux, plain folder: the configuration with "./" paths, "cdrive", the FSR
// library and the store helper when the bundle has them, "README.txt".
bool cross_write_extras(Task& t, const Cross_Target& target, std::string_view out_dir);
// Linux, one AppImage: packs it, clears a plain folder's leftovers, writes
// "README.txt".
bool cross_write_appimage(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked);

// Android: "Quillmarsh.apk" (manifest, resources, "res/", the configuration
// as "assets/Quillmarsh.cfg", the library as "lib/arm64-v8a/libmain.so"),
// signed with the data folder's key, and "README.txt".
bool android_write_output(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked);
// The configuration inside the APK: two comment lines and the game's
// options, no folder or executable.
std::string android_cfg_text(const Cross_Target& target);

// The "README.txt" texts.
std::string cross_readme_android(std::string_view cpu);
std::string cross_readme_folder(const Cross_Target& target, std::string_view cpu);
std::string cross_readme_appimage(const Cross_Target& target, std::string_view cpu, std::string_view appimage);
