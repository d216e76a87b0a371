// The text form of the settings: reading (with the migrations of older
// files and the graphics presets) and writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"
#include "tests/core/settings_compare.h"

namespace {

Settings read_text(std::string_view text, const std::function<void(Settings&)>& before = {}) {
    Settings s;
    if (before) before(s);
    settings_apply_text(s, text);
    return s;
}

std::vector<std::string> keys_of(const std::string& text) {
    std::vector<std::string> keys;
    for (std::string_view line : split_at(text, '\n')) {
        if (line.empty()) continue;
        keys.emplace_back(line.substr(0, line.find(' ')));
    }
    return keys;
}

}  // namespace

TEST(SettingsText, ReadingAndMigrations) {
    struct Case {
        const char* name;
        const char* text;
        std::function<void(Settings&)> before;   // the record before reading
        std::function<void(Settings&)> want;     // changes from the defaults
    } cases[] = {
        {"empty file: version 1, the preset derived from the defaults is fancy", "", {}, {}},
        {"version 2, msaa 0 and shadow_res 0: ultrafast", "settings_version 2\nmsaa 0\nshadow_res 0\n", {},
         [](Settings& s) { s.graphics = 0, s.shadow_res = 0, s.aa_quality = 1; }},
        {"version 2, msaa 0 and shadow_res 512: no preset matches", "settings_version 2\nmsaa 0\nshadow_res 512\n", {},
         [](Settings& s) { s.graphics = 4, s.shadow_res = 512, s.aa_quality = 1; }},
        {"version 2, msaa other than 0 is ignored", "settings_version 2\nmsaa 4\nshadow_res 8192\n", {},
         [](Settings& s) { s.graphics = 4, s.shadow_res = 8192; }},
        {"version 2 with the quality of ultrafancy", "settings_version 2\nshadow_res 8192\naa_quality 8\n", {},
         [](Settings& s) { s.graphics = 4, s.shadow_res = 8192; }},   // aa_quality needs version 3
        {"version 3 derives the preset from shadow_res and aa_quality",
         "settings_version 3\nshadow_res 8192\naa_quality 8\naa_method fxaa\n", {},
         [](Settings& s) { s.graphics = 3, s.shadow_res = 8192, s.aa_quality = 8; }},
        {"version 3 with TAA matches no preset", "settings_version 3\naa_method taa\n", {},
         [](Settings& s) { s.graphics = 4, s.aa_taa = true; }},
        {"version 3 without FXAA matches only the presets below quality 2",
         "settings_version 3\naa_method msaa\nshadow_res 0\naa_quality 1\n", {},
         [](Settings& s) { s.graphics = 0, s.shadow_res = 0, s.aa_quality = 1; }},
        {"version 3 without FXAA at quality 4 is custom", "settings_version 3\naa_method msaa\n", {},
         [](Settings& s) { s.graphics = 4, s.aa_fxaa = false; }},
        {"version 4, fancy resets a taa choice", "settings_version 4\ngraphics fancy\naa_method taa\n", {}, {}},
        {"version 4, custom keeps the taa choice", "settings_version 4\ngraphics custom\naa_method taa\n", {},
         [](Settings& s) { s.graphics = 4, s.aa_taa = true; }},
        {"version 4, a preset sets shadow_res and aa_quality",
         "settings_version 4\ngraphics fast\nshadow_res 4096\naa_quality 8\n", {},
         [](Settings& s) { s.graphics = 1, s.shadow_res = 512, s.aa_quality = 2; }},
        {"version 4, an unknown preset name keeps the graphics value",
         "settings_version 4\ngraphics extreme\n", [](Settings& s) { s.graphics = 1; },
         [](Settings& s) { s.graphics = 1, s.shadow_res = 512, s.aa_quality = 2; }},
        {"version 4, a graphics value above custom becomes fancy", "settings_version 4\n",
         [](Settings& s) { s.graphics = 9, s.shadow_res = 0; }, {}},
        {"version 2 ignores aa_method", "settings_version 2\nmsaa 0\nshadow_res 512\naa_method dlss\n", {},
         [](Settings& s) { s.graphics = 4, s.shadow_res = 512, s.aa_quality = 1; }},
        {"no settings_version, graphics ultrafancy: the derived preset wins", "graphics ultrafancy\n", {}, {}},
        {"fps 75 is not a choice", "fps 75\n", {}, {}},
        {"fps -1 is uncapped", "fps -1\n", {}, [](Settings& s) { s.fps = -1; }},
        {"yes turns audio on and tools off", "audio yes\ntools yes\n",
         [](Settings& s) { s.audio = false, s.tools = true; }, {}},
        {"0 is the only off of the switches that default to on",
         "audio 0\nvibration 0\ncutscene_blur no\npgo 0\naniso 0\n", {},
         [](Settings& s) { s.audio = false, s.vibration = false, s.pgo = false, s.aniso = false; }},
        {"any vulkan line turns it on", "vulkan 0\n", [](Settings& s) { s.vulkan = false; }, {}},
        {"hd is on for the number 1 only", "hd 0x1\nsculpt_on 01\n", {}, [](Settings& s) { s.hd = true; }},
        {"two save_dir lines give two folders in order, an empty one none",
         "save_dir D:\\Saves one\nsave_dir \nsave_dir E:/two\n", {},
         [](Settings& s) { s.save_dirs = {"D:\\Saves one", "E:/two"}; }},
        {"out-of-range and malformed integers keep the old value",
         "settings_version 4\nopt_level 4\npipe_threads -1\nhdr_peak 399\nhdr_paper 401\nmovie_brightness 151\n"
         "movie_saturation 201\nvol_music 101\nvol_sfx -1\nmouse_sens 19\ngui_scale 20x\nshadow_res 256\n"
         "graphics custom\naa_quality 3\nvol_voice 0\nmovie_contrast 50\nhdr_peak 4000\n",
         {}, [](Settings& s) { s.graphics = 4, s.vol_voice = 0, s.movie_contrast = 50, s.hdr_peak = 4000; }},
        {"shadow_res takes 0 and 512..8192 with graphics custom",
         "settings_version 4\ngraphics custom\nshadow_res 8193\nshadow_res 700\n", {},
         [](Settings& s) { s.graphics = 4, s.shadow_res = 700; }},
        {"unknown keys, other lines and keys in another case are ignored",
         "settings_version 4\nnot_a_key 1\nAudio 0\nfps\n# fps 30\n\n   \n", {}, {}},
        {"the later of two lines wins", "fps 30\nfps 144\n", {}, [](Settings& s) { s.fps = 144; }},
        {"CRLF lines and surrounding blanks",
         "settings_version 4\r\ngame_dir C:\\Games\\Ember Saga\r\n  fps   30  \r\ncompiler \r\n", {},
         [](Settings& s) { s.game_dir = "C:\\Games\\Ember Saga", s.fps = 30; }},
        {"names of choices", "resolution 1920x1080\nsubtitles german\nforce_buttons ps\nmovie_files bink\n"
                             "movie_colors original\nvoice japanese\n", {},
         [](Settings& s) {
             s.resolution = 4, s.subtitles = 3, s.force_buttons = 3, s.movie_bink = true, s.movie_original = true;
             s.voice_japanese = true;
         }},
        {"an unknown subtitle language is english, other unknown names keep the value",
         "subtitles klingon\nforce_buttons nintendo\nresolution 1x1\nmovie_files avi\n",
         [](Settings& s) { s.subtitles = 2, s.force_buttons = 4, s.resolution = 7, s.movie_bink = true; },
         [](Settings& s) { s.force_buttons = 4, s.resolution = 7; }},
        {"a CR inside a line is no value of a string setting", "game_dir C:\\a\rb\n",
         [](Settings& s) { s.game_dir = "C:\\old"; }, [](Settings& s) { s.game_dir = "C:\\old"; }},
    };
    for (const Case& c : cases) {
        Settings want;
        if (c.want) c.want(want);
        expect_same(read_text(c.text, c.before), want, c.name);
    }
}

