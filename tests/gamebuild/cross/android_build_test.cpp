// "--cross-build android_arm64" through the real launcher on a fixture
// install, with the machine's Clang and ld.lld and the bundle's Android
// sysroot: apksigner verifies the v2 signature, zipalign the alignment,
// python's zipfile sees only stored entries, llvm-readelf reads the game
// library, aapt reads the manifest; a second build signs with the same key,
// also when the certificate was lost, and only an unusable key is replaced.
#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/apk.h"
#include "peer.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

const char* const new_key_line = "A new signing key for your APKs: ";

struct Android_Build : ::testing::Test {
    static inline Temp_Dir* root = nullptr;
    static inline std::string app, local, data, out_dir, apk;
    static inline Shell_Result first;
    static inline std::string first_digest;

    static Shell_Result cross_build() {
        return shell("cd " + sh_quote(app) + " && LOCALAPPDATA=" + sh_quote(local) +
                     " ./quillmarsh-launcher --cross-build android_arm64");
    }
    static std::string missing_tool() {
        for (const char* tool : {"clang", "ld.lld", "llvm-readelf", "apksigner", "zipalign", "python3", "openssl"}) {
            if (!have_tool(tool)) return tool;
        }
        return "";
    }
    static bool staged() { return fs_is_dir(path_join({QM_ANDROID_STAGE, "apk"})); }

    static void SetUpTestSuite() {
        if (!missing_tool().empty() || !staged()) return;
        root = new Temp_Dir;
        app = path_join({root->path, "app"});
        local = path_join({root->path, "local"});
        data = path_join({local, "efsg-launcher"});
        out_dir = path_join({app, "Quillmarsh-android-arm64"});
        apk = path_join({out_dir, "Quillmarsh.apk"});
        fs_make_dirs(app);
        fs_make_dirs(data);
        shell("cp " + sh_quote(QM_LAUNCHER) + " " + sh_quote(app));
        Fixture_Options o;
        o.store_root = path_join({root->path, "store"});
        std::string err;
        if (!fixture_write_install(o, &err)) ADD_FAILURE() << err;
        fs_write(path_join({data, "settings.txt"}),
                 "settings_version 4\ngame_dir " + fixture_game_dir(o) + "\ncross_cpu cortex-x1\n");
        first = cross_build();
        if (first.code == 0) first_digest = verified_cert_digest();
    }
    static void TearDownTestSuite() {
        delete root;
        root = nullptr;
    }
    void SetUp() override {
        std::string tool = missing_tool();
        if (!tool.empty())
            GTEST_SKIP() << "skipped: needs " << tool
                         << " (clang, lld, llvm, apksigner, zipalign, python3 and openssl are all needed)";
        if (!staged())
            GTEST_SKIP() << "skipped: the bundle carries no APK files for Android ARM64 (no aapt when the launcher "
                            "was built)";
    }

    // apksigner's verdict; the certificate's SHA-256 digest, "" when it
    // does not verify with v2.
    static std::string verified_cert_digest() {
        Shell_Result v = shell("apksigner verify -v --print-certs --min-sdk-version 29 " + sh_quote(apk));
        EXPECT_EQ(v.code, 0) << v.out;
        if (v.out.find("Verified using v2 scheme (APK Signature Scheme v2): true") == std::string::npos) {
            ADD_FAILURE() << v.out;
            return "";
        }
        const std::string mark = "certificate SHA-256 digest: ";
        size_t at = v.out.find(mark);
        return at == std::string::npos ? "" : v.out.substr(at + mark.size(), 64);
    }
};

