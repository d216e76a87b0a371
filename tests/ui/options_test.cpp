// The Game Options and Build Options pages through whole frames: each row's
// mapping onto the settings, saving, the read-only state, scrolling and
// slider drags.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/gamebuild/config.h"
#include "launcher/ui/options_page.h"
#include "tests/support/png_read.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

// A fresh live settings record for each test, and back to defaults after.
struct Fresh_Settings {
    explicit Fresh_Settings(const Settings& s = Settings{}) { settings_replace(s); }
    ~Fresh_Settings() { settings_replace(Settings{}); }
};

// The harness on one of the Options pages, with its height measured.
struct Options_Harness : Ui_Harness {
    explicit Options_Harness(Page page, int height = 760) : Ui_Harness(1080, height) {
        app.shared.current_page = page;
        frame();
        frame();
    }
    // Opens a drop-down and clicks its row `index`.
    void choose(std::string_view id, int64_t index) {
        frame();
        click(id, Widget_Kind::Dropdown);
        ASSERT_EQ(app.ui.popup_id, id);
        choose_row(index);
    }
    // Scrolls until the widget is inside the content and returns it.
    const Trace_Item* reveal(std::string_view id, Widget_Kind kind) {
        for (int i = 0; i < 200; ++i) {
            frame();
            const Trace_Item* t = find(id, kind);
            if (t && t->rect.y >= content_top() && t->rect.y + t->rect.h <= content_bottom()) return t;
            app.shared.options_scroll[app.shared.current_page == Page::Build_Options ? 1 : 0] += 40;
        }
        return nullptr;
    }
    int64_t content_top() const { return 12 + 40 + 16 + 24 + 8 + 8; }
    int64_t content_bottom() const { return app.height - 12 - 8; }
};

TEST(GameOptions, AspectGroupsKeepTheNearestHeight) {
    struct Case {
        int64_t from;
        int64_t group;   // drop-down entry: 16:9, 16:10, Ultrawide, 4:3
        int64_t to;
    };
    const Case cases[] = {
        {9, 0, 4},     // 2560x1080 -> 1920x1080
        {8, 0, 2},     // 1280x540 -> 1280x720, not 960x540
        {4, 1, 17},    // 1920x1080 -> 1680x1050
        {2, 3, 22},    // 1280x720 -> 960x720
        {27, 2, 12},   // 2880x2160 -> 5120x2160
        {15, 2, 8},    // 1200x750 -> 1280x540 (540 is the nearest height)
    };
    for (const Case& c : cases) {
        Settings s;
        s.resolution = c.from;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options);
        EXPECT_EQ(h.find("aspect", Widget_Kind::Dropdown)->value,
                  c.from < 8 ? 0 : c.from < 15 ? 2 : c.from < 22 ? 1 : 3);
        h.choose("aspect", c.group);
        EXPECT_EQ(settings_copy().resolution, c.to) << "from " << c.from << " to group " << c.group;
        EXPECT_EQ(h.settings_saves, 1);
    }
}

TEST(GameOptions, ResolutionListIsTheGroupsOwn) {
    Settings s;
    s.resolution = 10;   // Ultrawide 3440x1440
    Fresh_Settings fresh(s);
    Options_Harness h(Page::Game_Options);
    EXPECT_EQ(h.find("resolution", Widget_Kind::Dropdown)->value, 2);
    h.choose("resolution", 6);
    EXPECT_EQ(settings_copy().resolution, 14);
}

TEST(GameOptions, PresetsSetShadowsAndAntiAliasing) {
    struct Case {
        int64_t entry;
        int64_t graphics, shadow, quality;
        bool fxaa, taa;
    };
    // Start from custom values, TAA on.
    const Case cases[] = {
        {0, 0, 0, 1, true, false},
        {1, 1, 512, 2, true, false},
        {2, 2, 1024, 4, true, false},
        {3, 3, 8192, 8, true, false},
        {4, 4, 2048, 8, true, true},   // Custom changes nothing else
    };
    for (const Case& c : cases) {
        Settings s;
        s.graphics = 4;
        s.shadow_res = 2048;
        s.aa_quality = 8;
        s.aa_taa = true;
        s.aa_fsr = true;
        s.graphics = c.entry == 4 ? 0 : 4;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options);
        h.choose("graphics", c.entry);
        Settings got = settings_copy();
        EXPECT_EQ(got.graphics, c.graphics);
        EXPECT_EQ(got.shadow_res, c.shadow) << c.entry;
        EXPECT_EQ(got.aa_quality, c.quality) << c.entry;
        EXPECT_EQ(got.aa_fxaa, c.fxaa);
        EXPECT_EQ(got.aa_taa, c.taa);
        EXPECT_EQ(got.aa_fsr, c.entry == 4);
    }
}

