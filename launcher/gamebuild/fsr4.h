// AMD FSR 4: the FidelityFX SDK's Vulkan DLLs, fetched once into the data
// folder and named in the game's configuration while they are present.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct Task;

inline constexpr std::string_view fsr4_version = "2.4.0";
// Path of the files below the site: "<site>/<root><remote>".
inline constexpr std::string_view fsr4_root = "GPUOpen-LibrariesAndSDKs/FidelityFX-SDK/raw/v2.4.0/Kits/FidelityFX/";
inline constexpr std::string_view fsr4_repository = "GPUOpen-LibrariesAndSDKs/FidelityFX-SDK";

struct Fsr4_File {
    std::string_view remote;   // below the download root
    std::string_view name;     // in the FSR 4 folder
    std::string_view sha256;   // 64 lower-case hexadecimal digits
    int64_t size;
};
extern const Fsr4_File fsr4_files[3];

// The table in use: the shipped one unless a test replaced it.
std::span<const Fsr4_File> fsr4_table();
// Test seam: another table (the strings must outlive its use); an empty one
// restores the shipped table.
void fsr4_set_table_for_tests(std::vector<Fsr4_File> table);

// <data>/fsr4/2.4.0
std::string fsr4_dir();
// The file reads whole with the row's size and SHA-256.
bool fsr4_check(std::string_view path, const Fsr4_File& row);
// Every file is in the FSR 4 folder with its exact size (no hashing).
bool fsr4_present();
// Makes every file present and valid, downloading only those that are not.
bool fsr4_fetch(Task& task);
// The background task that fetches the files and then rewrites the game's
// configuration when it exists.
void fsr4_task(Task& task);

// The bundle path of the FSR 3.1 Vulkan library for a Linux architecture.
std::string fsr_vk_lib(std::string_view arch);
