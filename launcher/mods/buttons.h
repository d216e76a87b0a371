// Button icons: the glyph sheets cut out of the mod's system files, kept as
// DDS textures in the data folder's "button_icons".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Task;
struct Zip_Archive;
struct Zip_Entry;

// Both "button_ps.dds" and "button_xb.dds" are there as files.
bool bb_present();

// The mod's system files and where their glyph sheet lies: 256 x 128
// pixels of blue, green, red, alpha.
inline constexpr int64_t bb_file_size = 9247264;
inline constexpr size_t bb_sheet_offset = 0x4CBC20;
inline constexpr size_t bb_sheet_size = 0x20000;
inline constexpr size_t bb_dds_size = 128 + bb_sheet_size;
// The blank test: a real sheet has at least this many fully transparent and
// fully opaque pixels.
inline constexpr int bb_min_transparent = 8192;
inline constexpr int bb_min_opaque = 500;

// Stores `value` little-endian at `offset` (offset + 4 lies within `bytes`).
void put_u32le(std::string& bytes, size_t offset, uint32_t value);
// The DDS file (uncompressed 32-bit BGRA, no mip-maps) of a glyph sheet of
// bb_sheet_size bytes.
std::string bb_dds(std::string_view sheet);
// True when the sheet passes the blank test.
bool bb_sheet_ok(std::string_view sheet);
