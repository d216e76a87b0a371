// The modal dialogs, the pickers and the in-window folder browser through
// whole frames.
#include <gtest/gtest.h>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/settings.h"
#include "launcher/ui/dialogs.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

void touch(const std::string& path) { ASSERT_TRUE(fs_write_atomic(path, "x")); }

TEST(Dialogs, OrderAndExclusion) {
    struct Case {
        int64_t updated;
        uint8_t movies, assets;
        int64_t uninstall;
        int64_t probe;
        uint8_t browser;
        uint32_t showing;
    };
    const Case cases[] = {
        {1, 0, 0, 0, 2, 0, dialog_updated},
        {1, 1, 0, 0, 2, 0, dialog_movies},                       // movies hides the updated one
        {1, 0, 1, 0, 2, 0, dialog_updated | dialog_assets},
        {0, 1, 1, 1, 2, 0, dialog_movies},                       // movies hides assets and uninstall
        {0, 0, 1, 1, 2, 0, dialog_assets},                       // assets hides uninstall
        {0, 0, 0, 1, 2, 0, dialog_uninstall},
        {-1, 0, 0, 0, 1, 1, dialog_compiler | dialog_browser},
        {1, 1, 1, 1, 1, 1, dialog_movies | dialog_compiler | dialog_browser},
    };
    for (const Case& c : cases) {
        Ui_Shared s;
        s.updated_dialog = c.updated;
        s.movies_dialog = c.movies;
        s.assets_dialog = c.assets;
        s.uninstall_dialog = uint8_t(c.uninstall);
        s.compiler_probe = c.probe;
        s.browser_open = c.browser;
        EXPECT_EQ(dialogs_showing(s), c.showing);
        EXPECT_EQ(ui_modal(s), c.showing != 0 || c.assets || c.uninstall);
    }
}

TEST(Dialogs, UpdatedShowsAgainOnceTheMoviesDialogCloses) {
    Ui_Harness h;
    h.app.shared.updated_dialog = 1;
    h.app.shared.movies_dialog = 1;
    h.frame();
    ASSERT_NE(h.find("Keep them"), nullptr);
    EXPECT_EQ(h.find("Later"), nullptr);
    h.click("Keep them");
    h.frame();
    EXPECT_NE(h.find("Later"), nullptr);
}

