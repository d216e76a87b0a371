// Our own SquashFS 4.0 writer: an uncompressed image (block size 131072, no
// fragments, one id, padded to 4096 bytes), for the AppImage of the Linux
// cross build: written to its file piece by piece, or built whole in memory.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct File;

// One file to pack: its path from the image root ("/" between components,
// no leading "/"), its bytes (borrowed for the call) and its mode (0755 when
// executable, else 0644). Folders are made from the paths. For a streamed
// image the bytes may instead be the first `from_size` bytes of the file at
// `from_path` on disk (borrowed; the in-memory writer takes `data` only).
struct Sq_File {
    std::string path;
    std::string_view data;
    bool executable = false;
    std::string_view from_path = {};
    uint64_t from_size = 0;
};

inline constexpr uint32_t sq_block_size = 131072;
inline constexpr uint32_t sq_meta_size = 8192;

// The format's limits: every size, position and table position stored in 32
// bits, and a folder's listing (stored in 16 bits with 3 added). Tests lower
// them to reach them without gigabytes of data.
struct Sq_Limits {
    uint64_t u32_max = 0xFFFFFFFFu;
    uint64_t listing_max = 0xFFFFu - 3;
};
void sq_set_limits(const Sq_Limits& limits);
Sq_Limits sq_limits();

// The same by sizes only, for writers that stream the data themselves.
struct Sq_Entry {
    std::string_view path;
    uint64_t size = 0;
    bool executable = false;
};
// An image in three parts: the superblock, then the data of the files in
// `order` (indices into the list, each file's bytes whole), then the tables
// and the padding.
struct Sq_Layout {
    std::string head;
    std::vector<size_t> order;
    std::string tail;
};
bool squashfs_layout(const std::vector<Sq_Entry>& files, uint32_t mtime, Sq_Layout& out, std::string& err);
// The entries of `files` (their paths borrowed from them).
std::vector<Sq_Entry> sq_entries(const std::vector<Sq_File>& files);
// Writes the image of `layout` (made from sq_entries(files)) to the end of
// `out` piece by piece: the head, each file's bytes in the layout's order
// (copied from its file on disk, opened in turn, where it has one), then
// the tail; `written` gets the image's length. The image is never held in
// memory. False with the reason in `err` when a file cannot be read or
// holds fewer bytes than its size, or a write fails.
bool squashfs_stream(File& out, const Sq_Layout& layout, const std::vector<Sq_File>& files, uint64_t& written,
                     std::string& err);

// The image for `files`, modification time `mtime` on every inode and the
// superblock. False with a one-sentence reason in `err` when the list cannot
// be packed (an empty or "."/".." path component, a name longer than 256
// bytes, a path used twice or both as file and folder, a limit passed);
// `image` is then empty.
bool squashfs_write(const std::vector<Sq_File>& files, uint32_t mtime, std::string& image, std::string& err);
// The same with the clock's current time.
bool squashfs_write(const std::vector<Sq_File>& files, std::string& image, std::string& err);
