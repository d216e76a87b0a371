#include "launcher/gamebuild/apk.h"

#include <zlib.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/random.h"
#include "launcher/gamebuild/apk_sign.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"

namespace {

void put16(std::string& out, uint64_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void put32(std::string& out, uint64_t v) {
    put16(out, v & 0xFFFF);
    put16(out, (v >> 16) & 0xFFFF);
}
void put64(std::string& out, uint64_t v) {
    put32(out, v & 0xFFFFFFFF);
    put32(out, v >> 32);
}
// x preceded by its length as u32.
std::string lp(std::string_view x) {
    std::string out;
    put32(out, x.size());
    out += x;
    return out;
}

constexpr uint64_t local_header_size = 30;
constexpr uint64_t align_field_size = 6;
constexpr uint64_t central_header_size = 46;
constexpr uint64_t end_record_size = 22;
constexpr uint16_t dos_date_1980 = 33;

uint32_t crc32_of(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const Bytef* p = reinterpret_cast<const Bytef*>(data.data());
    size_t left = data.size();
    while (left > 0) {
        uInt n = left > 0x40000000 ? 0x40000000 : uInt(left);
        crc = crc32(crc, p, n);
        p += n;
        left -= n;
    }
    return uint32_t(crc);
}

// Appends the digests of `section`'s 1 MiB chunks.
void chunk_digests(std::string_view section, std::string& digests, uint32_t& chunks) {
    for (size_t at = 0; at < section.size(); at += apk_chunk_size) {
        std::string_view chunk = section.substr(at, apk_chunk_size);
        std::string head = "\xA5";
        put32(head, chunk.size());
        digests += sha256_parts({head, chunk});
        ++chunks;
    }
}

// Padding that puts the data of an entry whose header starts at `offset`
// at a multiple of `align`.
uint64_t padding(uint64_t offset, uint64_t name_size, uint64_t align) {
    uint64_t data = offset + local_header_size + align_field_size + name_size;
    return (align - data % align) % align;
}

}  // namespace

bool zip_stored(std::vector<Apk_Entry>& entries, std::string& out, uint64_t& cd_offset, std::string& err,
                uint64_t reserve) {
    out.clear();
    if (entries.size() > zip_max_entries) {
        err = fmt("An APK holds at most 65,535 files; this one would have %d.", entries.size());
        return false;
    }
    // Sizes first, in 64 bits, so that nothing is built that cannot be written.
    uint64_t size = 0, cd_size = 0, reserved = 4096;
    for (Apk_Entry& e : entries) {
        if (e.align == -1) e.align = 1;
        if (e.align <= 0 || e.align > 0x8000) {
            err = fmt("Cannot align %s in the APK to %d bytes.", e.name, e.align);
            return false;
        }
        if (e.name.size() > 0xFFFF) {
            err = fmt("A file name in the APK is longer than 65,535 bytes: %s...", e.name.substr(0, 64));
            return false;
        }
        uint64_t n = padding(size, e.name.size(), uint64_t(e.align));
        size += local_header_size + align_field_size + e.name.size() + n + e.data.size();
        cd_size += central_header_size + e.name.size();
        reserved += e.name.size() + e.data.size() + 16478;
    }
    uint64_t total = size + cd_size + end_record_size + reserve;
    if (total >= zip_max_size) {
        err = fmt("The APK would take %d bytes: a ZIP archive without ZIP64 must stay below 4 GiB.", total);
        return false;
    }
    out.reserve(size_t(reserved));

    for (Apk_Entry& e : entries) {
        e.crc = crc32_of(e.data);
        e.offset = out.size();
        uint64_t n = padding(e.offset, e.name.size(), uint64_t(e.align));
        put32(out, 0x04034B50);
        put16(out, 10);   // version needed
        put16(out, 0);    // flags
        put16(out, 0);    // stored
        put16(out, 0);    // time
        put16(out, dos_date_1980);
        put32(out, e.crc);
        put32(out, e.data.size());
        put32(out, e.data.size());
        put16(out, e.name.size());
        put16(out, align_field_size + n);
        out += e.name;
        put16(out, zip_align_extra_id);
        put16(out, 2 + n);
        put16(out, uint64_t(e.align));
        out.append(size_t(n), '\0');
        out += e.data;
    }
    cd_offset = out.size();
    for (const Apk_Entry& e : entries) {
        put32(out, 0x02014B50);
        put16(out, 20);   // made by
        put16(out, 10);   // needed
        put16(out, 0);
        put16(out, 0);
        put16(out, 0);
        put16(out, dos_date_1980);
        put32(out, e.crc);
        put32(out, e.data.size());
        put32(out, e.data.size());
        put16(out, e.name.size());
        put16(out, 0);   // extra
        put16(out, 0);   // comment
        put16(out, 0);   // disk
        put16(out, 0);   // internal attributes
        put32(out, 0);   // external attributes
        put32(out, e.offset);
        out += e.name;
    }
    uint64_t cd_end = out.size();
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, entries.size());
    put16(out, entries.size());
    put32(out, cd_end - cd_offset);
    put32(out, cd_offset);
    put16(out, 0);
    return true;
}

