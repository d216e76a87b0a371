// The launcher's own window: quillmarsh-launcher started without an option
// under an X server of its own (the Windows build under wine), drawing with
// Vulkan on lavapipe with the validation layer, closing by itself after a
// number of frames and leaving its last frame as a PNG screenshot. The
// "Checking" task is held running by a stand-in FFmpeg that never answers,
// so the screenshot shows the window while a task runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/child.h"
#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "tests/support/png_read.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

#ifdef _WIN32
constexpr bool on_windows = true;
constexpr char path_separator = ';';
#else
constexpr bool on_windows = false;
constexpr char path_separator = ':';
#endif

std::string build_dir() {
    std::string dir = env_get("QM_BINARY_DIR");
    return dir.empty() ? path_join({path_dir(exe_path()), "..", ".."}) : dir;
}

// Where the interface puts things in a 1080 x 760 window at scale 1, from
// a windowless frame of the same page with a task running.
struct Home_Places {
    Ui_Rect home_tab, build, clear_cache, cancel;
};

Home_Places home_places() {
    Ui_Harness h;
    h.world.task_running = true;
    h.world.game.ok = false;
    h.world.game.checked = false;
    h.frame();
    Home_Places at;
    if (const Trace_Item* t = h.find("Home", Widget_Kind::Tab)) at.home_tab = t->rect;
    if (const Trace_Item* t = h.find("Build")) at.build = t->rect;
    if (const Trace_Item* t = h.find("Clear Cache")) at.clear_cache = t->rect;
    if (const Trace_Item* t = h.find("Cancel")) at.cancel = t->rect;
    return at;
}

// The noise background: cool greys, blue above red.
bool background_colour(uint32_t rgb) {
    int r = int(rgb >> 16), g = int(rgb >> 8 & 0xFF), b = int(rgb & 0xFF);
    return r >= 140 && r <= 230 && g >= 170 && b >= 200 && b - r >= 15;
}

std::string hex(uint32_t rgb) {
    char s[16];
    std::snprintf(s, sizeof s, "#%06X", rgb);
    return s;
}

// One page in one language as the windowless frame draws it while the
// first check runs: the selected tab and the first drop-down of the page
// (Home has none: its Browse… button; the compiler list of Build Options
// depends on the computer and is passed over).
struct Page_Places {
    Ui_Rect tab, widget;
    bool widget_enabled = false;
};

Page_Places page_places(Page page, int lang) {
    language_set(lang);
    Ui_Harness h;
    h.world.task_running = true;
    h.world.game.ok = false;
    h.world.game.checked = false;
    h.app.shared.current_page = page;
    h.frame();
    h.frame();
    Page_Places at;
    if (const Trace_Item* t = h.find(page_labels[int(page)], Widget_Kind::Tab)) at.tab = t->rect;
    const int64_t content_top = at.tab.y + at.tab.h;
    for (const Trace_Item& t : h.app.ui.trace) {
        bool wanted = page == Page::Home ? t.kind == Widget_Kind::Button && t.label == "Browse…"
                                         : t.kind == Widget_Kind::Dropdown && t.id != "language" &&
                                               t.id != "compiler";   // a list only where compilers were found
        if (wanted && t.rect.y > content_top) {
            at.widget = t.rect;
            at.widget_enabled = t.enabled;
            break;
        }
    }
    language_set(0);
    return at;
}

// Pages and languages of the captures, as the launcher names the files.
constexpr const char* shot_languages[] = {"en", "ja", "de"};
constexpr const char* shot_pages[page_count] = {"home",          "cross_compile", "game_options",
                                                "build_options", "features",      "input_map"};

