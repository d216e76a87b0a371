// The option lines of "Quillmarsh.cfg" for tables of settings, game states
// and targets.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "launcher/gamebuild/cross_target.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/inputmap.h"
#include "tests/gamebuild/config_fixture.h"

namespace {

const Cross_Target* linux_target = &cross_targets[0];
const Cross_Target* android_target = &cross_targets[1];

std::string lines_for(const Settings& s, const Cross_Target* target = nullptr) {
    settings_replace(s);
    std::string out;
    cfg_game_lines(out, target);
    return out;
}

// The value of the key's line, and whether there is one.
bool find_value(const std::string& text, std::string_view key, std::string* value = nullptr) {
    for (std::string_view line : split_at(text, '\n')) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
            if (value) *value = std::string(line.substr(key.size() + 1));
            return true;
        }
    }
    return false;
}

std::string value_of(const std::string& text, std::string_view key) {
    std::string v;
    return find_value(text, key, &v) ? v : "<none>";
}

// The anti-aliasing lines, in their order.
std::string aa_lines(const std::string& text) {
    std::string out;
    for (std::string_view line : split_at(text, '\n')) {
        for (std::string_view key : {"ZQR_DLSS=", "ZQR_TAA=", "ZQR_FSR=", "ZQR_FSR4_DLL=", "ZQR_FSR_DLL=", "ZQR_FXAA="})
            if (line.substr(0, key.size()) == key) out += std::string(line) + "\n";
    }
    return out;
}

Game_State identified(bool some_converted, bool convertible, const char* edition = "EN") {
    Game_State g;
    g.checked = true;
    g.ok = true;
    g.some_converted = some_converted;
    g.convertible = convertible;
    g.edition = edition;
    return g;
}

}  // namespace

TEST(CfgLines, DefaultsGiveTheShortestFile) {
    Cfg_Fixture f;
    EXPECT_EQ(lines_for(Settings{}),
              "ZQR_GAME_ARGS=-Shadow=1024 -MSAA=0\n"
              "ZQR_LANGUAGE=english\n"
              "ZQR_VK_ANISO=16\n"
              "ZQR_FXAA=4\n"
              "ZQR_VK_PIPE_THREADS=4\n");
}

TEST(CfgLines, EveryOptionInItsPlace) {
    Cfg_Fixture f;
    Settings s;
    s.shadow_res = 0;
    s.aa_fxaa = false;
    s.aa_taa = true;
    s.aa_quality = 8;
    s.resolution = 4;
    s.voice_japanese = true;
    s.subtitles = 1;
    s.save_dirs = {"C:\\saves one", "D:\\two"};
    s.force_buttons = 1;
    s.movie_bink = true;
    s.movie_original = true;
    s.vol_music = 50;
    s.vol_sfx = 0;
    s.vol_voice = 99;
    s.gui_scale = 150;
    s.mouse_sens = 200;
    s.movie_brightness = 60;
    s.movie_contrast = 140;
    s.movie_saturation = 0;
    s.boost = true;
    s.pad_map[0] = 2;
    s.key_map[4] = 5;
    s.fps = 144;
    s.memory_2gb = s.stretch = s.fx_full = s.minimap_circle = s.fullscreen = true;
    s.hdr = true;
    s.hdr_peak = 1500;
    s.hdr_paper = 250;
    s.steam_off = true;
    s.audio = s.vibration = s.cutscene_blur = false;
    s.pad_once = s.skip_movies = true;
    s.tools = s.profiler = true;
    s.pipe_threads = 3;
    std::string pad = pad_map_text(s), keys = key_map_text(s);
    ASSERT_FALSE(pad.empty());
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(lines_for(s),
              "ZQR_GAME_ARGS=-Shadow=512 -MSAA=0 -Width=1920 -Height=1080 -VoiceJPMode\n"
              "ZQR_LANGUAGE=japanese\n"
              "ZQR_SAVE_DIRS=C:\\saves one|D:\\two\n"
              "ZQR_FORCE_BUTTONS=keyboard\n"
              "ZQR_MOVIES=bink\n"
              "ZQR_MOVIE_COLORS=original\n"
              "ZQR_VOL_MUSIC=50\nZQR_VOL_SFX=0\nZQR_VOL_VOICE=99\nZQR_GUI_SCALE=150\nZQR_MOUSE_SENS=200\n"
              "ZQR_MOVIE_BRIGHTNESS=60\nZQR_MOVIE_CONTRAST=140\nZQR_MOVIE_SATURATION=0\n"
              "ZQR_BOOST=1\n"
              "ZQR_PAD_MAP=" + pad + "\n"
              "ZQR_KEY_MAP=" + keys + "\n"
              "ZQR_FPS=144\n"
              "ZQR_NO_SHADOWS=1\n"
              "ZQR_GUEST_2GB=1\nZQR_STRETCH=1\nZQR_VK_HALF_FX=0\nZQR_MINIMAP_CIRCLE=1\nZQR_FULLSCREEN=1\n"
              "ZQR_HDR=1\nZQR_HDR_PEAK=1500\nZQR_HDR_PAPER=250\n"
              "ZQR_VK_ANISO=16\nZQR_NO_STEAM=1\n"
              "ZQR_NO_AUDIO=1\nZQR_VIBRATION=0\nZQR_CUTSCENE_BLUR=0\nZQR_PAD_ONCE=1\n"
              "ZQR_SKIP_MOVIES=1\n"
              "ZQR_PROF=1\n"
              "ZQR_TAA=1\n"
              "ZQR_VK_PIPE_THREADS=3\n");
}

