// Fetching the vendors' upscaler files with the system's curl: each file is
// downloaded into "<file>.part", checked by size and SHA-256 and only then
// renamed into place, so an interrupted set resumes with the files still
// missing.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

struct Task;

// The address of the public code-hosting site both vendors publish on,
// without a trailing "/".
std::string upscaler_site();
// Test seams: another site (a local server), and a shorter stall limit in
// seconds. An empty text or 0 restores the shipped value.
void upscaler_set_site(std::string_view url);
void upscaler_set_stall_seconds(int seconds);

// 64 lower-case hexadecimal digits.
std::string sha256_hex(std::string_view bytes);
// The file can be read whole, has exactly `size` bytes and that SHA-256.
bool file_matches(std::string_view path, int64_t size, std::string_view sha256);

// curl through the program lookup, else the one Windows ships; "" for none.
std::string find_curl();

enum class Download_Result {
    Ok,
    Failed,         // curl could not start or ended with an error
    Stalled,        // no data for the stall limit
    Too_Large,      // more came than the expected size: stopped there
    Not_Expected,   // the file came, but its size or SHA-256 differs
    Cannot_Write,   // the checked file could not be moved into place
};
// Makes the file's folder, downloads `url` into "<path>.part" through curl,
// a child process of the task whose output the launcher writes, so that the
// download stops as soon as it passes `size` bytes (also when the server
// sends no size). The file is checked and renamed onto `path`. On any
// failure the ".part" file is deleted and the file at `path` is left as it
// was.
Download_Result download_checked(Task& task, std::string_view curl, std::string_view url, std::string_view path,
                                 int64_t size, std::string_view sha256);
// Logs what went wrong with one download, the sentence starting with `who`
// ("FSR 4", "DLSS"); `name` is the file as the vendor names it, `path` the
// local file. True for Ok (nothing logged).
bool download_reported(Task& task, Download_Result r, std::string_view who, std::string_view name,
                       std::string_view path);
