// The APK writer and signer checked by the real tools: apksigner verifies
// the v2 signature (also across the 1 MiB chunk boundary of the digest),
// zipalign checks the alignment, python's zipfile and unzip read the stored
// entries, and openssl reads the certificate and verifies our signatures.
#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/apk.h"
#include "launcher/gamebuild/apk_sign.h"
#include "launcher/core/task.h"
#include "peer.h"
#include "tests/support/data_folder.h"

namespace {

std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += "0123456789abcdef"[c >> 4];
        out += "0123456789abcdef"[c & 15];
    }
    return out;
}

struct Apk_Peer : ::testing::Test {
    Data_Folder data;
    void SetUp() override {
        for (const char* tool : {"apksigner", "zipalign", "openssl", "python3", "unzip"}) {
            if (!have_tool(tool)) GTEST_SKIP() << "skipped: needs " << tool << " (apksigner, zipalign, openssl, unzip)";
        }
    }
    std::string file(const std::string& name) const { return path_join({data.dir.path, name}); }

    // An APK whose entries section is `entries_size` bytes long.
    std::string write_apk(const std::string& name, size_t entries_size) {
        std::vector<Apk_Entry> entries(2);
        entries[0].name = "AndroidManifest.xml";
        entries[0].data = "not read by the verifier";
        entries[1].name = "lib/arm64-v8a/libmain.so";
        entries[1].align = 16384;
        // First header 30 + 19 + 6 + 1 (padding) + 24 bytes of data = 80;
        // the library's header starts there and its data at 16384.
        size_t data_at = 16384;
        entries[1].data.assign(entries_size - data_at, 'L');
        for (size_t i = 0; i < entries[1].data.size(); i += 4096) entries[1].data[i] = char(i >> 12);
        Task t;
        std::string path = file(name);
        EXPECT_TRUE(apk_write(t, path, entries)) << (t.log.empty() ? "" : t.log.back());
        return path;
    }
};

TEST_F(Apk_Peer, ApksignerVerifiesAcrossTheChunkBoundary) {
    // Entries of exactly 1 MiB (one chunk) and one byte more (two, the
    // second of one byte). The certificate apksigner prints is ours.
    std::string der;
    for (size_t size : {size_t(1) << 20, (size_t(1) << 20) + 1}) {
        std::string apk = write_apk("size" + std::to_string(size) + ".apk", size);
        Shell_Result v = shell("apksigner verify -v --print-certs --min-sdk-version 29 " + sh_quote(apk));
        ASSERT_EQ(v.code, 0) << size << "\n" << v.out;
        EXPECT_NE(v.out.find("Verified using v2 scheme (APK Signature Scheme v2): true"), std::string::npos) << v.out;
        ASSERT_TRUE(fs_read(data_path({apk_cert_file}), der));
        EXPECT_NE(v.out.find("certificate SHA-256 digest: " + hex(sha256(der))), std::string::npos) << v.out;
        Shell_Result z = shell("zipalign -c -p -v 4 " + sh_quote(apk));
        EXPECT_EQ(z.code, 0) << z.out;
    }
}

TEST_F(Apk_Peer, ToolsReadTheEntriesAndTheCertificate) {
    std::string apk = write_apk("a.apk", 20000);
    Shell_Result py = shell("python3 -c 'import sys, zipfile\n"
                            "z = zipfile.ZipFile(sys.argv[1])\n"
                            "for i in z.infolist(): print(i.filename, i.compress_type, i.file_size, len(z.read(i)))\n"
                            "print(z.testzip())' " +
                            sh_quote(apk));
    ASSERT_EQ(py.code, 0) << py.out;
    EXPECT_EQ(py.out, "AndroidManifest.xml 0 24 24\nlib/arm64-v8a/libmain.so 0 3616 3616\nNone\n");
    Shell_Result t = shell("unzip -t " + sh_quote(apk));
    EXPECT_EQ(t.code, 0) << t.out;

    std::string cert = data_path({apk_cert_file});
    Shell_Result x = shell("openssl x509 -inform DER -noout -text -in " + sh_quote(cert));
    ASSERT_EQ(x.code, 0) << x.out;
    for (const char* part : {"Version: 3 (0x2)", "Signature Algorithm: ecdsa-with-SHA256", "Issuer: CN = Quillmarsh",
                             "Subject: CN = Quillmarsh", "Not Before: Jan  1 00:00:00 2026 GMT",
                             "Not After : Dec 31 23:59:59 2049 GMT", "ASN1 OID: prime256v1"}) {
        EXPECT_NE(x.out.find(part), std::string::npos) << part << "\n" << x.out;
    }
    EXPECT_EQ(x.out.find("X509v3 extensions"), std::string::npos) << x.out;
    // Self-signed: its own key verifies its signature.
    Shell_Result pem = shell("openssl x509 -inform DER -in " + sh_quote(cert) + " -out " + sh_quote(file("c.pem")));
    ASSERT_EQ(pem.code, 0) << pem.out;
    Shell_Result ss = shell("openssl verify -check_ss_sig -CAfile " + sh_quote(file("c.pem")) + " " + sh_quote(file("c.pem")));
    EXPECT_EQ(ss.code, 0) << ss.out;
}

TEST_F(Apk_Peer, OpensslVerifiesOurSignatures) {
    Task t;
    Apk_Key key;
    ASSERT_TRUE(apk_key(t, key));
    std::string spki = p256_spki(p256_public_point(key.scalar));
    ASSERT_TRUE(fs_write(file("pub.der"), spki));
    const std::string messages[] = {"", "sample", std::string(100000, 'm')};
    for (const std::string& m : messages) {
        Ecdsa_Signature sig;
        ASSERT_TRUE(ecdsa_p256_sign(key.scalar, m, sig));
        ASSERT_TRUE(fs_write(file("msg"), m));
        ASSERT_TRUE(fs_write(file("sig"), sig.der));
        Shell_Result v = shell("openssl dgst -sha256 -keyform DER -verify " + sh_quote(file("pub.der")) + " -signature " +
                               sh_quote(file("sig")) + " " + sh_quote(file("msg")));
        EXPECT_EQ(v.code, 0) << m.size() << ": " << v.out;
        EXPECT_NE(v.out.find("Verified OK"), std::string::npos) << v.out;
    }
}

}  // namespace