TEST(CfgLines, NativeFileStartsWithThePaths) {
    Cfg_Fixture f;
    Settings s;
    s.game_dir = path_join({f.dir.path, "EMBERFALL SAGA"});
    settings_replace(s);
    std::string text = cfg_text();
    std::string game_lines;
    cfg_game_lines(game_lines, nullptr);
    EXPECT_EQ(text, "# Quillmarsh's settings, written by the launcher's Build (the environment overrides them)\n"
                    "ZQR_GAME_DIR=" + s.game_dir + "\n"
                    "ZQR_EXE=" + path_join({s.game_dir, "amber_data", "prog", "win", "bin", "efsagaimg.exe"}) + "\n"
                    "ZQR_CDRIVE=" + data_path({"cdrive"}) + "\n"
                    "ZQR_STEAM_HELPER=" + data_path({"tools", "steamhelper.exe"}) + "\n" + game_lines);
}

TEST(CfgLines, GameArguments) {
    struct Row { int64_t shadow; bool fxaa, taa; int64_t quality, resolution; bool jp; const char* args; };
    const Row rows[] = {
        {1024, true, false, 4, 2, false, "-Shadow=1024 -MSAA=0"},
        {1024, false, false, 4, 2, false, "-Shadow=1024 -MSAA=4"},
        {1024, false, true, 8, 2, false, "-Shadow=1024 -MSAA=0"},
        {8192, false, false, 1, 2, false, "-Shadow=8192 -MSAA=0"},
        {0, false, false, 2, 0, false, "-Shadow=512 -MSAA=2 -Width=854 -Height=480"},
        {512, false, false, 8, 27, true, "-Shadow=512 -MSAA=8 -Width=2880 -Height=2160 -VoiceJPMode"},
        {512, true, false, 4, 99, false, "-Shadow=512 -MSAA=0 -Width=2880 -Height=2160"},
        {512, true, false, 4, -3, false, "-Shadow=512 -MSAA=0 -Width=854 -Height=480"},
        {512, true, false, 4, 2, true, "-Shadow=512 -MSAA=0 -VoiceJPMode"},
    };
    Cfg_Fixture f;
    for (const Row& r : rows) {
        Settings s;
        s.shadow_res = r.shadow;
        s.aa_fxaa = r.fxaa;
        s.aa_taa = r.taa;
        s.aa_quality = r.quality;
        s.resolution = r.resolution;
        s.voice_japanese = r.jp;
        EXPECT_EQ(value_of(lines_for(s), "ZQR_GAME_ARGS"), r.args) << "resolution " << r.resolution;
    }
}

