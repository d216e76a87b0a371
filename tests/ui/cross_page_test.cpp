// The Cross-Compile page through whole frames: the saved target and CPU, the
// phone preset, the output row, the Build button and the AppImage toggle.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/cross.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

struct Cross_Harness : Ui_Harness {
    explicit Cross_Harness(const Settings& s = Settings{}) {
        settings_replace(s);
        app.shared.current_page = Page::Cross_Compile;
        frame();
        frame();
    }
    ~Cross_Harness() { settings_replace(Settings{}); }
    int64_t dropdown_index(std::string_view id) const {
        const Trace_Item* t = find_id(id, Widget_Kind::Dropdown);
        return t ? t->value : -1;
    }
    std::string text(std::string_view id) const {
        const Trace_Item* t = find_id(id, Widget_Kind::Text);
        return t ? t->label : std::string("(none)");
    }
};

Settings with_target(std::string target, std::string cpu, bool appimage = false) {
    Settings s;
    s.cross_target = std::move(target);
    s.cross_cpu = std::move(cpu);
    s.cross_appimage = appimage;
    return s;
}

TEST(CrossPage, SavedTargetAndCpuShowTheirRowOrTheFirst) {
    struct Case {
        const char* target;
        const char* cpu;
        int64_t target_index, cpu_index;
        bool preset_row;
    };
    const Case cases[] = {
        {"android_arm64", "cortex-x1", 1, 2, true},
        {"linux_arm64", "apple-m1", 0, 3, false},
        {"mars_risc", "cortex-a72", 0, 1, false},    // unknown target: the first, its CPU kept
        {"Android_arm64", "", 0, 0, false},          // names match byte for byte
        {"linux_arm64", "cortex-x1", 0, 0, false},   // a CPU of the other target
        {"android_arm64", "apple-m1", 1, 0, true},
    };
    for (const Case& c : cases) {
        Cross_Harness h(with_target(c.target, c.cpu));
        SCOPED_TRACE(std::string(c.target) + " / " + c.cpu);
        EXPECT_EQ(h.dropdown_index("xtarget"), c.target_index);
        EXPECT_EQ(h.dropdown_index("xcpu"), c.cpu_index);
        EXPECT_EQ(h.find("Use Android Preset") != nullptr, c.preset_row);
        EXPECT_EQ(h.find_id("xappimage", Widget_Kind::Toggle) != nullptr, !c.preset_row);
        EXPECT_EQ(h.settings_saves, 0) << "showing a fallback writes nothing";
    }
}

TEST(CrossPage, ChoosingAndroidAddsThePresetRowAndSaves) {
    Cross_Harness h;
    const Trace_Item* output = h.find_id("xoutput", Widget_Kind::Text);
    ASSERT_NE(output, nullptr);
    int64_t linux_output_y = output->rect.y;
    h.choose("xtarget", 1);
    EXPECT_EQ(settings_copy().cross_target, "android_arm64");
    EXPECT_EQ(h.settings_saves, 1);
    EXPECT_NE(h.find("Use Android Preset"), nullptr);
    EXPECT_EQ(h.find_id("xappimage", Widget_Kind::Toggle), nullptr);
    EXPECT_NE(h.find("Build for Android ARM64"), nullptr);
    EXPECT_EQ(h.find_id("xoutput", Widget_Kind::Text)->rect.y - linux_output_y, px(h.app.ui, 46));
    h.choose("xcpu", 1);
    EXPECT_EQ(settings_copy().cross_cpu, "cortex-a76");
    EXPECT_EQ(h.settings_saves, 2);
}

TEST(CrossPage, BuiltFollowsTheOutputTheSettingsChoose) {
    const Cross_Target& linux_target = cross_targets[0];
    std::string dir = cross_out_dir(linux_target);
    std::string program = path_join({dir, "Quillmarsh"});
    std::string appimage = path_join({dir, "Quillmarsh-aarch64.AppImage"});
    std::string apk = path_join({cross_out_dir(cross_targets[1]), "Quillmarsh.apk"});
    struct Case {
        const char* target;
        bool appimage_on;
        std::vector<std::string> files;
        const char* shown;
    };
    const Case cases[] = {
        {"linux_arm64", false, {program}, "Built"},
        {"linux_arm64", true, {program}, "Not built yet"},   // the folder's program is not the AppImage
        {"linux_arm64", true, {appimage}, "Built"},
        {"linux_arm64", false, {appimage}, "Not built yet"},
        {"android_arm64", true, {program, appimage}, "Not built yet"},
        {"android_arm64", false, {apk}, "Built"},
    };
    for (const Case& c : cases) {
        Cross_Harness h(with_target(c.target, "", c.appimage_on));
        h.world.files = c.files;
        h.frame();
        EXPECT_EQ(h.text("xoutput"), c.shown) << c.target << " appimage " << c.appimage_on << " " << c.files[0];
    }
}

TEST(CrossPage, AppImageToggleSavesAndSwitchesTheOutput) {
    Cross_Harness h;
    h.world.files = {path_join({cross_out_dir(cross_targets[0]), "Quillmarsh-aarch64.AppImage"})};
    h.frame();
    EXPECT_EQ(h.text("xoutput"), "Not built yet");
    h.click("xappimage", Widget_Kind::Toggle);
    EXPECT_TRUE(settings_copy().cross_appimage);
    EXPECT_EQ(h.settings_saves, 1);
    h.frame();
    EXPECT_EQ(h.text("xoutput"), "Built");
}