TEST(GameOptions, AntiAliasMethodSetsTheFiveFlags) {
    struct Case {
        int64_t method;
        bool fxaa, taa, fsr, dlss, fsr4;
        bool present;
        bool download;
        bool quality_row;
    };
    const Case cases[] = {
        {0, false, false, false, false, false, false, false, true},
        {1, true, false, false, false, false, false, false, true},
        {2, true, true, false, false, false, false, false, false},
        {3, true, true, true, false, false, false, false, false},
        {4, true, true, true, false, true, false, true, false},
        {4, true, true, true, false, true, true, false, false},
        {5, true, true, false, true, false, false, false, false},
    };
    for (const Case& c : cases) {
        Settings s;
        s.graphics = 4;
        s.aa_fxaa = true;   // FXAA to start with
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options);
        h.world.fsr4_present = c.present;
        ASSERT_NE(h.reveal("aa_method", Widget_Kind::Dropdown), nullptr);
        EXPECT_EQ(h.find("aa_method", Widget_Kind::Dropdown)->value, 1);
        h.choose("aa_method", c.method);
        Settings got = settings_copy();
        EXPECT_EQ(got.aa_fxaa, c.fxaa) << c.method;
        EXPECT_EQ(got.aa_taa, c.taa) << c.method;
        EXPECT_EQ(got.aa_fsr, c.fsr) << c.method;
        EXPECT_EQ(got.aa_dlss, c.dlss) << c.method;
        EXPECT_EQ(got.aa_fsr4, c.fsr4) << c.method;
        EXPECT_EQ(h.started_task("Download FSR 4"), c.download) << c.method;
        EXPECT_EQ(h.find("aa_method", Widget_Kind::Dropdown)->value, c.method) << "shown again from the flags";
        EXPECT_EQ(h.find("aa_quality", Widget_Kind::Dropdown) != nullptr, c.quality_row) << c.method;
    }
}

TEST(GameOptions, CustomRowsFollowTheChoiceFromTheNextFrame) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    EXPECT_EQ(h.find("shadow", Widget_Kind::Dropdown), nullptr);
    h.choose("graphics", 4);
    EXPECT_NE(h.find("shadow", Widget_Kind::Dropdown), nullptr);
    EXPECT_EQ(h.find("shadow", Widget_Kind::Dropdown)->value, 2) << "1024 kept";
}

TEST(GameOptions, DropDownsMapOntoTheirFields) {
    // id, entry chosen, and what the settings then hold.
    struct Case {
        const char* id;
        int64_t entry;
        std::function<bool(const Settings&)> holds;
    };
    const Case cases[] = {
        {"fps", 2, [](const Settings& s) { return s.fps == -1; }},
        {"fps", 6, [](const Settings& s) { return s.fps == 240; }},
        {"scaling", 1, [](const Settings& s) { return s.stretch; }},
        {"fx_res", 1, [](const Settings& s) { return s.fx_full; }},
        {"minimap_shape", 1, [](const Settings& s) { return s.minimap_circle; }},
        {"pad_scan", 1, [](const Settings& s) { return s.pad_once; }},
        {"memory", 0, [](const Settings& s) { return s.memory_2gb; }},
        {"movie_files", 1, [](const Settings& s) { return s.movie_bink; }},
        {"cutscenes", 1, [](const Settings& s) { return s.skip_movies; }},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Options_Harness h(Page::Game_Options);
        h.world.game = Game_State{};   // not checked: both cutscene kinds offered
        ASSERT_NE(h.reveal(c.id, Widget_Kind::Dropdown), nullptr) << c.id;
        h.choose(c.id, c.entry);
        EXPECT_TRUE(c.holds(settings_copy())) << c.id << " entry " << c.entry;
    }
}

TEST(GameOptions, StoredValuesOutsideTheListsShowTheirDefaults) {
    Settings s;
    s.fps = 75;
    s.graphics = 9;
    Fresh_Settings fresh(s);
    Options_Harness h(Page::Game_Options);
    EXPECT_EQ(h.find("fps", Widget_Kind::Dropdown)->value, 1);
    EXPECT_EQ(h.find("graphics", Widget_Kind::Dropdown)->value, 4);
}

