// The compiler and linker arguments of the game build: every flag group and
// the link command come from the builders here. They read the launcher
// settings (opt_level, lto, tools, experimental), the request (an empty
// target means this computer), whether the chosen compiler is Clang, whether
// LLVM's linker sits beside it, and the build-wide profile path.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/cross_target.h"

using Cmd = std::vector<std::string>;

// The library tables of the link command.
inline constexpr int windows_system_lib_count = 15;
inline constexpr int windows_net_lib_count = 5;
inline constexpr int linux_lib_count = 5;
inline constexpr int android_lib_count = 7;
extern const char* const windows_system_libs[windows_system_lib_count];   // "-static" .. "-lm"
extern const char* const windows_net_libs[windows_net_lib_count];         // sockets and crypto
extern const char* const linux_libs[linux_lib_count];
extern const char* const android_libs[android_lib_count];                 // after the builtins archive

// The profile the PGO probe accepted; empty when the build uses none. Reset
// by every build.
void set_profile_path(std::string_view path);
std::string profile_path();

// The architecture word of the request: the triple up to its first "-";
// "x86_64" for this computer.
std::string triple_arch(const Build_Spec& req);
// "ld.lld.exe", then "ld.lld", in the compiler's folder; "" when neither is
// a file (and for an empty compiler path).
std::string find_lld(std::string_view compiler);
// A deep copy of an argument list.
Cmd clone_cmd(const Cmd& cmd);
// Whether this build links with LTO: the setting, and a cross build, a
// compiler that is not Clang, or Clang with ld.lld beside it.
bool lto_on(const Build_Spec& req);

Cmd spec_arch_flags(const Build_Spec& req);
Cmd common_flags(const Build_Spec& req);
Cmd runtime_option_flags(const Build_Spec& req);
Cmd page_option_flags(const Build_Spec& req);
Cmd link_option_flags(const Build_Spec& req);

// The groups of compile flags (src = the unpacked sources folder).
Cmd page_flags(const Build_Spec& req, std::string_view src);
// `own_ffmpeg`: the player's own FFmpeg folder when a native build uses it,
// else empty. `dlss`: the DLSS compile flags when DLSS is in the build.
Cmd runtime_flags(const Build_Spec& req, std::string_view src, std::string_view own_ffmpeg, const Cmd& dlss);
// The page flags, then "-I" and src/runtime.
Cmd match_flags(const Build_Spec& req, std::string_view src);

// The whole link command: the compiler, the arch and link options, the
// output, "@" and the response file, the FFmpeg libraries and the
// platform's library table. `dlss_link`: the DLSS link flags when DLSS is in
// the build (Windows only).
Cmd link_command(const Build_Spec& req, std::string_view compiler, std::string_view src, std::string_view ffmpeg_dir,
                 std::string_view output, std::string_view rsp, const Cmd& dlss_link);
// The same for a chosen system when the request has no target (tests on
// Linux link the game for Windows too).
enum class Native_Os { This, Windows, Linux };
Cmd link_command(const Build_Spec& req, std::string_view compiler, std::string_view src, std::string_view ffmpeg_dir,
                 std::string_view output, std::string_view rsp, const Cmd& dlss_link, Native_Os os);

// What the probe program links with on this computer: the Windows system
// table on Windows, "-pthread" and "-lm" elsewhere.
Cmd host_probe_libs();