TEST(CrossPage, BuildButtonStateAndTooltip) {
    std::string dir = cross_out_dir(cross_targets[0]);
    struct Case {
        bool task, game_ok, checked;
        Cross_Toolchain tc;
        bool enabled;
        std::string tip;
        const char* compiler;
        const char* linker;
    };
    Cross_Toolchain good{"/usr/bin/clang-18", "/usr/bin/ld.lld", ""};
    Cross_Toolchain no_lld{"/usr/bin/clang-18", "", "No LLVM linker found"};
    Cross_Toolchain none{"", "", "No Clang found: install clang and lld"};
    const Case cases[] = {
        {false, true, true, good, true, "Builds the game for Linux ARM64 into " + dir + ".", nullptr, "LLVM lld"},
        {true, true, true, good, false, "Wait for the current task to finish.", nullptr, "LLVM lld"},
        {false, false, true, good, false,
         "Needs the game (its exe is read for the build): choose its folder on the Home tab.", nullptr, "LLVM lld"},
        {false, true, true, no_lld, false, "No LLVM linker found", nullptr, "No lld found"},
        {false, true, true, none, false, "No Clang found: install clang and lld", "No Clang found", "(none)"},
        {false, true, false, good, false, "Builds the game for Linux ARM64 into " + dir + ".",
         "Looking for compilers…", "LLVM lld"},
    };
    for (const Case& c : cases) {
        Cross_Harness h;
        h.world.task_running = c.task;
        h.world.game.ok = c.game_ok;
        h.world.deps_checked = c.checked;
        h.world.cross = c.tc;
        h.frame();
        SCOPED_TRACE(c.tip);
        const Trace_Item* b = h.find("Build for Linux ARM64");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->enabled, c.enabled);
        EXPECT_EQ(h.find("xbuild", Widget_Kind::Tooltip)->label, c.tip);
        if (c.compiler) {
            EXPECT_EQ(h.text("xcompiler"), c.compiler);
        }
        EXPECT_EQ(h.text("xlinker"), c.linker);
        EXPECT_EQ(h.find("Cancel") != nullptr, c.task);
        EXPECT_EQ(h.find_id("xtarget", Widget_Kind::Dropdown)->enabled, !c.task);
        EXPECT_EQ(h.find_id("xappimage", Widget_Kind::Toggle)->enabled, !c.task);
        h.click("Build for Linux ARM64");
        EXPECT_EQ(h.started_task("Build for Linux ARM64"), c.enabled);
        if (c.enabled) {
            EXPECT_EQ(h.started[0].proc, &cross_build_task);
        }
    }
}

TEST(CrossPage, CancelStopsTheRunningTask) {
    Cross_Harness h;
    h.world.task_running = true;
    h.frame();
    h.click("Cancel");
    EXPECT_EQ(h.cancels, 1);
}

// The preset written by the real writers into a data folder, and the game's
// configuration beside the launcher rewritten only where it exists.
TEST(CrossPage, AndroidPresetReachesSettingsTextAndTheCfg) {
    Temp_Dir dir;
    std::string saved_local = env_get("LOCALAPPDATA");
    bool local_was_set = env_is_set("LOCALAPPDATA");
    env_set("LOCALAPPDATA", dir.path);
    paths_init();
    std::string launcher = path_join({dir.path, "launcher"});
    fs_make_dirs(launcher);
    paths_set_exe_dir(launcher);
    std::string cfg = path_join({launcher, "Quillmarsh.cfg"});
    ASSERT_TRUE(fs_write(cfg, "old\n"));
    {
        Settings start = with_target("android_arm64", "");
        start.resolution = 9;
        start.graphics = 1;
        start.aa_taa = true;
        start.aa_fsr = true;
        start.aa_dlss = true;
        start.aniso = true;
        start.hdr = true;
        start.fullscreen = true;
        start.memory_2gb = true;
        start.fx_full = true;
        start.minimap_circle = true;
        start.opt_level = 3;
        start.pipe_threads = 6;
        start.fps = 144;
        Cross_Harness h(start);
        Ui_Procs real = ui_real_procs();
        h.app.procs.save_settings = real.save_settings;
        h.app.procs.cfg_rewrite = real.cfg_rewrite;
        h.click("Use Android Preset");

        ASSERT_TRUE(save_settings_wait());   // written off the window's thread
        std::string text;
        ASSERT_TRUE(fs_read(data_path({"settings.txt"}), text));
        EXPECT_NE(text.find("graphics custom"), std::string::npos) << text;
        EXPECT_NE(text.find("aa_method fxaa\n"), std::string::npos) << text;
        Settings s;
        settings_apply_text(s, text);
        EXPECT_EQ(resolutions[s.resolution].width, 960);
        EXPECT_EQ(resolutions[s.resolution].height, 540);
        EXPECT_EQ(s.fps, 60);
        EXPECT_EQ(s.graphics, 4);
        EXPECT_EQ(s.shadow_res, 512);
        EXPECT_TRUE(s.aa_fxaa);
        EXPECT_FALSE(s.aa_taa || s.aa_fsr || s.aa_fsr4 || s.aa_dlss);
        EXPECT_EQ(s.aa_quality, 1);
        EXPECT_FALSE(s.aniso || s.memory_2gb || s.fx_full || s.minimap_circle || s.fullscreen || s.hdr);
        EXPECT_EQ(s.opt_level, 1);
        EXPECT_EQ(s.pipe_threads, 2);
        EXPECT_EQ(s.cross_target, "android_arm64");

        cfg_rewrite_wait();   // written off the window's thread
        std::string cfg_text;
        ASSERT_TRUE(fs_read(cfg, cfg_text));
        EXPECT_NE(cfg_text, "old\n") << "an existing cfg is written again";
        EXPECT_NE(cfg_text.find("960"), std::string::npos);
    }
    paths_set_exe_dir("");
    env_set("LOCALAPPDATA", saved_local, !local_was_set);
    paths_init();
}

}  // namespace
