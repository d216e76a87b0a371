// The Features & Mods page through whole frames: the import states the
// mods' markers give, save folders, Hard Mode presets, the model tasks, the
// cutscene sliders, the confirmation dialogs it opens, and the two folder
// measures it uses.
#include <gtest/gtest.h>

#include <thread>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/settings.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd.h"
#include "launcher/ui/features.h"
#include "launcher/ui/options_page.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

struct Fresh_Settings {
    explicit Fresh_Settings(const Settings& s = Settings{}) { settings_replace(s); }
    ~Fresh_Settings() { settings_replace(Settings{}); }
};

struct Features_Harness : Ui_Harness {
    explicit Features_Harness(const Features_State& f = {}, int height = 760) : Ui_Harness(1080, height) {
        world.features = f;
        app.shared.current_page = Page::Features;
        frame();
        frame();
    }
    int64_t content_top() const { return 12 + 40 + 16 + 24 + 8 + 8; }
    int64_t content_bottom() const { return app.height - 12 - 8; }
    // Scrolls until the widget is wholly inside the content.
    const Trace_Item* reveal(std::string_view label, Widget_Kind kind) {
        app.shared.options_scroll[2] = 0;
        for (int i = 0; i < 400; ++i) {
            frame();
            const Trace_Item* t = find(label, kind);
            if (t && t->rect.y >= content_top() && t->rect.y + t->rect.h <= content_bottom()) return t;
            app.shared.options_scroll[2] += 30;
        }
        return nullptr;
    }
    void press(std::string_view label, Widget_Kind kind = Widget_Kind::Button) {
        const Trace_Item* t = reveal(label, kind);
        ASSERT_NE(t, nullptr) << label;
        click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
    }
    void choose(std::string_view id, int64_t index) {
        const Trace_Item* t = reveal(id, Widget_Kind::Dropdown);
        ASSERT_NE(t, nullptr) << id;
        click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
        ASSERT_EQ(app.ui.popup_id, id);
        choose_row(index);
    }
    // A tall window shows every row at once.
    int count(std::string_view label, Widget_Kind kind = Widget_Kind::Button) const {
        int n = 0;
        for (const Trace_Item& t : app.ui.trace) n += t.kind == kind && t.label == label;
        return n;
    }
};

Features_State hd_imported() {
    Features_State f;
    f.hd_folder = f.hd_project = true;
    f.hd_zip = "EF SAGA HD.zip";
    f.hd_region = "u";
    f.hd_left = {"/games/amber_data_hd"};
    f.hd_left_real = true;
    f.old_bytes = 3'000'000'000;
    return f;
}

TEST(Features, ImportStatesFromTheMarkers) {
    struct Case {
        const char* what;
        Features_State f;
        bool hd_on;
        // What the rows then offer.
        int import_again;             // "Import ZIP Again…" buttons
        bool uninstall, discard;      // enabled
        bool hd_toggle_enabled;
        int64_t hd_toggle_shown;
        bool hard_rows, hdm_rows, sculpt_rows;
    };
    Features_State none;
    Features_State stopped;
    stopped.hd_left = {"/data/hd_work", "/data/hd_import.log"};
    stopped.hd_left_real = true;
    Features_State log_only;
    log_only.hd_left = {"/data/hd_import.log"};
    Features_State gui_only;
    gui_only.hd_folder = gui_only.hd_gui = true;
    Features_State discarded = hd_imported();
    discarded.discarded = true;
    Features_State mods;
    mods.buttons = mods.hard = mods.hdm = mods.sculpt = true;
    const Case cases[] = {
        {"nothing imported", none, false, 0, false, false, false, 0, false, false, false},
        {"a stopped import", stopped, false, 0, true, false, false, 0, false, false, false},
        {"only the import log", log_only, false, 0, false, false, false, 0, false, false, false},
        {"HD Fonts & GUI only", gui_only, true, 0, false, false, true, 1, false, false, false},
        {"HD Project imported", hd_imported(), false, 1, true, true, true, 0, false, false, false},
        {"old assets discarded", discarded, false, 1, true, false, false, 1, false, false, false},
        {"the other mods", mods, false, 4, false, false, false, 0, true, true, true},
    };
    for (const Case& c : cases) {
        Settings s;
        s.hd = c.hd_on;
        Fresh_Settings fresh(s);
        Features_Harness h(c.f, 4000);
        EXPECT_EQ(h.count("Import ZIP Again…"), c.import_again) << c.what;
        EXPECT_EQ(h.count("Import Archive Again…"), c.f.hd_gui ? 1 : 0) << c.what;
        ASSERT_NE(h.find("Uninstall"), nullptr) << c.what;
        EXPECT_EQ(h.find("Uninstall")->enabled, c.uninstall) << c.what;
        EXPECT_EQ(h.find("Discard Old Assets")->enabled, c.discard) << c.what;
        const Trace_Item* hd = h.find("hd", Widget_Kind::Toggle);
        ASSERT_NE(hd, nullptr);
        EXPECT_EQ(hd->enabled, c.hd_toggle_enabled) << c.what;
        EXPECT_EQ(hd->value, c.hd_toggle_shown) << c.what;
        EXPECT_EQ(h.find("hard_preset", Widget_Kind::Dropdown) != nullptr, c.hard_rows) << c.what;
        EXPECT_EQ(h.find("hdm_5", Widget_Kind::Dropdown) != nullptr, c.hdm_rows) << c.what;
        EXPECT_EQ(h.find("sculpt_char", Widget_Kind::Dropdown) != nullptr, c.sculpt_rows) << c.what;
        EXPECT_EQ(h.find("button_icons", Widget_Kind::Toggle)->enabled, c.f.buttons) << c.what;
    }
}