TEST(GameOptions, PipelineThreadsByCoreCount) {
    struct Case {
        int64_t cores, stored, shown, pick, stored_after;
    };
    const Case cases[] = {
        {4, 0, 1, 1, 0},     // 1, 2 (Best), 3: picking 2 stores 0
        {4, 0, 1, 2, 3},
        {4, 7, 2, 0, 1},     // a stored 7 shows as the last, 3
        {1, 0, 0, 0, 0},     // one entry, the best
        {64, 0, 7, 15, 16},  // 16 entries, 8 the best
    };
    for (const Case& c : cases) {
        Settings s;
        s.pipe_threads = c.stored;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options);
        h.world.cores = c.cores;
        const Trace_Item* t = h.reveal("pipes", Widget_Kind::Dropdown);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->value, c.shown) << c.cores << " cores";
        h.choose("pipes", c.pick);
        EXPECT_EQ(settings_copy().pipe_threads, c.stored_after) << c.cores << " cores";
    }
}

TEST(GameOptions, CutsceneRowsByWhatTheGameFolderHas) {
    struct Case {
        bool checked, bink, mp4, movie_bink;
        bool files_enabled;
        int64_t files_shown;
        bool cutscenes_enabled;
        int64_t cutscenes_shown;
    };
    const Case cases[] = {
        {false, false, false, true, true, 1, true, 0},   // unknown: both offered, Bink2 shown
        {true, true, true, false, true, 0, true, 0},     // both there, MP4 in use
        {true, true, false, false, true, 0, true, 0},    // only Bink: the one entry
        {true, false, false, false, false, 0, false, 1}, // neither: None found, Auto-skip
    };
    for (const Case& c : cases) {
        Settings s;
        s.movie_bink = c.movie_bink;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options);
        h.world.game.checked = c.checked;
        h.world.game.ok = c.checked;
        h.world.game.convertible = c.bink;
        h.world.game.some_converted = c.mp4;
        const Trace_Item* files = h.reveal("movie_files", Widget_Kind::Dropdown);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->enabled, c.files_enabled);
        EXPECT_EQ(files->value, c.files_shown);
        const Trace_Item* cut = h.find("cutscenes", Widget_Kind::Dropdown);
        EXPECT_EQ(cut->enabled, c.cutscenes_enabled);
        EXPECT_EQ(cut->value, c.cutscenes_shown);
    }
}

TEST(GameOptions, TogglesMapOntoTheirFields) {
    struct Case {
        const char* id;
        bool Settings::*field;
        bool inverted;
    };
    const Case cases[] = {
        {"fullscreen", &Settings::fullscreen, false}, {"hdr", &Settings::hdr, false},
        {"aniso", &Settings::aniso, false},           {"audio", &Settings::audio, false},
        {"vibration", &Settings::vibration, false},   {"cutscene_blur", &Settings::cutscene_blur, false},
        {"steam", &Settings::steam_off, true},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Options_Harness h(Page::Game_Options);
        bool before = settings_copy().*c.field;
        const Trace_Item* t = h.reveal(c.id, Widget_Kind::Toggle);
        ASSERT_NE(t, nullptr) << c.id;
        EXPECT_EQ(t->value != 0, c.inverted ? !before : before) << c.id;
        h.click(c.id, Widget_Kind::Toggle);
        EXPECT_EQ(settings_copy().*c.field, !before) << c.id;
        EXPECT_EQ(h.settings_saves, 1) << c.id;
        EXPECT_EQ(h.cfg_rewrites, 1) << c.id;
    }
}

TEST(GameOptions, HdrSlidersAndProfilerRowExistOnlyWhenAsked) {
    struct Case {
        bool hdr, tools;
    };
    for (Case c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        Settings s;
        s.hdr = c.hdr;
        s.tools = c.tools;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options, 3000);
        EXPECT_EQ(h.find("hdr_peak", Widget_Kind::Slider) != nullptr, c.hdr);
        EXPECT_EQ(h.find("hdr_paper", Widget_Kind::Slider) != nullptr, c.hdr);
        EXPECT_EQ(h.find("profiler", Widget_Kind::Toggle) != nullptr, c.tools);
    }
}