TEST(SettingsText, AaMethodChoices) {
    struct Case {
        const char* value;
        bool fxaa, taa, fsr, dlss, fsr4;
    } cases[] = {
        {"taa", true, true, false, false, false},   {"fsr", true, true, true, false, false},
        {"fsr4", true, true, true, false, true},    {"dlss", true, true, false, true, false},
        {"fxaa", true, false, false, false, false}, {"msaa", false, false, false, false, false},
        {"TAA", false, false, false, false, false},
    };
    for (const Case& c : cases) {
        Settings s = read_text(std::string("settings_version 4\ngraphics custom\naa_method ") + c.value + "\n",
                               [](Settings& r) { r.aa_dlss = r.aa_fsr4 = r.aa_fsr = r.aa_taa = true; });
        EXPECT_EQ(s.aa_fxaa, c.fxaa) << c.value;
        EXPECT_EQ(s.aa_taa, c.taa) << c.value;
        EXPECT_EQ(s.aa_fsr, c.fsr) << c.value;
        EXPECT_EQ(s.aa_dlss, c.dlss) << c.value;
        EXPECT_EQ(s.aa_fsr4, c.fsr4) << c.value;
        // and the writer names the same method again (other text becomes msaa)
        std::string text = settings_text(s);
        std::string want = std::string(c.value) == "TAA" ? "msaa" : c.value;
        EXPECT_NE(text.find("\naa_method " + want + "\n"), std::string::npos) << c.value;
    }
}

