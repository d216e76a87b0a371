// The Linux output step after a cross link, on a small bundle of our own: the
// plain folder (configuration, saves folder, the bundle's optional files,
// README), the AppImage (runtime then image, written under ".tmp" and
// renamed), the switch between the two, and what the packer does when it
// cannot read or write. On POSIX the start script is also run by /bin/sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/bundle.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/appimage.h"
#include "launcher/gamebuild/cross.h"
#include "tests/core/bundle/test_bundle_builder.h"
#include "tests/gamebuild/config_fixture.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "tests/gamebuild/cross/peer.h"
#endif

namespace {

const std::string runtime_bytes = "\x7f" "ELF stand-in runtime, 37 bytes long.";
const std::string steamhelper_bytes = "steam helper";
const std::string fsr_bytes = "fsr library";
const std::string program_bytes = "\x7f" "ELF the linked game";

// A bundle with the runtime, and with the optional files when asked. The
// bytes stay alive for the process: the opened bundle points into them.
std::string_view bundle_with(bool runtime, bool extras) {
    static std::list<std::string> kept;
    std::vector<Test_Bundle_File> files;
    if (runtime) files.push_back({"appimage/runtime-aarch64", runtime_bytes, 0, 0});
    if (extras) {
        files.push_back({"tools/libamd_fidelityfx_vk_aarch64.so", fsr_bytes, 0, 0});
        files.push_back({"tools/steamhelper_linux_x64", steamhelper_bytes, 0, 0});
    }
    files.push_back({"zz/filler", "x", 0, 0});   // a bundle is never empty
    kept.push_back(build_test_bundle(files, 1));
    return kept.back();
}

struct Cross_Output : ::testing::Test {
    Cfg_Fixture f;
    Task task;
    std::string out_dir;
    std::string linked;
    const Cross_Target& target = cross_target_named("linux_arm64");