TEST(Features, MarkerFilesGiveTheState) {
    Temp_Dir game;
    std::string hd = path_join({game.path, std::string(hd_folder_name)});
    ASSERT_TRUE(fs_make_dirs(hd));
    Settings s;
    s.game_dir = game.path;
    Fresh_Settings fresh(s);

    // The GUI marker alone: an HD folder, but no HD Project.
    ASSERT_TRUE(fs_write(path_join({hd, std::string(hd_gui_marker_file)}), "archive=gui.7z\nfiles=812\n"));
    Features_State f = features_state_read(s);
    EXPECT_TRUE(f.hd_folder);
    EXPECT_TRUE(f.hd_gui);
    EXPECT_FALSE(f.hd_project);
    EXPECT_EQ(f.gui_archive, "gui.7z");
    EXPECT_EQ(f.gui_files, "812");

    // A folder named like the marker is no marker.
    ASSERT_TRUE(fs_make_dirs(path_join({hd, std::string(hd_marker_file)})));
    EXPECT_FALSE(features_state_read(s).hd_project);
    ASSERT_TRUE(fs_remove_dir(path_join({hd, std::string(hd_marker_file)})));

    ASSERT_TRUE(fs_write(path_join({hd, std::string(hd_marker_file)}), "zip=EF SAGA HD.zip\nregion=c\n"));
    f = features_state_read(s);
    EXPECT_TRUE(f.hd_project);
    EXPECT_EQ(f.hd_zip, "EF SAGA HD.zip");
    EXPECT_EQ(f.hd_region, "c");
    EXPECT_TRUE(f.hd_left_real) << "an uninstall has the HD folder to delete";
    EXPECT_FALSE(f.discarded);
    ASSERT_TRUE(fs_write(path_join({hd, std::string(hd_discard_file)}), ""));
    EXPECT_TRUE(features_state_read(s).discarded);
}

TEST(Features, SubtitleRowsByEdition) {
    struct Case {
        const char* edition;
        int64_t stored, shown;
        size_t rows;
    };
    const Case cases[] = {{"EN", 7, 0, 6}, {"JP", 7, 7, 8}, {"JP", 3, 3, 8}};
    for (const Case& c : cases) {
        Settings s;
        s.subtitles = c.stored;
        Fresh_Settings fresh(s);
        Features_Harness h;
        h.world.game.edition = c.edition;
        const Trace_Item* t = h.reveal("subtitles", Widget_Kind::Dropdown);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->value, c.shown) << c.edition;
        h.click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
        EXPECT_EQ(h.app.ui.popup_labels.size(), c.rows) << c.edition;
        EXPECT_EQ(settings_copy().subtitles, c.stored) << "kept until the user chooses";
    }
}

TEST(Features, RemovingASaveFolderKeepsTheOthersInOrder) {
    Temp_Dir a, b, c;
    Settings s;
    s.save_dirs = {a.path, b.path, c.path};
    Fresh_Settings fresh(s);
    Features_Harness h({}, 4000);
    ASSERT_EQ(h.count("Remove"), 3);
    // The second Remove button, by position.
    std::vector<Trace_Item> removes;
    for (const Trace_Item& t : h.app.ui.trace) {
        if (t.kind == Widget_Kind::Button && t.label == "Remove") removes.push_back(t);
    }
    h.click_at(removes[1].rect.x + 5, removes[1].rect.y + 5);
    EXPECT_EQ(settings_copy().save_dirs, (std::vector<std::string>{a.path, c.path}));
    EXPECT_EQ(h.settings_saves, 1);
    h.frame();
    EXPECT_EQ(h.count("Remove"), 2);
}

