// NVIDIA DLSS: the SDK's headers, static import library and runtime DLL,
// fetched by the build into the data folder, and the flags that build them in.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct Task;

inline constexpr std::string_view dlss_version = "310.9.16";
// Path of the files below the site: "<site>/<root><path>".
inline constexpr std::string_view dlss_root = "NVIDIA/DLSS/raw/v310.9.16/";
inline constexpr std::string_view dlss_repository = "NVIDIA/DLSS";
inline constexpr std::string_view dlss_runtime = "lib/Windows_x86_64/rel/nvngx_dlss.dll";

struct Dlss_File {
    std::string_view path;     // below the download root and below the DLSS folder
    std::string_view sha256;   // 64 lower-case hexadecimal digits
    int64_t size;
};
extern const Dlss_File dlss_files[8];

// The table in use: the shipped one unless a test replaced it.
std::span<const Dlss_File> dlss_table();
// Test seam: another table (the strings must outlive its use); an empty one
// restores the shipped table.
void dlss_set_table_for_tests(std::vector<Dlss_File> table);

// <data>/dlss/310.9.16
std::string dlss_dir();
// The file reads whole with the row's size and SHA-256.
bool dlss_check(std::string_view path, const Dlss_File& row);
// "-DZQR_DLSS", "-I", <dlss>/include
std::vector<std::string> dlss_compile_flags();
// The static import library, "-fuse-ld=lld" and the MSVC runtime libraries
// the linker must not pull in.
std::vector<std::string> dlss_link_flags();
// Puts "nvngx_dlss.dll" beside the built game (unless one of the same length
// is already there).
void dlss_feature(Task& task, std::string_view game_folder);
// The build's DLSS step: checks every file, downloads the missing or wrong
// ones and answers whether DLSS is in this build. A cross build leaves DLSS
// out silently; a native one needs LLVM's linker (`have_lld`). Every way of
// leaving DLSS out is logged (the game is then built with TAA); on success the
// caller appends dlss_compile_flags and, at the link, dlss_link_flags.
bool dlss_fetch(Task& task, bool cross, bool have_lld);
