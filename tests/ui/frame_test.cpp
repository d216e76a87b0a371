// Whole frames of the window's interface through ui_frame, with scripted
// input and real font metrics.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "engine/kt_system/path.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "launcher/core/child_run.h"
#include "launcher/core/i18n.h"
#include "launcher/ui/dialogs.h"
#include "tests/support/png_read.h"
#include "tests/support/poll.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

TEST(UiFrame, TabClickShowsThePageInTheSameFrame) {
    Ui_Harness h;
    h.frame();
    ASSERT_NE(h.find("Build"), nullptr);
    const Trace_Item* tab = h.find("Build Options", Widget_Kind::Tab);
    ASSERT_NE(tab, nullptr);
    h.move(tab->rect.x + 5, tab->rect.y + 5);
    h.input.mouse_buttons[int(Mouse_Button::Left)] = input_down | input_pressed;
    h.frame();
    EXPECT_EQ(h.app.shared.current_page, Page::Build_Options);
    EXPECT_EQ(h.find("Build"), nullptr) << "Home was drawn in the frame of the click";
    EXPECT_EQ(h.find("Build Options", Widget_Kind::Tab)->value, 1);
    EXPECT_EQ(h.find("Home", Widget_Kind::Tab)->value, 0);
}

TEST(UiFrame, AnOpenPopupTakesTheClickAwayFromThePage) {
    Ui_Harness h;
    h.frame();
    h.click("language", Widget_Kind::Dropdown);
    ASSERT_EQ(h.app.ui.popup_id, "language");
    // The tab under the pointer shows no hover and takes no click: the click
    // only closes the popup.
    h.click("Game Options", Widget_Kind::Tab);
    EXPECT_EQ(h.app.shared.current_page, Page::Home);
    EXPECT_TRUE(h.app.ui.popup_id.empty());

}

TEST(UiFrame, BehindADialogThePageIsInert) {
    // No compiler: the compiler dialog opens by itself; the page behind it
    // does not react, the dialog's own buttons do.
    Ui_Harness h;
    h.world.compilers.clear();
    h.frame();
    ASSERT_EQ(h.app.shared.compiler_probe, 1);
    h.frame();
    h.click("Clear Cache");
    h.click("Game Options", Widget_Kind::Tab);
    EXPECT_TRUE(h.started.empty());
    EXPECT_EQ(h.app.shared.current_page, Page::Home);
    // A started task runs (and holds the next probe back) until it ends.
    h.app.procs.task_start = [&h](std::string_view name, Task_Proc proc, uint64_t data) {
        h.started.push_back({std::string(name), proc, data});
        h.world.task_running = true;
        return true;
    };
    h.click("Check again");   // the dialog's, drawn over the panel's own
    EXPECT_EQ(h.app.shared.compiler_probe, 0);
    ASSERT_EQ(h.started.size(), 1u);
    EXPECT_EQ(h.started[0].name, "Checking");
}

TEST(UiFrame, LanguageChoiceWritesOnlyAChange) {
    i18n_init("");
    Ui_Harness h;
    ASSERT_EQ(language, 0);
    auto choose = [&](int row) {
        h.frame();
        h.click("language", Widget_Kind::Dropdown);
        Popup_Place p = popup_rect(h.app.ui);
        int64_t pad = px(h.app.ui, 4);
        h.click_at(p.rect.x + p.rect.w / 2, p.rect.y + pad + row * p.row_height + p.row_height / 2);
        h.frame();   // the loop takes the request in the next frame
    };
    choose(0);
    EXPECT_EQ(h.language_saves, 0);
    EXPECT_EQ(language, 0);
    choose(6);
    EXPECT_EQ(h.language_saves, 1);
    EXPECT_EQ(language_table[language].code, "de");
    choose(6);
    EXPECT_EQ(h.language_saves, 1);
    language_set(0);
}

