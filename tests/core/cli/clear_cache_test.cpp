// Clear Cache through the launcher executable, over a data folder and a
// launcher folder of its own; and the settings reset seen from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/clear_cache.h"
#include "launcher/core/settings.h"
#include "tests/core/cli/launcher_run.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const reset_line =
    "The settings were not this launcher version's own: they are back to the defaults.\n";
const char* const cleared_exact =
    "Cleared the cache (%d items deleted; the saves, settings, imported Button Icons / Hard Mode files and the "
    "Android key stay).\n";
const char* const cleared_not_exact =
    "Cleared the cache (%d items deleted; the saves, imported Button Icons / Hard Mode files and the Android key "
    "stay).\n";
const char* const not_completely =
    "The cache could not be cleared completely: close any program using its files and try again.\n";

std::string with_count(const char* text, int n) {
    std::string s = text;
    size_t at = s.find("%d");
    return s.replace(at, 2, std::to_string(n));
}

bool exists(const std::string& path) {
    File_Info info;
    return fs_stat(path, info) && info.exists;
}

std::string launcher_file_name() { return path_base(host_path(QM_LAUNCHER_EXE)); }

// Writes each entry below `dir`: a name ending in "/" is a folder.
void make_tree(const std::string& dir, const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
        if (e.ends_with("/")) {
            ASSERT_TRUE(fs_make_dirs(path_join({dir, e})));
        } else {
            std::string p = path_join({dir, e});
            ASSERT_TRUE(fs_make_dirs(path_dir(p)));
            ASSERT_TRUE(fs_write(p, "x"));
        }
    }
}

// The fixture every case shares.
const std::vector<std::string> data_kept = {"CDRIVE/save0.dat", "Mod_Src/pack.zip", "android_key.bin",
                                            "android_cert.der", "button_icons/start.png"};
const std::vector<std::string> data_deleted = {"src/game/main.c", "obj/", "hd_import.log"};
// Folders stay even when their names look like the files that go.
const std::vector<std::string> launcher_kept = {"Quillmarsh-linux_arm64/Quillmarsh", "Quillmarsh-extracted.AppImage/AppRun",
                                                "Quillmarsh-profile-x.txt.old", "notes.txt"};
const std::vector<std::string> launcher_deleted = {"Quillmarsh.cfg", "Quillmarsh.build-id", "Quillmarsh-profile-x.txt",
                                                   "Quillmarsh-linux.AppImage"};

// "settings.txt" as this version writes it for a changed record.
std::string written_settings() {
    Settings s = settings_defaults();
    s.game_dir = "D:/Games/EMBERFALL SAGA";
    s.fps = 144;
    s.vol_music = 40;
    s.save_dirs = {"D:/Saves/one"};
    return settings_text(s);
}