TEST(Features, HardModePresets) {
    ASSERT_GE(hard_preset_count, 5);
    struct Case {
        const char* what;
        std::array<uint8_t, 8> stored;
        int64_t choose;
        int64_t shown_before;
        std::array<uint8_t, 8> after;
    };
    std::array<uint8_t, 8> custom{1, 0, 0, 0, 0, 0, 0, 1};
    if (hard_preset_of(custom) != 0) custom[1] = 1;
    const Case cases[] = {
        {"custom values, Custom chosen", custom, 0, 0, custom},
        {"custom values, preset 2 chosen", custom, 2, 0, hard_presets[2].choices},
        {"preset 3 shows as itself", hard_presets[3].choices, 4, 3, hard_presets[4].choices},
    };
    Features_State f;
    f.hard = true;
    for (const Case& c : cases) {
        Settings s;
        s.hard = c.stored;
        Fresh_Settings fresh(s);
        Features_Harness h(f);
        const Trace_Item* t = h.reveal("hard_preset", Widget_Kind::Dropdown);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->value, c.shown_before) << c.what;
        h.choose("hard_preset", c.choose);
        EXPECT_EQ(settings_copy().hard, c.after) << c.what;
        EXPECT_EQ(h.find("hard_preset", Widget_Kind::Dropdown)->value, hard_preset_of(c.after)) << c.what;
    }
}

TEST(Features, ApplyButtonsStartTheirTaskAndShowHome) {
    struct Case {
        const char* button;
        const char* task;
        bool hdm;          // HD Models+ imported
        bool starts;
    };
    const Case cases[] = {
        {"Apply HD Models", "HD Models+", true, true},
        {"Apply Sculpting", "Body Sculpting", true, true},
        {"Apply Sculpting", "Body Sculpting", false, false},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Features_State f;
        f.hdm = c.hdm;
        f.sculpt = true;
        Features_Harness h(f);
        h.app.tasks.hdm_apply = [](Task&) {};
        h.app.tasks.sculpt_apply = [](Task&) {};
        h.press(c.button);
        EXPECT_EQ(h.started_task(c.task), c.starts) << c.button;
        EXPECT_EQ(h.app.shared.current_page, c.starts ? Page::Home : Page::Features) << c.button;
    }
    // While a task runs nothing on the page reacts.
    Fresh_Settings fresh;
    Features_State f;
    f.hdm = f.sculpt = true;
    Features_Harness h(f, 4000);
    h.world.task_running = true;
    h.frame();
    for (const Trace_Item& t : h.app.ui.trace) {
        if (t.kind != Widget_Kind::Tab && t.label != "Get" && t.id != "language") {
            EXPECT_FALSE(t.enabled) << t.label;
        }
    }
}

TEST(Features, AppliedAndChangedFollowTheMadeModels) {
    struct Case {
        const char* what;
        std::string asks, applied;
        bool toggle_enabled;
    };
    const Case cases[] = {
        {"nothing made", "", "", false},
        {"made as chosen", "Ultimate", "Ultimate", true},
        {"changed since", "Costume", "Ultimate", true},
    };
    for (const Case& c : cases) {
        Fresh_Settings fresh;
        Features_State f;
        f.hdm = true;
        f.hdm_asks[0] = c.asks;
        f.hdm_applied[0] = c.applied;
        Features_Harness h(f, 4000);
        EXPECT_EQ(h.find("hd_models_on", Widget_Kind::Toggle)->enabled, c.toggle_enabled) << c.what;
    }
}