TEST(Dialogs, BodiesCountGigabytesOfTenToTheNine) {
    Game_State g;
    g.discardable = 3;
    g.discard_bytes = 1'500'000'000;   // 1.5 GB; 1.4 as GiB
    std::string movies = movies_dialog_body(g);
    EXPECT_NE(movies.find("3 Bink movies"), std::string::npos) << movies;
    EXPECT_NE(movies.find("freeing 1.5 GB."), std::string::npos) << movies;
    EXPECT_EQ(movies.find("kept whole"), std::string::npos) << "no second sentence without kept movies";
    g.kept = 2;
    EXPECT_NE(movies_dialog_body(g).find("Steam. 2 movies without an MP4 are kept whole."), std::string::npos);

    std::string with_zip = assets_dialog_body(4, 2'000'000'000, "/dl/EF SAGA HD.zip", 1'250'000'000);
    EXPECT_NE(with_zip.find("4 of the game's original archives that the HD Project's copies replace are deleted, "
                            "and the mod's ZIP (EF SAGA HD.zip), freeing 3.2 GB."),
              std::string::npos)
        << with_zip;
    std::string without = assets_dialog_body(4, 2'000'000'000, "", 0);
    EXPECT_NE(without.find("are deleted, freeing 2.0 GB."), std::string::npos) << without;

    struct Case {
        bool gui, discarded;
        const char* tail;
    };
    const Case cases[] = {
        {false, false, "The mod's ZIP itself is not touched."},
        {true, false, "not touched. The HD Fonts & GUI textures stay."},
        {false, true, "not touched. The game's original archives were discarded"},
        {true, true, "textures stay. The game's original archives were discarded"},
    };
    for (const Case& c : cases) {
        std::string u = uninstall_dialog_body(2'500'000'000, c.gui, c.discarded);
        EXPECT_NE(u.find("deleted (2.5 GB)"), std::string::npos) << u;
        EXPECT_NE(u.find(c.tail), std::string::npos) << u;
    }
}

// Sizes follow the language's decimal sign; the translation's own unit stays.
TEST(Dialogs, SizesUseTheLanguagesDecimalSign) {
    i18n_init("");
    struct Case {
        const char* code;
        const char* size;
    };
    const Case cases[] = {{"en", "(2.5 GB)"}, {"de", "(2,5 GB)"}, {"fr", "(2,5 Go)"}, {"ru", "(2,5 ГБ)"},
                          {"pt-BR", "(2,5 GB)"}, {"ja", "（2.5 GB）"}, {"ko", "(2.5 GB)"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(language_set(language_index(c.code))) << c.code;
        std::string u = uninstall_dialog_body(2'500'000'000, false, false);
        EXPECT_NE(u.find(c.size), std::string::npos) << c.code << ": " << u;
        EXPECT_EQ(u.find("%"), std::string::npos) << u;
    }
    language_set(0);
}

// While the worker still measures, the body says so and Uninstall waits.
TEST(Dialogs, UninstallWaitsForItsSize) {
    i18n_init("");
    for (const char* code : {"en", "de", "ja"}) {
        ASSERT_TRUE(language_set(language_index(code)));
        std::string u = uninstall_dialog_body(-1, false, false);
        EXPECT_NE(u.find(shown("measuring…")), std::string::npos) << u;
        EXPECT_EQ(u.find("GB"), std::string::npos) << u;
        EXPECT_EQ(u.find("%"), std::string::npos) << u;
    }
    language_set(0);
    for (int64_t bytes : {int64_t(-1), int64_t(7'000'000'000)}) {
        Ui_Harness h;
        h.app.tasks.uninstall_hd = [](Task&) {};
        h.app.shared.uninstall_dialog = 1;
        h.app.shared.uninstall_bytes = bytes;
        h.frame();
        h.frame();
        const Trace_Item* b = h.find("Uninstall");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->enabled, bytes >= 0) << bytes;
    }
}

TEST(Dialogs, ConfirmationButtonsStartTheirTasks) {
    struct Case {
        const char* what;
        void (*open)(Ui_Shared&);
        const char* confirm;
        const char* task;
        bool closed_after_keep;
    };
    static void (*const open_assets)(Ui_Shared&) = [](Ui_Shared& s) { s.assets_dialog = 1; };
    static void (*const open_uninstall)(Ui_Shared&) = [](Ui_Shared& s) {
        s.uninstall_dialog = 1;
        s.uninstall_bytes = 10;
    };
    const Case cases[] = {
        {"assets", open_assets, "Discard", "Discard Old Assets", true},
        {"uninstall", open_uninstall, "Uninstall", "Uninstall HD Project", true},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        h.app.tasks.discard_assets = [](Task&) {};
        h.app.tasks.uninstall_hd = [](Task&) {};
        c.open(h.app.shared);
        h.frame();
        h.click(c.confirm);
        EXPECT_TRUE(h.started_task(c.task)) << c.what;
        EXPECT_FALSE(ui_modal(h.app.shared)) << c.what;
    }
}

TEST(Dialogs, CompilerDialogHasThreeOrFourButtons) {
    struct Case {
        bool install;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {false, {"Check again", "Choose clang.exe…", "Close"}},
        {true, {"Install it for me", "Check again", "Choose clang.exe…", "Close"}},
    };
    for (const Case& c : cases) {
        Ui_Harness h;
        h.world.compilers.clear();
        h.world.deps[0] = dep("C compiler", "builds the game", "", "clang: not found; gcc: not Clang", false);
        if (c.install) {
            h.world.deps[0].install = {"winget", "install"};
            h.world.deps[0].install_label = "Install LLVM-MinGW (winget)";
        }
        h.frame();
        h.frame();
        std::vector<const Trace_Item*> buttons;
        const Trace_Item* close = h.find("Close");
        ASSERT_NE(close, nullptr);
        for (const Trace_Item& t : h.app.ui.trace) {
            if (t.kind == Widget_Kind::Button && t.rect.y == close->rect.y) buttons.push_back(&t);
        }
        ASSERT_EQ(buttons.size(), c.labels.size());
        int64_t total = 0;
        for (size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i]->label, c.labels[i]);
            total += buttons[i]->rect.w;
            EXPECT_LE(buttons[0]->rect.w - buttons[i]->rect.w, 1) << "equal parts, the first ones one wider";
            if (i > 0) {
                EXPECT_EQ(buttons[i]->rect.x, buttons[i - 1]->rect.x + buttons[i - 1]->rect.w + 8);
            }
        }
        EXPECT_EQ(total + 8 * int64_t(buttons.size() - 1), 640 - 48);
        const Trace_Item* msys = h.find("MSYS2 (its clang64 Clang)", Widget_Kind::Link);
        ASSERT_NE(msys, nullptr);
        EXPECT_EQ(msys->id, "https://www.msys2.org/");
        if (c.install) {
            // The button says what it does; the task is named by the install record.
            h.click("Install it for me");
            EXPECT_TRUE(h.started_task("Install LLVM-MinGW (winget)"));
        }
    }
}

TEST(Dialogs, ChoosingClangCancelledKeepsTheDialogOpen) {
    struct Case {
        bool chosen;
        int64_t probe_after;
        bool checking;
    };
    for (Case c : {Case{false, 1, false}, Case{true, 0, true}}) {
        Settings s;
        s.compiler = "/old/clang";
        settings_replace(s);
        Ui_Harness h;
        h.world.compilers.clear();
        h.world.dialog_answer = {c.chosen ? "/new/bin/clang" : "", c.chosen, ""};
        h.app.procs.choose_compiler = choose_compiler_file;
        h.app.procs.task_start = [&h](std::string_view name, Task_Proc proc, uint64_t data) {
            h.started.push_back({std::string(name), proc, data});
            h.world.task_running = true;   // holds the next probe back
            return true;
        };
        h.frame();
        h.frame();
        h.click("Choose clang.exe…");
        ASSERT_EQ(h.dialog_titles.size(), 1u);
        EXPECT_EQ(h.dialog_titles[0], "Choose clang.exe (e.g. LLVM-MinGW's bin\\clang.exe)");
        EXPECT_EQ(h.dialog_starts[0], "") << "the saved compiler does not exist";
        EXPECT_EQ(h.app.shared.compiler_probe, c.probe_after);
        EXPECT_EQ(h.started_task("Checking"), c.checking);
        EXPECT_EQ(settings_copy().compiler, c.chosen ? "/new/bin/clang" : "/old/clang");
        EXPECT_EQ(h.settings_saves, c.chosen ? 1 : 0);
        if (!c.chosen) {
            EXPECT_NE(h.find("Close"), nullptr) << "still drawn";
        }
        settings_replace(Settings{});
    }
}

// --- The pickers -----------------------------------------------------------

struct Env_Guard {
    std::string name, saved;
    bool was_set;
    Env_Guard(std::string n, std::string_view value) : name(std::move(n)), saved(env_get(name)), was_set(env_is_set(name)) {
        env_set(name, value);
    }
    Env_Guard(std::string n, std::nullptr_t) : name(std::move(n)), saved(env_get(name)), was_set(env_is_set(name)) {
        env_set(name, {}, true);
    }
    ~Env_Guard() { env_set(name, saved, !was_set); }
};

// Without USERPROFILE (Linux) the mod-archive browser opens in the XDG
// download folder, else HOME/Downloads, else HOME; the folder pickers at HOME.
TEST(Pickers, BrowserStartFolderWithoutAProfile) {
    Temp_Dir tmp;
    Env_Guard profile("USERPROFILE", nullptr);
    Env_Guard home("HOME", tmp.path);
    Env_Guard config("XDG_CONFIG_HOME", path_join({tmp.path, "config"}));
    const std::string xdg = path_join({tmp.path, "Téléchargements"}), downloads = path_join({tmp.path, "Downloads"});
    ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, "config"})));
    struct Case {
        const char* what;
        std::string user_dirs;   // "" for no file
        bool make_xdg, make_downloads;
        Pick_Mode mode;
        std::string start;
    };
    const Case cases[] = {
        {"the XDG folder", "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n", true,
         true, Pick_Mode::Mod_Archive, xdg},
        {"an absolute XDG folder", "XDG_DOWNLOAD_DIR=\"" + xdg + "\"\n", true, false, Pick_Mode::Mod_Archive, xdg},
        {"an XDG folder that is missing", "XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n", false, true,
         Pick_Mode::Mod_Archive, downloads},
        {"downloads turned off", "XDG_DOWNLOAD_DIR=\"$HOME/\"\n", false, true, Pick_Mode::Mod_Archive, downloads},
        {"no XDG file", "", false, true, Pick_Mode::Mod_Archive, downloads},
        {"nothing but HOME", "", false, false, Pick_Mode::Mod_Archive, tmp.path},
        {"save folders", "", true, true, Pick_Mode::Save_Folder, tmp.path},
    };
    for (const Case& c : cases) {
        fs_remove_tree(xdg);
        fs_remove_tree(downloads);
        fs_remove_file(path_join({tmp.path, "config", "user-dirs.dirs"}));
        if (!c.user_dirs.empty()) {
            ASSERT_TRUE(fs_write(path_join({tmp.path, "config", "user-dirs.dirs"}), c.user_dirs));
        }
        if (c.make_xdg) {
            ASSERT_TRUE(fs_make_dirs(xdg));
        }
        if (c.make_downloads) {
            ASSERT_TRUE(fs_make_dirs(downloads));
        }
        Ui_Harness h;
        h.app.procs.browser_go = browser_go;
        h.world.game_dir = "";
        h.app.shared.pick_mode = c.mode;
        pick_with_dialog(h.app);   // no system dialog answers
        h.frame();
        ASSERT_TRUE(h.app.shared.browser_open) << c.what;
        EXPECT_EQ(h.app.shared.browser_folder, path_clean(c.start)) << c.what;
    }
}

