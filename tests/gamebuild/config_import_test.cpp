// Reading the game's menu choices back from "Quillmarsh.cfg", and the one
// writer of the file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "launcher/core/clear_cache.h"
#include "launcher/core/format.h"
#include "tests/gamebuild/config_fixture.h"

namespace {

std::string read_file(const std::string& path) {
    std::string data;
    fs_read(path, data);
    return data;
}

// Writes the game's file with its menu keys and imports it.
bool import_text(const Cfg_Fixture& f, const std::string& text) {
    fs_write(f.cfg_path(), text);
    return cfg_import();
}

}  // namespace

TEST(CfgImport, WithoutMenuKeysNothingChanges) {
    Cfg_Fixture f;
    const std::string text = "# written by someone\nZQR_FPS=144\nZQR_FULLSCREEN=1\n";
    EXPECT_FALSE(import_text(f, text));
    EXPECT_EQ(settings_copy().fps, 60);
    EXPECT_FALSE(settings_copy().fullscreen);
    EXPECT_EQ(read_file(f.cfg_path()), text);   // not rewritten
    EXPECT_FALSE(file_exists(data_path({"settings.txt"})));
}

TEST(CfgImport, MissingFileChangesNothing) {
    Cfg_Fixture f;
    EXPECT_FALSE(cfg_import());
    EXPECT_FALSE(file_exists(f.cfg_path()));
    EXPECT_FALSE(file_exists(data_path({"settings.txt"})));
}

TEST(CfgImport, OnlyTheMenuKeysAreTakenAndTheFileIsRewritten) {
    Cfg_Fixture f;
    EXPECT_TRUE(import_text(f, "ZQR_MENU_KEYS=ZQR_FPS\r\nZQR_FPS=144\r\nZQR_FULLSCREEN=1\r\n"));
    Settings s = settings_copy();
    EXPECT_EQ(s.fps, 144);
    EXPECT_FALSE(s.fullscreen);
    // settings.txt holds the change; the rewrite drops the game's own lines.
    Settings reloaded;
    load_settings(&reloaded);
    EXPECT_EQ(reloaded.fps, 144);
    std::string written = read_file(f.cfg_path());
    EXPECT_EQ(written, cfg_text());
    EXPECT_EQ(written.find("ZQR_MENU_KEYS"), std::string::npos);
    EXPECT_NE(written.find("ZQR_FPS=144\n"), std::string::npos);
}

TEST(CfgImport, UnchangedSettingsAreNotSavedButTheFileIsRewritten) {
    Cfg_Fixture f;
    EXPECT_TRUE(import_text(f, "ZQR_MENU_KEYS=ZQR_FPS,ZQR_UNKNOWN\nZQR_FPS=60\nZQR_UNKNOWN=7\n"));
    EXPECT_FALSE(file_exists(data_path({"settings.txt"})));
    EXPECT_EQ(read_file(f.cfg_path()), cfg_text());
}

TEST(CfgImport, MenuKeyListIsSplitWithoutTrimming) {
    Cfg_Fixture f;
    // The blank after the comma belongs to the next name, which then names nothing.
    EXPECT_TRUE(import_text(f, "ZQR_MENU_KEYS=  ZQR_STRETCH, ZQR_HDR  \nZQR_STRETCH=1\nZQR_HDR=1\n"));
    EXPECT_TRUE(settings_copy().stretch);
    EXPECT_FALSE(settings_copy().hdr);
}

