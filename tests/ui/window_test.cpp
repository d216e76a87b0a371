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
#include <string_view>
#include <vector>

#include "engine/kt_render/vulkan/vulkan_backend.h"
#include "engine/kt_system/child.h"
#include "engine/kt_system/dynlib.h"
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

std::string launcher_path() {
    return path_join({path_dir(exe_path()), "..", "..", "launcher", QM_LAUNCHER});
}

// The launcher's surroundings for a run in `tmp`: its own data folder and
// home, and a stand-in FFmpeg first on the PATH that holds the first check
// running; the window closes after `frames` frames and writes its last one
// to `shot`.
void window_run_setup(const Temp_Dir& tmp, const std::string& shot, int frames) {
    const std::string bin = path_join({tmp.path, "bin"});
    ASSERT_TRUE(fs_make_dirs(bin));
    ASSERT_TRUE(fs_copy_file(path_join({path_dir(exe_path()), "..", "core", QM_TEST_CHILD}),
                             path_join({bin, on_windows ? "ffmpeg.exe" : "ffmpeg"})));
    fs_make_dirs(path_dir(shot));
    fs_remove_file(shot);
    static const std::string first_path = env_get("PATH");
    env_set("LOCALAPPDATA", path_join({tmp.path, "appdata"}));
    env_set("HOME", tmp.path);
    env_set("PATH", bin + path_separator + first_path);
    // The stand-in holds for longer than any run of the window (the window
    // ends the check, and it, when it closes): however slowly the frames
    // come, the check still runs at the last one.
    env_set("QM_TEST_CHILD_HOLD_MS", "3600000");
    env_set("QM_EXIT_AFTER_FRAMES", std::to_string(frames));
    env_set("QM_SCREENSHOT", shot);
}

void skip_without_vulkan() {
    Probe_Result probe = vulkan_probe();
    if (!probe.available) {
        std::printf("skipped: no Vulkan device (%s)\n", probe.text.c_str());
        std::fflush(stdout);
        std::_Exit(77);
    }
}