TEST(Pickers, SystemDialogByMode) {
    Temp_Dir tmp;
    Env_Guard profile("USERPROFILE", tmp.path);
    struct Case {
        Pick_Mode mode;
        bool downloads;
        const char* title;
        std::string start;
    };
    const Case cases[] = {
        {Pick_Mode::Game_Folder, false, "Choose the EMBERFALL SAGA folder", ""},
        {Pick_Mode::Save_Folder, false, "Choose a folder with save files (.dat)", ""},
        {Pick_Mode::Mod_Archive, false,
         "Choose a mod's archive (the HD Project's .zip, HD Fonts and GUI's .rar, Console Button Prompts' .zip)",
         tmp.path},
        {Pick_Mode::Mod_Archive, true,
         "Choose a mod's archive (the HD Project's .zip, HD Fonts and GUI's .rar, Console Button Prompts' .zip)",
         path_join({tmp.path, "Downloads"})},
    };
    for (const Case& c : cases) {
        if (c.downloads) {
            ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, "Downloads"})));
        }
        Ui_Harness h;
        h.app.shared.pick_mode = c.mode;
        h.world.dialog_answer = {"/picked", true, ""};
        pick_with_dialog(h.app);
        ASSERT_EQ(h.dialog_titles.size(), 1u);
        EXPECT_EQ(h.dialog_titles[0], c.title);
        EXPECT_EQ(h.dialog_starts[0], c.start);
        ASSERT_EQ(h.applied.size(), 1u);
        EXPECT_EQ(h.applied[0], "/picked");
    }
}