// A record in which every field that the file can carry differs from its
// default. vulkan stays on (any vulkan line turns it on), and aa_dlss off:
// the file keeps one anti-aliasing method, here fsr4 with its companions.
static Settings everything_changed() {
    Settings s;
    s.game_dir = "D:\\Steam\\steamapps\\common\\EMBERFALL SAGA";
    s.compiler = "C:/llvm-mingw/bin/clang.exe";
    s.opt_level = 3;
    s.audio = false;
    s.vibration = false;
    s.tools = true;
    s.profiler = true;
    s.fps = 144;
    s.skip_movies = true;
    s.movie_bink = true;
    s.cutscene_blur = false;
    s.pad_once = true;
    s.pipe_threads = 16;
    s.resolution = 27;
    s.graphics = 4;
    s.shadow_res = 2048;
    s.aa_fxaa = true;
    s.aa_taa = true;
    s.aa_fsr = true;
    s.aa_fsr4 = true;
    s.aa_quality = 8;
    s.experimental = true;
    s.lto = true;
    s.pgo = false;
    s.stretch = true;
    s.memory_2gb = true;
    s.fx_full = true;
    s.minimap_circle = true;
    s.fullscreen = true;
    s.hdr = true;
    s.hdr_peak = 4000;
    s.hdr_paper = 80;
    s.aniso = false;
    s.steam_off = true;
    s.voice_japanese = true;
    s.subtitles = 7;
    s.save_dirs = {"C:\\Saves\\one", "D:/saves two", "\xe3\x82\xbb\xe3\x83\xbc\xe3\x83\x96"};
    s.hd = true;
    s.button_icons = true;
    s.force_buttons = 4;
    s.movie_original = true;
    s.movie_brightness = 50;
    s.movie_contrast = 150;
    s.movie_saturation = 0;
    s.vol_music = 0;
    s.vol_sfx = 1;
    s.vol_voice = 99;
    s.gui_scale = 200;
    s.mouse_sens = 20;
    s.pad_map[0] = 2;    // a pressed by b
    s.pad_map[1] = 1;    // b pressed by a
    s.pad_map[15] = 15;  // rt pressed by lt
    s.key_map[29] = 26;
    s.key_map[26] = 29;
    s.key_map[255] = 1;
    s.hard = {2, 1, 2, 2, 1, 1, 1, 1};
    s.sculpt[0] = {9, 1, 2, 3, 4, 6, 7, 8};
    s.sculpt[1] = {1, 2, 3, 4, 6, 7, 8, 0};   // seven sliders
    s.sculpt[2] = {8, 7, 6, 4, 3, 2, 1, 9};
    s.sculpt_on = true;
    s.hd_models = {8, 6, 3, 4, 4, 6};
    s.hd_models_on = true;
    s.hd_models_hide = true;
    s.boost = true;
    s.cross_target = "android_arm64";
    s.cross_cpu = "cortex-a76";
    s.appimage = true;
    s.cross_appimage = true;
    return s;
}