TEST(Features, CutsceneSliderWritesOncePerDrag) {
    Fresh_Settings fresh;
    Features_Harness h;
    const Trace_Item* found = h.reveal("movie_contrast", Widget_Kind::Slider);
    ASSERT_NE(found, nullptr);
    Trace_Item t = *found;
    int64_t cy = t.rect.y + t.rect.h / 2;
    auto x_of = [&](double v) { return int64_t(double(t.rect.x + 8) + double(t.rect.w - 16) * (v - 50) / 100 + 0.5); };
    h.move(x_of(100), cy);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
    h.frame();
    for (double v : {110.0, 120.0, 130.0}) {
        h.move(x_of(v), cy);
        h.frame();
    }
    EXPECT_EQ(settings_copy().movie_contrast, 130);
    EXPECT_EQ(h.settings_saves, 0) << "written while held";
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_released;
    h.frame();
    h.frame();
    EXPECT_EQ(h.settings_saves, 1);
    EXPECT_EQ(h.cfg_rewrites, 1);
    h.press("Reset");
    EXPECT_EQ(settings_copy().movie_contrast, 100);
    EXPECT_EQ(h.settings_saves, 2);
}

TEST(Features, OpeningClickNeverConfirmsTheDialog) {
    struct Case {
        const char* opener;
        const char* task;
    };
    const Case cases[] = {{"Uninstall", "Uninstall HD Project"}, {"Discard Old Assets", "Discard Old Assets"}};
    for (const Case& c : cases) {
        int clicked = 0;
        // Every scroll that shows the opener puts it somewhere else on the
        // screen, over the dialog's buttons among them.
        for (int64_t scroll = 0; scroll < 900; scroll += 45) {
            Fresh_Settings fresh;
            Features_Harness h(hd_imported());
            h.app.tasks.discard_assets = [](Task&) {};
            h.app.tasks.uninstall_hd = [](Task&) {};
            h.app.shared.options_scroll[2] = scroll;
            h.frame();
            const Trace_Item* t = h.find(c.opener);
            if (!t || t->rect.y < h.content_top() || t->rect.y + t->rect.h > h.content_bottom()) continue;
            h.click_at(t->rect.x + t->rect.w / 2, t->rect.y + t->rect.h / 2);
            h.frame();
            ++clicked;
            EXPECT_TRUE(ui_modal(h.app.shared)) << c.opener << " at scroll " << scroll;
            EXPECT_FALSE(h.started_task(c.task)) << c.opener << " at scroll " << scroll;
        }
        EXPECT_GE(clicked, 5) << c.opener;
    }
}

TEST(Features, UninstallSizeIsMeasuredOffTheWindow) {
    Temp_Dir d;
    std::string sub = path_join({d.path, "textures", "deep"});
    ASSERT_TRUE(fs_make_dirs(sub));
    ASSERT_TRUE(fs_write(path_join({sub, "a.dds"}), std::string(1000, 'a')));
    ASSERT_TRUE(fs_write(path_join({d.path, "b.bin"}), std::string(24, 'b')));
    Features_State f = hd_imported();
    f.hd_left = {d.path};
    Fresh_Settings fresh;
    Features_Harness h(f);
    h.press("Uninstall");
    EXPECT_EQ(h.app.shared.uninstall_dialog, 1);
    for (int i = 0; i < 100000 && h.app.shared.uninstall_measure; ++i) {
        std::this_thread::yield();
        h.frame();
    }
    EXPECT_EQ(h.app.shared.uninstall_bytes, 1024);
}

TEST(Features, CountSavesAndPathSize) {
    Temp_Dir d;
    const char* files[] = {"slot1.dat", "SLOT2.DAT", "notes.txt", ".dat", "x.dat.bak"};
    for (const char* name : files) ASSERT_TRUE(fs_write(path_join({d.path, name}), "12345"));
    ASSERT_TRUE(fs_make_dirs(path_join({d.path, "folder.dat"})));
    ASSERT_TRUE(fs_write(path_join({d.path, "folder.dat", "inner.dat"}), std::string(100, 'x')));
    EXPECT_EQ(count_saves(d.path), 3) << "slot1.dat, SLOT2.DAT and the 4-character .dat";
    EXPECT_EQ(count_saves(path_join({d.path, "missing"})), 0);
    EXPECT_EQ(path_size(d.path), 5 * 5 + 100);
    EXPECT_EQ(path_size(path_join({d.path, "slot1.dat"})), 5);
    EXPECT_EQ(path_size(path_join({d.path, "missing"})), 0);
    // A link to a big folder is counted as itself, not walked.
    Temp_Dir big;
    ASSERT_TRUE(fs_write(path_join({big.path, "huge"}), std::string(5000, 'h')));
    if (fs_make_link(big.path, path_join({d.path, "link"}), true)) {
        EXPECT_LT(path_size(d.path), 5 * 5 + 100 + 5000);
        EXPECT_EQ(count_saves(d.path), 3);
    }
}

}  // namespace