TEST(CfgLines, SubtitleLanguageFollowsTheEdition) {
    struct Row { int64_t subtitles; const char* edition; const char* name; };
    const Row rows[] = {
        {5, "EN", "spanish"}, {6, "EN", "english"}, {7, "EN", "english"}, {6, "JP", "koreana"},
        {7, "JP", "tchinese"}, {8, "JP", "english"},  {-1, "JP", "english"}, {6, "", "english"},
    };
    Cfg_Fixture f;
    for (const Row& r : rows) {
        game_state_publish(identified(false, true, r.edition));
        Settings s;
        s.subtitles = r.subtitles;
        EXPECT_EQ(value_of(lines_for(s), "ZQR_LANGUAGE"), r.name) << r.subtitles << " " << r.edition;
    }
}

TEST(CfgLines, FrameRate) {
    struct Row { int64_t fps; const char* line; };
    const Row rows[] = {{60, "<none>"}, {30, "30"}, {-1, "vsync"}, {120, "120"}, {61, "61"}, {45, "<none>"}, {0, "<none>"}};
    Cfg_Fixture f;
    for (const Row& r : rows) {
        Settings s;
        s.fps = r.fps;
        EXPECT_EQ(value_of(lines_for(s), "ZQR_FPS"), r.line) << r.fps;
    }
}

TEST(CfgLines, MoviesFollowTheGameCheck) {
    struct Row { bool checked, ok, some_converted, convertible, bink; bool movies_line, skip_line; };
    const Row rows[] = {
        // An identified copy: Bink while nothing is converted, whatever the setting...
        {true, true, false, true, false, true, false},
        // ...once some MP4s exist, only when Bink is chosen.
        {true, true, true, true, false, false, false},
        {true, true, true, true, true, true, false},
        // Nothing to play at all: the movies are skipped.
        {true, true, false, false, true, false, true},
        // MP4s without Bink to convert: no Bink line even when chosen.
        {true, true, true, false, true, false, false},
        // Not checked or not identified: the setting alone.
        {false, false, false, false, true, true, false},
        {true, false, false, false, false, false, false},
        {true, false, false, false, true, true, false},
    };
    Cfg_Fixture f;
    for (const Row& r : rows) {
        Game_State g;
        g.checked = r.checked;
        g.ok = r.ok;
        g.some_converted = r.some_converted;
        g.convertible = r.convertible;
        game_state_publish(g);
        Settings s;
        s.movie_bink = r.bink;
        std::string text = lines_for(s);
        SCOPED_TRACE(testing::Message() << r.checked << r.ok << r.some_converted << r.convertible << r.bink);
        EXPECT_EQ(find_value(text, "ZQR_MOVIES"), r.movies_line);
        EXPECT_EQ(find_value(text, "ZQR_SKIP_MOVIES"), r.skip_line);
        if (r.movies_line) { EXPECT_EQ(value_of(text, "ZQR_MOVIES"), "bink"); }
    }
}

