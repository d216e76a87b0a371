// Open files read at chosen offsets or written in pieces, for data too big
// to hold in memory (archives of several gigabytes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An open file: a descriptor on POSIX, a HANDLE on Windows; -1 = none.
// Closed when it goes (a file that was written should be closed with
// file_close, which reports lost data).
struct File {
    intptr_t h = -1;
    bool disk_full = false;   // made under fs_disk_full_under (a test seam): writes fail
    File() = default;
    ~File();
    File(File&& o) noexcept : h(o.h), disk_full(o.disk_full) { o.h = -1; }
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool is_open() const { return h != -1; }
};

// Opens an existing regular file for reading (shared with readers and
// writers), also through a link. Anything else at the path (a folder, a
// FIFO, a device) is refused at once, never waited on.
bool file_open_read(File& f, std::string_view path, std::string* err = nullptr);
// Makes a new, empty file for writing. Whatever was at the path before is
// replaced; a link there is removed, never written through.
bool file_create(File& f, std::string_view path, std::string* err = nullptr);
// Reads up to `size` bytes at `offset`. Result: the bytes read, 0 at the end
// of the file, -1 on failure (`err` says why).
int64_t file_read_at(File& f, int64_t offset, void* buf, size_t size, std::string* err = nullptr);
// Writes all of `data` at the current end.
bool file_write(File& f, const void* data, size_t size, std::string* err = nullptr);
// The size of the open file.
bool file_size(File& f, int64_t& size, std::string* err = nullptr);
// Appends `size` bytes of `in`, read from `offset` on, to the end of `out`:
// inside the kernel (copy_file_range) where the system offers it, else
// through a buffer. False when `in` ends first or a read or write fails.
bool file_copy(File& out, File& in, uint64_t offset, uint64_t size, std::string* err = nullptr);
// Closes the file; false when the system reports that written data was lost.
bool file_close(File& f, std::string* err = nullptr);

// Shared by the back ends: file_copy through a buffer.
bool file_copy_buffered(File& out, File& in, uint64_t offset, uint64_t size, std::string* err);
