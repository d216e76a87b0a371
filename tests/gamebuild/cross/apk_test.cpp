// The APK writer and signer on their own: RFC 6979's published P-256 /
// SHA-256 vectors, the stored archive's alignment (read back by our ZIP
// reader), the ZIP limits, where the end record points, and the signing key
// of the data folder: reused when sound, made anew when damaged or when the
// certificate is not the key's.
#include <gtest/gtest.h>

#include <cstring>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/apk.h"
#include "launcher/gamebuild/apk_sign.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/archive/zip.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "tests/support/bytes_le.h"
#include "tests/support/data_folder.h"

namespace {

std::string unhex(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

const char* const rfc_key = "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721";

struct Vector {
    const char* message;
    const char* k;
    const char* r;
    const char* s;
};

TEST(Apk_Sign, Rfc6979P256Sha256Vectors) {
    const Vector table[] = {
        {"sample", "A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60",
         "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
         "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
        {"test", "D16B6AE827F17175E040871A1C7EC3500192C4C92677336EC2537ACAEE0008E0",
         "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367",
         "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    };
    std::string key = unhex(rfc_key);
    EXPECT_EQ(p256_public_point(key),
              unhex("04"
                    "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
                    "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299"));
    for (const Vector& v : table) {
        EXPECT_EQ(rfc6979_nonce(key, sha256(v.message)), unhex(v.k)) << v.message;
        Ecdsa_Signature sig;
        ASSERT_TRUE(ecdsa_p256_sign(key, v.message, sig)) << v.message;
        EXPECT_EQ(sig.r, unhex(v.r)) << v.message;
        EXPECT_EQ(sig.s, unhex(v.s)) << v.message;
        // DER: s of "test" starts with 0x01 and needs no sign byte; r does.
        std::string r_der = std::string("\x02\x21\x00", 3) + sig.r;
        std::string s_der = std::string("\x02\x20", 2) + sig.s;
        if (std::string_view(v.message) == "sample") s_der = std::string("\x02\x21\x00", 3) + sig.s;
        EXPECT_EQ(sig.der, der_tlv(0x30, r_der + s_der)) << v.message;
    }
}

TEST(Apk_Sign, ScalarsOutsideTheGroupAreRefused) {
    const std::pair<std::string, bool> table[] = {
        {std::string(32, '\0'), false},
        {unhex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551"), false},   // n
        {unhex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632550"), true},    // n - 1
        {std::string(31, '\x01'), false},
        {std::string(33, '\x01'), false},
        {std::string(31, '\0') + '\x01', true},
    };
    for (const auto& [scalar, ok] : table) EXPECT_EQ(p256_scalar_ok(scalar), ok) << scalar.size();
    // 48 random bytes reduce modulo n: n itself gives zero, which is refused.
    EXPECT_EQ(p256_scalar_from(std::string(16, '\0') + unhex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551")),
              "");
    EXPECT_EQ(p256_scalar_from(std::string(16, '\0') + unhex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632552")),
              std::string(31, '\0') + '\x01');
}

TEST(Apk_Zip, EntriesAreStoredAndAligned) {
    std::vector<Apk_Entry> entries(3);
    entries[0].name = std::string(19, 'a');
    entries[0].data = "first";
    entries[0].align = 4;
    entries[1].name = "lib/arm64-v8a/libmain.so";
    entries[1].data = std::string(70000, 'L');
    entries[1].align = 16384;
    entries[2].name = "odd";
    entries[2].data = "x";
    entries[2].align = -1;
    std::string zip, err;
    uint64_t cd = 0;
    ASSERT_TRUE(zip_stored(entries, zip, cd, err)) << err;
    // 0 + 19 + 36 = 55: one byte of padding, so the extra field is 7 bytes.
    EXPECT_EQ(entries[0].offset, 0u);
    EXPECT_EQ(u16_at(zip, 28), 7);
    EXPECT_EQ(u16_at(zip, 30 + 19), 0xD935);
    EXPECT_EQ(u16_at(zip, 30 + 19 + 2), 3);
    EXPECT_EQ(u16_at(zip, 30 + 19 + 4), 4);

    Temp_Dir dir;
    std::string path = path_join({dir.path, "a.zip"});
    ASSERT_TRUE(fs_write(path, zip));
    Zip_Archive a;
    ASSERT_TRUE(zip_open(a, path));
    std::vector<Zip_Entry> listed;
    ASSERT_TRUE(zip_entries(a, listed));
    ASSERT_EQ(listed.size(), 3u);
    for (size_t i = 0; i < listed.size(); ++i) {
        const Zip_Entry& e = listed[i];
        EXPECT_EQ(e.name, entries[i].name);
        EXPECT_EQ(e.method, 0);
        EXPECT_EQ(uint64_t(e.offset), entries[i].offset);
        size_t data_at = size_t(e.offset) + 30 + u16_at(zip, size_t(e.offset) + 26) + u16_at(zip, size_t(e.offset) + 28);
        EXPECT_EQ(data_at % size_t(entries[i].align), 0u) << e.name;
        EXPECT_EQ(zip.compare(data_at, entries[i].data.size(), entries[i].data), 0) << e.name;
        std::string out = path_join({dir.path, "out" + std::to_string(i)}), got;
        ASSERT_TRUE(zip_extract(a, e, out, nullptr)) << import_reason();
        ASSERT_TRUE(fs_read(out, got));
        EXPECT_TRUE(got == entries[i].data) << e.name;
    }
    // The end record names the central directory.
    EXPECT_EQ(u32_at(zip, zip.size() - 6), cd);
    EXPECT_EQ(u32_at(zip, cd), 0x02014B50u);
    // Every central header: made by version 2.0 on MS-DOS (20), version 1.0
    // needed to extract (10), as stored entries without ZIP64 are.
    size_t at = size_t(cd);
    for (size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(u32_at(zip, at), 0x02014B50u) << i;
        EXPECT_EQ(u16_at(zip, at + 4), 20) << i;
        EXPECT_EQ(u16_at(zip, at + 6), 10) << i;
        at += 46 + u16_at(zip, at + 28) + u16_at(zip, at + 30) + u16_at(zip, at + 32);
    }
}

TEST(Apk_Zip, WhatTheFormatCannotHoldIsRefused) {
    std::string zip, err;
    uint64_t cd = 0;
    std::vector<Apk_Entry> many(65536);
    for (size_t i = 0; i < many.size(); ++i) many[i].name = std::to_string(i);
    EXPECT_FALSE(zip_stored(many, zip, cd, err));
    EXPECT_NE(err.find("65,535"), std::string::npos) << err;
    many.pop_back();
    EXPECT_TRUE(zip_stored(many, zip, cd, err)) << err;

    // 4 GiB in all, with what is still to come counted in.
    std::vector<Apk_Entry> one(1);
    one[0].name = "a";
    one[0].data = "x";
    uint64_t base = 30 + 6 + 1 + 3 + 1 + 46 + 1 + 22;   // 3 bytes of padding for alignment 4
    EXPECT_TRUE(zip_stored(one, zip, cd, err, (uint64_t(1) << 32) - base - 1)) << err;
    EXPECT_FALSE(zip_stored(one, zip, cd, err, (uint64_t(1) << 32) - base));
    EXPECT_NE(err.find("4 GiB"), std::string::npos) << err;

    one[0].align = 0;
    EXPECT_FALSE(zip_stored(one, zip, cd, err));
    EXPECT_NE(err.find("align"), std::string::npos) << err;
}

struct Key_Files : ::testing::Test {
    Data_Folder data;
    std::string key_path = data_path({apk_key_file});
    std::string cert_path = data_path({apk_cert_file});

    static bool made_new(const Task& t) {
        for (const std::string& line : t.log) {
            if (line.rfind("A new signing key for your APKs: ", 0) == 0) return true;
        }
        return false;
    }
};

TEST_F(Key_Files, MadeOnceThenReused) {
    Task first;
    Apk_Key a;
    ASSERT_TRUE(apk_key(first, a));
    EXPECT_TRUE(made_new(first));
    ASSERT_EQ(first.log.size(), 1u);
    EXPECT_EQ(first.log[0], "A new signing key for your APKs: " + key_path +
                                " (keep it: an update installs over the app only when signed by the same key)");
    EXPECT_TRUE(certificate_matches(a.cert, a.scalar));
#ifndef _WIN32
    // The private key is its owner's alone, also over an older readable file.
    struct stat st {};
    ASSERT_EQ(stat(key_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(chmod(key_path.c_str(), 0644), 0);
    ASSERT_TRUE(fs_write(key_path, "short"));
    Task remade;
    ASSERT_TRUE(apk_key(remade, a));
    ASSERT_EQ(stat(key_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
    Task second;
    Apk_Key b;
    ASSERT_TRUE(apk_key(second, b));
    EXPECT_TRUE(second.log.empty());
    EXPECT_EQ(a.scalar, b.scalar);
    EXPECT_EQ(a.cert, b.cert);
}

TEST_F(Key_Files, AGoodKeyIsKeptAndItsCertificateMadeAgain) {
    Task t;
    Apk_Key good;
    ASSERT_TRUE(apk_key(t, good));
    std::string other_key = unhex(rfc_key), other_cert, err;
    ASSERT_TRUE(apk_certificate(other_key, other_cert, err)) << err;
    struct Damage {
        const char* what;
        std::string cert;   // "-": no certificate file at all
    };
    const Damage table[] = {
        {"no certificate", "-"},
        {"empty certificate", ""},
        {"truncated certificate", good.cert.substr(0, good.cert.size() - 1)},
        {"certificate with bytes after it", good.cert + "x"},
        {"another key's certificate", other_cert},
        {"certificate with a broken signature",
         good.cert.substr(0, good.cert.size() - 1) + char(good.cert.back() ^ 1)},
    };
    for (const Damage& d : table) {
        if (d.cert == "-") {
            ASSERT_TRUE(fs_remove_file(cert_path));
        } else {
            ASSERT_TRUE(fs_write(cert_path, d.cert));
        }
        Task again;
        Apk_Key made;
        ASSERT_TRUE(apk_key(again, made)) << d.what;
        EXPECT_FALSE(made_new(again)) << d.what;
        ASSERT_EQ(again.log.size(), 1u) << d.what;
        EXPECT_EQ(again.log[0], "The APK's certificate " + cert_path + " was missing or not of its key: made again "
                                "from the key.")
            << d.what;
        EXPECT_EQ(made.scalar, good.scalar) << d.what;
        EXPECT_EQ(made.cert, good.cert) << d.what;
        std::string stored_key, stored_cert;
        ASSERT_TRUE(fs_read(key_path, stored_key));
        ASSERT_TRUE(fs_read(cert_path, stored_cert));
        EXPECT_EQ(stored_key, good.scalar) << d.what;
        EXPECT_EQ(stored_cert, good.cert) << d.what;
    }
}

TEST_F(Key_Files, AnUnusableKeyIsKeptAsideAndANewPairMade) {
    Task t;
    Apk_Key good;
    ASSERT_TRUE(apk_key(t, good));
    const std::pair<const char*, std::string> table[] = {
        {"31-byte key", good.scalar.substr(1)},
        {"33-byte key", good.scalar + 'x'},
        {"zero key", std::string(32, '\0')},
        {"key beyond the group's order", std::string(32, '\xff')},
    };
    for (const auto& [what, damaged] : table) {
        ASSERT_TRUE(fs_write(key_path, damaged));
        ASSERT_TRUE(fs_write(cert_path, good.cert));
        Task again;
        Apk_Key made;
        ASSERT_TRUE(apk_key(again, made)) << what;
        EXPECT_TRUE(made_new(again)) << what;
        ASSERT_EQ(again.log.size(), 2u) << what;
        EXPECT_EQ(again.log[0], "The APK's signing key " + key_path + " was unusable: it is kept as " + key_path +
                                    ".old.")
            << what;
        EXPECT_TRUE(certificate_matches(made.cert, made.scalar)) << what;
        std::string stored_key, stored_cert, kept;
        ASSERT_TRUE(fs_read(key_path, stored_key));
        ASSERT_TRUE(fs_read(cert_path, stored_cert));
        ASSERT_TRUE(fs_read(key_path + ".old", kept));
        EXPECT_EQ(stored_key, made.scalar) << what;
        EXPECT_EQ(stored_cert, made.cert) << what;
        EXPECT_EQ(kept, damaged) << what;
    }
}

#ifndef _WIN32
TEST_F(Key_Files, AKeyBehindALinkIsReadNeverWrittenThrough) {
    Task t;
    Apk_Key good;
    ASSERT_TRUE(apk_key(t, good));
    std::string safe = path_join({data.dir.path, "safe_key.bin"});
    ASSERT_TRUE(fs_rename(key_path, safe));
    ASSERT_TRUE(fs_make_link(safe, key_path, false));
    ASSERT_TRUE(fs_remove_file(cert_path));
    Task again;
    Apk_Key made;
    ASSERT_TRUE(apk_key(again, made));
    EXPECT_EQ(made.scalar, good.scalar);
    EXPECT_EQ(made.cert, good.cert);
    // An unusable key behind the link: the link is set aside, the file it
    // names stays as it was.
    ASSERT_TRUE(fs_write(safe, "short"));
    Task remade;
    ASSERT_TRUE(apk_key(remade, made));
    EXPECT_TRUE(made_new(remade));
    std::string kept;
    ASSERT_TRUE(fs_read(safe, kept));
    EXPECT_EQ(kept, "short");
    File_Info info;
    ASSERT_TRUE(fs_stat(key_path, info));
    EXPECT_FALSE(info.is_link);
}
#endif

TEST_F(Key_Files, AnUnwritableDataFolderFailsTheWrite) {
    fs_fail_under(data_dir());
    Task t;
    std::vector<Apk_Entry> entries(1);
    entries[0].name = "a";
    EXPECT_FALSE(apk_write(t, path_join({data.dir.path, "x.apk"}), entries));
    fs_fail_under("");
    ASSERT_FALSE(t.log.empty());
    EXPECT_EQ(t.log.back(), "Cannot keep the APK's signing key in " + key_path + ".");
}

TEST_F(Key_Files, TheEndRecordPointsPastTheSigningBlock) {
    Task t;
    std::vector<Apk_Entry> entries(2);
    entries[0].name = "AndroidManifest.xml";
    entries[0].data = "manifest";
    entries[1].name = "lib/arm64-v8a/libmain.so";
    entries[1].data = std::string(5000, 'x');
    entries[1].align = 16384;
    std::string path = path_join({data.dir.path, "x.apk"}), apk;
    ASSERT_TRUE(apk_write(t, path, entries));
    ASSERT_TRUE(fs_read(path, apk));
    uint32_t cd = u32_at(apk, apk.size() - 6);
    EXPECT_EQ(u32_at(apk, cd), 0x02014B50u);
    EXPECT_EQ(apk.compare(cd - 16, 16, "APK Sig Block 42"), 0);
    uint64_t block_size = 0;
    std::memcpy(&block_size, apk.data() + cd - 24, 8);
    size_t block_at = cd - size_t(block_size) - 8;
    EXPECT_EQ(block_at, size_t(entries[1].offset) + 30 + 24 + u16_at(apk, size_t(entries[1].offset) + 28) + 5000);
    EXPECT_EQ(u32_at(apk, block_at + 16), apk_v2_block_id);
}

}  // namespace

namespace {

struct Android_Output : Key_Files {
    std::string inputs = data_path({"cross", "android_arm64", "apk"});
    std::string out_dir = path_join({data.dir.path, "out"});
    std::string linked = path_join({data.dir.path, "libmain.so"});
    const Cross_Target& android = cross_targets[1];

    void SetUp() override {
        fs_make_dirs(path_join({inputs, "res", "mipmap"}));
        fs_make_dirs(out_dir);
        fs_write(path_join({inputs, "AndroidManifest.xml"}), "manifest");
        fs_write(path_join({inputs, "resources.arsc"}), "arsc");
        fs_write(path_join({inputs, "res", "mipmap", "icon.png"}), "png");
        fs_write(linked, std::string(3000, 'L'));
    }
    std::vector<Zip_Entry> listed(std::vector<std::string>& bodies) {
        Zip_Archive a;
        std::vector<Zip_Entry> out;
        EXPECT_TRUE(zip_open(a, path_join({out_dir, "Quillmarsh.apk"})));
        EXPECT_TRUE(zip_entries(a, out));
        for (const Zip_Entry& e : out) {
            std::string body(size_t(e.unpacked), '\0');
            std::string head(30, '\0');
            zip_read_at(a, head.data(), head.size(), e.offset);
            int64_t at = e.offset + 30 + u16_at(head, 26) + u16_at(head, 28);
            zip_read_at(a, body.data(), body.size(), at);
            bodies.push_back(body);
        }
        return out;
    }
};

TEST_F(Android_Output, ThePackageHoldsItsEntriesInOrder) {
    // Options whose lines differ for a game for this computer: FSR (with
    // its library's path there; on Android the next method that applies)
    // and the pipeline threads (the setting as it is on Android).
    Settings before = settings_copy();
    settings_edit([](Settings& s) {
        s.aa_fsr = s.aa_taa = s.aa_fxaa = true;
        s.aa_quality = 4;
        s.pipe_threads = 0;
    });
    cfg_set_core_count(8);
    Task t;
    std::string name;
    ASSERT_TRUE(cross_write_output(t, android, out_dir, linked, false, name)) << (t.log.empty() ? "" : t.log.back());
    EXPECT_EQ(name, "Quillmarsh.apk");
    std::vector<std::string> bodies;
    std::vector<Zip_Entry> entries = listed(bodies);
    std::vector<std::string> names;
    for (const Zip_Entry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"AndroidManifest.xml", "resources.arsc", "res/mipmap/icon.png",
                                               "assets/Quillmarsh.cfg", "lib/arm64-v8a/libmain.so"}));
    ASSERT_EQ(bodies.size(), 5u);
    EXPECT_EQ(bodies[4], std::string(3000, 'L'));
    EXPECT_EQ(bodies[3], android_cfg_text(android));
    const std::string& cfg = bodies[3];
    EXPECT_EQ(cfg.rfind("# Quillmarsh's settings for Android ARM64, written by the launcher's Cross-Compile Build.\n"
                        "# (An efsg.cfg in the app's own folder on the device, Android/data/com.quillmarsh.efsg/files, "
                        "overrides it.)\n",
                        0),
              0u)
        << cfg;
    for (const char* absent : {"ZQR_GAME_DIR", "ZQR_EXE", "ZQR_CDRIVE", "ZQR_FSR", "ZQR_TAA", "ZQR_DLSS",
                               "ZQR_MOD_DIR", "ZQR_HD_DIR", "ZQR_BUTTON_ICONS", "ZQR_STEAM_HELPER"})
        EXPECT_EQ(cfg.find(absent), std::string::npos) << absent << "\n" << cfg;
    EXPECT_NE(cfg.find("\nZQR_FXAA=4\n"), std::string::npos) << cfg;
    EXPECT_NE(cfg.find("\nZQR_VK_PIPE_THREADS=0\n"), std::string::npos) << cfg;
    settings_replace(before);
    cfg_set_core_count(0);

    std::string readme;
    ASSERT_TRUE(fs_read(path_join({out_dir, "README.txt"}), readme));
    EXPECT_EQ(readme.rfind("Quillmarsh for Android (ARM64)\n===============================\n\n"
                           "Built by the Quillmarsh launcher's Cross-Compile tab (CPU: generic).",
                           0),
              0u);
    EXPECT_NE(readme.find("adb install -r Quillmarsh.apk\n"), std::string::npos);
}

TEST_F(Android_Output, MissingInputsFailWithTheirReason) {
    struct Case {
        const char* what;
        std::string remove;
        std::string message;
    };
    const Case table[] = {
        {"no manifest", path_join({inputs, "AndroidManifest.xml"}),
         "This launcher carries no APK files for Android ARM64 (" + inputs + ")."},
        {"no resources", path_join({inputs, "resources.arsc"}),
         "This launcher carries no APK files for Android ARM64 (" + inputs + ")."},
        {"no library", linked, "Cannot read " + linked + "."},
    };
    for (const Case& c : table) {
        SetUp();
        fs_remove_file(c.remove);
        Task t;
        EXPECT_FALSE(android_write_output(t, android, out_dir, linked)) << c.what;
        ASSERT_FALSE(t.log.empty()) << c.what;
        EXPECT_EQ(t.log.back(), c.message) << c.what;
        EXPECT_FALSE(file_exists(path_join({out_dir, "Quillmarsh.apk"}))) << c.what;
    }
}

}  // namespace
