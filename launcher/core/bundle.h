// The source bundle: an index followed by LZMA-alone streams, each holding
// many files back to back. Opened once at start-up from the launcher's
// constant data; read-only afterwards, so any thread may read it.
//
// Layout (little-endian): "EFBUNDL2", u32 stream count, u32 entry count,
// the stream table (24 bytes a stream: unpacked size, packed size, offset,
// all u64), the entry table (u16 name length, name, u32 flag, u32 stream,
// u64 offset and u64 size inside the unpacked stream), then the streams.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

struct Task;

inline constexpr std::string_view bundle_magic = "EFBUNDL2";

struct Bundle_Stream {
    uint64_t unpacked_size = 0;
    uint64_t packed_size = 0;   // the 13-byte LZMA header included
    uint64_t offset = 0;        // from the first byte of the bundle
};

struct Bundle_Entry {
    std::string_view name;      // points into the bundle's own bytes
    uint32_t flag = 0;          // 1 on the programs under "tools/"
    uint32_t stream = 0;
    uint64_t offset = 0;        // inside the unpacked stream
    uint64_t size = 0;
};

// The index, filled by bundle_open.
extern std::vector<Bundle_Stream> bundle_streams;
extern std::vector<Bundle_Entry> bundle_entries;

// Parses the index of `bytes`, which must stay alive and unchanged for as
// long as the index is used. False when the bundle is damaged: a wrong magic,
// tables or names past the end, a stream whose packed bytes lie outside the
// bundle, an entry outside its stream, or a name that is not a plain relative
// path ("", "/x", "C:x", "\", "..", empty elements). The index is empty then.
bool bundle_open(std::string_view bytes);
// The bytes given to the last successful bundle_open.
std::string_view bundle_bytes();
// Whether an entry has exactly this name.
bool bundle_has(std::string_view name);

// One whole unpacked stream.
struct Bundle_Block {
    std::unique_ptr<uint8_t[]> data;
    uint64_t size = 0;
    std::string_view bytes() const { return {reinterpret_cast<const char*>(data.get()), size_t(size)}; }
};

// Decodes stream `stream` whole. False (and an empty block) when the stream
// is damaged or the memory cannot be had.
bool block_read(uint32_t stream, Bundle_Block& out);
// The bytes of the entry named `name` (exact match), its stream decoded in
// pieces to its end. False when there is no such entry or its stream does
// not decode.
bool bundle_read(std::string_view name, std::string& out);

// Unpacks every entry whose name begins with one of `prefixes` into
// dest/<name>, one worker per stream up to the processor count (largest
// streams first), leaving files that already hold the same bytes untouched.
// Each stream is decoded in pieces and its files written as their bytes
// come, so a worker holds the stream's dictionary and one piece, whatever
// the stream's size; a file longer than what is in hand goes to
// "<name>.part" and replaces the file only once whole. Returns the number of files
// written, or -1 after logging "Could not unpack %s into %s: %s." (the
// entry, the folder and the system's reason). A link among the folders under
// `dest` is replaced by a real folder, never written through. A cancelled
// run returns the count so far. `max_workers` above 0 lowers the worker
// count further (benchmarks compare one worker with many).
int bundle_extract(Task& task, std::string_view dest, const std::vector<std::string>& prefixes, int max_workers = 0);

// The names of a bundle as the file system compares them: on Windows
// regardless of ASCII case, elsewhere exactly.
struct Bundle_Name_Set {
    std::unordered_set<std::string> names;
    bool fold_case = false;
    bool has(std::string_view name) const;
};

// After an extraction into dest: deletes the files under each prefix folder
// that the bundle does not hold. Symbolic links and junctions are never
// followed; one that the bundle does not hold is deleted itself.
void bundle_prune(Task& task, std::string_view dest, const std::vector<std::string>& prefixes);
// The recursive step of bundle_prune over root/rel (rel ends with "/").
void walk(Task& task, std::string_view root, const std::string& rel, const Bundle_Name_Set& names, int& count);

// True when stream a unpacks to more bytes than stream b.
bool stream_larger(uint32_t a, uint32_t b);
