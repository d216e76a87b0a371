// "--cross-build linux_arm64" through the real launcher on a fixture install,
// with the machine's Clang and ld.lld and the bundle's aarch64 sysroot. The
// plain folder's game is AArch64 and runs under qemu-aarch64, reading its
// "./Quillmarsh.cfg"; the AppImage is read back by unsquashfs, its runtime
// finds and runs AppRun under qemu, and AppRun starts the game.
#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/appimage.h"
#include "peer.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

struct Cross_Build : ::testing::Test {
    static inline Temp_Dir* root = nullptr;
    static inline std::string app, local, data, game_dir, out_dir, sysroot;
    static inline Shell_Result plain, packed;
    static inline std::string plain_cfg;

    static void write_settings(bool appimage) {
        fs_make_dirs(data);
        std::string text = "settings_version 4\ngame_dir " + game_dir + "\ncross_cpu cortex-a76\n";
        if (appimage) text += "cross_appimage 1\n";
        fs_write(path_join({data, "settings.txt"}), text);
    }
    static Shell_Result cross_build() {
        return shell("cd " + sh_quote(app) + " && LOCALAPPDATA=" + sh_quote(local) +
                     " ./quillmarsh-launcher --cross-build android_arm64 --cross-build linux_arm64");
    }
    static bool tools_missing() {
        return !have_tool("clang") || !have_tool("ld.lld") || !have_tool("qemu-aarch64") ||
               !have_tool("unsquashfs") || !have_tool("llvm-readelf");
    }

    static void SetUpTestSuite() {
        if (tools_missing()) return;
        root = new Temp_Dir;
        app = path_join({root->path, "app"});
        local = path_join({root->path, "local"});
        data = path_join({local, "efsg-launcher"});
        out_dir = path_join({app, "Quillmarsh-linux-arm64"});
        sysroot = path_join({data, "cross", "linux_arm64", "sysroot"});
        fs_make_dirs(app);
        shell("cp " + sh_quote(QM_LAUNCHER) + " " + sh_quote(app));
        Fixture_Options o;
        o.store_root = path_join({root->path, "store"});
        std::string err;
        if (!fixture_write_install(o, &err)) ADD_FAILURE() << err;
        game_dir = fixture_game_dir(o);
        write_settings(false);
        plain = cross_build();
        fs_read(path_join({out_dir, "Quillmarsh.cfg"}), plain_cfg);
        // The plain folder is run before the AppImage build replaces it.
        write_settings(true);
    }
    static void TearDownTestSuite() {
        delete root;
        root = nullptr;
    }
    void SetUp() override {
        if (tools_missing())
            GTEST_SKIP() << "skipped: needs clang, ld.lld, qemu-aarch64 (qemu-user), unsquashfs and llvm-readelf";
        if (!fs_is_dir(QM_ARM64_SYSROOT_STAGE)) GTEST_SKIP() << "skipped: the bundle carries no aarch64 sysroot";
    }
};

TEST_F(Cross_Build, ThePlainFolderRunsUnderQemu) {
    ASSERT_EQ(plain.code, 0) << plain.out;
    EXPECT_NE(plain.out.find("Target: Linux ARM64, CPU cortex-a76\n"), std::string::npos) << plain.out;
    std::string game = path_join({out_dir, "Quillmarsh"});
    EXPECT_NE(plain.out.find("Built " + game + ": copy the folder " + out_dir + " to the Linux ARM64 computer"),
              std::string::npos)
        << plain.out;
    Shell_Result elf = shell("llvm-readelf -h " + sh_quote(game));
    EXPECT_NE(elf.out.find("AArch64"), std::string::npos) << elf.out;
    EXPECT_TRUE(fs_is_dir(path_join({out_dir, "cdrive"})));
    EXPECT_NE(plain_cfg.find("ZQR_GAME_DIR=./EMBERFALL SAGA\n"), std::string::npos) << plain_cfg;
    std::string readme;
    ASSERT_TRUE(fs_read(path_join({out_dir, "README.txt"}), readme));
    EXPECT_EQ(readme.rfind("Quillmarsh for Linux ARM64\n", 0), 0u);
    EXPECT_NE(readme.find("(CPU: cortex-a76)"), std::string::npos);

    // Run from its folder, as the README says.
    Shell_Result run = shell("cd " + sh_quote(out_dir) + " && qemu-aarch64 -L " + sh_quote(sysroot) + " ./Quillmarsh");
    ASSERT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("config: ./Quillmarsh.cfg ("), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  ZQR_EXE=./EMBERFALL SAGA/amber_data/prog/win/bin/efsagaimg.exe\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("media: avformat 60.16.100"), std::string::npos) << run.out;
}