TEST(CfgImport, SingleKeys) {
    struct Row {
        const char* line;            // KEY=value as the game writes it
        std::function<void(Settings&)> before;
        std::function<bool(const Settings&)> holds;
        const char* what;
    };
    auto none = [](Settings&) {};
    const Row rows[] = {
        {"ZQR_FPS=100", none, [](const Settings& s) { return s.fps == 60; }, "a rate not offered is ignored"},
        {"ZQR_FPS=vsync", none, [](const Settings& s) { return s.fps == -1; }, "vsync"},
        {"ZQR_FPS= max ", none, [](const Settings& s) { return s.fps == -1; }, "max, trimmed"},
        {"ZQR_FPS=0d240", none, [](const Settings& s) { return s.fps == 240; }, "a base prefix"},
        {"ZQR_FULLSCREEN=", [](Settings& s) { s.fullscreen = true; }, [](const Settings& s) { return !s.fullscreen; }, "empty is off"},
        {"ZQR_FULLSCREEN=yes", none, [](const Settings& s) { return s.fullscreen; }, "anything but 0 is on"},
        {"ZQR_MINIMAP_CIRCLE=2", none, [](const Settings& s) { return !s.minimap_circle; }, "circle only for 1"},
        {"ZQR_MINIMAP_CIRCLE=1", none, [](const Settings& s) { return s.minimap_circle; }, "circle"},
        {"ZQR_HDR_PEAK=399", none, [](const Settings& s) { return s.hdr_peak == 1000; }, "peak below range"},
        {"ZQR_HDR_PEAK=4000", none, [](const Settings& s) { return s.hdr_peak == 4000; }, "peak at the top"},
        {"ZQR_HDR_PAPER=401", none, [](const Settings& s) { return s.hdr_paper == 200; }, "paper above range"},
        {"ZQR_VK_ANISO=1", none, [](const Settings& s) { return !s.aniso; }, "aniso 1 is off"},
        {"ZQR_VK_ANISO=x", none, [](const Settings& s) { return !s.aniso; }, "unparsable aniso is off"},
        {"ZQR_VK_ANISO=16", [](Settings& s) { s.aniso = false; }, [](const Settings& s) { return s.aniso; }, "aniso 16"},
        {"ZQR_VK_HALF_FX=0", none, [](const Settings& s) { return s.fx_full; }, "full effects"},
        {"ZQR_VK_HALF_FX=", [](Settings& s) { s.fx_full = true; }, [](const Settings& s) { return !s.fx_full; }, "empty is half"},
        {"ZQR_NO_SHADOWS=1", none, [](const Settings& s) { return s.shadow_res == 0; }, "no shadows"},
        {"ZQR_NO_SHADOWS=0", [](Settings& s) { s.shadow_res = 0; }, [](const Settings& s) { return s.shadow_res == 512; }, "shadows back"},
        {"ZQR_NO_SHADOWS=0", [](Settings& s) { s.shadow_res = 2048; }, [](const Settings& s) { return s.shadow_res == 2048; }, "size kept"},
        {"ZQR_NO_AUDIO=", [](Settings& s) { s.audio = false; }, [](const Settings& s) { return s.audio; }, "empty keeps audio"},
        {"ZQR_NO_AUDIO=1", none, [](const Settings& s) { return !s.audio; }, "no audio"},
        {"ZQR_VIBRATION=0", none, [](const Settings& s) { return !s.vibration; }, "vibration off"},
        {"ZQR_VIBRATION= 0", none, [](const Settings& s) { return s.vibration; }, "untrimmed: two characters are on"},
        {"ZQR_CUTSCENE_BLUR=", [](Settings& s) { s.cutscene_blur = false; }, [](const Settings& s) { return s.cutscene_blur; }, "empty blur is on"},
        {"ZQR_PAD_ONCE=1", none, [](const Settings& s) { return s.pad_once; }, "pad once"},
        {"ZQR_MOVIE_COLORS=original", none, [](const Settings& s) { return s.movie_original; }, "original colours"},
        {"ZQR_MOVIE_COLORS=0", none, [](const Settings& s) { return s.movie_original; }, "0 is original"},
        {"ZQR_MOVIE_COLORS=1", [](Settings& s) { s.movie_original = true; }, [](const Settings& s) { return !s.movie_original; }, "corrected"},
        {"ZQR_VOL_MUSIC=101", none, [](const Settings& s) { return s.vol_music == 100; }, "volume above range"},
        {"ZQR_VOL_SFX=0", none, [](const Settings& s) { return s.vol_sfx == 0; }, "silent effects"},
        {"ZQR_VOL_VOICE= 35 ", none, [](const Settings& s) { return s.vol_voice == 35; }, "trimmed volume"},
        {"ZQR_MOUSE_SENS=19", none, [](const Settings& s) { return s.mouse_sens == 100; }, "sensitivity below range"},
        {"ZQR_MOUSE_SENS=0x20", none, [](const Settings& s) { return s.mouse_sens == 32; }, "hexadecimal sensitivity"},
        {"ZQR_GUI_SCALE=201", none, [](const Settings& s) { return s.gui_scale == 100; }, "scale above range"},
        // Movie picture values: only what settings.txt keeps when it is read again.
        {"ZQR_MOVIE_BRIGHTNESS=40", none, [](const Settings& s) { return s.movie_brightness == 100; }, "brightness below 50"},
        {"ZQR_MOVIE_BRIGHTNESS=160", none, [](const Settings& s) { return s.movie_brightness == 100; }, "brightness above 150"},
        {"ZQR_MOVIE_BRIGHTNESS=50", none, [](const Settings& s) { return s.movie_brightness == 50; }, "brightness 50"},
        {"ZQR_MOVIE_CONTRAST=0", none, [](const Settings& s) { return s.movie_contrast == 100; }, "contrast 0"},
        {"ZQR_MOVIE_CONTRAST=150", none, [](const Settings& s) { return s.movie_contrast == 150; }, "contrast 150"},
        {"ZQR_MOVIE_SATURATION=0", none, [](const Settings& s) { return s.movie_saturation == 0; }, "saturation 0"},
        {"ZQR_MOVIE_SATURATION=201", none, [](const Settings& s) { return s.movie_saturation == 100; }, "saturation above 200"},
    };
    for (const Row& r : rows) {
        Cfg_Fixture f;
        Settings start;
        start.graphics = 4;   // custom: settings.txt keeps the values as they are
        r.before(start);
        settings_replace(start);
        std::string line = r.line;
        std::string key = line.substr(0, line.find('='));
        ASSERT_TRUE(import_text(f, "ZQR_MENU_KEYS=" + key + "\n" + line + "\n")) << r.what;
        Settings live = settings_copy();
        EXPECT_TRUE(r.holds(live)) << r.what << " (" << r.line << ")";
        // Whatever was taken survives the next start.
        Settings reloaded = start;
        load_settings(&reloaded);
        if (file_exists(data_path({"settings.txt"}))) {
            EXPECT_EQ(settings_text(reloaded), settings_text(live)) << r.what << ": lost at the next start";
        }
    }
}