TEST(GameOptions, VolumesFollowAudio) {
    for (bool audio : {false, true}) {
        Settings s;
        s.audio = audio;
        s.vol_music = 40;   // its Reset button shows
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Game_Options, 3000);
        for (const char* id : {"vol_music", "vol_sfx", "vol_voice"}) {
            EXPECT_EQ(h.find(id, Widget_Kind::Slider)->enabled, audio) << id;
        }
        const Trace_Item* music = h.find("vol_music", Widget_Kind::Slider);
        int resets = 0;
        for (const Trace_Item& t : h.app.ui.trace) {
            if (t.kind == Widget_Kind::Button && t.label == "Reset" && t.rect.y >= music->rect.y - 20 &&
                t.rect.y < music->rect.y + 50) {
                ++resets;
                EXPECT_EQ(t.enabled, audio);
            }
        }
        EXPECT_EQ(resets, 1);
    }
}

// The x of a slider's track for a value (scale 1: the knob is 16 wide).
int64_t slider_x(const Trace_Item& t, int64_t min, int64_t max, double value) {
    double track_x = double(t.rect.x + 8), track_w = double(t.rect.w - 16);
    return int64_t(track_x + track_w * (value - double(min)) / double(max - min) + 0.5);
}

TEST(GameOptions, GuiScaleIsAMultipleOfFiveAndResetsTo100) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options, 3000);
    auto resets = [&] {
        int n = 0;
        for (const Trace_Item& t : h.app.ui.trace) n += t.kind == Widget_Kind::Button && t.label == "Reset";
        return n;
    };
    EXPECT_EQ(resets(), 0) << "every value at its default";
    const Trace_Item gui = *h.find("gui_scale", Widget_Kind::Slider);
    int64_t cy = gui.rect.y + gui.rect.h / 2;
    h.move(slider_x(gui, 50, 200, 123.4), cy);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
    h.frame();
    int64_t raw = h.find("gui_scale", Widget_Kind::Slider)->value;
    ASSERT_TRUE(raw == 123 || raw == 124) << raw;
    EXPECT_EQ(settings_copy().gui_scale, 125);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_released;
    h.frame();
    EXPECT_EQ(settings_copy().gui_scale, 125);
    EXPECT_EQ(resets(), 1);
    h.click("Reset");
    EXPECT_EQ(settings_copy().gui_scale, 100);
    h.frame();
    EXPECT_EQ(resets(), 0);
}

TEST(GameOptions, SliderDrags) {
    // Where the pointer goes while the button is held, and the value then
    // (Music, 0..100, from 100).
    struct Case {
        const char* what;
        double along;        // of the track, 0..1
        int64_t dy;          // from the slider's middle
        int64_t want;
    };
    const Case cases[] = {
        {"inside", 0.5, 0, 50},
        {"above the content", 0.3, -400, 30},
        {"below the window's panel", 0.7, 2000, 70},
        {"left of everything", -5.0, 0, 0},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Options_Harness h(Page::Game_Options);
        const Trace_Item* found = h.reveal("vol_music", Widget_Kind::Slider);
        ASSERT_NE(found, nullptr);
        Trace_Item t = *found;
        int64_t cy = t.rect.y + t.rect.h / 2;
        h.move(slider_x(t, 0, 100, 90), cy);
        h.input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
        h.frame();
        h.move(slider_x(t, 0, 100, 100.0 * c.along), cy + c.dy);
        for (int i = 0; i < 3; ++i) h.frame();
        EXPECT_EQ(settings_copy().vol_music, c.want) << c.what;
        EXPECT_EQ(h.settings_saves, 0) << c.what << ": written while the slider is held";
        EXPECT_EQ(h.cfg_rewrites, 0) << c.what;
        h.input.mouse_buttons[int(Mouse_Button::Left)] = input_released;
        h.frame();
        EXPECT_EQ(settings_copy().vol_music, c.want) << c.what;
        EXPECT_EQ(h.settings_saves, 1) << c.what << ": written once the slider is let go";
        EXPECT_EQ(h.cfg_rewrites, 1) << c.what;
    }
}