TEST_F(Cross_Build, TheAppImageHoldsItsFilesAndRuns) {
    ASSERT_EQ(plain.code, 0) << plain.out;
    packed = cross_build();
    ASSERT_EQ(packed.code, 0) << packed.out;
    std::string name = "Quillmarsh-aarch64.AppImage";
    std::string appimage = path_join({out_dir, name});
    EXPECT_NE(packed.out.find("AppImage: " + appimage + " ("), std::string::npos) << packed.out;
    // The plain folder's files are gone; README.txt is the AppImage's.
    std::vector<Dir_Entry> left;
    ASSERT_TRUE(fs_list(out_dir, left));
    std::vector<std::string> names;
    for (const Dir_Entry& e : left) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{name, "README.txt"}));

    std::string runtime, whole;
    ASSERT_TRUE(fs_read(path_join({data, "appimage", "runtime-aarch64"}), runtime));
    ASSERT_TRUE(fs_read(appimage, whole));
    ASSERT_GT(whole.size(), runtime.size());
    EXPECT_EQ(whole.compare(0, runtime.size(), runtime), 0);
    EXPECT_EQ(whole.compare(runtime.size(), 4, "hsqs"), 0);
    EXPECT_EQ((whole.size() - runtime.size()) % 4096, 0u);

    std::string offset = std::to_string(runtime.size());
    Shell_Result list = shell("unsquashfs -o " + offset + " -lls " + sh_quote(appimage) + " | sed 's/ .* squashfs-root/ squashfs-root/'");
    ASSERT_EQ(list.code, 0) << list.out;
    EXPECT_EQ(list.out,
              "drwxr-xr-x squashfs-root\n"
              "-rw-r--r-- squashfs-root/.DirIcon\n"
              "-rwxr-xr-x squashfs-root/AppRun\n"
              "-rw-r--r-- squashfs-root/quillmarsh.desktop\n"
              "-rw-r--r-- squashfs-root/quillmarsh.png\n"
              "drwxr-xr-x squashfs-root/usr\n"
              "drwxr-xr-x squashfs-root/usr/bin\n"
              "-rwxr-xr-x squashfs-root/usr/bin/Quillmarsh\n"
              "-rw-r--r-- squashfs-root/usr/bin/Quillmarsh.cfg\n");

    std::string tree = path_join({root->path, "tree"});
    Shell_Result x = shell("unsquashfs -no-xattrs -n -o " + offset + " -d " + sh_quote(tree) + " " + sh_quote(appimage));
    ASSERT_EQ(x.code, 0) << x.out;
    std::string linked, got;
    ASSERT_TRUE(fs_read(path_join({data, "obj-linux_arm64", "Quillmarsh"}), linked));
    const std::pair<const char*, std::string> expected[] = {
        {"AppRun", apprun_text("Quillmarsh", true)},
        {"quillmarsh.desktop", std::string(desktop_entry_text)},
        {"quillmarsh.png", std::string(icon_png())},
        {".DirIcon", std::string(icon_png())},
        {"usr/bin/Quillmarsh", linked},
    };
    for (const auto& [file, bytes] : expected) {
        ASSERT_TRUE(fs_read(path_join({tree, file}), got)) << file;
        EXPECT_TRUE(got == bytes) << file;
    }
    ASSERT_TRUE(fs_read(path_join({tree, "usr/bin/Quillmarsh.cfg"}), got));
    EXPECT_EQ(got.rfind("# Quillmarsh's settings for Linux ARM64, written by the launcher's Cross-Compile Build "
                        "(inside its AppImage).\n",
                        0),
              0u);
    EXPECT_EQ(got.find("ZQR_GAME_DIR"), std::string::npos) << got;

    std::string apprun = path_join({tree, "AppRun"});
    Shell_Result syntax = shell("sh -n " + sh_quote(apprun));
    EXPECT_EQ(syntax.code, 0) << syntax.out;

    // AppRun from the extracted tree, with APPIMAGE set and the game beside
    // it. This machine's kernel cannot start an aarch64 program by itself
    // (no binfmt_misc), so the script's final exec goes through qemu-aarch64
    // as binfmt_misc would route it; everything before it runs as written.
    std::string beside = path_join({root->path, "carried"});
    fs_make_dirs(beside);
    shell("ln -s " + sh_quote(game_dir) + " " + sh_quote(path_join({beside, "EMBERFALL SAGA"})));
    std::string shim = path_join({root->path, "exec_shim.sh"});
    fs_write(shim, "exec() { command exec qemu-aarch64 -L \"$QM_SYSROOT\" \"$@\"; }\n");
    Shell_Result run = shell("cd / && BASH_ENV=" + sh_quote(shim) + " QM_SYSROOT=" + sh_quote(sysroot) +
                             " APPIMAGE=" + sh_quote(path_join({beside, name})) + " bash " + sh_quote(apprun));
    ASSERT_EQ(run.code, 0) << run.out;
    EXPECT_NE(run.out.find("config: " + path_join({tree, "usr/bin/Quillmarsh.cfg"})), std::string::npos) << run.out;
    // The saves folder defaults to the AppImage's folder (the game reads
    // the other two from the environment AppRun exported).
    EXPECT_TRUE(fs_is_dir(path_join({beside, "cdrive"})));

    // The AppImage itself under qemu: the runtime finds the image after its
    // own ELF file, extracts it and runs AppRun with APPIMAGE set; no game
    // is beside it here, which AppRun says.
    std::string lone = path_join({root->path, "lone"});
    fs_make_dirs(lone);
    std::string copy = path_join({lone, name});
    shell("cp " + sh_quote(appimage) + " " + sh_quote(copy) + " && chmod +x " + sh_quote(copy));
    Shell_Result self = shell("cd / && qemu-aarch64 " + sh_quote(copy));
    EXPECT_EQ(self.code, 1) << self.out;
    EXPECT_NE(self.out.find("Quillmarsh: the game is not at " + path_join({lone, "EMBERFALL SAGA"}) + "\n"),
              std::string::npos)
        << self.out;

    // Back to the plain folder: the AppImage goes, the folder's files return.
    write_settings(false);
    Shell_Result again = cross_build();
    ASSERT_EQ(again.code, 0) << again.out;
    left.clear();
    ASSERT_TRUE(fs_list(out_dir, left));
    names.clear();
    for (const Dir_Entry& e : left) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Quillmarsh", "Quillmarsh.cfg", "README.txt", "cdrive"}));
}

}  // namespace