std::string without_line_of(std::string text, const std::string& key) {
    size_t at = text.find("\n" + key + " ");
    if (at == std::string::npos) return text;
    size_t end = text.find('\n', at + 1);
    return text.erase(at, end - at);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

enum class Settings_File { None, Written, Key_Removed, Unknown_Key, Renamed_Key, Old_Version, No_Version };

std::string settings_file_text(Settings_File kind) {
    switch (kind) {
        case Settings_File::None: return {};
        case Settings_File::Written: return written_settings();
        case Settings_File::Key_Removed: return without_line_of(written_settings(), "vol_music");
        case Settings_File::Unknown_Key: return written_settings() + "frame_limiter 1\n";
        case Settings_File::Renamed_Key: return replaced(written_settings(), "vol_music 40", "music_volume 40");
        case Settings_File::Old_Version: return replaced(written_settings(), "settings_version 4", "settings_version 3");
        case Settings_File::No_Version: return replaced(written_settings(), "settings_version 4\n", "");
    }
    return {};
}

struct Clear_Case {
    const char* name;
    Settings_File settings;
    const char* language;                     // content of "language.txt"; nullptr: none
    const char* launcher_name;                // nullptr: the built launcher's own name
    std::vector<std::string> launcher_extra;  // beside the launcher, all of them to stay
    bool settings_stay;
    bool language_stays;
    int deleted;
};

const Clear_Case clear_cases[] = {
    {"settings as written stay, a valid language stays", Settings_File::Written, "de", nullptr, {}, true, true, 7},
    {"settings with a key left out are still exact", Settings_File::Key_Removed, "pt-BR", nullptr, {}, true, true, 7},
    {"an unknown key makes the settings go", Settings_File::Unknown_Key, "en", nullptr, {}, false, true, 8},
    {"a key under another name makes the settings go", Settings_File::Renamed_Key, nullptr, nullptr, {}, false, false,
     8},
    {"an older version line makes the settings go", Settings_File::Old_Version, nullptr, nullptr, {}, false, false, 8},
    {"no version line makes the settings go", Settings_File::No_Version, nullptr, nullptr, {}, false, false, 8},
    {"no settings file: the defaults", Settings_File::None, nullptr, nullptr, {}, false, false, 7},
    {"a language code with a line break goes", Settings_File::Written, "de\n", nullptr, {}, true, false, 8},
    {"an unknown language code goes", Settings_File::Written, "klingon", nullptr, {}, true, false, 8},
    {"the built game's name in lower case stays", Settings_File::Written, nullptr, nullptr, {"quillmarsh.exe"}, true,
     false, 7},
    {"a launcher named like the built game is not deleted", Settings_File::Written, nullptr, "Quillmarsh.exe", {},
     true, false, 7},
};

TEST(Clear_Cache, keeps_what_cannot_be_had_again_and_deletes_the_rest) {
    for (const Clear_Case& c : clear_cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir tmp;
        std::string local = path_join({tmp.path, "local"});
        std::string data = path_join({local, "efsg-launcher"});
        std::string app = path_join({tmp.path, "app"});
        std::string exe = launcher_copy(QM_LAUNCHER_EXE, app, c.launcher_name ? c.launcher_name : launcher_file_name());
        ASSERT_FALSE(exe.empty());

        make_tree(data, data_kept);
        make_tree(data, data_deleted);
        make_tree(app, launcher_kept);
        make_tree(app, launcher_deleted);
        make_tree(app, c.launcher_extra);
        std::string settings = settings_file_text(c.settings);
        if (c.settings != Settings_File::None) {
            ASSERT_TRUE(fs_write(path_join({data, "settings.txt"}), settings));
        }
        if (c.language) {
            ASSERT_TRUE(fs_write(path_join({data, "language.txt"}), c.language));
        }

        Run_Result r = run_program(exe, {"--clear-cache"}, {{"LOCALAPPDATA", local}, {"QM_TEST_FAIL_UNDER", ""}},
                                   tmp.path);

        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.err, "");
        if (c.settings_stay) {
            EXPECT_EQ(r.out, with_count(cleared_exact, c.deleted));
            std::string now;
            EXPECT_TRUE(fs_read(path_join({data, "settings.txt"}), now));
            EXPECT_EQ(now, settings);
        } else {
            EXPECT_EQ(r.out, reset_line + with_count(cleared_not_exact, c.deleted));
            EXPECT_FALSE(exists(path_join({data, "settings.txt"})));
        }
        EXPECT_EQ(exists(path_join({data, "language.txt"})), c.language_stays);
        for (const std::string& e : data_kept) EXPECT_TRUE(exists(path_join({data, e}))) << e;
        for (const std::string& e : data_deleted) {
            std::string top = e.substr(0, e.find('/'));
            EXPECT_FALSE(exists(path_join({data, top}))) << e;
        }
        for (const std::string& e : launcher_kept) EXPECT_TRUE(exists(path_join({app, e}))) << e;
        for (const std::string& e : c.launcher_extra) EXPECT_TRUE(exists(path_join({app, e}))) << e;
        for (const std::string& e : launcher_deleted) EXPECT_FALSE(exists(path_join({app, e}))) << e;
        EXPECT_TRUE(exists(exe));
    }
}

TEST(Clear_Cache, a_refused_deletion_is_reported_and_the_rest_still_goes) {
    Temp_Dir tmp;
    std::string local = path_join({tmp.path, "local"});
    std::string data = path_join({local, "efsg-launcher"});
    std::string app = path_join({tmp.path, "app"});
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, app, launcher_file_name());
    ASSERT_FALSE(exe.empty());
    make_tree(data, {"locked/inner.bin", "stale.log"});
    make_tree(app, {"Quillmarsh.cfg"});

    Run_Result r = run_program(exe, {"--clear-cache"},
                               {{"LOCALAPPDATA", local}, {"QM_TEST_FAIL_UNDER", path_join({data, "locked"})}},
                               tmp.path);

    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, std::string("Could not delete locked: refused by the test hook\n") + reset_line + not_completely);
    EXPECT_TRUE(exists(path_join({data, "locked", "inner.bin"})));
    EXPECT_FALSE(exists(path_join({data, "stale.log"})));
    EXPECT_FALSE(exists(path_join({app, "Quillmarsh.cfg"})));
}