    void use_bundle(bool runtime, bool extras) {
        ASSERT_TRUE(bundle_open(bundle_with(runtime, extras)));
    }
    void SetUp() override {
        out_dir = path_join({f.launcher, "Quillmarsh-linux-arm64"});
        ASSERT_TRUE(fs_make_dirs(out_dir));
        linked = path_join({f.dir.path, "obj-linux_arm64", "Quillmarsh"});
        ASSERT_TRUE(fs_make_dirs(path_dir(linked)));
        ASSERT_TRUE(fs_write(linked, program_bytes));
    }
    void TearDown() override {
        fs_fail_under("");
        fs_disk_full_under("");
    }
    std::vector<std::string> names_in(const std::string& dir) {
        std::vector<Dir_Entry> entries;
        EXPECT_TRUE(fs_list(dir, entries)) << dir;
        std::vector<std::string> names;
        for (const Dir_Entry& e : entries) names.push_back(e.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string read(const std::string& path) {
        std::string bytes;
        EXPECT_TRUE(fs_read(path, bytes)) << path;
        return bytes;
    }
    bool logged(const std::string& line) {
        return std::find(task.log.begin(), task.log.end(), line) != task.log.end();
    }
    std::string log_text() {
        std::string s;
        for (const std::string& l : task.log) s += l + "\n";
        return s;
    }
    // FSR chosen: a game for this computer gets the library's path from the
    // launcher's data folder, the Linux ARM64 one the plain line (the
    // library lies beside it there).
    static void use_fsr(Settings& s) {
        s.aa_fsr = s.aa_taa = s.aa_fxaa = true;
        s.aa_quality = 4;
    }
    // A cross output's option lines: its own, and none that only a game for
    // this computer is given.
    static void expect_cross_lines(const std::string& cfg) {
        EXPECT_NE(cfg.find("\nZQR_FSR=1\n"), std::string::npos) << cfg;
        for (const char* native_only : {"ZQR_FSR_DLL=", "ZQR_FSR4_DLL=", "ZQR_DLSS=", "ZQR_MOD_DIR=", "ZQR_HD_DIR=",
                                        "ZQR_BUTTON_ICONS=", "ZQR_STEAM_HELPER="})
            EXPECT_EQ(cfg.find(native_only), std::string::npos) << native_only << "\n" << cfg;
    }
};

TEST_F(Cross_Output, ThePlainFolderTakesTheBundlesOptionalFilesOnlyWhenPresent) {
    settings_edit(use_fsr);
    for (bool extras : {true, false}) {
        use_bundle(true, extras);
        fs_remove_tree(out_dir);
        ASSERT_TRUE(fs_make_dirs(out_dir));
        // What an earlier AppImage build left goes.
        ASSERT_TRUE(fs_write(path_join({out_dir, "Quillmarsh-aarch64.AppImage"}), "old"));
        ASSERT_TRUE(cross_write_extras(task, target, out_dir)) << log_text();

        std::vector<std::string> expected = {"Quillmarsh.cfg", "README.txt", "cdrive"};
        if (extras) expected = {"Quillmarsh.cfg", "README.txt", "cdrive", "libamd_fidelityfx_vk.so", "steamhelper_linux_x64"};
        EXPECT_EQ(names_in(out_dir), expected) << extras;
        EXPECT_TRUE(fs_is_dir(path_join({out_dir, "cdrive"})));
        if (extras) {
            EXPECT_EQ(read(path_join({out_dir, "steamhelper_linux_x64"})), steamhelper_bytes);
            EXPECT_EQ(read(path_join({out_dir, "libamd_fidelityfx_vk.so"})), fsr_bytes);
#ifndef _WIN32
            // The helper is run, as the one inside the AppImage is.
            struct stat st {};
            ASSERT_EQ(stat(path_join({out_dir, "steamhelper_linux_x64"}).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0111, (st.st_mode & 0444) >> 2);
            EXPECT_NE(st.st_mode & 0100, 0u);
#endif
        }
        std::string cfg = read(path_join({out_dir, "Quillmarsh.cfg"}));
        EXPECT_EQ(cfg.rfind("# Quillmarsh's settings for Linux ARM64, written by the launcher's Cross-Compile Build.\n"
                            "# A path that starts with ./ is from this folder. The environment overrides any of them.\n"
                            "ZQR_GAME_DIR=./EMBERFALL SAGA\n"
                            "ZQR_EXE=./EMBERFALL SAGA/amber_data/prog/win/bin/efsagaimg.exe\n"
                            "ZQR_CDRIVE=./cdrive\n",
                            0),
                  0u)
            << cfg;
        expect_cross_lines(cfg);
        // The README names the store helper whether or not the bundle had it.
        std::string readme = read(path_join({out_dir, "README.txt"}));
        EXPECT_NE(readme.find("steamhelper_linux_x64"), std::string::npos);
        EXPECT_NE(readme.find("(CPU: generic)"), std::string::npos);
        EXPECT_TRUE(task.log.empty()) << log_text();   // a missing optional file is no message
    }
}

TEST_F(Cross_Output, AnUnwritableConfigurationFailsTheStep) {
    use_bundle(true, false);
    fs_fail_under(path_join({out_dir, "Quillmarsh.cfg"}));
    EXPECT_FALSE(cross_write_extras(task, target, out_dir));
    EXPECT_FALSE(file_exists(path_join({out_dir, "README.txt"})));
}

// Plain folder, then AppImage, then plain folder again: each build clears
// what the other kind left, but a saves folder with saves in it stays.
TEST_F(Cross_Output, SwitchingKindsClearsTheOtherKindButKeepsSaves) {
    use_bundle(true, true);
    settings_edit(use_fsr);
    ASSERT_TRUE(fs_write(path_join({out_dir, "Quillmarsh"}), program_bytes));   // the plain folder's link output
    ASSERT_TRUE(cross_write_extras(task, target, out_dir));
    std::string save = path_join({out_dir, "cdrive", "efsg-00.dat"});
    ASSERT_TRUE(fs_write(save, "a save"));

    std::string out_name;
    ASSERT_TRUE(cross_write_output(task, target, out_dir, linked, true, out_name)) << log_text();
    EXPECT_EQ(out_name, "Quillmarsh-aarch64.AppImage");
    EXPECT_EQ(names_in(out_dir), (std::vector<std::string>{"Quillmarsh-aarch64.AppImage", "README.txt", "cdrive"}));
    EXPECT_EQ(read(save), "a save");
    std::string appimage = path_join({out_dir, out_name});
    std::string whole = read(appimage);
    ASSERT_GT(whole.size(), runtime_bytes.size());
    EXPECT_EQ(whole.substr(0, runtime_bytes.size()), runtime_bytes);
    EXPECT_EQ(whole.substr(runtime_bytes.size(), 4), "hsqs");   // the image follows the runtime at once
    EXPECT_EQ((whole.size() - runtime_bytes.size()) % 4096, 0u);
    // The image stores its files as they are: the packed configuration is
    // found whole in it.
    const std::string cfg_head = "# Quillmarsh's settings for Linux ARM64, written by the launcher's Cross-Compile "
                                 "Build (inside its AppImage).\n";
    size_t cfg_at = whole.find(cfg_head);
    ASSERT_NE(cfg_at, std::string::npos);
    size_t cfg_end = whole.find("ZQR_VK_PIPE_THREADS=", cfg_at);
    ASSERT_NE(cfg_end, std::string::npos);
    expect_cross_lines(whole.substr(cfg_at, whole.find('\n', cfg_end) + 1 - cfg_at));
#ifndef _WIN32
    if (have_tool("unsquashfs")) {
        Shell_Result listed = shell(fmt("unsquashfs -o %d -lln %s", runtime_bytes.size(), sh_quote(appimage)));
        size_t helper = listed.out.find("/usr/bin/steamhelper_linux_x64\n");
        ASSERT_NE(helper, std::string::npos) << listed.out;
        size_t line = listed.out.rfind('\n', helper) + 1;
        EXPECT_EQ(listed.out.compare(line, 10, "-rwxr-xr-x"), 0) << listed.out;
    }
#endif
    EXPECT_TRUE(logged("AppImage: " + appimage + " (0 MB, not compressed: install squashfs-tools (mksquashfs) for a "
                                                 "smaller file)"))
        << log_text();
    EXPECT_EQ(read(path_join({out_dir, "README.txt"})).rfind("Quillmarsh for Linux ARM64 (AppImage)\n", 0), 0u);

    // Without saves the folder goes too.
    ASSERT_TRUE(fs_remove_file(save));
    ASSERT_TRUE(cross_write_output(task, target, out_dir, linked, true, out_name));
    EXPECT_EQ(names_in(out_dir), (std::vector<std::string>{"Quillmarsh-aarch64.AppImage", "README.txt"}));

    ASSERT_TRUE(cross_write_output(task, target, out_dir, linked, false, out_name));
    EXPECT_EQ(out_name, "Quillmarsh");
    EXPECT_EQ(names_in(out_dir), (std::vector<std::string>{"Quillmarsh.cfg", "README.txt", "cdrive",
                                                           "libamd_fidelityfx_vk.so", "steamhelper_linux_x64"}));
}

TEST_F(Cross_Output, ThePackerFailsCleanlyAndKeepsTheOlderAppImage) {
    struct Case {
        const char* what;
        bool runtime;
        bool program;
        const char* refuse;     // "tmp": writes of the ".tmp" file fail; "full": its data cannot be written
        const char* message;    // "%s" stands for the AppImage's path
    };
    const Case cases[] = {
        {"no runtime in the bundle", false, true, "", "This launcher carries no AppImage runtime for aarch64."},
        {"the program cannot be read", true, false, "", "Cannot read %p."},
        {"the .tmp file cannot be made", true, true, "tmp", "Cannot write %s.tmp."},
        {"the disk fills while writing", true, true, "full", "Cannot write %s.tmp."},
    };
    std::string path = path_join({out_dir, "Quillmarsh-aarch64.AppImage"});
    for (const Case& c : cases) {
        use_bundle(c.runtime, false);
        ASSERT_TRUE(fs_write(path, "older AppImage"));
        std::string program = c.program ? linked : path_join({f.dir.path, "missing"});
        if (std::string_view(c.refuse) == "tmp") fs_fail_under(path + ".tmp");
        if (std::string_view(c.refuse) == "full") fs_disk_full_under(path + ".tmp");
        task.log.clear();
        EXPECT_FALSE(appimage_pack(task, path, program, "cfg\n", "aarch64", true)) << c.what;
        fs_fail_under("");
        fs_disk_full_under("");
        std::string message = c.message;
        if (size_t at = message.find("%s"); at != std::string::npos) message.replace(at, 2, path);
        if (size_t at = message.find("%p"); at != std::string::npos) message.replace(at, 2, program);
        EXPECT_TRUE(logged(message)) << c.what << ":\n" << log_text();
        EXPECT_EQ(read(path), "older AppImage") << c.what;
        EXPECT_FALSE(file_exists(path + ".tmp")) << c.what;
    }
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "the text ends with a line break";
    return lines;
}

TEST(AppRun, WithoutTheGameFolderBlockOnlyTheFrameIsLeft) {
    std::vector<std::string> full = lines_of(apprun_text("Quillmarsh", true));
    std::vector<std::string> bare = lines_of(apprun_text("Quillmarsh", false));
    ASSERT_EQ(full.size(), 17u);
    EXPECT_EQ(bare, (std::vector<std::string>{full[0], full[1], full[2], full[3], full[15], full[16]}));
    EXPECT_EQ(bare.back(), "exec \"$HERE/usr/bin/Quillmarsh\" \"$@\"");
    for (size_t i : {10u, 11u, 12u}) EXPECT_EQ(full[i][0], '\t') << i;
}

#ifndef _WIN32
// The script as /bin/sh runs it from an extracted tree: the game folder,
// executable and saves folder default to the AppImage's folder, the
// environment wins, and a missing game is said in the script's own words.
TEST(AppRun, TheShellRunsItAsWritten) {
    Temp_Dir dir;
    std::string tree = path_join({dir.path, "tree"});
    std::string beside = path_join({dir.path, "carried"});
    ASSERT_TRUE(fs_make_dirs(path_join({tree, "usr", "bin"})));
    ASSERT_TRUE(fs_make_dirs(beside));
    std::string apprun = path_join({tree, "AppRun"});
    ASSERT_TRUE(fs_write(apprun, apprun_text("Quillmarsh", true)));
    // A stand-in game that shows where and how it was started.
    ASSERT_TRUE(fs_write(path_join({tree, "usr", "bin", "Quillmarsh"}),
                         "#!/bin/sh\necho \"cwd=$(pwd)\"\necho \"game=$ZQR_GAME_DIR\"\necho \"exe=$ZQR_EXE\"\n"
                         "echo \"cdrive=$ZQR_CDRIVE\"\necho \"args=$*\"\n"));
    ASSERT_EQ(shell("chmod +x " + sh_quote(apprun) + " " + sh_quote(path_join({tree, "usr", "bin", "Quillmarsh"}))).code,
              0);
    std::string appimage = path_join({beside, "Quillmarsh-aarch64.AppImage"});
    std::string run = "cd / && APPIMAGE=" + sh_quote(appimage) + " ";

    Shell_Result missing = shell(run + "/bin/sh " + sh_quote(apprun));
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.out, "Quillmarsh: the game is not at " + beside + "/EMBERFALL SAGA\n"
                           "Copy your \"EMBERFALL SAGA\" folder (the one with amber_data in it) next to the AppImage, "
                           "or set ZQR_GAME_DIR.\n");
    EXPECT_FALSE(fs_is_dir(path_join({beside, "cdrive"})));

    std::string exe = path_join({beside, "EMBERFALL SAGA", "amber_data", "prog", "win", "bin", "efsagaimg.exe"});
    ASSERT_TRUE(fs_make_dirs(path_dir(exe)));
    ASSERT_TRUE(fs_write(exe, "MZ"));
    Shell_Result ok = shell(run + "/bin/sh " + sh_quote(apprun) + " --one 'two words'");
    EXPECT_EQ(ok.code, 0) << ok.out;
    EXPECT_EQ(ok.out, "cwd=" + beside + "\ngame=" + beside + "/EMBERFALL SAGA\nexe=" + exe + "\ncdrive=" + beside +
                          "/cdrive\nargs=--one two words\n");
    EXPECT_TRUE(fs_is_dir(path_join({beside, "cdrive"})));

    // The environment wins over every default.
    std::string saves = path_join({dir.path, "saves elsewhere"});
    Shell_Result env = shell(run + "ZQR_EXE=" + sh_quote(exe) + " ZQR_GAME_DIR=/g ZQR_CDRIVE=" + sh_quote(saves) +
                             " /bin/sh " + sh_quote(apprun));
    EXPECT_EQ(env.code, 0) << env.out;
    EXPECT_EQ(env.out, "cwd=" + beside + "\ngame=/g\nexe=" + exe + "\ncdrive=" + saves + "\nargs=\n");
    EXPECT_TRUE(fs_is_dir(saves));
}
#endif

}  // namespace