TEST(GameOptions, ATaskMakesThePageReadOnlyButItStillScrolls) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    h.world.task_running = true;
    h.frame();
    int controls = 0;
    for (const Trace_Item& t : h.app.ui.trace) {
        if (t.kind == Widget_Kind::Tab || t.kind == Widget_Kind::Tooltip) continue;
        if (t.kind == Widget_Kind::Dropdown && t.id == "language") continue;
        ++controls;
        EXPECT_FALSE(t.enabled) << t.id;
    }
    EXPECT_GT(controls, 10);
    Settings before = settings_copy();
    h.click("fullscreen", Widget_Kind::Toggle);
    EXPECT_TRUE(settings_copy() == before);
    EXPECT_EQ(h.settings_saves, 0);
    h.move(500, 400);
    h.input.wheel_y = -2.0f;
    h.frame();
    EXPECT_EQ(h.app.shared.options_scroll[0], 16 * 6);
    // The page scrolls no further than its end.
    for (int i = 0; i < 50; ++i) {
        h.input.wheel_y = -3.0f;
        h.frame();
    }
    int64_t end = h.app.shared.options_height[0] - (h.content_bottom() - h.content_top());
    EXPECT_EQ(h.app.shared.options_scroll[0], end);
}

TEST(GameOptions, RowsScrolledOutOfTheContentDoNotReact) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    // Find a scroll at which a toggle or drop-down lies partly below the
    // content (in the panel's bottom padding, still in the window).
    int64_t bottom = h.content_bottom();
    for (int64_t scroll = 0; scroll < 400; scroll += 3) {
        h.app.shared.options_scroll[0] = scroll;
        h.frame();
        for (const Trace_Item& t : h.app.ui.trace) {
            if (t.kind != Widget_Kind::Toggle && t.kind != Widget_Kind::Dropdown) continue;
            if (t.rect.y >= bottom || t.rect.y + t.rect.h <= bottom + 2 || bottom + 2 >= h.app.height) continue;
            Settings before = settings_copy();
            std::string id = t.id;
            h.click_at(t.rect.x + t.rect.w / 2, bottom + 1);
            h.frame();
            EXPECT_TRUE(settings_copy() == before) << id << " reacted below the content";
            EXPECT_TRUE(h.app.ui.popup_id.empty()) << id << " opened below the content";
            return;
        }
    }
    FAIL() << "no row straddles the content's bottom";
}

TEST(GameOptions, ScrollBarTrackAndThumb) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    int64_t top = h.content_top(), bottom = h.content_bottom();
    int64_t v = bottom - top;
    int64_t height = h.app.shared.options_height[0];
    ASSERT_GT(height, v);
    int64_t d = height - v;
    // The bar: 4 right of the content's right edge before it lost 12.
    int64_t bar_mid_x = 1080 - 24 - 20 + 4 + 4;
    // A click on the track below the thumb moves one view down.
    h.click_at(bar_mid_x, bottom - 5);
    EXPECT_EQ(h.app.shared.options_scroll[0], std::min(v, d));
    // Dragging the thumb to the bottom reaches the end.
    h.app.shared.options_scroll[0] = 0;
    h.frame();
    h.move(bar_mid_x, top + 3);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
    h.frame();
    EXPECT_EQ(h.app.shared.options_drag, 1);
    h.move(bar_mid_x, bottom + 300);
    h.frame();
    EXPECT_EQ(h.app.shared.options_scroll[0], d);
    h.move(bar_mid_x, top - 300);
    h.frame();
    EXPECT_EQ(h.app.shared.options_scroll[0], 0);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_released;
    h.frame();
    EXPECT_EQ(h.app.shared.options_drag, 0);
    EXPECT_EQ(h.settings_saves, 0) << "the scroll bar changes no setting";
}

// A data folder and a launcher folder, with the real writers.
struct Files_Fixture {
    Temp_Dir dir;
    std::string saved_local = env_get("LOCALAPPDATA");
    bool local_was_set = env_is_set("LOCALAPPDATA");
    std::string launcher;
    Files_Fixture() {
        env_set("LOCALAPPDATA", dir.path);
        paths_init();
        launcher = path_join({dir.path, "launcher"});
        fs_make_dirs(launcher);
        paths_set_exe_dir(launcher);
    }
    ~Files_Fixture() {
        paths_set_exe_dir("");
        env_set("LOCALAPPDATA", saved_local, !local_was_set);
        paths_init();
    }
    void use_real_writers(Ui_Harness& h) {
        Ui_Procs real = ui_real_procs();
        h.app.procs.save_settings = real.save_settings;
        h.app.procs.cfg_rewrite = real.cfg_rewrite;
    }
    Settings saved() const {
        Settings s;
        std::string text;
        EXPECT_TRUE(save_settings_wait());   // written off the window's thread
        EXPECT_TRUE(fs_read(data_path({"settings.txt"}), text));
        settings_apply_text(s, text);
        return s;
    }
};

