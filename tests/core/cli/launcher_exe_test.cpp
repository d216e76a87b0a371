// The launcher executable as a whole: which command-line mode its arguments
// choose, and what it does when its bundled sources are damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/settings.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const cleared_without_settings =
    "The settings were not this launcher version's own: they are back to the defaults.\n"
    "Cleared the cache (1 items deleted; the saves, imported Button Icons / Hard Mode files and the Android key "
    "stay).\n";

const char* const no_window = "Quillmarsh: could not open a window\n";
const char* const no_renderer = "Quillmarsh cannot draw its window (";

bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info) && info.exists;
}

// A launcher copy in <tmp>/app and a data folder under <tmp>/local holding
// one folder that Clear Cache deletes.
struct Launcher_Setup {
    std::string exe, local, marker;
};

Launcher_Setup prepare(const Temp_Dir& tmp, const char* built) {
    Launcher_Setup s;
    s.exe = launcher_copy(built, path_join({tmp.path, "app"}), path_base(host_path(built)));
    s.local = path_join({tmp.path, "local"});
    s.marker = path_join({s.local, "efsg-launcher", "obj"});
    fs_make_dirs(s.marker);
    return s;
}

Run_Result run(const Launcher_Setup& s, const std::vector<std::string>& args, const Temp_Dir& tmp) {
    // Without a mode the launcher opens its window: here on no display (one
    // frame at most, should a window system answer anyway).
    return run_program(s.exe, args,
                       {{"LOCALAPPDATA", s.local},
                        {"QM_TEST_FAIL_UNDER", ""},
                        {"DISPLAY", ""},
                        {"WAYLAND_DISPLAY", ""},
                        {"QM_EXIT_AFTER_FRAMES", "1"},
                        {"QM_MESSAGE_BOX_LOG", path_join({tmp.path, "message_box.txt"})}},
                       tmp.path);
}

struct Mode_Case {
    const char* name;
    std::vector<std::string> args;
    bool clears;   // the Clear Cache mode runs; otherwise there is no mode
};

const Mode_Case mode_cases[] = {
    {"an unknown argument, then the option", {"--frobnicate", "--clear-cache"}, true},
    {"the option, then an unknown argument", {"--clear-cache", "--frobnicate"}, true},
    {"the option among values that only resemble it", {"--clear-cache=1", "--CLEAR-CACHE", "--clear-cache"}, true},
    {"only arguments that resemble the option", {"--clear-cache=1", "--Clear-Cache", "-clear-cache"}, false},
    {"only unknown arguments", {"game.iso", "-x"}, false},
    {"no argument", {}, false},
};

TEST(Launcher_Modes, the_first_whole_known_argument_chooses_the_mode) {
    for (const Mode_Case& c : mode_cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir tmp;
        Launcher_Setup s = prepare(tmp, QM_LAUNCHER_EXE);
        ASSERT_FALSE(s.exe.empty());
        Run_Result r = run(s, c.args, tmp);
        if (c.clears) {
            EXPECT_EQ(r.code, 0);
            EXPECT_EQ(r.out, cleared_without_settings);
            EXPECT_EQ(r.err, "");
            EXPECT_FALSE(exists(s.marker));
        } else {
            // The window's road: no mode ran, nothing was cleared. Some
            // video driver may still answer: then one frame runs, or the
            // player is told that nothing can draw in it.
            if (r.code == 1) {
                EXPECT_TRUE(r.out == no_window || r.out.find(no_renderer) != std::string::npos) << r.out;
            } else {
                EXPECT_EQ(r.code, 0) << r.out;
            }
            EXPECT_TRUE(exists(s.marker));
        }
    }
}

TEST(Launcher_Start, a_damaged_bundle_ends_the_program_before_any_mode) {
    Temp_Dir tmp;
    Launcher_Setup s = prepare(tmp, QM_LAUNCHER_DAMAGED_EXE);
    ASSERT_FALSE(s.exe.empty());
    Run_Result r = run(s, {"--clear-cache"}, tmp);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Quillmarsh: its bundled sources are missing or damaged\n");
    EXPECT_TRUE(exists(s.marker));
}

// Start-up loads settings.txt before it takes the game's menu choices from
// "Quillmarsh.cfg": the other way round the import would be saved over the
// defaults, and every setting the game does not name would be lost.
TEST(Launcher_Start, the_games_menu_choices_join_the_loaded_settings) {
    Temp_Dir tmp;
    Launcher_Setup s = prepare(tmp, QM_LAUNCHER_EXE);
    ASSERT_FALSE(s.exe.empty());
    std::string settings_file = path_join({s.local, "efsg-launcher", "settings.txt"});
    Settings mine = settings_defaults();
    mine.hdr_peak = 2000;   // not among the game's menu keys
    ASSERT_TRUE(fs_write(settings_file, settings_text(mine)));
    ASSERT_TRUE(fs_write(path_join({path_dir(s.exe), "Quillmarsh.cfg"}), "ZQR_MENU_KEYS=ZQR_STRETCH\nZQR_STRETCH=1\n"));

    Run_Result r = run(s, {"--check"}, tmp);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::string text;
    ASSERT_TRUE(fs_read(settings_file, text));
    Settings after = settings_defaults();
    settings_apply_text(after, text);
    EXPECT_TRUE(after.stretch) << text;
    EXPECT_EQ(after.hdr_peak, 2000) << text;
}

#ifndef _WIN32
// The launcher's own files replaced by a FIFO no one writes to and by links
// to an endless device: start-up reads none of them (it would wait or fill
// its memory), treats them as unreadable and the mode runs to its end.
TEST(Launcher_Start, a_fifo_or_a_device_in_place_of_its_files_does_not_stall_it) {
    Temp_Dir tmp;
    Launcher_Setup s = prepare(tmp, QM_LAUNCHER_EXE);
    ASSERT_FALSE(s.exe.empty());
    std::string data = path_join({s.local, "efsg-launcher"});
    ASSERT_EQ(mkfifo(path_join({data, "settings.txt"}).c_str(), 0600), 0);
    ASSERT_TRUE(fs_make_link("/dev/zero", path_join({data, "language.txt"}), false));
    ASSERT_TRUE(fs_make_link("/dev/zero", path_join({path_dir(s.exe), "Quillmarsh.cfg"}), false));

    Run_Result r = run(s, {"--clear-cache"}, tmp);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    // The FIFO in place of settings.txt is set aside, never read or written
    // over; the folder and both links are deleted, never read.
    std::string settings = path_join({data, "settings.txt"});
    EXPECT_EQ(r.out,
              settings + " cannot be read (not a regular file): kept as " + settings +
                  ".bad; the settings start from the defaults.\n"
                  "The settings were not this launcher version's own: they are back to the defaults.\n"
                  "Cleared the cache (4 items deleted; the saves, imported Button Icons / Hard Mode files and the "
                  "Android key stay).\n");
    EXPECT_FALSE(exists(s.marker));
}
#endif

}  // namespace