TEST(CfgImport, AntiAliasing) {
    struct Row { const char* lines; bool fxaa, taa, fsr, fsr4, dlss; int64_t quality; };
    const Row rows[] = {
        {"ZQR_DLSS=1\nZQR_FSR=4\n", true, true, false, false, true, 1},
        {"ZQR_FSR=4\n", true, true, true, true, false, 1},
        {"ZQR_FSR=1\nZQR_TAA=1\n", true, true, true, false, false, 1},
        {"ZQR_TAA=1\nZQR_FXAA=8\n", true, true, false, false, false, 1},
        {"ZQR_FXAA=9\n", true, false, false, false, false, 8},
        {"ZQR_FXAA=5\n", true, false, false, false, false, 4},
        {"ZQR_FXAA=3\n", true, false, false, false, false, 2},
        {"ZQR_FXAA=0\n", true, false, false, false, false, 1},
        {"ZQR_FXAA=high\n", true, false, false, false, false, 1},   // on, quality kept
        {"ZQR_FXAA=\n", false, false, false, false, false, 1},      // MSAA
        {"ZQR_DLSS=0\nZQR_TAA=x\n", false, true, true, false, false, 1},   // nothing to go by: unchanged
    };
    for (const Row& r : rows) {
        Cfg_Fixture f;
        Settings start;   // TAA and FSR chosen before, quality 1
        start.aa_fxaa = false;
        start.aa_taa = true;
        start.aa_fsr = true;
        start.aa_quality = 1;
        settings_replace(start);
        ASSERT_TRUE(import_text(f, std::string("ZQR_MENU_KEYS=ZQR_DLSS,ZQR_FSR,ZQR_TAA,ZQR_FXAA\n") + r.lines));
        Settings s = settings_copy();
        SCOPED_TRACE(r.lines);
        EXPECT_EQ(s.aa_fxaa, r.fxaa);
        EXPECT_EQ(s.aa_taa, r.taa);
        EXPECT_EQ(s.aa_fsr, r.fsr);
        EXPECT_EQ(s.aa_fsr4, r.fsr4);
        EXPECT_EQ(s.aa_dlss, r.dlss);
        EXPECT_EQ(s.aa_quality, r.quality);
    }
}