TEST(GameOptions, AntiAliasingAndPresetRoundTripThroughSettingsText) {
    Files_Fixture files;
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    files.use_real_writers(h);
    h.choose("graphics", 4);
    ASSERT_NE(h.reveal("aa_method", Widget_Kind::Dropdown), nullptr);
    h.choose("aa_method", 2);   // TAA
    Settings back = files.saved();
    EXPECT_EQ(back.graphics, 4);
    EXPECT_TRUE(back.aa_taa);
    EXPECT_TRUE(back.aa_fxaa);
    EXPECT_FALSE(back.aa_fsr);
    settings_apply_preset(back);   // as a load does
    EXPECT_TRUE(back.aa_taa) << "custom keeps the method";
    h.app.shared.options_scroll[0] = 0;
    h.choose("graphics", 1);   // Fast
    back = files.saved();
    settings_apply_preset(back);
    EXPECT_EQ(back.graphics, 1);
    EXPECT_EQ(back.shadow_res, 512);
    EXPECT_EQ(back.aa_quality, 2);
    EXPECT_TRUE(back.aa_fxaa);
    EXPECT_FALSE(back.aa_taa);
}

TEST(GameOptions, TheConfigurationIsRewrittenOnlyWhereItExists) {
    Files_Fixture files;
    Fresh_Settings fresh;
    Options_Harness h(Page::Game_Options);
    files.use_real_writers(h);
    std::string cfg = path_join({files.launcher, cfg_file_name});
    h.click("fullscreen", Widget_Kind::Toggle);
    cfg_rewrite_wait();
    save_settings_wait();
    EXPECT_TRUE(settings_copy().fullscreen);
    EXPECT_TRUE(file_exists(data_path({"settings.txt"})));
    EXPECT_FALSE(file_exists(cfg)) << "made where there was none";
    ASSERT_TRUE(fs_write_atomic(cfg, "ZQR_OLD=1\n"));
    h.click("fullscreen", Widget_Kind::Toggle);
    cfg_rewrite_wait();   // written off the window's thread
    std::string text;
    ASSERT_TRUE(fs_read(cfg, text));
    EXPECT_EQ(text, cfg_text());
    EXPECT_EQ(text.find("ZQR_OLD"), std::string::npos);
}

// --- Build Options -----------------------------------------------------------

TEST(BuildOptions, CompilerRowEdgeCases) {
    const std::vector<Compiler> two = {{"/opt/llvm/bin/clang", true, "Clang 18"}, {"/usr/bin/gcc", false, "GCC 13"}};
    struct Case {
        const char* what;
        std::vector<Compiler> found;
        bool searched;
        std::string saved;
        int64_t shown;        // -1: no drop-down
        bool where_button;
    };
    const Case cases[] = {
        {"saved one listed", two, true, "/usr/bin/gcc", 1, false},
        {"saved one not among those found", two, true, "/somewhere/clang", 0, false},
        {"nothing found yet", {}, false, "", -1, false},
        {"nothing found after the search", {}, true, "", -1, true},
    };
    for (const Case& c : cases) {
        Settings s;
        s.compiler = c.saved;
        Fresh_Settings fresh(s);
        Ui_Harness h;
        h.world.compilers = c.found;
        h.world.deps_checked = c.searched;
        h.app.shared.compiler_probe = 2;   // the dialog closed
        h.app.shared.current_page = Page::Build_Options;
        h.frame();
        const Trace_Item* d = h.find("compiler", Widget_Kind::Dropdown);
        EXPECT_EQ(d ? d->value : -1, c.shown) << c.what;
        const Trace_Item* where = h.find("Where to get one");
        ASSERT_EQ(where != nullptr, c.where_button) << c.what;
        if (where) {
            h.click("Where to get one");
            EXPECT_EQ(h.app.shared.compiler_probe, 1) << "the compiler dialog opens";
            EXPECT_NE(h.find("Choose clang.exe…"), nullptr);
        }
    }
}

