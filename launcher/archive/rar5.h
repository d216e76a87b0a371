// RAR 5.0 archive reader: the block walk (`list`) and the extraction of one
// entry (`extract`). Only single-volume archives without encryption and
// without solid compression are read; everything else is refused with one
// reason text in `rar5_error`.
//
// Everything an archive holds is hostile: every header field is read with
// a bounds check, every size is checked against the archive's own size and
// the 2 GiB limit before it is used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Hd_Progress;

// The reason the last `extract` (or `unpack`) failed; empty when it gave
// none. One text for the process: only one import runs at a time.
extern std::string rar5_error;

namespace rar5 {

inline constexpr uint8_t signature[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
inline constexpr uint64_t header_size_max = 0x200000;         // 2 MiB of header data
inline constexpr uint64_t entry_size_max = 0x80000000;        // 2 GiB, packed or unpacked
inline constexpr size_t read_ahead = 16;                      // zero bytes after the packed data

inline constexpr const char* error_unsupported = "unsupported (encrypted, solid, split or RAR 7)";
inline constexpr const char* error_corrupt = "corrupt data";
inline constexpr const char* error_crc = "CRC32 mismatch";

// One member of the archive.
struct Rar5_Entry {
    std::string name;              // stored name, every "\" turned into "/"
    int64_t unpacked_size = 0;
    int64_t packed_size = 0;       // the block's data size
    int64_t data_offset = 0;       // absolute position of the data area
    int method = 0;                // 0 stored, 1 to 5 compressed
    int algorithm_version = 0;     // 0 is the RAR 5.0 algorithm
    bool is_directory = false;
    bool solid = false;
    bool split = false;            // continues from or into another volume
    bool encrypted = false;        // a file encryption record in the extra area
    bool has_crc = false;
    uint32_t crc32 = 0;            // 0 when absent
    uint64_t dictionary = 0;       // history the compressed data may reach (128 KiB << n)
};

// An open archive: a file read with positioned reads, or bytes in memory
// (which must outlive the handle).
struct Rar5_Archive {
    std::string path;
    const uint8_t* memory = nullptr;
    int64_t size = -1;             // -1: the file could not be sized
};

// Opens (sizes) the archive file at `path`; false when it cannot be read.
bool open_file(std::string_view path, Rar5_Archive& out);
// An archive over bytes in memory.
Rar5_Archive from_memory(std::string_view bytes);
// Reads up to `count` bytes at `offset` into `out` (replacing its content).
// False on a read error; a short read at the end of the archive is not one.
bool read_at(const Rar5_Archive& archive, int64_t offset, size_t count, std::string& out);

// The format's variable-length integer at `pos`: 7 bits a byte, lowest group
// first, the high bit set on every byte but the last, at most 10 bytes (the
// tenth may only carry bit 63). Fails at the end of the bytes or on a longer
// or overflowing vint; `pos` is advanced past what was read.
bool read_vint(std::string_view bytes, size_t& pos, uint64_t& value);

// The name of `length` bytes at `pos` of a header, "\" turned into "/".
std::string clone_name(std::string_view header, size_t pos, size_t length);

// Walks the block headers into `entries` (archive order, folders too).
// False on a truncated block, a header size of 0 or above 2 MiB, a header
// CRC mismatch, an archive encryption header, or a file header whose CRC
// field or name runs past its end. The caller has tested the signature;
// it is tested here again.
bool list(const Rar5_Archive& archive, std::vector<Rar5_Entry>& entries);

// Unpacks one entry into memory: refuses folders, solid, split, encrypted
// and non-RAR5 entries, sizes over 2 GiB and a stored entry whose data are
// shorter than its size when no CRC-32 vouches for the rest; checks the
// CRC-32. On false `rar5_error` holds the reason (empty when the packed data
// could not be read whole).
bool extract_to_memory(const Rar5_Archive& archive, const Rar5_Entry& entry, std::string& out);

// Unpacks one entry to the file `target` through target + ".part", in
// pieces: the memory it takes is the entry's dictionary and a few blocks of
// packed data, whatever its size. The same checks as extract_to_memory; the
// part file is put in place only when the CRC-32 matches. `progress` (may
// be null) is told the bytes written, and a cancel it reports stops the
// unpacking ("cancelled" in import_error()). On false either `rar5_error`
// holds the reason, or, when the file could not be written, import_error().
bool extract(const Rar5_Archive& archive, const Rar5_Entry& entry, std::string_view target,
             Hd_Progress* progress = nullptr);

// The checked extraction site: the entry's name must pass member_path below
// `folder` (rar5_error "its name is not safe to unpack (...)" otherwise),
// then extract to that path. `target` (may be null) gets the path.
bool extract_into(const Rar5_Archive& archive, const Rar5_Entry& entry, std::string_view folder,
                  std::string* target = nullptr);

}  // namespace rar5