TEST(CfgLines, AntiAliasingByTarget) {
    Cfg_Fixture f;
    const std::string loader = path_join({fsr4_dir(), "amd_fidelityfx_loader_vk.dll"});
    const std::string fsr_dll = data_path({"tools", "amd_fidelityfx_vk.dll"});
    // A small stand-in for AMD's files, so that "present" can be made true.
    fsr4_set_table_for_tests({{"a", "amd_fidelityfx_loader_vk.dll", "", 3}, {"b", "license.md", "", 2}});
    enum Flag { Fxaa = 1, Taa = 2, Fsr = 4, Fsr4 = 8, Dlss = 16 };
    struct Row { int flags; int64_t quality; const Cross_Target* target; bool fsr4_files; std::string want; };
    const Row rows[] = {
        // DLSS and FSR 4 are Windows files: a native Linux game goes on with the next rules.
        {Dlss | Taa | Fxaa, 4, nullptr, false, upscaler_dlls_native ? "ZQR_DLSS=1\nZQR_TAA=1\n" : "ZQR_TAA=1\n"},
        // DLSS does not travel to another computer: the next rules decide.
        {Dlss | Taa | Fxaa, 4, linux_target, false, "ZQR_TAA=1\n"},
        {Dlss | Taa | Fxaa, 4, android_target, false, "ZQR_FXAA=4\n"},
        {Fsr4 | Fsr | Taa | Fxaa, 4, nullptr, true,
         upscaler_dlls_native ? "ZQR_FSR=4\nZQR_FSR4_DLL=" + loader + "\nZQR_FSR_DLL=" + fsr_dll + "\n"
                              : "ZQR_FSR=1\nZQR_FSR_DLL=" + fsr_dll + "\n"},
        // Without AMD's files FSR 4 falls back to FSR 3.1.
        {Fsr4 | Fsr | Taa | Fxaa, 4, nullptr, false, "ZQR_FSR=1\nZQR_FSR_DLL=" + fsr_dll + "\n"},
        {Fsr4 | Fsr | Taa | Fxaa, 4, linux_target, true, "ZQR_FSR=1\n"},
        {Fsr | Taa | Fxaa, 4, nullptr, false, "ZQR_FSR=1\nZQR_FSR_DLL=" + fsr_dll + "\n"},
        {Fsr | Taa | Fxaa, 4, linux_target, false, "ZQR_FSR=1\n"},
        {Fsr | Taa | Fxaa, 8, android_target, false, "ZQR_FXAA=8\n"},
        {Taa | Fxaa, 4, nullptr, false, "ZQR_TAA=1\n"},
        {Taa, 1, android_target, false, ""},
        {Fxaa, 2, nullptr, false, "ZQR_FXAA=2\n"},
        {Fxaa, 1, nullptr, false, ""},
        {0, 4, nullptr, false, ""},
    };
    for (const Row& r : rows) {
        fs_remove_tree(fsr4_dir());
        if (r.fsr4_files) {
            fs_make_dirs(fsr4_dir());
            fs_write(loader, "abc");
            fs_write(path_join({fsr4_dir(), "license.md"}), "ok");
        }
        Settings s;
        s.aa_fxaa = r.flags & Fxaa;
        s.aa_taa = r.flags & Taa;
        s.aa_fsr = r.flags & Fsr;
        s.aa_fsr4 = r.flags & Fsr4;
        s.aa_dlss = r.flags & Dlss;
        s.aa_quality = r.quality;
        EXPECT_EQ(aa_lines(lines_for(s, r.target)), r.want)
            << "flags " << r.flags << " target " << (r.target ? r.target->name : "native");
    }
}

TEST(CfgLines, PipelineThreads) {
    struct Row { int cores; int64_t setting; const Cross_Target* target; int64_t want; };
    const Row rows[] = {
        {1, 0, nullptr, 1},  {1, 3, nullptr, 1},   {1, 40, nullptr, 1},
        {2, 0, nullptr, 1},  {2, 3, nullptr, 1},   {2, 40, nullptr, 1},
        {8, 0, nullptr, 4},  {8, 3, nullptr, 3},   {8, 40, nullptr, 7},
        {32, 0, nullptr, 8}, {32, 3, nullptr, 3},  {32, 40, nullptr, 16},
        {32, 40, linux_target, 16},
        // An Android build runs on another computer: the setting as it stands.
        {8, 0, android_target, 0}, {8, 3, android_target, 3}, {8, 40, android_target, 40},
    };
    Cfg_Fixture f;
    for (const Row& r : rows) {
        cfg_set_core_count(r.cores);
        Settings s;
        s.pipe_threads = r.setting;
        EXPECT_EQ(value_of(lines_for(s, r.target), "ZQR_VK_PIPE_THREADS"), fmt("%d", r.want))
            << r.cores << " cores, setting " << r.setting;
    }
}