// The Home page's buttons against the state of the launcher.
TEST(HomePage, ButtonsAndTooltipsFollowTheState) {
    struct Case {
        bool T, G, OK, C, F;
        bool build, clear, convert, cancel_shown;
        const char* build_tip;
        const char* convert_tip;
    };
    const Case cases[] = {
        {false, false, true, true, true, true, true, true, false,
         "Builds the game with the Build Options (the Game Options need no Build).",
         "Converts the 3 cutscenes that have no MP4 yet (it can be cancelled and continued later)."},
        {true, false, true, true, true, false, false, false, true, "Wait for the current task to finish.",
         "Wait for the current task to finish."},
        {false, true, true, true, true, false, false, true, false,
         "Close the game first: it cannot be rebuilt while it runs.",
         "Converts the 3 cutscenes that have no MP4 yet (it can be cancelled and continued later)."},
        {false, false, false, true, true, false, true, false, false, "Needs the game: choose its folder.",
         "Needs the game."},
        {false, false, true, false, true, false, true, true, false, "Needs a C compiler.",
         "Converts the 3 cutscenes that have no MP4 yet (it can be cancelled and continued later)."},
        {false, false, true, true, false, true, true, false, false,
         "Builds the game with the Build Options (the Game Options need no Build).",
         "Needs FFmpeg with its H.264 encoder (install it above)."},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        h.app.tasks.convert_movies = [](Task&) {};
        h.world.task_running = c.T;
        h.world.game_running = c.G;
        h.world.game.ok = c.OK;
        h.world.game.to_convert = 3;
        if (!c.C) h.world.deps[0].found.clear();
        h.world.deps[1].ok = c.F;
        h.frame();
        std::string what = "T" + std::to_string(c.T) + " G" + std::to_string(c.G) + " OK" + std::to_string(c.OK) +
                           " C" + std::to_string(c.C) + " F" + std::to_string(c.F);
        ASSERT_NE(h.find("Build"), nullptr) << what;
        EXPECT_EQ(h.find("Build")->enabled, c.build) << what;
        EXPECT_EQ(h.find("Clear Cache")->enabled, c.clear) << what;
        EXPECT_EQ(h.find("Convert Movies")->enabled, c.convert) << what;
        EXPECT_EQ(h.find("Browse…")->enabled, !c.T) << what;
        EXPECT_EQ(h.find("Check again")->enabled, !c.T) << what;
        EXPECT_EQ(h.find("Cancel") != nullptr, c.cancel_shown) << what;
        EXPECT_EQ(h.find("build", Widget_Kind::Tooltip)->label, c.build_tip) << what;
        EXPECT_EQ(h.find("convert", Widget_Kind::Tooltip)->label, c.convert_tip) << what;
        // Pressing the disabled ones starts nothing.
        h.click("Build");
        h.click("Clear Cache");
        EXPECT_EQ(h.started_task("Build"), c.build) << what;
        EXPECT_EQ(h.started_task("Clear Cache"), c.clear) << what;
    }
}

// The folder line under "Game folder": the reason alone when no folder is
// saved, else the folder and the reason.
TEST(HomePage, GameFolderLineSaysWhyOnce) {
    struct Case {
        std::string folder, reason, line;
    };
    const Case cases[] = {
        {"", "not found: choose its folder", "not found: choose its folder"},
        {"/games/EF", "that folder has no amber_data/prog/win/bin/efsagaimg.exe",
         "/games/EF — that folder has no amber_data/prog/win/bin/efsagaimg.exe"},
    };
    for (const Case& c : cases) {
        Ui_Harness h(1400, 760);
        h.world.game_dir = c.folder;
        h.world.game.ok = false;
        h.world.game.reason = c.reason;
        h.frame();
        int lines = 0;
        for (const Text_Item& t : h.app.ui.texts) {
            if (t.text.find(c.reason) != std::string::npos) {
                EXPECT_EQ(t.text, c.line);
                ++lines;
            }
        }
        EXPECT_EQ(lines, 1) << c.line;
    }
}