TEST(Pickers, NoSystemDialogOpensTheBrowserAndACancelDoesNothing) {
    Temp_Dir tmp;
    Env_Guard home("HOME", tmp.path);
    Ui_Harness h;
    h.app.procs.browser_go = browser_go;
    h.app.shared.pick_mode = Pick_Mode::Save_Folder;
    h.world.dialog_answer = {"", false, ""};   // cancelled
    pick_with_dialog(h.app);
    h.frame();
    EXPECT_FALSE(h.app.shared.browser_open);
    EXPECT_TRUE(h.applied.empty());
    h.world.dialog_answer = {"", false, "not available"};
    pick_with_dialog(h.app);
    h.frame();
    EXPECT_TRUE(h.app.shared.browser_open);
    EXPECT_EQ(h.app.shared.browser_folder, path_clean(tmp.path));
    EXPECT_NE(h.find("Choose this folder"), nullptr);
}

TEST(Pickers, ApplyByMode) {
    // The game folder: kept only when its check starts.
    for (bool starts : {false, true}) {
        settings_replace(Settings{});
        Ui_Harness h;
        h.app.procs.task_start = [&](std::string_view name, Task_Proc, uint64_t) {
            h.started.push_back({std::string(name), nullptr, 0});
            return starts;
        };
        h.app.shared.pick_mode = Pick_Mode::Game_Folder;
        EXPECT_EQ(pick_apply(h.app, "/games/EF"), starts);
        EXPECT_TRUE(h.started_task("Checking"));
        EXPECT_EQ(settings_copy().game_dir, starts ? "/games/EF" : "");
        EXPECT_EQ(h.settings_saves, starts ? 1 : 0);
    }
    // Save folders: an exact duplicate is ignored, another letter case is not.
    {
        settings_replace(Settings{});
        Ui_Harness h;
        h.app.shared.pick_mode = Pick_Mode::Save_Folder;
        EXPECT_TRUE(pick_apply(h.app, "/saves/A"));
        EXPECT_FALSE(pick_apply(h.app, "/saves/A"));
        EXPECT_TRUE(pick_apply(h.app, "/saves/a"));
        EXPECT_EQ(settings_copy().save_dirs, (std::vector<std::string>{"/saves/A", "/saves/a"}));
        EXPECT_EQ(h.settings_saves, 2);
        EXPECT_EQ(h.cfg_rewrites, 2);
    }
    // An archive: its import starts and Home shows.
    for (bool starts : {false, true}) {
        Ui_Harness h;
        h.app.shared.current_page = Page::Features;
        h.app.procs.import_archive = [&](std::string_view a) {
            h.archives.emplace_back(a);
            return starts;
        };
        h.app.shared.pick_mode = Pick_Mode::Mod_Archive;
        EXPECT_EQ(pick_apply(h.app, "/dl/hd.zip"), starts);
        EXPECT_EQ(h.archives, std::vector<std::string>{"/dl/hd.zip"});
        EXPECT_EQ(h.app.shared.current_page, starts ? Page::Home : Page::Features);
    }
    settings_replace(Settings{});
}