TEST(SettingsText, RoundTripOfEveryField) {
    Settings x = everything_changed();
    std::string text = settings_text(x);

    // Every line but the version line differs from the defaults' text.
    std::vector<std::string_view> changed = split_at(text, '\n'), base_lines;
    std::string base = settings_text(Settings{});
    base_lines = split_at(base, '\n');
    for (std::string_view line : base_lines) {
        if (line.empty() || line == "settings_version 4" || line == "vulkan 1") continue;
        EXPECT_EQ(std::find(changed.begin(), changed.end(), line), changed.end()) << "unchanged: " << line;
    }

    Settings back = read_text(text);
    expect_same(back, x, "read back into the defaults");
    EXPECT_TRUE(back == x);
    EXPECT_EQ(settings_text(back), text);
}

TEST(SettingsText, KeysInTheirOrder) {
    const std::vector<std::string> order = {
        "settings_version", "game_dir", "compiler", "opt_level", "audio", "vibration", "tools", "profiler", "fps",
        "vulkan", "skip_movies", "movie_files", "movie_colors", "movie_brightness", "movie_contrast",
        "movie_saturation", "vol_music", "vol_sfx", "vol_voice", "mouse_sens", "gui_scale", "boost", "pad_map",
        "key_map", "pad_once", "cutscene_blur", "pipe_threads", "graphics", "resolution", "shadow_res",
        "aa_method", "aa_quality", "experimental", "lto", "pgo", "memory_2gb", "stretch", "fx_full",
        "minimap_circle", "fullscreen", "hdr", "hdr_peak", "hdr_paper", "aniso", "steam_off", "voice",
        "subtitles", "save_dir", "save_dir", "save_dir", "hd", "hard", "sculpt", "sculpt_on", "hd_models",
        "hd_models_on", "hd_models_hide", "button_icons", "force_buttons", "cross_target", "cross_cpu",
        "appimage", "cross_appimage"};
    EXPECT_EQ(keys_of(settings_text(everything_changed())), order);

    // With the defaults the maps and the save folders have no line at all.
    std::vector<std::string> without = order;
    std::erase_if(without, [](const std::string& k) { return k == "pad_map" || k == "key_map" || k == "save_dir"; });
    std::string text = settings_text(Settings{});
    EXPECT_EQ(keys_of(text), without);
    EXPECT_EQ(text.substr(0, 19), "settings_version 4\n");
    EXPECT_NE(text.find("\ngame_dir \ncompiler \n"), std::string::npos);
    EXPECT_NE(text.find("\nsculpt 55555555,5555555,55555555\n"), std::string::npos);
    EXPECT_NE(text.find("\nhard 0,0,0,0,0,0,0,0\nsculpt"), std::string::npos);
    EXPECT_NE(text.find("\nhd_models 0,0,0,0,0,0\n"), std::string::npos);
    EXPECT_NE(text.find("\nresolution 1280x720\nshadow_res 1024\naa_method fxaa\naa_quality 4\n"), std::string::npos);
}

TEST(SettingsText, IndexesOutOfRangeAreWrittenClamped) {
    Settings s;
    s.graphics = 7;
    s.resolution = -3;
    s.subtitles = 8;
    s.force_buttons = 12;
    std::string text = settings_text(s);
    for (const char* line : {"\ngraphics custom\n", "\nresolution 854x480\n", "\nsubtitles english\n",
                             "\nforce_buttons xb\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(SettingsText, ALineBreakInAValueNeverSplitsTheLine) {
    for (auto field : {&Settings::game_dir, &Settings::compiler, &Settings::cross_target, &Settings::cross_cpu}) {
        Settings s;
        s.*field = "C:\\x\nfps 30\r\nopt_level 0";
        s.save_dirs = {"E:\\ok", "E:\\bad\nvol_music 0", "E:\\bad\r"};
        std::string text = settings_text(s);
        Settings back = read_text(text);
        Settings want;
        want.save_dirs = {"E:\\ok"};
        expect_same(back, want, "a value holding a line break is written empty");
        EXPECT_EQ(keys_of(text).size(), keys_of(settings_text(want)).size());
    }
}