TEST(HomePage, RunButtonByTheBuiltGame) {
    struct Case {
        std::string exe;
        bool stale, outdated, G;
        const char* label;   // nullptr: no run button
        bool enabled;
    };
    const Case cases[] = {
        {"", false, false, false, nullptr, false},
        {"/l/Quillmarsh", false, false, false, "Run", true},
        {"/l/Quillmarsh", false, false, true, "Running…", false},
        {"/l/Quillmarsh", false, true, false, "Build to Run", true},
        {"/l/Quillmarsh", true, false, false, "Rebuild to Run", true},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        h.world.built_exe = c.exe;
        h.world.stale = c.stale;
        h.world.outdated = c.outdated;
        h.world.game_running = c.G;
        h.app.shared.updated_dialog = 0;
        h.frame();
        for (const char* l : {"Run", "Running…", "Build to Run", "Rebuild to Run"}) {
            const Trace_Item* t = h.find(l);
            if (c.label && std::string_view(l) == c.label) {
                ASSERT_NE(t, nullptr) << l;
                EXPECT_EQ(t->enabled, c.enabled) << l;
            } else {
                EXPECT_EQ(t, nullptr) << l;
            }
        }
        // With no run button, Build sits at the right edge of the content.
        const Trace_Item* build = h.find("Build");
        if (!c.label) {
            EXPECT_EQ(build->rect.x + build->rect.w, 1080 - 24);
        }
    }
}

TEST(HomePage, RunStartsTheGameAndAFailedStartBecomesATask) {
    Ui_Harness h;
    h.world.built_exe = "/l/Quillmarsh";
    h.frame();
    h.click("Run");
    ASSERT_EQ(h.games_run.size(), 1u);
    EXPECT_EQ(h.games_run[0], "/l/Quillmarsh");
    h.app.procs.run_game = [](std::string_view, std::string_view) { return false; };
    h.click("Run");
    ASSERT_EQ(h.started.size(), 1u);
    EXPECT_EQ(h.started[0].name, "Run");
    EXPECT_EQ(h.started[0].proc, &task_run_failed);
}

TEST(HomePage, BuildToRunStartsTheGameOnlyOnHomeWithNoTask) {
    Ui_Harness h;
    h.world.built_exe = "/l/Quillmarsh";
    h.world.outdated = true;
    h.frame();
    h.click("Build to Run");
    ASSERT_EQ(h.started.size(), 1u);
    EXPECT_EQ(h.started[0].proc, &task_build_and_run);

    // The build succeeded: the task sets the flag; the options are now those built.
    play_after_build_flag().store(1);
    h.world.outdated = false;
    h.world.task_running = true;
    h.frame();
    EXPECT_TRUE(h.games_run.empty()) << "a task still runs";
    h.world.task_running = false;
    h.app.shared.current_page = Page::Game_Options;
    h.frame();
    h.frame();
    EXPECT_TRUE(h.games_run.empty()) << "Home is not shown";
    h.app.shared.current_page = Page::Home;
    h.frame();
    ASSERT_EQ(h.games_run.size(), 1u);
    EXPECT_EQ(play_after_build_flag().load(), 0);
    h.frame();
    EXPECT_EQ(h.games_run.size(), 1u);
}

TEST(UiFrame, GameEndingReadsItsOptionsBackOnEveryPage) {
    Ui_Harness h;
    h.app.shared.current_page = Page::Input_Map;
    h.world.game_running = true;
    h.frame();
    h.frame();
    EXPECT_EQ(h.imports, 0);
    h.world.game_running = false;
    h.frame();
    EXPECT_EQ(h.imports, 1);
    h.frame();
    EXPECT_EQ(h.imports, 1);
}