// --- The folder browser ----------------------------------------------------

TEST(Browser, EntriesSortedFoldersFirstHiddenSkipped) {
    Temp_Dir tmp;
    for (const char* d : {"b", "A", "c", ".git"}) ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, d})));
    for (const char* f : {"y.rar", "x.ZIP", "readme.txt", "B.zip", "zip"}) touch(path_join({tmp.path, f}));
    struct Case {
        Pick_Mode mode;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {Pick_Mode::Game_Folder, {"A", "b", "c"}},
        {Pick_Mode::Save_Folder, {"A", "b", "c"}},
        {Pick_Mode::Mod_Archive, {"A", "b", "c", "B.zip", "x.ZIP", "y.rar"}},
    };
    for (const Case& c : cases) {
        App app;
        app.shared.pick_mode = c.mode;
        app.shared.browser_scroll = 5;
        browser_go(app, tmp.path + "/./");
        EXPECT_EQ(app.shared.browser_entries, c.entries);
        EXPECT_EQ(app.shared.browser_folders, 3);
        EXPECT_EQ(app.shared.browser_scroll, 0);
        EXPECT_EQ(app.shared.browser_folder, path_clean(tmp.path));
    }
    App app;
    browser_go(app, path_join({tmp.path, "missing"}));
    EXPECT_TRUE(app.shared.browser_entries.empty());
}

