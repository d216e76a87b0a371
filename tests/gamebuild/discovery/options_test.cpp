// Compiler and linker flags: the rules that decide LTO, the linker and the
// optimisation level, the fixed order of the link command, and every flag
// group put before the machine's real Clang for each target.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/options.h"
#include "launcher/core/child_run.h"
#include "tests/gamebuild/discovery/discovery_fixture.h"

namespace {

bool has(const Cmd& list, const std::string& flag) { return std::find(list.begin(), list.end(), flag) != list.end(); }
bool has_prefix(const Cmd& list, const std::string& prefix) {
    for (const std::string& s : list) {
        if (s.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

struct Options_Test : Discovery_Test {
    std::string machine_path;
    void SetUp() override {
        Discovery_Test::SetUp();
        machine_path = env_get("PATH");
        std::string empty = path_join({tmp.path, "empty-path"});
        fs_make_dirs(empty);
        env.set("PATH", empty);
        Task t;
        deps_check_task(t);   // no compiler listed: "is it Clang" follows the saved path
        set_profile_path("");
    }
    void TearDown() override {
        set_profile_path("");
        Discovery_Test::TearDown();
    }
    // A compiler path in a folder of its own, with ld.lld beside it or not.
    std::string compiler(const std::string& name, bool lld) {
        std::string dir = path_join({tmp.path, name + (lld ? "-lld" : "")});
        fs_make_dirs(dir);
        std::string path = path_join({dir, name});
        fs_write(path, "");
        if (lld) fs_write(path_join({dir, "ld.lld"}), "");
        return path;
    }
    void use(const std::string& compiler_path, bool lto, int64_t opt_level = 2, bool tools = false) {
        settings_edit([&](Settings& s) {
            s.compiler = compiler_path;
            s.lto = lto;
            s.opt_level = opt_level;
            s.tools = tools;
        });
    }
};

const Cross_Target& linux_target() { return cross_targets[0]; }
const Cross_Target& android_target() { return cross_targets[1]; }

Build_Spec request(const Cross_Target* target) {
    Build_Spec r;
    r.target = target;
    if (target) {
        r.compiler = "/x/clang";
        r.linker = "/x/ld.lld";
        r.cpu = target->cpus[0].cpu;
        r.sysroot = "/data/cross/" + std::string(target->name) + "/sysroot";
        r.ffmpeg = target->android ? "" : "/data/cross/" + std::string(target->name) + "/ffmpeg";
    }
    return r;
}

TEST_F(Options_Test, LtoAndTheLinkerFollowTheCompiler) {
    struct Case {
        const char* name;
        const char* compiler;
        bool lld;
        bool lto;
        bool profile;
        const char* compile_lto;   // "" = none
        Cmd link;
    };
    const Case cases[] = {
        {"GCC with LTO", "gcc", false, true, false, "-flto=auto", {"-Wl,-S", "-flto=auto", "-O2"}},
        {"Clang with ld.lld and LTO", "clang", true, true, false, "-flto=thin",
         {"-Wl,-S", "-flto=thin", "-O2", "-fuse-ld=lld"}},
        {"Clang without ld.lld", "clang", false, true, false, "", {"-Wl,-S"}},
        {"Clang without LTO", "clang", true, false, false, "", {"-Wl,-S"}},
        {"Clang with a profile", "clang", true, false, true, "", {"-Wl,-S", "-fuse-ld=lld"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        use(compiler(c.compiler, c.lld), c.lto);
        set_profile_path(c.profile ? "/data/src/pgo/efsg.profdata" : "");
        Build_Spec here = request(nullptr);
        Cmd common = common_flags(here);
        EXPECT_EQ(has(common, "-flto=thin"), std::string(c.compile_lto) == "-flto=thin");
        EXPECT_EQ(has(common, "-flto=auto"), std::string(c.compile_lto) == "-flto=auto");
        EXPECT_EQ(has(common, "-fprofile-instr-use=/data/src/pgo/efsg.profdata"), c.profile);
        EXPECT_EQ(link_option_flags(here), c.link);
        EXPECT_EQ(lto_on(here), *c.compile_lto != 0);
        // GCC does not know -fno-addrsig.
        EXPECT_EQ(has(page_option_flags(here), "-fno-addrsig"), std::string(c.compiler) == "clang");
    }
}

TEST_F(Options_Test, OptimisationLevelAndTools) {
    struct Case {
        int64_t level;
        const char* flag;
    };
    for (const Case& c : {Case{0, "-O0"}, Case{3, "-O3"}, Case{7, "-O3"}, Case{-2, "-O0"}}) {
        use(compiler("clang", true), false, c.level);
        Build_Spec here = request(nullptr);
        EXPECT_EQ(page_option_flags(here)[0], c.flag);
        EXPECT_EQ(runtime_option_flags(here)[0], c.flag);
        EXPECT_FALSE(has_prefix(link_option_flags(here), "-O")) << c.level;
    }
    // Tools on: no ZQR_NO_TOOLS here, but always on Android.
    use(compiler("clang", true), false, 1, true);
    Build_Spec here = request(nullptr), android = request(&android_target());
    EXPECT_FALSE(has(runtime_option_flags(here), "-DZQR_NO_TOOLS"));
    EXPECT_TRUE(has(runtime_option_flags(android), "-DZQR_NO_TOOLS"));
#ifdef _WIN32
    // A console program with tools on, a windowed one without.
    Cmd link = link_command(here, "clang", "src", "ffmpeg", "Quillmarsh.exe", "link.rsp", {});
    EXPECT_FALSE(has(link, "-Wl,--subsystem,windows"));
    use(compiler("clang", true), false, 1, false);
    link = link_command(here, "clang", "src", "ffmpeg", "Quillmarsh.exe", "link.rsp", {});
    EXPECT_EQ(link.back(), "-Wl,--subsystem,windows");
#endif
    use(compiler("clang", true), false, 1, false);
    settings_edit([](Settings& s) { s.experimental = true; });
    EXPECT_EQ(runtime_option_flags(here).back(), "-DZQR_EXPERIMENTAL");
}

TEST_F(Options_Test, ArchitectureWordAndLinker) {
    Cross_Target bare = linux_target();
    bare.triple = "wasm32";
    EXPECT_EQ(triple_arch(request(nullptr)), "x86_64");
    EXPECT_EQ(triple_arch(request(&linux_target())), "aarch64");
    EXPECT_EQ(triple_arch(request(&android_target())), "aarch64");
    EXPECT_EQ(triple_arch(request(&bare)), "wasm32");

    std::string dir = path_join({tmp.path, "llvm", "bin"});
    ASSERT_TRUE(fs_make_dirs(path_join({dir, "ld.lld.exe"})));   // a folder: not the linker
    EXPECT_EQ(find_lld(path_join({dir, "clang"})), "");
    ASSERT_TRUE(fs_write(path_join({dir, "ld.lld"}), ""));
    EXPECT_EQ(find_lld(path_join({dir, "clang"})), path_join({dir, "ld.lld"}));
    ASSERT_TRUE(fs_remove_dir(path_join({dir, "ld.lld.exe"})));
    ASSERT_TRUE(fs_write(path_join({dir, "ld.lld.exe"}), ""));
    EXPECT_EQ(find_lld(path_join({dir, "clang"})), path_join({dir, "ld.lld.exe"}));
    EXPECT_EQ(find_lld(""), "");
}

TEST_F(Options_Test, CrossLinkCommandsInTheirOrder) {
    use(compiler("clang", true), true, 2);
    Build_Spec lin = request(&linux_target()), android = request(&android_target());
    std::string sys_a = android.sysroot, sys_l = lin.sysroot;
    Cmd want_linux = {"/x/clang", "--target=aarch64-linux-gnu", "--sysroot=" + sys_l, "--ld-path=/x/ld.lld", "-no-pie",
                      "-fuse-ld=lld", "-Wl,-S", "-flto=thin", "-O2", "-o", "out/Quillmarsh", "@obj/link.rsp",
                      path_join({lin.ffmpeg, "lib", "libavformat.a"}), path_join({lin.ffmpeg, "lib", "libavcodec.a"}),
                      path_join({lin.ffmpeg, "lib", "libswresample.a"}), path_join({lin.ffmpeg, "lib", "libavutil.a"}),
                      "-l:libssl.so.3", "-l:libcrypto.so.3", "-pthread", "-lm", "-ldl"};
    EXPECT_EQ(link_command(lin, "/x/clang", "src", lin.ffmpeg, "out/Quillmarsh", "obj/link.rsp", {}), want_linux);
    Cmd want_android = {"/x/clang", "--target=aarch64-linux-android29", "--sysroot=" + sys_a, "--ld-path=/x/ld.lld",
                        "-shared", "-fuse-ld=lld", "-Wl,-z,max-page-size=16384", "-Wl,--no-undefined", "-u",
                        "ANativeActivity_onCreate", "-nodefaultlibs", "-s", "-flto=thin", "-O2", "-o", "obj/libmain.so",
                        "@obj/link.rsp", path_join({sys_a, "builtins", "libclang_rt.builtins-aarch64-android.a"}),
                        "-landroid", "-llog", "-laaudio", "-lmediandk", "-lm", "-ldl", "-lc"};
    EXPECT_EQ(link_command(android, "/x/clang", "src", "", "obj/libmain.so", "obj/link.rsp", {}), want_android);
    // The Android glue folder and the cross CPU reach the compile flags.
    Cmd rt = runtime_flags(android, "src", "", {});
    EXPECT_EQ(rt[2], "-O2");
    EXPECT_TRUE(has(rt, "-mcpu=generic"));
    EXPECT_TRUE(has(rt, path_join({sys_a, "glue"})));
    EXPECT_TRUE(has(rt, "-fPIC"));
    Cmd match = match_flags(lin, "src");
    EXPECT_EQ(match.back(), path_join({"src", "runtime"}));
}

#ifdef _WIN32
TEST_F(Options_Test, TheWindowsLinkCommandCarriesItsTables) {
    use(compiler("clang", true), false, 1);
    Build_Spec here = request(nullptr);
    Cmd dlss = {"dlss/nvsdk_ngx_s.lib", "-fuse-ld=lld"};
    Cmd link = link_command(here, "clang", "src", "ffmpeg", "Quillmarsh.exe", "link.rsp", dlss);
    Cmd tail(link.end() - 1 - windows_system_lib_count, link.end() - 1);
    Cmd want;
    for (const char* s : windows_system_libs) want.emplace_back(s);
    EXPECT_EQ(tail, want);
    auto at = std::find(link.begin(), link.end(), "-lws2_32");
    ASSERT_NE(at, link.end());
    EXPECT_EQ(*(at + 4), "-lbcrypt");
    EXPECT_EQ(*(at + 5), "dlss/nvsdk_ngx_s.lib");
}
#else
// Every flag group put before the machine's Clang for this computer and for
// both cross targets (a misspelt flag is an error there).
TEST_F(Options_Test, TheMachinesClangAcceptsEveryGroup) {
    env.set("PATH", machine_path);
    std::string clang = find_program("clang");
    std::string profdata_tool = find_program("llvm-profdata");
    if (clang.empty()) GTEST_SKIP() << "no clang on this machine";
    std::string source = path_join({tmp.path, "empty.c"});
    ASSERT_TRUE(fs_write(source, "int quillmarsh_probe;\n"));
    std::string profile;
    if (!profdata_tool.empty()) {
        // An empty instrumentation profile, so that the PGO flag is tried too.
        std::string text = path_join({tmp.path, "empty.proftext"});
        ASSERT_TRUE(fs_write(text, "# IR level Instrumentation Flag\n:ir\n"));
        profile = path_join({tmp.path, "empty.profdata"});
        Task t;
        int64_t code = -1;
        child_run(t, {profdata_tool, "merge", "-o", profile, text}, "", Output_Mode::Quiet, nullptr, nullptr, 0, &code);
        if (code != 0) profile.clear();
    }
    use(clang, true, 2);
    set_profile_path(profile);
    struct Case {
        const char* name;
        const Cross_Target* target;
    };
    for (const Case& c : {Case{"this computer", nullptr}, Case{"Linux ARM64", &linux_target()},
                          Case{"Android ARM64", &android_target()}}) {
        SCOPED_TRACE(c.name);
        Build_Spec r = request(c.target);
        r.sysroot = tmp.path;
        struct Group {
            const char* name;
            Cmd flags;
        };
        const Group groups[] = {
            {"page", page_flags(r, tmp.path)},
            {"runtime", runtime_flags(r, tmp.path, tmp.path, {})},
            {"match", match_flags(r, tmp.path)},
            {"link", [&] {
                 Cmd f = spec_arch_flags(r);
                 for (const std::string& s : link_option_flags(r)) f.push_back(s);
                 return f;
             }()},
        };
        for (const Group& g : groups) {
            Cmd cmd{clang};
            cmd.insert(cmd.end(), g.flags.begin(), g.flags.end());
            if (c.target) cmd.emplace_back("-nostdinc");
            cmd.emplace_back("-fsyntax-only");
            cmd.push_back(source);
            Task t;
            std::string out;
            int64_t code = -1;
            ASSERT_TRUE(child_run(t, cmd, "", Output_Mode::Quiet, &out, nullptr, 0, &code));
            EXPECT_EQ(code, 0) << g.name << ": " << out;
            EXPECT_EQ(out.find("error"), std::string::npos) << g.name << ": " << out;
        }
    }
}

// The game's floating point is IEEE's: the guards after "-ffast-math" take
// back what changes results, and Clang itself says whether they did (with
// "-ffast-math" last it defines __FAST_MATH__ and finite-only math).
TEST_F(Options_Test, TheFloatingPointGuardsWinOverFastMath) {
    env.set("PATH", machine_path);
    std::string clang = find_program("clang");
    if (clang.empty()) GTEST_SKIP() << "no clang on this machine";
    use(clang, true, 2);
    std::string source = path_join({tmp.path, "empty.c"});
    ASSERT_TRUE(fs_write(source, "int quillmarsh_probe;\n"));
    for (const Cross_Target* target : {static_cast<const Cross_Target*>(nullptr), &linux_target()}) {
        Build_Spec r = request(target);
        r.sysroot = tmp.path;
        for (const Cmd& flags : {page_flags(r, tmp.path), runtime_flags(r, tmp.path, tmp.path, {})}) {
            Cmd cmd{clang};
            cmd.insert(cmd.end(), flags.begin(), flags.end());
            if (target) cmd.emplace_back("-nostdinc");
            for (const char* a : {"-E", "-dM"}) cmd.emplace_back(a);
            cmd.push_back(source);
            Task t;
            std::string out;
            int64_t code = -1;
            ASSERT_TRUE(child_run(t, cmd, "", Output_Mode::Quiet, &out, nullptr, 0, &code));
            ASSERT_EQ(code, 0) << out;
            EXPECT_EQ(out.find("#define __FAST_MATH__"), std::string::npos) << (target ? target->name : "native");
            EXPECT_NE(out.find("#define __FINITE_MATH_ONLY__ 0"), std::string::npos) << (target ? target->name : "native");
        }
    }
}
#endif

}  // namespace
