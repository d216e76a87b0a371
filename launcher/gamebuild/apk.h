// The Android package: a ZIP archive of stored, aligned entries, signed with
// APK Signature Scheme v2 by a key the launcher makes once and keeps in its
// data folder ("android_key.bin", "android_cert.der"), so that every later
// build installs over the previous one.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Task;

struct Apk_Entry {
    std::string name;      // path inside the archive, "/" separators
    std::string data;
    int64_t align = 4;     // alignment of the data's first byte; -1 is 1
    uint32_t crc = 0;      // filled in by the writer
    uint64_t offset = 0;   // of the local header, filled in by the writer
};

inline constexpr const char* apk_key_file = "android_key.bin";
inline constexpr const char* apk_cert_file = "android_cert.der";
inline constexpr uint32_t apk_v2_block_id = 0x7109871A;
inline constexpr uint32_t apk_sig_ecdsa_sha256 = 0x0201;
inline constexpr uint16_t zip_align_extra_id = 0xD935;
inline constexpr size_t apk_chunk_size = 1 << 20;
// What the archive's 16- and 32-bit fields can hold (no ZIP64).
inline constexpr uint64_t zip_max_entries = 65535;
inline constexpr uint64_t zip_max_size = uint64_t(1) << 32;

// The stored archive of the entries, in order, each data aligned through the
// 0xD935 extra field; `cd_offset` gets where the central directory begins.
// False, with the reason in `err`, when the entries do not fit a ZIP without
// ZIP64 (more than 65,535 entries, a name longer than 65,535 bytes, 4 GiB or
// more in all, counting `reserve` bytes that will be added) or an alignment
// is 0 or too large for its field.
bool zip_stored(std::vector<Apk_Entry>& entries, std::string& out, uint64_t& cd_offset, std::string& err,
                uint64_t reserve = 0);

// The v2 content digest of the three sections of the unsigned archive.
std::string apk_digest(std::string_view entries, std::string_view central_directory, std::string_view end_record);

struct Apk_Key {
    std::string scalar;   // 32 bytes
    std::string cert;     // DER
};
// The signing key of the data folder, made (and logged) when missing or
// unusable: a key file not of 32 bytes or not a valid P-256 scalar, or a
// certificate that is empty, damaged or not of that key. False after
// logging the reason.
bool apk_key(Task& t, Apk_Key& key);

// The APK Signature Scheme v2 block for the archive's top digest. False with
// the reason in `err`.
bool apk_signing_block(const Apk_Key& key, std::string_view top_digest, std::string& block, std::string& err);

// Writes the signed package to `path` in one whole-file write. False after
// logging the reason.
bool apk_write(Task& t, std::string_view path, std::vector<Apk_Entry>& entries);

// Appends every file under `dir`, recursively, named prefix + "/" + its
// relative path, with alignment 4. A folder that cannot be listed adds
// nothing; a file that cannot be read is left out.
void apk_add_dir(std::vector<Apk_Entry>& entries, std::string_view dir, std::string_view prefix);