// A folder reached through a link is listed and entered (a game or a
// store's library linked from another disk); archives are regular files
// only: neither a link nor a FIFO so named is offered.
TEST(Browser, LinkedFoldersAreListedAndEnteredArchivesAreRegularFiles) {
    Temp_Dir tmp, elsewhere;
    ASSERT_TRUE(fs_make_dirs(path_join({elsewhere.path, "EMBERFALL SAGA"})));
    touch(path_join({elsewhere.path, "real.zip"}));
    ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, "games"})));
    touch(path_join({tmp.path, "mod.zip"}));
    if (!fs_make_link(elsewhere.path, path_join({tmp.path, "SteamLibrary"}), true)) {
        GTEST_SKIP() << "no symbolic link can be made here";
    }
    ASSERT_TRUE(fs_make_link(path_join({elsewhere.path, "real.zip"}), path_join({tmp.path, "linked.zip"}), false));
    ASSERT_TRUE(fs_make_link(path_join({tmp.path, "missing"}), path_join({tmp.path, "dangling"}), true));
    bool fifo = run_program({"mkfifo", path_join({tmp.path, "pipe.zip"})}, 60'000).code == 0;
    Ui_Harness h;
    h.app.procs.browser_go = browser_go;
    h.app.shared.pick_mode = Pick_Mode::Mod_Archive;
    browser_go(h.app, tmp.path);
    EXPECT_EQ(h.app.shared.browser_entries, (std::vector<std::string>{"games", "SteamLibrary", "mod.zip"}))
        << (fifo ? "with a FIFO pipe.zip" : "no FIFO could be made");
    EXPECT_EQ(h.app.shared.browser_folders, 2);
    h.app.shared.browser_open = 1;
    h.frame();
    h.frame();
    const Trace_Item* linked = nullptr;
    for (const Trace_Item& t : h.app.ui.trace) {
        if (t.id == "entry" && t.label == "SteamLibrary") linked = &t;
    }
    ASSERT_NE(linked, nullptr);
    h.click_at(linked->rect.x + linked->rect.w / 2, linked->rect.y + linked->rect.h / 2);
    EXPECT_EQ(h.app.shared.browser_folder, path_join({path_clean(tmp.path), "SteamLibrary"}));
    EXPECT_EQ(h.app.shared.browser_entries, (std::vector<std::string>{"EMBERFALL SAGA", "real.zip"}));
}

TEST(Browser, NameOrder) {
    EXPECT_TRUE(name_less("A", "b"));
    EXPECT_TRUE(name_less("b", "C"));
    EXPECT_FALSE(name_less("B", "a"));
    EXPECT_TRUE(name_less("ab", "ABC"));
    EXPECT_FALSE(name_less("Ab", "aB"));
    EXPECT_FALSE(name_less("aB", "Ab"));
}

// The browser open over a folder, with the real browsing procedures.
struct Browser_Harness : Ui_Harness {
    Browser_Harness(Pick_Mode mode, const std::string& folder) {
        app.procs.browser_go = browser_go;
        app.shared.pick_mode = mode;
        app.shared.pick_saves = mode == Pick_Mode::Save_Folder;
        browser_go(app, folder);
        app.shared.browser_open = 1;
        frame();
    }
};