TEST(CfgLines, ProfilerNeverOnAndroid) {
    Cfg_Fixture f;
    Settings s;
    s.tools = true;
    s.profiler = true;
    EXPECT_TRUE(find_value(lines_for(s), "ZQR_PROF"));
    EXPECT_TRUE(find_value(lines_for(s, linux_target), "ZQR_PROF"));
    EXPECT_FALSE(find_value(lines_for(s, android_target), "ZQR_PROF"));
    s.tools = false;
    EXPECT_FALSE(find_value(lines_for(s), "ZQR_PROF"));
}

TEST(CfgLines, HdFolderOnlyWhenItHoldsAMarker) {
    Cfg_Fixture f;
    std::string game = path_join({f.dir.path, "game"});
    std::string hd = path_join({game, "amber_data_hd"});
    struct Row { bool hd_setting, marker, discarded; const Cross_Target* target; bool line; };
    const Row rows[] = {
        {true, true, false, nullptr, true},
        {true, false, false, nullptr, false},     // a folder without a marker is no HD folder
        {false, true, false, nullptr, false},
        {false, true, true, nullptr, true},       // discarded archives need the HD folder
        {true, true, false, linux_target, false},
        {false, true, true, android_target, false},
    };
    for (const Row& r : rows) {
        fs_remove_tree(hd);
        fs_make_dirs(hd);
        if (r.marker) fs_write(path_join({hd, "quillmarsh_hd.txt"}), "# HD\n");
        if (r.discarded) fs_write(path_join({hd, "discarded.txt"}), "# deleted\n");
        Settings s;
        s.game_dir = game;
        s.hd = r.hd_setting;
        std::string text = lines_for(s, r.target);
        SCOPED_TRACE(testing::Message() << r.hd_setting << r.marker << r.discarded);
        EXPECT_EQ(find_value(text, "ZQR_HD_DIR"), r.line);
        if (r.line) { EXPECT_EQ(value_of(text, "ZQR_HD_DIR"), hd); }
    }
}

TEST(CfgLines, ButtonIconsOnlyWhenBothFilesArePresent) {
    Cfg_Fixture f;
    std::string icons = data_path({"button_icons"});
    struct Row { bool setting; int64_t force; int files; const char* line; const char* style; };
    const Row rows[] = {
        {true, 0, 2, "yes", "<none>"},
        {false, 3, 2, "yes", "ps"},
        {false, 4, 2, "yes", "xb"},
        {false, 9, 2, "yes", "xb"},
        {false, 2, 2, "no", "generic"},
        {true, 0, 1, "no", "<none>"},
        {false, 3, 0, "no", "ps"},
    };
    for (const Row& r : rows) {
        fs_remove_tree(icons);
        fs_make_dirs(icons);
        if (r.files >= 1) fs_write(path_join({icons, "button_ps.dds"}), "DDS ");
        if (r.files >= 2) fs_write(path_join({icons, "button_xb.dds"}), "DDS ");
        Settings s;
        s.button_icons = r.setting;
        s.force_buttons = r.force;
        std::string text = lines_for(s);
        SCOPED_TRACE(testing::Message() << r.setting << " " << r.force << " " << r.files);
        EXPECT_EQ(value_of(text, "ZQR_BUTTON_ICONS"), std::string(r.line) == "yes" ? icons : "<none>");
        EXPECT_EQ(value_of(text, "ZQR_FORCE_BUTTONS"), r.style);
        // Nothing of this computer goes into a cross build's file.
        EXPECT_FALSE(find_value(lines_for(s, linux_target), "ZQR_BUTTON_ICONS"));
    }
}

TEST(CfgLines, ControllerAndKeyMapsOnlyWhenRemapped) {
    Cfg_Fixture f;
    Settings s;
    std::string plain = lines_for(s);
    EXPECT_FALSE(find_value(plain, "ZQR_PAD_MAP"));
    EXPECT_FALSE(find_value(plain, "ZQR_KEY_MAP"));
    s.key_map[4] = 5;
    std::string keys_only = lines_for(s);
    EXPECT_FALSE(find_value(keys_only, "ZQR_PAD_MAP"));
    EXPECT_EQ(value_of(keys_only, "ZQR_KEY_MAP"), key_map_text(s));
}
