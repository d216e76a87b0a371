// Files and folders. Paths are UTF-8 everywhere; the Windows back end turns
// them into UTF-16 only at the system call.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct File_Info {
    bool exists = false;
    bool is_dir = false;
    bool is_link = false;   // a symbolic link or (Windows) a junction / reparse point
    uint64_t size = 0;
    int64_t mtime_ns = 0;   // modification time, ns since the Unix epoch
};

struct Dir_Entry {
    std::string name;
    bool is_dir = false;    // a real folder (a link to a folder is not a folder here)
    bool is_link = false;
    bool is_file = false;   // a regular file (not a link, FIFO, socket or device)
    uint64_t size = 0;
    int64_t mtime_ns = 0;
};

// Status of a path. A link is described itself, not followed.
bool fs_stat(std::string_view path, File_Info& out);
// True when something exists at the path and it is a folder (links followed).
bool fs_is_dir(std::string_view path);
// An existing file (not a folder) that this process may run: on POSIX one
// with execute permission for it; on Windows any file.
bool fs_is_executable(std::string_view path);
// Modification time in ns of what the path names, 0 when it cannot be read.
int64_t fs_mtime(std::string_view path);

// The most fs_read takes when its caller names no smaller limit.
inline constexpr uint64_t fs_read_default_limit = uint64_t(1) << 30;
// Reads the whole of a regular file of at most `limit` bytes. Anything else
// at the path (a folder, a FIFO, a device, also through a link) and a file
// that is or grows larger than `limit` are refused, so a hostile path can
// neither stall the reader nor fill its memory. On failure `out` is empty
// and `err` (when given) holds the reason.
bool fs_read(std::string_view path, std::string& out, std::string* err = nullptr,
             uint64_t limit = fs_read_default_limit);
// Reads at most `count` bytes at `offset`; `out` gets what was read. Only a
// regular file or a disk device is read (a FIFO is refused, not waited on).
bool fs_read_at(std::string_view path, uint64_t offset, size_t count, std::string& out, std::string* err = nullptr);
// Creates or truncates the file and writes `data` as its whole content.
bool fs_write(std::string_view path, std::string_view data, std::string* err = nullptr);
// Replaces the file's content as one step: `data` goes to a new file with a
// temporary name beside it, is flushed to the disk and renamed over `path`
// (MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on
// Windows). A kill or a full disk leaves either the old file or the new one,
// never a cut one; on failure the old file stays and the temporary one is
// gone. A link at `path` is replaced by the file, never written through.
// The temporary name is fs_temp_name's.
bool fs_write_atomic(std::string_view path, std::string_view data, std::string* err = nullptr);
// fs_write_atomic for a secret (a signing key): elsewhere than on Windows the
// new file is readable and writable by its owner only (mode 0600), also when
// the old one had a wider mode; on Windows the user's own profile folder
// already keeps it private.
bool fs_write_private(std::string_view path, std::string_view data, std::string* err = nullptr);
// The temporary name fs_write_atomic writes beside `path` before the rename:
// the file name, cut to fs_temp_name_keep bytes (at a character's start), then
// ".<pid>-<serial>.tmp", so that it stays a valid name also when the file's
// own name is 255 bytes long.
inline constexpr size_t fs_temp_name_keep = 200;
std::string fs_temp_name(std::string_view path, uint64_t pid, uint64_t serial);
// A new temporary name beside `path` for this process (fs_temp_name with
// this process's id and the next serial): what a writer that renames its
// result into place (a linker's output) writes first.
std::string fs_new_temp_name(std::string_view path);
// Whether `name` (a bare file name) is one fs_temp_name made for the file
// named `file_name`, by any process; `pid` gets that process's id.
bool fs_is_temp_name_of(std::string_view name, std::string_view file_name, uint64_t* pid = nullptr);
// Creates or truncates the file and opens it as a stream for writing (a log
// file); nullptr when it cannot be opened. The caller closes it.
std::FILE* fs_open_write(std::string_view path, std::string* err = nullptr);
// Makes the folder and every missing parent. True when it exists afterwards.
bool fs_make_dirs(std::string_view path, std::string* err = nullptr);
// Lists a folder (without "." and ".."), in the order the system returns.
bool fs_list(std::string_view dir, std::vector<Dir_Entry>& out, std::string* err = nullptr);
// Deletes one file (or one link, never what it points to).
bool fs_remove_file(std::string_view path, std::string* err = nullptr);
// Deletes an empty folder.
bool fs_remove_dir(std::string_view path, std::string* err = nullptr);
// Deletes a folder with everything in it. Symbolic links and junctions met
// on the way are removed themselves and never followed.
bool fs_remove_tree(std::string_view path, std::string* err = nullptr);
// Renames, replacing an existing file at `to`.
bool fs_rename(std::string_view from, std::string_view to, std::string* err = nullptr);
// Creates (or empties) a file and opens it as a C stream for writing, for
// logs written line by line; nullptr when it cannot be made. The name is
// UTF-8 on every system.
std::FILE* fs_open_stream(std::string_view path);
// Copies one file whole (replacing the target).
bool fs_copy_file(std::string_view from, std::string_view to, std::string* err = nullptr);
// Free bytes for the caller on the volume that holds `path`.
bool fs_free_space(std::string_view path, uint64_t& bytes, std::string* err = nullptr);
// Sets the modification time of a file (ns since the Unix epoch).
bool fs_set_mtime(std::string_view path, int64_t mtime_ns, std::string* err = nullptr);
// Cuts an existing file down to `size` bytes (its first bytes stay as they
// were). A link at the path is refused, never followed.
bool fs_truncate(std::string_view path, uint64_t size, std::string* err = nullptr);
// Marks a file read-only or writable again (the read-only attribute on
// Windows; the write permission bits elsewhere).
bool fs_set_read_only(std::string_view path, bool read_only, std::string* err = nullptr);
// Lets everyone who may read the file run it too (POSIX: an x bit for each
// r bit, so 0644 becomes 0755); on Windows, where any file may be run,
// nothing changes.
bool fs_set_executable(std::string_view path, std::string* err = nullptr);
// Makes a symbolic link (tests use it to check that deletions do not follow links).
bool fs_make_link(std::string_view target, std::string_view link, bool to_dir, std::string* err = nullptr);

// --- Test seams -----------------------------------------------------------
// Every write, rename, delete and folder creation of a path under `prefix`
// (compared as text, after the platform's separators are unified) fails
// with the reason "refused by the test hook". An empty prefix clears it.
void fs_fail_under(std::string_view prefix);
// A full disk under `prefix`: files are still opened (created, truncated),
// but every write of data into one fails with the system's "disk full"
// reason. An empty prefix clears it.
void fs_disk_full_under(std::string_view prefix);
// Replaces the answer of fs_free_space (nullptr restores the system's).
void fs_set_free_space_hook(std::function<bool(std::string_view path, uint64_t& bytes)> hook);

// Shared by the back ends: the reasons fs_read gives for what it refuses.
std::string fs_not_regular_text();
std::string fs_too_large_text(uint64_t limit);
// Shared by the back ends: whether the test hook refuses a change at `path`.
bool fs_hook_refuses(std::string_view path, std::string* err);
bool fs_hook_disk_full(std::string_view path);
bool fs_hook_free_space(std::string_view path, uint64_t& bytes, bool& handled);