TEST(Clear_Cache, an_unreadable_data_folder_deletes_nothing) {
    Temp_Dir tmp;
    std::string local = path_join({tmp.path, "local"});
    std::string data = path_join({local, "efsg-launcher"});
    std::string app = path_join({tmp.path, "app"});
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, app, launcher_file_name());
    ASSERT_FALSE(exe.empty());
    make_tree(app, {"Quillmarsh.cfg"});
    // A file where the data folder should be: it can be neither made nor listed.
    ASSERT_TRUE(fs_make_dirs(local));
    ASSERT_TRUE(fs_write(data, "not a folder"));

    Run_Result r = run_program(exe, {"--clear-cache"}, {{"LOCALAPPDATA", local}, {"QM_TEST_FAIL_UNDER", ""}}, tmp.path);

    EXPECT_EQ(r.code, 1);
    std::string start = "Could not read the data folder " + data + ": ";
    EXPECT_EQ(r.out.rfind(start, 0), 0u) << r.out;
    EXPECT_GT(r.out.size(), start.size() + 1) << "the reason is missing";
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_TRUE(exists(path_join({app, "Quillmarsh.cfg"})));
}

TEST(Clear_Cache, links_in_the_data_folder_are_removed_without_following_them) {
    Temp_Dir tmp;
    std::string local = path_join({tmp.path, "local"});
    std::string data = path_join({local, "efsg-launcher"});
    std::string outside = path_join({tmp.path, "outside"});
    std::string exe = launcher_copy(QM_LAUNCHER_EXE, path_join({tmp.path, "app"}), launcher_file_name());
    ASSERT_FALSE(exe.empty());
    make_tree(outside, {"keep.txt", "deep/keep2.txt"});
    make_tree(data, {"obj/a.o"});
    std::string err;
    bool linked = fs_make_link(outside, path_join({data, "obj", "escape"}), true, &err) &&
                  fs_make_link(outside, path_join({data, "linkdir"}), true, &err) &&
                  fs_make_link(path_join({outside, "keep.txt"}), path_join({data, "linkfile"}), false, &err);
#ifdef _WIN32
    if (!linked) GTEST_SKIP() << "links cannot be made here: " << err;
#endif
    ASSERT_TRUE(linked) << err;

    Run_Result r = run_program(exe, {"--clear-cache"}, {{"LOCALAPPDATA", local}, {"QM_TEST_FAIL_UNDER", ""}}, tmp.path);

    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, reset_line + with_count(cleared_not_exact, 3));
    for (const char* name : {"obj", "linkdir", "linkfile"}) {
        File_Info info;
        EXPECT_FALSE(fs_stat(path_join({data, name}), info) && info.exists) << name;
    }
    EXPECT_TRUE(exists(path_join({outside, "keep.txt"})));
    EXPECT_TRUE(exists(path_join({outside, "deep", "keep2.txt"})));
}

// Another thread (the interface) must see the record before the reset or after
// it, never a mixture of the two.
TEST(Settings_Reset, readers_see_the_old_record_or_the_defaults_whole) {
    Settings old = settings_defaults();
    old.game_dir = "D:/Games/EMBERFALL SAGA";
    old.graphics = 4;
    old.shadow_res = 8192;
    old.aa_quality = 8;
    old.aa_fxaa = false;
    old.aa_dlss = true;
    old.fps = 144;
    old.vol_music = 10;
    old.save_dirs = {"D:/Saves/one", "D:/Saves/two"};

    auto is_old = [&](const Settings& s) {
        return s.game_dir == old.game_dir && s.graphics == 4 && s.shadow_res == 8192 && s.aa_quality == 8 &&
               !s.aa_fxaa && s.aa_dlss && s.fps == 144 && s.vol_music == 10 && s.save_dirs == old.save_dirs;
    };
    auto is_reset = [](const Settings& s) {
        return s.game_dir.empty() && s.graphics == 2 && s.shadow_res == 1024 && s.aa_quality == 4 && s.aa_fxaa &&
               !s.aa_taa && !s.aa_fsr && !s.aa_dlss && !s.aa_fsr4 && s.fps == 60 && s.vol_music == 100 &&
               s.save_dirs.empty();
    };

    settings_replace(old);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> mixed{0};
    std::thread reader([&] {
        while (!done.load()) {
            Settings s = settings_copy();
            if (!is_old(s) && !is_reset(s)) mixed.fetch_add(1);
            reads.fetch_add(1);
        }
    });
    // Resets go on until the reader has looked many times in between.
    for (int i = 0; (i < 2000 || reads.load() < 50000) && i < 2000000; ++i) {
        settings_replace(old);
        settings_reset();
    }
    done.store(true);
    reader.join();

    EXPECT_EQ(mixed.load(), 0);
    EXPECT_TRUE(is_reset(settings_copy()));
}

}  // namespace