TEST(LauncherWindow, OpensDrawsWhileCheckingAndClosesAfterTheFrames) {
    Probe_Result probe = vulkan_probe();
    if (!probe.available) {
        std::printf("skipped: no Vulkan device (%s)\n", probe.text.c_str());
        std::fflush(stdout);
        std::_Exit(77);
    }
    Temp_Dir tmp;
    const std::string here = path_dir(exe_path());
    const std::string launcher = path_join({here, "..", "..", "launcher", QM_LAUNCHER});
    const std::string bin = path_join({tmp.path, "bin"});
    ASSERT_TRUE(fs_make_dirs(bin));
    ASSERT_TRUE(fs_copy_file(path_join({here, "..", "core", QM_TEST_CHILD}),
                             path_join({bin, on_windows ? "ffmpeg.exe" : "ffmpeg"})));
    const std::string shot =
        path_join({build_dir(), "screenshots", on_windows ? "launcher_window_windows.png" : "launcher_window_linux.png"});
    fs_make_dirs(path_dir(shot));
    fs_remove_file(shot);

    env_set("LOCALAPPDATA", path_join({tmp.path, "appdata"}));
    env_set("HOME", tmp.path);
    env_set("PATH", bin + path_separator + env_get("PATH"));
    // The stand-in holds for longer than any run of the window (the window
    // ends the check, and it, when it closes): however slowly the frames
    // come, the check still runs at the last one.
    env_set("QM_TEST_CHILD_HOLD_MS", "3600000");
    env_set("QM_EXIT_AFTER_FRAMES", "40");
    env_set("QM_SCREENSHOT", shot);
    const std::string shots = path_join({build_dir(), "screenshots"});
    for (const char* l : shot_languages) {
        for (const char* p : shot_pages) fs_remove_file(path_join({shots, std::string("ui_") + p + "_" + l + ".png"}));
    }
    env_set("QM_PAGE_SHOTS", shots);
    Program_Run run = run_program({launcher}, 1'200'000);   // a guard against a hang, not a time budget
    ASSERT_TRUE(run.started) << run.out;
    ASSERT_TRUE(run.ended) << "the window did not close after its frames\n" << run.out;
    EXPECT_EQ(run.code, 0u) << run.out;
    EXPECT_EQ(run.out.find("validation"), std::string::npos) << run.out;

    Png_Image png = png_read(shot);
    ASSERT_EQ(png.width, 1080) << "no screenshot at " << shot << "\n" << run.out;
    ASSERT_EQ(png.height, 760);
    const Home_Places at = home_places();
    const Ui_Rect& tab = at.home_tab;
    ASSERT_GT(tab.w, 0);
    ASSERT_GT(at.clear_cache.w, 0);
    ASSERT_GT(at.build.w, 0);
    ASSERT_GT(at.cancel.w, 0) << "no Cancel button while a task runs";

    struct Probe {
        const char* what;
        int64_t x, y;
        uint32_t rgb;   // 0: the noise background
    } probes[] = {
        {"accent bar under the selected tab", tab.x + tab.w / 2, tab.y + tab.h - 5, 0x005FB8},
        {"page background, left margin", 8, 400, 0},
        {"page background, below the tabs", 540, tab.y + tab.h + 6, 0},
        {"Clear Cache, disabled while a task runs", at.clear_cache.x + 4, at.clear_cache.y + at.clear_cache.h / 2,
         0xF5F5F5},
        {"Build, disabled", at.build.x + 4, at.build.y + at.build.h / 2, 0xC7C7C7},
        {"Cancel, enabled", at.cancel.x + 4, at.cancel.y + at.cancel.h / 2, 0xFDFDFD},
    };
    for (const Probe& p : probes) {
        uint32_t got = png.rgb(int(p.x), int(p.y));
        if (p.rgb == 0) {
            EXPECT_TRUE(background_colour(got)) << p.what << ": " << hex(got);
        } else {
            EXPECT_EQ(hex(got), hex(p.rgb)) << p.what << " at " << p.x << "," << p.y;
        }
    }

    // Every page in English, Japanese and German: the background, the
    // accent bar under that page's tab (fonts of the system may move it a
    // little: it is looked for along the tab row) and a widget of the page.
    i18n_init("");
    for (int l = 0; l < int(std::size(shot_languages)); ++l) {
        const int lang = language_index(shot_languages[l]);
        ASSERT_GE(lang, 0);
        for (int p = 0; p < page_count; ++p) {
            const std::string name = std::string("ui_") + shot_pages[p] + "_" + shot_languages[l] + ".png";
            Png_Image page_png = png_read(path_join({shots, name}));
            ASSERT_EQ(page_png.width, 1080) << "no screenshot " << name << "\n" << run.out;
            ASSERT_EQ(page_png.height, 760) << name;
            const Page_Places place = page_places(Page(p), lang);
            ASSERT_GT(place.tab.w, 0) << name;
            ASSERT_GT(place.widget.w, 0) << name;
            EXPECT_TRUE(background_colour(page_png.rgb(8, 400))) << name << ": " << hex(page_png.rgb(8, 400));
            const int bar_y = int(place.tab.y + place.tab.h - 5);
            int64_t bar_left = -1, bar_right = -1;
            for (int x = 0; x < page_png.width; ++x) {
                if (page_png.rgb(x, bar_y) != 0x005FB8) continue;
                if (bar_left < 0) bar_left = x;
                bar_right = x;
            }
            ASSERT_GE(bar_left, 0) << name << ": no accent bar under a tab";
            const int64_t bar_centre = (bar_left + bar_right) / 2;
            EXPECT_TRUE(bar_centre >= place.tab.x && bar_centre < place.tab.x + place.tab.w)
                << name << ": the accent bar at " << bar_left << ".." << bar_right << " is not under the tab at "
                << place.tab.x << " (" << place.tab.w << " wide)";
            EXPECT_EQ(hex(page_png.rgb(int(place.widget.x + 4), int(place.widget.y + place.widget.h / 2))),
                      hex(place.widget_enabled ? 0xFDFDFD : 0xF5F5F5))
                << name << ": the page's first widget at " << place.widget.x << "," << place.widget.y;
        }
    }
}

}  // namespace