// A button that opens a dialog under the pointer: the dialog's button that
// lies under the same pointer must not take that click.
TEST(UiDialogs, TheOpeningClickDoesNotReachTheDialog) {
    Ui_Harness h(300, 300);
    h.world.built_exe = "/l/Quillmarsh";
    h.world.stale = true;
    h.app.shared.updated_dialog = 1;
    h.frame();
    const Trace_Item* inner = h.find("Clear Cache and Build");
    ASSERT_NE(inner, nullptr);
    Ui_Rect dialog_button = inner->rect;
    h.app.shared.updated_dialog = 0;
    h.frame();
    const Trace_Item* outer = h.find("Rebuild to Run");
    ASSERT_NE(outer, nullptr);
    Ui_Rect page_button = outer->rect;
    // A point inside both.
    int64_t x0 = std::max(dialog_button.x, page_button.x), x1 = std::min(dialog_button.x + dialog_button.w, page_button.x + page_button.w);
    int64_t y0 = std::max(dialog_button.y, page_button.y), y1 = std::min(dialog_button.y + dialog_button.h, page_button.y + page_button.h);
    ASSERT_LT(x0, x1);
    ASSERT_LT(y0, y1);
    h.click_at((x0 + x1) / 2, (y0 + y1) / 2);
    EXPECT_EQ(h.app.shared.updated_dialog, 1) << "the dialog opened and stays open";
    EXPECT_TRUE(h.started.empty()) << "the dialog's button took the opening click";
    // A later click on it works.
    h.click_at((x0 + x1) / 2, (y0 + y1) / 2);
    EXPECT_EQ(h.app.shared.updated_dialog, 0);
    ASSERT_EQ(h.started.size(), 1u);
    EXPECT_EQ(h.started[0].name, "Clear Cache and Build");
}

TEST(UiDialogs, OnlyTheTopmostDialogTakesInput) {
    Ui_Harness h;
    h.app.shared.updated_dialog = 1;
    h.world.deps_checked = false;
    h.world.compilers.clear();
    h.frame();
    const Trace_Item* later = h.find("Later");
    ASSERT_NE(later, nullptr);
    Ui_Rect r = later->rect;
    h.world.deps_checked = true;   // no compiler: its dialog opens over it
    h.frame();
    ASSERT_EQ(dialogs_showing(h.app.shared), uint32_t(dialog_updated | dialog_compiler));
    h.click_at(r.x + r.w / 2, r.y + r.h / 2);
    EXPECT_EQ(h.app.shared.updated_dialog, 1);
    h.click("Close");
    EXPECT_EQ(h.app.shared.compiler_probe, 2);
    h.click("Later");
    EXPECT_EQ(h.app.shared.updated_dialog, 0);
}

TEST(UiFrame, ChoiceAndDragEndWithTheFrameWhenTheirWidgetIsGone) {
    Ui_Harness h;
    h.frame();
    // A popup whose drop-down is not drawn (its page went away): the chosen
    // row must not wait for a drop-down of that id in a later frame.
    h.app.ui.popup_id = "gone";
    h.app.ui.popup_labels = {"a", "b"};
    h.app.ui.popup_enabled = {1, 1};
    h.app.ui.popup_anchor = {100, 100, 200, 32};
    Popup_Place p = popup_rect(h.app.ui);
    h.click_at(p.rect.x + 20, p.rect.y + px(h.app.ui, 4) + p.row_height + 5);
    EXPECT_TRUE(h.app.ui.popup_id.empty());
    EXPECT_TRUE(h.app.ui.result_id.empty());
    // A slider dragged, then not drawn while the button goes up.
    h.app.ui.active_id = "volume";
    h.frame();
    EXPECT_TRUE(h.app.ui.active_id.empty());
}