// A choice the game writes back that the graphics preset would undo makes
// the preset "custom": the next start keeps it, writes the same files, and
// Clear Cache still finds settings.txt exactly as this version writes it
// (it used to delete every setting after such a choice).
TEST(CfgImport, TheGamesChoiceOutlivesTheGraphicsPreset) {
    struct Row { const char* lines; bool custom; };
    const Row rows[] = {
        {"ZQR_TAA=1\n", true},
        {"ZQR_FXAA=8\n", true},
        {"ZQR_FXAA=\n", true},              // MSAA
        {"ZQR_NO_SHADOWS=1\n", true},
        {"ZQR_FXAA=4\n", false},            // what the preset says anyway
        {"ZQR_NO_SHADOWS=0\n", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.lines);
        Cfg_Fixture f;
        Settings start;
        start.graphics = 2;   // "fancy": shadows 1024, FXAA 4
        settings_apply_preset(start);
        settings_replace(start);
        ASSERT_TRUE(import_text(f, std::string("ZQR_MENU_KEYS=ZQR_TAA,ZQR_FXAA,ZQR_NO_SHADOWS\n") + r.lines));
        const Settings imported = settings_copy();
        const std::string cfg = read_file(f.cfg_path());
        EXPECT_EQ(imported.graphics, r.custom ? 4 : 2);
        if (!r.custom) continue;
        EXPECT_TRUE(settings_file_exact());

        // The next start: settings.txt is loaded, the cfg written again.
        Settings next;
        load_settings(&next);
        EXPECT_EQ(settings_text(next), settings_text(imported));
        settings_replace(next);
        EXPECT_EQ(cfg_text(), cfg);
    }
}

TEST(CfgImport, SkipMoviesIsTheWritersOwnWhenThereIsNothingToPlay) {
    struct Row { bool checked, ok, some_converted, convertible; bool taken; };
    const Row rows[] = {
        {true, true, false, false, false},
        {true, true, true, false, true},
        {true, true, false, true, true},
        {false, false, false, false, true},
    };
    for (const Row& r : rows) {
        Cfg_Fixture f;
        Game_State g;
        g.checked = r.checked;
        g.ok = r.ok;
        g.some_converted = r.some_converted;
        g.convertible = r.convertible;
        game_state_publish(g);
        ASSERT_TRUE(import_text(f, "ZQR_MENU_KEYS=ZQR_SKIP_MOVIES\nZQR_SKIP_MOVIES=1\n"));
        EXPECT_EQ(settings_copy().skip_movies, r.taken) << r.checked << r.ok << r.some_converted << r.convertible;
    }
}

TEST(CfgImport, CfgIntTakesOnlyWholeNumbersInRange) {
    Cfg_Map map = cfg_parse("A= 12 \nB=x\nC=0b101\nD=\nE=1=2\n#F=3\nA=13\n");
    struct Row { const char* key; int64_t min, max; bool ok; int64_t value; };
    const Row rows[] = {
        {"A", 0, 100, true, 13}, {"A", 14, 100, false, -7}, {"B", 0, 100, false, -7}, {"C", 0, 5, true, 5},
        {"D", 0, 100, false, -7}, {"E", 0, 100, false, -7}, {"#F", 0, 100, false, -7}, {"Z", 0, 100, false, -7},
    };
    for (const Row& r : rows) {
        int64_t v = -7;
        EXPECT_EQ(cfg_int(map, r.key, r.min, r.max, v), r.ok) << r.key;
        EXPECT_EQ(v, r.value) << r.key;
    }
    EXPECT_EQ(map.at("E"), "1=2");
}