TEST(BuildOptions, PickingACompilerWritesAtOnce) {
    Fresh_Settings fresh;
    Options_Harness h(Page::Build_Options);
    h.world.compilers = {{"/opt/llvm/bin/clang", true, "Clang 18"}, {"/usr/bin/clang-16", true, "Clang 16"}};
    h.choose("compiler", 1);
    EXPECT_EQ(settings_copy().compiler, "/usr/bin/clang-16");
    EXPECT_EQ(h.compilers_chosen, 1);
    EXPECT_GE(h.settings_saves, 1);
    EXPECT_EQ(h.cfg_rewrites, 0) << "only the tools row rewrites the configuration";
}

TEST(BuildOptions, OptimisationNotes) {
    struct Case {
        bool on, clang, lld;
        std::string_view pgo;
        bool pgo_warns;
        std::string_view lto;
        bool lto_warns;
    };
    const Case cases[] = {
        {false, true, true, "Off: the game built without the profile", false, "Off: a faster Build", false},
        {true, true, true, "On: optimized for how the game runs (a faster game)", false,
         "On: optimizes across files (a much slower Build)", false},
        {true, true, false, "Needs LLVM's linker (lld) beside Clang: not found", true,
         "Needs LLVM's linker (lld) beside Clang: not found", true},
        {true, false, false, "Needs Clang (GCC cannot read the profile)", true,
         "On: optimizes across files (a much slower Build)", false},
    };
    for (const Case& c : cases) {
        Options_Note p = pgo_note(c.on, c.clang, c.lld);
        Options_Note l = lto_note(c.on, c.clang, c.lld);
        EXPECT_EQ(p.text, c.pgo);
        EXPECT_EQ(p.colour == ui_warning, c.pgo_warns) << c.pgo;
        EXPECT_EQ(l.text, c.lto);
        EXPECT_EQ(l.colour == ui_warning, c.lto_warns) << c.lto;
    }
}

TEST(BuildOptions, NoteLineAfterABuild) {
    struct Case {
        bool outdated;
        std::string now, built;
        std::string_view starts;
        bool warns;
    };
    const Case cases[] = {
        {false, "options a|O1", "options a|O1", "Compiled into the game", false},
        {true, "options a|O2", "options a|O1", "The game was built with other Build Options", true},
        {true, "options a|O1", "options a|O1", "DLSS is compiled into the game", true},
        {true, "", "", "DLSS is compiled into the game", true},
        {true, "options a|O1", "options a|O1 ", "The game was built with other Build Options", true},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        h.world.outdated = c.outdated;
        h.world.options_sig = c.now;
        h.world.built_options_sig = c.built;
        std::string text;
        uint32_t colour = 0;
        build_options_note(h.app, text, colour);
        EXPECT_EQ(text.rfind(c.starts, 0), 0u) << text;
        EXPECT_EQ(colour == ui_warning, c.warns) << text;
    }
}

TEST(BuildOptions, RowsMapOntoTheirFieldsAndOnlyToolsRewritesTheConfiguration) {
    struct Case {
        const char* id;
        Widget_Kind kind;
        int64_t entry;
        std::function<bool(const Settings&)> holds;
        int cfg;
    };
    const Case cases[] = {
        {"opt", Widget_Kind::Dropdown, 3, [](const Settings& s) { return s.opt_level == 3; }, 0},
        {"pgo", Widget_Kind::Toggle, 0, [](const Settings& s) { return !s.pgo; }, 0},
        {"lto", Widget_Kind::Toggle, 0, [](const Settings& s) { return s.lto; }, 0},
        {"experimental", Widget_Kind::Toggle, 0, [](const Settings& s) { return s.experimental; }, 0},
        {"tools", Widget_Kind::Toggle, 0, [](const Settings& s) { return s.tools; }, 1},
        {"gfx", Widget_Kind::Dropdown, 0, [](const Settings& s) { return s.vulkan; }, 0},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Options_Harness h(Page::Build_Options);
        if (c.kind == Widget_Kind::Dropdown) {
            h.choose(c.id, c.entry);
        } else {
            h.click(c.id, c.kind);
        }
        EXPECT_TRUE(c.holds(settings_copy())) << c.id;
        EXPECT_EQ(h.settings_saves, std::string_view(c.id) == "gfx" ? 0 : 1) << c.id;
        EXPECT_EQ(h.cfg_rewrites, c.cfg) << c.id;
    }
}