std::string apk_digest(std::string_view entries, std::string_view central_directory, std::string_view end_record) {
    std::string digests;
    uint32_t chunks = 0;
    for (std::string_view section : {entries, central_directory, end_record}) chunk_digests(section, digests, chunks);
    std::string head = "\x5A";
    put32(head, chunks);
    return sha256_parts({head, digests});
}

bool apk_key(Task& t, Apk_Key& key) {
    std::string key_path = data_path({apk_key_file});
    std::string cert_path = data_path({apk_cert_file});
    File_Info key_info;
    bool key_there = fs_stat(key_path, key_info) && key_info.exists;
    std::string why;
    bool key_read = key_there && fs_read(key_path, key.scalar, &why, 4096);
    if (key_there && !key_read && !key_info.is_dir && why != fs_not_regular_text() &&
        why.find(fs_too_large_text(4096)) == std::string::npos) {
        // A key that is there but cannot be read now (locked, no permission)
        // is not replaced: the next build may read it.
        logf(t, "Cannot read the APK's signing key %s: %s.", key_path, why);
        return false;
    }
    if (key_read && p256_scalar_ok(key.scalar)) {
        if (fs_read(cert_path, key.cert, nullptr, 1 << 20) && certificate_matches(key.cert, key.scalar)) return true;
        // The certificate is a function of the key alone, so a lost, damaged
        // or other key's certificate is made again, byte for byte the one
        // that signed the earlier packages.
        std::string err;
        if (!apk_certificate(key.scalar, key.cert, err)) {
            log_line(t, err);
            return false;
        }
        if (!fs_write_atomic(cert_path, key.cert)) {
            logf(t, "Cannot keep the APK's signing key in %s.", key_path);
            return false;
        }
        logf(t, "The APK's certificate %s was missing or not of its key: made again from the key.", cert_path);
        return true;
    }

    // A new pair: the scalar from 48 random bytes, reduced modulo the order
    // (zero, the only value refused, comes once in 2^256 draws; more
    // failures mean the library itself fails).
    key.scalar.clear();
    for (int attempt = 0; attempt < 4 && key.scalar.empty(); ++attempt) {
        std::string random(48, '\0');
        if (!os_random(random.data(), random.size(), &why)) {
            logf(t, "Cannot make the APK's signing key: the system's random source failed (%s).", why);
            return false;
        }
        key.scalar = p256_scalar_from(random);
    }
    if (key.scalar.empty()) {
        log_line(t, "Cannot make the APK's signing key: the cryptography library refused every try.");
        return false;
    }
    std::string err;
    if (!apk_certificate(key.scalar, key.cert, err)) {
        log_line(t, err);
        return false;
    }
    fs_make_dirs(data_dir());
    // An unusable key file is kept beside the new one, never overwritten.
    std::string old_path = key_path + ".old";
    if (key_there && !key_info.is_dir && !fs_rename(key_path, old_path)) {
        logf(t, "Cannot keep the APK's signing key in %s.", key_path);
        return false;
    }
    if (!fs_write_private(key_path, key.scalar) || !fs_write_atomic(cert_path, key.cert)) {
        logf(t, "Cannot keep the APK's signing key in %s.", key_path);
        return false;
    }
    if (key_there) logf(t, "The APK's signing key %s was unusable: it is kept as %s.", key_path, old_path);
    logf(t, "A new signing key for your APKs: %s (keep it: an update installs over the app only when signed by the "
            "same key)",
         key_path);
    return true;
}