TEST(LauncherWindow, WithoutAVulkanDriverThePlayerIsToldAndTheExitCodeIsOne) {
#ifdef _WIN32
    GTEST_SKIP() << "under wine the host's loader reads the Unix environment, which this process cannot change";
#endif
    Temp_Dir tmp;
    const std::string box_log = path_join({tmp.path, "message_box.txt"});
    window_run_setup(tmp, path_join({tmp.path, "shot.png"}), 40);
    const std::string icd = env_get("VK_ICD_FILENAMES");
    env_set("VK_ICD_FILENAMES", path_join({tmp.path, "no_driver.json"}));
    env_set("QM_MESSAGE_BOX_LOG", box_log);
    Program_Run run = run_program({launcher_path()}, 120'000);
    env_set("VK_ICD_FILENAMES", icd, icd.empty());
    env_set("QM_MESSAGE_BOX_LOG", "", true);
    ASSERT_TRUE(run.started) << run.out;
    ASSERT_TRUE(run.ended) << run.out;
    EXPECT_EQ(run.code, 1u) << run.out;
    const std::string start = "Quillmarsh cannot draw its window (";
    const std::string advice =
        "): update the graphics driver, or use the command-line modes (such as --check and --build), which still "
        "work.";
    EXPECT_NE(run.out.find(start), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(advice), std::string::npos) << run.out;
    // The same sentence in the message box, with the program's name as
    // its title.
    std::string box;
    ASSERT_TRUE(fs_read(box_log, box)) << "no message box was shown\n" << run.out;
    ASSERT_TRUE(box.starts_with("Quillmarsh\n" + start)) << box;
    EXPECT_NE(run.out.find(box.substr(std::string("Quillmarsh\n").size())), std::string::npos)
        << "stderr and the box differ:\n" << run.out << "\n" << box;
}

TEST(LauncherWindow, OpensDrawsWhileCheckingAndClosesAfterTheFrames) {
    skip_without_vulkan();
    Temp_Dir tmp;
    const std::string launcher = launcher_path();
    const std::string shot =
        path_join({build_dir(), "screenshots", on_windows ? "launcher_window_windows.png" : "launcher_window_linux.png"});
    window_run_setup(tmp, shot, 40);
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

namespace {

#ifndef _WIN32
// Sets the X server's resources (the root window's RESOURCE_MANAGER) for
// programs started from now on. The connection stays open to the end of
// the test program: an X server left without clients starts over, and its
// resources are gone.
bool set_x_resources(const std::string& text) {
    using Open = void* (*)(const char*);
    using Root = unsigned long (*)(void*);
    using Atom_Of = unsigned long (*)(void*, const char*, int);
    using Change = int (*)(void*, unsigned long, unsigned long, unsigned long, int, int, const unsigned char*, int);
    using Sync = int (*)(void*, int);
    static Dyn_Lib x11 = lib_open("libX11.so.6");
    auto open = reinterpret_cast<Open>(lib_symbol(x11, "XOpenDisplay"));
    auto root = reinterpret_cast<Root>(lib_symbol(x11, "XDefaultRootWindow"));
    auto atom = reinterpret_cast<Atom_Of>(lib_symbol(x11, "XInternAtom"));
    auto change = reinterpret_cast<Change>(lib_symbol(x11, "XChangeProperty"));
    auto sync = reinterpret_cast<Sync>(lib_symbol(x11, "XSync"));
    if (!open || !root || !atom || !change || !sync) return false;
    static void* display = open(nullptr);
    if (!display) return false;
    const unsigned long string_type = 31;   // XA_STRING
    change(display, root(display), atom(display, "RESOURCE_MANAGER", 0), string_type, 8, 0 /* replace */,
           reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    sync(display, 0);
    return true;
}
#endif

// The display's scale for programs started from now on: the prefix's
// LogPixels under Windows (wine), the X server's Xft.dpi on Linux.
bool set_display_dpi(int dpi) {
#ifdef _WIN32
    Program_Run r = run_program({"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                                 "/d", std::to_string(dpi), "/f"},
                                60'000);
    return r.ended && r.code == 0;
#else
    return set_x_resources("Xft.dpi:\t" + std::to_string(dpi) + "\n");
#endif
}

// Where the Home page puts things while a task runs, drawn at `scale` in
// a window of `width` x `height`.
struct Scaled_Home {
    Ui_Rect home_tab, language, cancel;
    std::vector<Ui_Rect> tabs;
    int64_t cancel_width = 0;   // the Cancel button's own width at the scale
};

Scaled_Home scaled_home(float scale, int width, int height) {
    Ui_Fonts fonts;
    Ui_Font_Names names = add_startup_fonts(ui_kit().lib, "");
    ui_fonts_load(fonts, ui_kit().lib, ui_kit().renderer, names, scale, cjk_order_default);
    Scaled_Home at;
    {
        Ui_Harness h(width, height);
        h.app.ui.scale = scale;
        h.app.ui.font = fonts.regular;
        h.app.ui.small_font = fonts.small;
        h.app.ui.bold_font = fonts.bold;
        h.app.ui.title_font = fonts.heading;
        h.world.task_running = true;
        h.world.game.ok = false;
        h.world.game.checked = false;
        h.frame();
        h.frame();
        if (const Trace_Item* t = h.find("Home", Widget_Kind::Tab)) at.home_tab = t->rect;
        if (const Trace_Item* t = h.find_id("language", Widget_Kind::Dropdown)) at.language = t->rect;
        if (const Trace_Item* t = h.find("Cancel")) at.cancel = t->rect;
        for (std::string_view label : page_labels) {
            if (const Trace_Item* t = h.find(label, Widget_Kind::Tab)) at.tabs.push_back(t->rect);
        }
        at.cancel_width = px(h.app.ui, 150);
    }
    ui_fonts_destroy(fonts);
    renderer_resize(ui_kit().renderer, 1080, 760);
    return at;
}

TEST(LauncherWindow, TheWindowAndItsPageFollowTheDisplayScale) {
    skip_without_vulkan();
    struct Case {
        int dpi;
        float scale;
        int width, height;   // the client area: 1080 x 760 at the scale
    } cases[] = {
        {96, 1.0f, 1080, 760},
        {120, 1.25f, 1350, 950},
        {144, 1.5f, 1620, 1140},
        {192, 2.0f, 2160, 1520},
    };
    env_set("QM_PAGE_SHOTS", "", true);
    // The display goes back to 96 DPI however the test ends (under wine the
    // prefix outlives the test).
    struct Back_To_96 {
        ~Back_To_96() { set_display_dpi(96); }
    } back_to_96;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi");
        Temp_Dir tmp;
        const std::string shot = path_join({build_dir(), "screenshots",
                                            std::string("launcher_window_") + std::to_string(c.dpi) + "dpi_" +
                                                (on_windows ? "windows" : "linux") + ".png"});
        window_run_setup(tmp, shot, 20);
        ASSERT_TRUE(set_display_dpi(c.dpi));
        Program_Run run = run_program({launcher_path()}, 180'000);
        ASSERT_TRUE(run.started) << run.out;
        ASSERT_TRUE(run.ended) << "the window did not close after its frames\n" << run.out;
        EXPECT_EQ(run.code, 0u) << run.out;

        Png_Image png = png_read(shot);
        ASSERT_EQ(png.width, c.width) << "no screenshot at " << shot << "\n" << run.out;
        ASSERT_EQ(png.height, c.height);
        const Scaled_Home at = scaled_home(c.scale, c.width, c.height);
        ASSERT_GT(at.home_tab.w, 0);
        ASSERT_GT(at.language.w, 0);
        for (const Ui_Rect& t : at.tabs) {
            EXPECT_LE(t.x + t.w, at.language.x) << "a tab runs under the language choice";
        }
        EXPECT_EQ(at.cancel.w, at.cancel_width) << "Cancel is cut while a task runs";

        // The accent bar under Home, three units high, six above the tab's
        // bottom; Cancel's enabled face.
        const int64_t bar_y = at.home_tab.y + at.home_tab.h - int64_t(6 * c.scale) + int64_t(3 * c.scale) / 2;
        EXPECT_EQ(hex(png.rgb(int(at.home_tab.x + at.home_tab.w / 2), int(bar_y))), hex(0x005FB8));
        EXPECT_EQ(hex(png.rgb(int(at.cancel.x + 4 * c.scale), int(at.cancel.y + at.cancel.h / 2))), hex(0xFDFDFD))
            << "Cancel at " << at.cancel.x << "," << at.cancel.y;
    }
}

}  // namespace