TEST(Browser, WheelStopsAtTheLastPage) {
    Temp_Dir tmp;
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, fmt("d%02d", i)})));
    Browser_Harness h(Pick_Mode::Game_Folder, tmp.path);
    int rows = 0;
    for (const Trace_Item& t : h.app.ui.trace) rows += t.id == "entry";
    ASSERT_GT(rows, 1);
    ASSERT_LT(rows, 40);
    const Trace_Item* first = h.find("d00");
    h.move(first->rect.x + 20, first->rect.y + 10);
    for (int i = 0; i < 20; ++i) {
        h.input.wheel_y = -3.0f;
        h.frame();
    }
    EXPECT_EQ(h.app.shared.browser_scroll, 40 - rows);
    EXPECT_NE(h.find("d39"), nullptr);
    h.input.wheel_y = 30.0f;
    h.frame();
    EXPECT_EQ(h.app.shared.browser_scroll, 0);

    // Fewer entries than rows: no scrolling at all.
    Temp_Dir few;
    ASSERT_TRUE(fs_make_dirs(path_join({few.path, "only"})));
    h.app.procs.browser_go(h.app, few.path);
    h.frame();
    h.move(first->rect.x + 20, first->rect.y + 10);
    h.input.wheel_y = -3.0f;
    h.frame();
    EXPECT_EQ(h.app.shared.browser_scroll, 0);
}

TEST(Browser, ChooseThisFolderOnlyForAGameFolder) {
    Temp_Dir tmp;
    std::string game = path_join({tmp.path, "EMBERFALL SAGA"});
    ASSERT_TRUE(fs_make_dirs(path_join({game, "amber_data/prog/win/bin"})));
    touch(path_join({game, "amber_data/prog/win/bin/efsagaimg.exe"}));
    Browser_Harness h(Pick_Mode::Game_Folder, tmp.path);
    EXPECT_FALSE(h.find("Choose this folder")->enabled);
    h.click("EMBERFALL SAGA");
    EXPECT_EQ(h.app.shared.browser_folder, path_clean(game));
    h.frame();
    ASSERT_TRUE(h.find("Choose this folder")->enabled);
    h.click("Choose this folder");
    EXPECT_FALSE(h.app.shared.browser_open);
    EXPECT_EQ(h.applied, std::vector<std::string>{path_clean(game)});
}

TEST(Browser, SaveFoldersAlwaysChoosableArchivesPickedByClick) {
    Temp_Dir tmp;
    ASSERT_TRUE(fs_make_dirs(path_join({tmp.path, "sub"})));
    touch(path_join({tmp.path, "hd.zip"}));
    {
        Browser_Harness h(Pick_Mode::Save_Folder, tmp.path);
        EXPECT_TRUE(h.find("Choose this folder")->enabled);
        EXPECT_EQ(h.find("hd.zip"), nullptr) << "no files when picking a folder";
        h.click("Cancel");
        EXPECT_FALSE(h.app.shared.browser_open);
        EXPECT_TRUE(h.applied.empty());
    }
    {
        Browser_Harness h(Pick_Mode::Mod_Archive, tmp.path);
        EXPECT_EQ(h.find("Choose this folder"), nullptr);
        const Trace_Item* cancel = h.find("Cancel");
        EXPECT_EQ(cancel->rect.w, 640 - 48) << "Cancel alone takes the row";
        h.click("hd.zip");
        EXPECT_FALSE(h.app.shared.browser_open);
        EXPECT_EQ(h.applied, std::vector<std::string>{path_join({path_clean(tmp.path), "hd.zip"})});
    }
}

TEST(Browser, UpGoesToTheParent) {
    Temp_Dir tmp;
    std::string sub = path_join({tmp.path, "sub"});
    ASSERT_TRUE(fs_make_dirs(sub));
    Browser_Harness h(Pick_Mode::Save_Folder, sub);
    h.click("Up");
    EXPECT_EQ(h.app.shared.browser_folder, path_clean(tmp.path));
}

}  // namespace
