// The cross build's tables and names: the target and CPU the settings
// choose (with their fall-backs), the toolchain search, the output names.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "tests/support/temp_dir.h"

namespace {

struct Settings_Guard {
    Settings saved = settings_copy();
    ~Settings_Guard() { settings_replace(saved); }
};

TEST(Cross, TargetAndCpuFollowTheSettingsWithFallBacks) {
    Settings_Guard guard;
    struct Row {
        const char* target_setting;
        const char* cpu_setting;
        const char* target;
        const char* cpu;
    };
    const Row table[] = {
        {"linux_arm64", "cortex-a76", "linux_arm64", "cortex-a76"},
        {"android_arm64", "cortex-x1", "android_arm64", "cortex-x1"},
        {"android_arm64", "cortex-a72", "android_arm64", "generic"},   // not an Android CPU
        {"linux_arm64", "cortex-x1", "linux_arm64", "generic"},
        {"Linux_ARM64", "apple-m1", "linux_arm64", "apple-m1"},        // the first row, by fall-back
        {"", "", "linux_arm64", "generic"},
        {"android_arm64 ", "Cortex-A76", "linux_arm64", "generic"},
    };
    for (const Row& r : table) {
        settings_edit([&](Settings& s) {
            s.cross_target = r.target_setting;
            s.cross_cpu = r.cpu_setting;
        });
        const Cross_Target& t = cross_target();
        EXPECT_STREQ(t.name, r.target) << r.target_setting;
        EXPECT_EQ(cross_cpu(t), r.cpu) << r.target_setting << " " << r.cpu_setting;
    }
}

TEST(Cross, TheTablesHoldBothTargetsInOrder) {
    EXPECT_STREQ(cross_targets[0].triple, "aarch64-linux-gnu");
    EXPECT_FALSE(cross_targets[0].android);
    EXPECT_STREQ(cross_targets[1].triple, "aarch64-linux-android29");
    EXPECT_TRUE(cross_targets[1].android);
    std::vector<std::string> linux_cpus, android_cpus;
    for (const Cross_Cpu& c : cross_targets[0].cpus) linux_cpus.push_back(c.cpu);
    for (const Cross_Cpu& c : cross_targets[1].cpus) android_cpus.push_back(c.cpu);
    EXPECT_EQ(linux_cpus, (std::vector<std::string>{"generic", "cortex-a72", "cortex-a76", "apple-m1", "neoverse-n1"}));
    EXPECT_EQ(android_cpus, (std::vector<std::string>{"generic", "cortex-a76", "cortex-x1"}));
}

TEST(Cross, OutputNamesAndFolders) {
    Settings_Guard guard;
    Temp_Dir app;
    paths_set_exe_dir(app.path);
    const Cross_Target& linux_t = cross_target_named("linux_arm64");
    const Cross_Target& android_t = cross_target_named("android_arm64");
    EXPECT_EQ(appimage_name("aarch64"), "Quillmarsh-aarch64.AppImage");
    EXPECT_EQ(cross_arch(linux_t), "aarch64");
    EXPECT_EQ(cross_out_dir(linux_t), path_join({app.path, "Quillmarsh-linux-arm64"}));
    EXPECT_EQ(cross_out_dir(android_t), path_join({app.path, "Quillmarsh-android-arm64"}));
    for (bool appimage : {false, true}) {
        settings_edit([&](Settings& s) { s.cross_appimage = appimage; });
        EXPECT_EQ(cross_out_name(linux_t), appimage ? "Quillmarsh-aarch64.AppImage" : "Quillmarsh");
        EXPECT_EQ(cross_out_name(android_t), "Quillmarsh.apk");
    }
    paths_set_exe_dir("");
}

// A program file the search can find.
void put_program(const std::string& path) {
    fs_make_dirs(path_dir(path));
    ASSERT_TRUE(fs_write(path, "#!/bin/sh\nexit 0\n"));
#ifndef _WIN32
    ASSERT_EQ(std::system(("/bin/chmod +x '" + path + "'").c_str()), 0);
#endif
}

struct Path_Guard {
    std::string saved = env_get("PATH");
    ~Path_Guard() { env_set("PATH", saved); }
};

#ifdef _WIN32
constexpr const char* exe_suffix = ".exe";
#else
constexpr const char* exe_suffix = "";
#endif

TEST(Cross, TheLinkerSearchTriesVersionedNamesNewestFirst) {
    Path_Guard guard;
    Temp_Dir root;
    std::string clang_dir = path_join({root.path, "llvm"});
    std::string clang = path_join({clang_dir, std::string("clang") + exe_suffix});
    put_program(clang);
    std::string bin = path_join({root.path, "bin"});
    std::vector<Compiler> list = {{"/usr/bin/gcc", false, "GCC"}, {clang, true, "Clang"}};
    std::string compiler, linker;

    // Only a linker too old to be looked for.
    put_program(path_join({bin, std::string("ld.lld-9") + exe_suffix}));
    env_set("PATH", bin);
    EXPECT_EQ(cross_toolchain_from(list, "/usr/bin/gcc", compiler, linker),
              "Needs LLVM's linker (ld.lld.exe) beside Clang: LLVM-MinGW and MSYS2's Clang have it.");
    EXPECT_EQ(compiler, clang);
    EXPECT_EQ(linker, "");

    // ld.lld-17 and ld.lld-10: the newer one.
    std::string lld17 = path_join({bin, std::string("ld.lld-17") + exe_suffix});
    put_program(lld17);
    put_program(path_join({bin, std::string("ld.lld-10") + exe_suffix}));
    EXPECT_EQ(cross_toolchain_from(list, "/usr/bin/gcc", compiler, linker), "");
    EXPECT_EQ(linker, lld17);

    // A plain "ld.lld" on the path beats the versioned ones...
    std::string plain = path_join({bin, std::string("ld.lld") + exe_suffix});
    put_program(plain);
    EXPECT_EQ(cross_find_linker(clang), plain);
    // ...and the one beside the compiler beats both.
    std::string beside = path_join({clang_dir, std::string("ld.lld") + exe_suffix});
    put_program(beside);
    EXPECT_EQ(cross_find_linker(clang), beside);
}

TEST(Cross, TheCompilerIsTheChosenClangElseTheFirstClang) {
    std::vector<Compiler> list = {{"gcc", false, "GCC"}, {"c1", true, "Clang 1"}, {"c2", true, "Clang 2"}};
    std::string compiler, linker;
    cross_toolchain_from(list, "c2", compiler, linker);
    EXPECT_EQ(compiler, "c2");
    cross_toolchain_from(list, "gcc", compiler, linker);
    EXPECT_EQ(compiler, "c1");
    EXPECT_EQ(cross_toolchain_from({{"gcc", false, "GCC"}}, "gcc", compiler, linker),
              "Needs Clang (GCC compiles only for its own computer): install Clang, then Check again on the Home tab.");
    EXPECT_EQ(compiler, "");
    EXPECT_EQ(linker, "");
}

}  // namespace