TEST(UiFrame, WheelStepsKeepThePartOfAStepBetweenFrames) {
    // Each frame's wheel movement in notches; one notch is three steps.
    struct Case {
        const char* what;
        std::vector<float> notches;
        int64_t steps;   // all frames together
    } cases[] = {
        {"whole notches", {1, -1, 2}, 6},
        {"a precision touchpad's quarter notches", {0.25f, 0.25f, 0.25f, 0.25f}, 3},
        {"a fifth of a notch alone", {0.2f}, 0},
        {"a smooth wheel's thirds downwards", {-1.0f / 3, -1.0f / 3, -1.0f / 3, -1.0f / 3}, -4},
        {"forth and back", {0.25f, -0.25f, 0.25f, -0.25f}, 0},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        int64_t total = 0;
        for (float n : c.notches) {
            h.input.wheel_y = n;
            h.frame();
            total += h.app.shared.wheel_step;
        }
        EXPECT_EQ(total, c.steps) << c.what;
    }
}

TEST(UiFrame, TooltipShowsAfterItsDelay) {
    Ui_Harness h;
    h.frame();
    const Trace_Item* build = h.find("Build");
    h.move(build->rect.x + 3, build->rect.y + 3);
    h.frame();
    EXPECT_EQ(h.app.ui.tooltip_id, "build");
    size_t plain = h.renderer.draw_list.commands.size() + h.renderer.draw_list.vertices.size();
    h.frame(400'000'000);
    EXPECT_EQ(h.renderer.draw_list.vertices.size() + h.renderer.draw_list.commands.size(), plain);
    h.frame(100'000'000);
    EXPECT_GT(h.renderer.draw_list.vertices.size() + h.renderer.draw_list.commands.size(), plain);
    h.move(5, 700);
    h.frame();
    EXPECT_TRUE(h.app.ui.tooltip_id.empty());
}

TEST(HomePage, CancelEndsARealChildAndTheLogSaysCancelled) {
    Ui_Harness h;
    h.app.procs = ui_real_procs();
    h.app.procs.game_running = [] { return false; };
    h.app.procs.deps_checked = [] { return false; };
    static std::string child;
    child = path_join({path_dir(exe_path()), "..", "core", QM_TEST_CHILD});
    ASSERT_TRUE(task_start("Sleeper", [](Task& t) {
        int64_t code = 0;
        child_run(t, {child, "print", "started", "sleep", "600000"}, "", Output_Mode::Log, nullptr, nullptr, 0, &code);
    }, 0));
    poll_until([] {
        std::lock_guard<Slim_Lock> g(the_task().lock);
        return !the_task().log.empty();
    });
    h.frame();
    h.click("Cancel");
    poll_until([] { return !the_task().running.load(); });
    ASSERT_EQ(the_task().running.load(), 0);
    Task_View v = task_view(the_task());
    ASSERT_FALSE(v.log.empty());
    EXPECT_EQ(v.log.back(), "Cancelled.");
    EXPECT_TRUE(v.failed);
    h.frame();
    EXPECT_EQ(h.find("Cancel"), nullptr);
    thread_join(the_task().thread);
}

}  // namespace