bool apk_signing_block(const Apk_Key& key, std::string_view top_digest, std::string& block, std::string& err) {
    std::string point = p256_public_point(key.scalar);
    if (point.empty()) {
        err = "Cannot sign the APK.";
        return false;
    }
    std::string digest_record;
    put32(digest_record, apk_sig_ecdsa_sha256);
    digest_record += lp(top_digest);
    std::string signed_data = lp(lp(digest_record)) + lp(lp(key.cert));
    put32(signed_data, 0);   // no additional attributes
    Ecdsa_Signature sig;
    if (!ecdsa_p256_sign(key.scalar, signed_data, sig)) {
        err = "Cannot sign the APK.";
        return false;
    }
    std::string signature_record;
    put32(signature_record, apk_sig_ecdsa_sha256);
    signature_record += lp(sig.der);
    std::string signer = lp(signed_data) + lp(lp(signature_record)) + lp(p256_spki(point));
    std::string value = lp(lp(signer));
    uint64_t l = value.size();
    block.clear();
    put64(block, l + 36);
    put64(block, l + 4);
    put32(block, apk_v2_block_id);
    block += value;
    put64(block, l + 36);
    block += "APK Sig Block 42";
    return true;
}

bool apk_write(Task& t, std::string_view path, std::vector<Apk_Entry>& entries) {
    Apk_Key key;
    if (!apk_key(t, key)) return false;
    std::string zip, err;
    uint64_t cd = 0;
    // Room for the signing block, which is the certificate and a few hundred bytes.
    if (!zip_stored(entries, zip, cd, err, key.cert.size() + 4096)) {
        log_line(t, err);
        return false;
    }
    std::string_view all = zip;
    size_t eocd = zip.size() - end_record_size;
    std::string digest = apk_digest(all.substr(0, cd), all.substr(cd, eocd - cd), all.substr(eocd));
    std::string block;
    if (digest.empty() || !apk_signing_block(key, digest, block, err)) {
        log_line(t, err.empty() ? std::string("Cannot sign the APK.") : err);
        return false;
    }
    std::string out;
    out.reserve(zip.size() + block.size());
    out.append(all.substr(0, cd));
    out += block;
    out.append(all.substr(cd));
    std::string patched;
    put32(patched, cd + block.size());
    out.replace(out.size() - 6, 4, patched);
    std::string why;
    if (!fs_write(path, out, &why)) {
        logf(t, "Cannot write %s.", path);
        return false;
    }
    return true;
}

void apk_add_dir(std::vector<Apk_Entry>& entries, std::string_view dir, std::string_view prefix) {
    std::vector<Dir_Entry> list;
    if (!fs_list(dir, list)) return;
    for (const Dir_Entry& e : list) {
        // A link is never followed: the package holds what the folder holds.
        if (e.is_link) continue;
        std::string path = path_join({dir, e.name});
        std::string name = std::string(prefix) + "/" + e.name;
        if (e.is_dir) {
            apk_add_dir(entries, path, name);
            continue;
        }
        Apk_Entry entry;
        if (!fs_read(path, entry.data)) continue;
        entry.name = std::move(name);
        entry.align = 4;
        entries.push_back(std::move(entry));
    }
}
