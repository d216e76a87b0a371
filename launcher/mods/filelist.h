// The game's file lists ("sys/filelist*.win32.bin") and reading single files
// out of the archives they describe. A list is a header, 8-byte entries,
// 12-byte chunk records and zlib-packed chunks of NUL-terminated lines
// "%x:%x:%x:%s" (position in 2048-byte units, unpacked size, stored size,
// path). Everything in a list or an archive is checked against the file's
// size before use; nothing here writes a file or logs.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Filelist_Entry {
    uint32_t value = 0;    // opaque, written back unchanged
    uint32_t chunk = 0;    // chunk index
    uint32_t offset = 0;   // the line's offset in the unpacked chunk
    std::string text;      // the line without its NUL
    bool changed = false;  // set by a caller that replaces `text`
};

struct Filelist {
    std::vector<Filelist_Entry> entries;        // in file order
    std::vector<std::string_view> packed;       // per chunk, into the list's bytes
    std::vector<uint32_t> unpacked_sizes;       // per chunk
    std::string_view tail;                      // after the furthest chunk's end
};

// Parses a whole list. The bytes must outlive the result (chunks and tail
// point into them). False, with `out` emptied, for anything malformed.
bool filelist_read(std::string_view bytes, Filelist& out);
// Builds a list's bytes: clean chunks are copied as they were, every chunk
// with a changed entry is laid out anew and packed with zlib_compress.
// False when a line lands past offset 65535 or a rebuilt chunk holds more
// than filelist_chunk_max bytes.
bool filelist_write(const Filelist& list, std::string& out);
inline constexpr uint32_t filelist_chunk_max = 10368;
// The little-endian u32 at `offset` (the caller keeps offset + 4 in range).
uint32_t filelist_u32(std::string_view bytes, size_t offset);

// One of the game's archives, opened for reading single members.
struct Game_Archive {
    std::string path;
    uint64_t size = 0;
};
bool game_archive_open(std::string_view path, Game_Archive& out);
// The member that a list line describes, given the line's fields split at
// ":": position (x 2048), unpacked size, stored size in hexadecimal. Stored
// as it is when both sizes agree, else a zlib stream that must give exactly
// the unpacked size. Sizes above filelist_member_max, or a range past the
// archive's end, fail.
bool archive_entry(const Game_Archive& archive, const std::vector<std::string_view>& fields, std::string& out);
inline constexpr uint64_t filelist_member_max = uint64_t(1) << 30;

// Where the game's data file at `relative` (below "amber_data", "/"
// separators) is read from: the HD folder's copy when the HD folder is in
// use (the `hd` setting or discarded old assets) and holds it as a file,
// else the game folder's.
std::string mods_data_path(std::string_view relative);

// Inflates a zlib stream that must give exactly `size` bytes. Sizes that no
// deflate stream of the packed length can reach are refused unread.
bool zlib_inflate_exact(std::string_view packed, uint64_t size, std::string& out);