// Whether the warning brown (#9D5D00 over the panel) is painted in the band.
bool warning_in(Ui_Harness& h, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
    ren_render(h.renderer.backend, h.renderer.draw_list);
    Fake_State& st = fake_state(h.renderer.backend);
    for (int64_t y = y0; y < y1; ++y) {
        for (int64_t x = x0; x < x1; ++x) {
            const uint8_t* p = &st.frame[(size_t(y) * size_t(st.frame_width) + size_t(x)) * 4];
            if (p[0] > p[1] + 40 && p[1] > p[2] + 40) return true;
        }
    }
    return false;
}

TEST(BuildOptions, ProfileNoteFollowsTheCompilerTheRowShows) {
    struct Case {
        const char* what;
        std::vector<Compiler> found;
        std::string saved;
        std::string lld;
        bool warns;
    };
    const Case cases[] = {
        {"nothing saved yet, Clang listed first", {{"/usr/bin/clang", true, "Clang 16"}}, "", "/usr/bin/ld.lld", false},
        {"GCC listed", {{"/usr/bin/gcc", false, "GCC 13"}}, "/usr/bin/gcc", "/usr/bin/ld.lld", true},
        {"Clang without its linker", {{"/usr/bin/clang", true, "Clang 16"}}, "/usr/bin/clang", "", true},
    };
    for (const Case& c : cases) {
        Settings s;
        s.compiler = c.saved;
        Fresh_Settings fresh(s);
        Options_Harness h(Page::Build_Options);
        h.world.compilers = c.found;
        h.world.lld = c.lld;
        h.frame();
        const Trace_Item* pgo = h.find("pgo", Widget_Kind::Toggle);
        ASSERT_NE(pgo, nullptr);
        int64_t hint_x = 44 + 230 + 270 + 16;
        EXPECT_EQ(warning_in(h, hint_x, 1030, pgo->rect.y, pgo->rect.y + pgo->rect.h), c.warns) << c.what;
    }
}

// Both pages painted by the in-memory backend, written under the build
// folder and read at known places.
TEST(UiPicture, OptionsPages) {
    Settings s;
    s.hdr = true;
    s.tools = true;
    s.vol_music = 40;
    Fresh_Settings fresh(s);
    for (Page page : {Page::Game_Options, Page::Build_Options}) {
        Options_Harness h(page);
        h.world.outdated = page == Page::Build_Options;
        h.world.options_sig = "options b";
        h.move(1000, 700);
        h.frame();
        ren_render(h.renderer.backend, h.renderer.draw_list);
        Fake_State& st = fake_state(h.renderer.backend);
        ASSERT_EQ(st.frame_width, 1080);
        std::string path = screenshot_path(page == Page::Game_Options ? "ui_game_options.png" : "ui_build_options.png");
        ASSERT_TRUE(write_png(path, 1080, 760, 4, st.frame.data()));
        auto rgb = [&](int64_t x, int64_t y) {
            const uint8_t* p = &st.frame[(size_t(y) * 1080 + size_t(x)) * 4];
            return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        };
        EXPECT_EQ(rgb(8, 400), 0xF3F3F3u) << "page background";
        EXPECT_EQ(rgb(200, 740), 0xFBFBFBu) << "the panel";
        // The scroll thumb at the top of the bar (both pages are taller
        // than the window? the Game page is).
        if (page == Page::Game_Options) {
            uint32_t thumb = rgb(1080 - 24 - 20 + 8, h.content_top() + 4);
            EXPECT_NE(thumb, 0xFBFBFBu) << "the scroll thumb";
        }
        // The note line colour: the build's warning in the Build page.
        bool warning_seen = false;
        for (int64_t y = 68; y < 92 && !warning_seen; ++y) {
            for (int64_t x = 24; x < 700; ++x) {
                uint32_t c = rgb(x, y);
                int r = int(c >> 16), g = int((c >> 8) & 255), b = int(c & 255);
                if (r > g + 40 && g > b + 40) {   // the brown of #9D5D00 over the background
                    warning_seen = true;
                    break;
                }
            }
        }
        EXPECT_EQ(warning_seen, page == Page::Build_Options);
        // The first toggle: accent when on (Build: PGO is on; Game: HDR is on).
        const Trace_Item* t = h.find(page == Page::Game_Options ? "hdr" : "pgo", Widget_Kind::Toggle);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(rgb(t->rect.x + 4, t->rect.y + t->rect.h / 2), 0x005FB8u) << "toggle on";
    }
}

}  // namespace