// The window asks for a rewrite at every option change and goes on at
// once; changes made while one is written become one more write, of the
// settings as they are last.
TEST(CfgWrite, TheWindowsRewritesAreMergedAndTheLastChangeWins) {
    Cfg_Fixture f;
    ASSERT_TRUE(fs_write(f.cfg_path(), "old\n"));
    std::atomic<int> writes{0};
    std::atomic<bool> release{false};
    cfg_set_write_hook([&] {
        if (++writes > 1) return;
        for (int i = 0; i < 6000 && !release.load(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    Settings s;
    s.fps = 30;
    settings_replace(s);
    cfg_rewrite_later(f.launcher);
    for (int i = 0; i < 6000 && writes.load() == 0; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(writes.load(), 1);
    for (int fps : {61, 90, 120, 144}) {
        s.fps = fps;
        settings_replace(s);
        cfg_rewrite_later(f.launcher);
    }
    EXPECT_TRUE(cfg_rewrite_pending());
    release.store(true);
    cfg_rewrite_wait();
    EXPECT_FALSE(cfg_rewrite_pending());
    EXPECT_EQ(writes.load(), 2);
    std::string text = read_file(f.cfg_path());
    EXPECT_NE(text.find("ZQR_FPS=144\n"), std::string::npos) << text;
    EXPECT_TRUE(text == cfg_text());
}

// The interface and the tasks write the file at the same time: every write
// must be whole, never two interleaved.
TEST(CfgWrite, WritersNeverOverlap) {
    Cfg_Fixture f;
    std::atomic<int> inside{0}, most{0};
    cfg_set_write_hook([&] {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --inside;
    });
    // Two settings records whose texts differ in length.
    Settings small, large;
    large.save_dirs.assign(40, std::string(200, 'x'));
    std::vector<std::string> texts;
    for (const Settings* s : {&small, &large}) {
        settings_replace(*s);
        texts.push_back(cfg_text());
    }
    std::vector<std::thread> writers;
    for (int i = 0; i < 6; i++) {
        writers.emplace_back([&, i] {
            for (int k = 0; k < 10; k++) {
                settings_replace((i + k) % 2 ? large : small);
                if (i % 2) cfg_write(f.launcher);
                else cfg_write_file(f.launcher, Cfg_When::If_Present);
            }
        });
    }
    for (std::thread& t : writers) t.join();
    EXPECT_EQ(most.load(), 1);
    std::string final_text = read_file(f.cfg_path());
    EXPECT_TRUE(final_text == texts[0] || final_text == texts[1]) << "a torn file of " << final_text.size() << " bytes";
}

TEST(CfgWrite, IfPresentWritesOnlyAnExistingFile) {
    Cfg_Fixture f;
    EXPECT_FALSE(cfg_write_file(f.launcher, Cfg_When::If_Present));
    EXPECT_FALSE(file_exists(f.cfg_path()));
    fs_make_dirs(f.cfg_path());   // a folder of that name is not the file
    EXPECT_FALSE(cfg_write_file(f.launcher, Cfg_When::If_Present));
    fs_remove_dir(f.cfg_path());
    fs_write(f.cfg_path(), "old");
    EXPECT_TRUE(cfg_write_file(f.launcher, Cfg_When::If_Present));
    EXPECT_EQ(read_file(f.cfg_path()), cfg_text());
    fs_fail_under(f.launcher);
    EXPECT_FALSE(cfg_write(f.launcher));
}

// A write stopped at its first byte (a full disk here; a kill there is the
// same to the file) leaves the old file whole: the new text goes to a file
// beside it, which is removed, and only a whole one would be renamed over.
TEST(CfgWrite, AFailedWriteLeavesTheOldFile) {
    Cfg_Fixture f;
    ASSERT_TRUE(fs_write(f.cfg_path(), "# the game's file as it was\nZQR_FPS=30\n"));
    fs_disk_full_under(f.launcher);
    std::string why;
    bool written = cfg_write(f.launcher, &why);
    fs_disk_full_under("");
    EXPECT_FALSE(written);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(read_file(f.cfg_path()), "# the game's file as it was\nZQR_FPS=30\n");
    std::vector<Dir_Entry> entries;
    ASSERT_TRUE(fs_list(f.launcher, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "Quillmarsh.cfg");
}