TEST_F(Android_Build, TheApkVerifiesAndHoldsTheGame) {
    ASSERT_EQ(first.code, 0) << first.out;
    EXPECT_NE(first.out.find("Target: Android ARM64, CPU cortex-x1\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("Built " + apk + ": install it on the Android ARM64 device; " +
                             path_join({out_dir, "README.txt"}) + " says how, and where the game's files go.\n"),
              std::string::npos)
        << first.out;
    EXPECT_NE(first.out.find(new_key_line), std::string::npos) << first.out;
    EXPECT_FALSE(first_digest.empty());

    Shell_Result align = shell("zipalign -c -p -v 4 " + sh_quote(apk));
    EXPECT_EQ(align.code, 0) << align.out;
    Shell_Result py = shell("python3 -c 'import sys, zipfile\n"
                            "z = zipfile.ZipFile(sys.argv[1])\n"
                            "for i in z.infolist(): print(i.compress_type, i.filename)\n"
                            "print(z.testzip())' " +
                            sh_quote(apk));
    ASSERT_EQ(py.code, 0) << py.out;
    EXPECT_EQ(py.out,
              "0 AndroidManifest.xml\n0 resources.arsc\n0 res/mipmap/ic_launcher.png\n0 assets/Quillmarsh.cfg\n"
              "0 lib/arm64-v8a/libmain.so\nNone\n");

    std::string x = path_join({root->path, "unpacked"});
    Shell_Result unzip = shell("mkdir -p " + sh_quote(x) + " && cd " + sh_quote(x) + " && unzip -q " + sh_quote(apk));
    ASSERT_EQ(unzip.code, 0) << unzip.out;
    std::string lib = path_join({x, "lib/arm64-v8a/libmain.so"});
    Shell_Result elf = shell("llvm-readelf -h -d --dyn-syms " + sh_quote(lib));
    ASSERT_EQ(elf.code, 0) << elf.out;
    EXPECT_NE(elf.out.find("AArch64"), std::string::npos) << elf.out;
    EXPECT_NE(elf.out.find("Shared library: [libandroid.so]"), std::string::npos) << elf.out;
    // Exported and defined (an undefined symbol shows "UND" in place of its section).
    bool exported = false;
    size_t at = 0;
    while ((at = elf.out.find("ANativeActivity_onCreate", at)) != std::string::npos) {
        size_t line = elf.out.rfind('\n', at);
        std::string row = elf.out.substr(line + 1, at - line - 1);
        if (row.find("GLOBAL DEFAULT") != std::string::npos && row.find("UND") == std::string::npos) exported = true;
        ++at;
    }
    EXPECT_TRUE(exported) << elf.out;

    std::string cfg;
    ASSERT_TRUE(fs_read(path_join({x, "assets/Quillmarsh.cfg"}), cfg));
    EXPECT_EQ(cfg.rfind("# Quillmarsh's settings for Android ARM64, written by the launcher's Cross-Compile Build.\n"
                        "# (An efsg.cfg in the app's own folder on the device, Android/data/com.quillmarsh.efsg/files, "
                        "overrides it.)\nZQR_",
                        0),
              0u)
        << cfg;
    EXPECT_EQ(cfg.find("ZQR_GAME_DIR"), std::string::npos) << cfg;

    Shell_Result cert = shell("openssl x509 -inform DER -noout -subject -in " + sh_quote(path_join({data, apk_cert_file})));
    EXPECT_EQ(cert.out, "subject=CN = Quillmarsh\n");

    if (have_tool("aapt")) {
        Shell_Result badging = shell("aapt dump badging " + sh_quote(apk));
        EXPECT_NE(badging.out.find("package: name='com.quillmarsh.efsg'"), std::string::npos) << badging.out;
        EXPECT_NE(badging.out.find("sdkVersion:'29'"), std::string::npos) << badging.out;
        EXPECT_NE(badging.out.find("launchable-activity: name='android.app.NativeActivity'"), std::string::npos)
            << badging.out;
    }
    std::string readme;
    ASSERT_TRUE(fs_read(path_join({out_dir, "README.txt"}), readme));
    EXPECT_NE(readme.find("(CPU: cortex-x1)"), std::string::npos);
}

TEST_F(Android_Build, LaterBuildsKeepTheKeyUnlessItIsUnusable) {
    ASSERT_EQ(first.code, 0) << first.out;
    Shell_Result again = cross_build();
    ASSERT_EQ(again.code, 0) << again.out;
    EXPECT_EQ(again.out.find(new_key_line), std::string::npos) << again.out;
    std::string key_path = path_join({data, apk_key_file});
    EXPECT_EQ(verified_cert_digest(), first_digest);

    // The certificate lost: it is made again from the kept key, and the
    // package carries the very certificate of the first build, so it
    // installs over the earlier one.
    std::string cert_path = path_join({data, apk_cert_file});
    ASSERT_TRUE(fs_remove_file(cert_path));
    Shell_Result lost = cross_build();
    ASSERT_EQ(lost.code, 0) << lost.out;
    EXPECT_EQ(lost.out.find(new_key_line), std::string::npos) << lost.out;
    EXPECT_NE(lost.out.find("The APK's certificate " + cert_path + " was missing or not of its key"),
              std::string::npos)
        << lost.out;
    EXPECT_EQ(verified_cert_digest(), first_digest);

    // Another key beside the stored certificate (here: the key changed in
    // one bit): the key is kept and a certificate of it made.
    std::string key;
    ASSERT_TRUE(fs_read(key_path, key));
    key[31] = char(key[31] ^ 1);
    ASSERT_TRUE(fs_write(key_path, key));
    Shell_Result mismatched = cross_build();
    ASSERT_EQ(mismatched.code, 0) << mismatched.out;
    EXPECT_EQ(mismatched.out.find(new_key_line), std::string::npos) << mismatched.out;
    std::string second_digest = verified_cert_digest();
    EXPECT_FALSE(second_digest.empty());
    EXPECT_NE(second_digest, first_digest);

    // Only an unusable key makes a new pair; it is kept aside.
    ASSERT_TRUE(fs_write(key_path, std::string(32, '\0')));
    Shell_Result unusable = cross_build();
    ASSERT_EQ(unusable.code, 0) << unusable.out;
    EXPECT_NE(unusable.out.find(new_key_line), std::string::npos) << unusable.out;
    std::string latest = verified_cert_digest();
    EXPECT_FALSE(latest.empty());
    EXPECT_NE(latest, second_digest);
    std::string kept;
    ASSERT_TRUE(fs_read(key_path + ".old", kept));
    EXPECT_EQ(kept, std::string(32, '\0'));
}

}  // namespace
