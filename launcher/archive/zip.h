// The mods' ZIP reader: lists the central directory (ZIP64 included),
// unpacks single members to disk through a ".part" file with CRC-32
// verification, tells whether a member is already on disk unchanged (so an
// interrupted import resumes), and prunes a folder down to wanted files.
//
// Everything in an archive is hostile until checked: sizes and offsets are
// checked in 64 bits against the archive's size before they are used, and
// members are unpacked only under names that pass member_name_ok
// (zip_extract_into).
//
// Failures return false and leave an English reason in the calling thread's
// import_error(), which the caller puts into its own sentence.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/kt_system/file.h"

struct Hd_Progress;

// One central-directory record. ZIP64 values replace the 32-bit fields that
// hold 0xFFFFFFFF. The values are the archive's, unchecked: a hostile
// archive can hold any of them (zip_extract checks them before use).
struct Zip_Entry {
    std::string name;          // as stored, every "\" made a "/"
    uint16_t method = 0;       // 0 stored, 8 deflate; others are listed as they are
    int64_t packed = 0;
    int64_t unpacked = 0;
    int64_t offset = 0;        // of the local header
    uint32_t crc32 = 0;
};

// An open archive; every read is a positioned read. One thread at a time.
struct Zip_Archive {
    File file;
    std::string path;
};
// Opens the file for reading ("cannot read %s (%v)" on failure).
bool zip_open(Zip_Archive& a, std::string_view path);

// The reason the last operation of this thread failed ("" = none).
std::string& import_error();
// import_error(), or "unknown error" when it is empty: what a message shows.
std::string import_reason();

// The temporary name a member is written under: the target + ".part".
std::string part_path(std::string_view target);

// Writes `data` as the file `target`: into target + ".part" first, in
// writes of at most 4 MiB, then (when `check_crc` is set, only when the
// CRC-32 of the data is `crc32`) renamed over the target in one step, so the
// old file stays whole until the new one is complete. The target's folder is
// made with its parents. On failure nothing is left behind but the old file.
bool write_checked(std::string_view target, std::string_view data, uint32_t crc32, bool check_crc);

// A file written piece by piece the way write_checked writes it whole:
// part_start makes the folder and the empty ".part" file, part_write adds
// to it (and to its CRC-32), part_finish puts it in place when the CRC-32
// is `crc32` (or unchecked), part_drop removes it. A failed call has
// already removed the part file and left its reason in import_error().
struct Part_File {
    File out;
    std::string part, target;
    uint32_t crc = 0;
};
bool part_start(Part_File& f, std::string_view target);
bool part_write(Part_File& f, const void* data, size_t size);
bool part_finish(Part_File& f, uint32_t crc32, bool check_crc);
void part_drop(Part_File& f);

// Lists the central directory in its order. False (with the records read so
// far in `out`) when the file is not a ZIP or its directory is damaged;
// sets no import_error: callers treat false as "not a ZIP".
bool zip_entries(Zip_Archive& a, std::vector<Zip_Entry>& out);
// Fills the whole buffer from `offset`. Read errors are retried after
// pauses of 200, 400, 600, 800 and 1000 ms.
bool zip_read_at(Zip_Archive& a, void* buf, size_t size, int64_t offset);
// Unpacks a stored or deflated member to `target` through target + ".part",
// checking its CRC-32; the finished file replaces the old target in one
// step. `progress` (may be null) is told the bytes written and is the
// cancel test. Clears import_error first.
bool zip_extract(Zip_Archive& a, const Zip_Entry& e, std::string_view target, Hd_Progress* progress);
// The checked extraction site: the member's name must pass member_path
// below `folder` ("its name is not safe to unpack (%s)" otherwise), then
// zip_extract to that path. A folder entry (name ending in "/") makes the
// folder. `target` (may be null) gets the path.
bool zip_extract_into(Zip_Archive& a, const Zip_Entry& e, std::string_view folder, Hd_Progress* progress,
                      std::string* target = nullptr);
// True when `target` is a file of the member's size and CRC-32 (the
// progress record's checking flag is set while it is read).
bool member_on_disk(const Zip_Entry& e, std::string_view target, Hd_Progress* progress);

struct File_Crc {
    bool ok = false;
    uint32_t crc32 = 0;
    int64_t size = 0;
};
// CRC-32 and size of a file, read in 4 MiB pieces; asks hd_progress after
// each piece and stops (not ok) when it answers false.
File_Crc file_crc32(std::string_view path, Hd_Progress* progress);

// Lower-cased relative paths ("/" separators) of the files to keep.
using Keep_Set = std::unordered_map<std::string, bool>;
// Deletes every file below root/rel (rel may be "") whose lower-cased path
// relative to root is not kept. Folders stay; links are deleted as links,
// never followed.
bool prune_tree(std::string_view root, std::string_view rel, const Keep_Set& keep);

// Little-endian reads; the caller checks that offset + 4 (8) fits.
uint32_t zip_u32(const unsigned char* bytes, size_t offset);
uint64_t zip_u64(const unsigned char* bytes, size_t offset);
uint16_t zip_u16(const unsigned char* bytes, size_t offset);

// --- Test seams -------------------------------------------------------------
// Called before every read of an archive: returning false fails that read
// with `err` as the system's reason. nullptr removes it.
void zip_set_read_hook(std::function<bool(int64_t offset, std::string& err)> hook);
// Replaces the pause between read retries (nullptr: sleep_ms).
void zip_set_pause_hook(void (*pause)(int64_t ms));