namespace {

// A Home frame painted by the in-memory backend: the picture is written
// under the build folder and read at known places.
TEST(UiPicture, HomeFrameWhileATaskRuns) {
    Ui_Harness h;
    h.world.task_running = true;
    h.world.built_exe = "/games/launcher/Quillmarsh";
    h.move(600, 150);
    h.frame();
    ren_render(h.renderer.backend, h.renderer.draw_list);
    Fake_State& s = fake_state(h.renderer.backend);
    ASSERT_EQ(s.frame_width, 1080);
    ASSERT_EQ(s.frame_height, 760);
    std::string path = screenshot_path("ui_home_frame.png");
    ASSERT_TRUE(write_png(path, 1080, 760, 4, s.frame.data()));
    Png_Image back = png_read(path);   // the screenshot tests' reader, against the writer
    EXPECT_EQ(back.width, 1080);
    EXPECT_TRUE(back.rgba == s.frame);
    auto rgb = [&](int64_t x, int64_t y) {
        const uint8_t* p = &s.frame[(size_t(y) * 1080 + size_t(x)) * 4];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    const Trace_Item* home = h.find("Home", Widget_Kind::Tab);
    EXPECT_EQ(rgb(home->rect.x + home->rect.w / 2, home->rect.y + home->rect.h - 5), 0x005FB8u) << "accent bar";
    EXPECT_EQ(rgb(8, 400), 0xF3F3F3u) << "page background";
    const Trace_Item* build = h.find("Build");
    EXPECT_EQ(rgb(build->rect.x + 4, build->rect.y + build->rect.h / 2), 0xC7C7C7u) << "Build disabled";
    const Trace_Item* clear = h.find("Clear Cache");
    EXPECT_EQ(rgb(clear->rect.x + 4, clear->rect.y + clear->rect.h / 2), 0xF5F5F5u) << "Clear Cache disabled";
    const Trace_Item* cancel = h.find("Cancel");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(rgb(cancel->rect.x + 4, cancel->rect.y + cancel->rect.h / 2), 0xFDFDFDu) << "Cancel enabled";
}

// Every button, tab, link and tooltip the pages and dialogs draw is a text
// of the catalogue, so each language shows it translated; a formatted text
// counts when some catalogue text with its values filled in gives it.
TEST(UiFrame, EveryTextDrawnIsInTheCatalogue) {
    Temp_Dir dir;
    i18n_init(dir.path);
    Catalog& c = the_catalog();
    std::vector<std::regex> formats;
    for (const auto& k : c.keys) {
        std::string_view t = k.text;
        if (t.find('%') == std::string_view::npos) continue;
        std::string re;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '%' && i + 1 < t.size() && t[i + 1] == '%') {
                re += '%';
                ++i;
            } else if (t[i] == '%') {
                size_t j = i + 1;
                while (j < t.size() && std::string_view("-0123456789.").find(t[j]) != std::string_view::npos) ++j;
                re += "(.*)";
                i = j;
            } else if (std::string_view("\\^$.|?*+()[]{}").find(t[i]) != std::string_view::npos) {
                re += '\\';
                re += t[i];
            } else {
                re += t[i];
            }
        }
        formats.emplace_back(re);
    }
    auto in_catalogue = [&](const std::string& text) {
        if (text_find(c, text, text_hash(text)) >= 0) return true;
        for (const std::regex& f : formats)
            if (std::regex_match(text, f)) return true;
        return false;
    };
    struct Case {
        const char* what;
        Page page;
        void (*open)(App&);
    };
    const Case cases[] = {
        {"Home", Page::Home, nullptr},
        {"Cross-Compile", Page::Cross_Compile, nullptr},
        {"Game Options", Page::Game_Options, nullptr},
        {"Build Options", Page::Build_Options, nullptr},
        {"Features & Mods", Page::Features, nullptr},
        {"Input Map", Page::Input_Map, nullptr},
        {"the update dialog", Page::Home, [](App& a) { a.shared.updated_dialog = 1; }},
        {"the movies dialog", Page::Home, [](App& a) { a.shared.movies_dialog = 1; }},
        {"the old-assets dialog", Page::Features, [](App& a) { a.shared.assets_dialog = 1; }},
        {"the uninstall dialog", Page::Features, [](App& a) { a.shared.uninstall_dialog = 1; }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Ui_Harness h(1080, 4000);
        h.app.shared.current_page = k.page;
        if (k.open) k.open(h.app);
        h.frame();
        h.frame();
        for (const Trace_Item& t : h.app.ui.trace) {
            bool text = t.kind == Widget_Kind::Button || t.kind == Widget_Kind::Tab || t.kind == Widget_Kind::Link ||
                        t.kind == Widget_Kind::Tooltip;
            if (!text || t.label.empty()) continue;
            EXPECT_TRUE(in_catalogue(t.label)) << t.label;
        }
    }
    language_set(0);
}

}  // namespace
