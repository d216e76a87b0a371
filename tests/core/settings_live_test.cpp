// The live settings record and settings.txt in the data folder. The first
// test of this file must be the first load of the program: it checks the
// defaults copy that the first load keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/log.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "tests/core/settings_compare.h"
#include "tests/support/data_folder.h"

namespace {

// A fresh data folder for one test; the live record goes back to the
// defaults afterwards.
struct Settings_Folder : Data_Folder {
    ~Settings_Folder() { settings_replace(Settings{}); }
    std::string settings_file() const { return data_path({"settings.txt"}); }
};

}  // namespace

TEST(SettingsLive, FirstLoadKeepsTheDefaults) {
    Settings_Folder data;
    Settings start;
    start.fps = 30;
    start.save_dirs = {"C:\\saves"};
    settings_replace(start);
    ASSERT_TRUE(fs_write(data.settings_file(), "settings_version 4\nfps 144\nsave_dir D:\\more\n"));

    load_settings();
    Settings live = settings_copy();
    EXPECT_EQ(live.fps, 144);
    EXPECT_EQ(live.save_dirs, (std::vector<std::string>{"C:\\saves", "D:\\more"}));

    // The defaults are the record as it was before the first load, with a
    // save-folder list of their own.
    Settings want = start;
    want.save_dirs.clear();
    EXPECT_TRUE(settings_defaults() == want);

    // A later load changes neither the defaults nor, when the file is gone,
    // the record.
    ASSERT_TRUE(fs_remove_file(data.settings_file()));
    settings_replace(Settings{});
    load_settings();
    EXPECT_TRUE(settings_copy() == Settings{});
    EXPECT_TRUE(settings_defaults() == want);
}

TEST(SettingsLive, SaveThenLoadGivesTheSameRecord) {
    Settings_Folder data;
    Settings x;
    x.game_dir = "D:\\Games\\EMBERFALL SAGA";
    x.graphics = 4;
    x.shadow_res = 4096;
    x.aa_dlss = x.aa_taa = true;
    x.save_dirs = {"E:\\one", "E:\\two"};
    x.key_map[29] = 26;
    x.hard = {2, 1, 2, 1, 0, 1, 0, 0};
    settings_replace(x);
    ASSERT_TRUE(save_settings());

    std::string text;
    ASSERT_TRUE(fs_read(data.settings_file(), text));
    EXPECT_EQ(text, settings_text(x));

    // Into a record given by the caller, the live one untouched.
    settings_replace(Settings{});
    Settings other;
    load_settings(&other);
    expect_same(other, x, "into a given record");
    EXPECT_TRUE(settings_copy() == Settings{});

    // Into the live record.
    load_settings();
    expect_same(settings_copy(), x, "into the live record");
}

TEST(SettingsLive, AnUnreadableFileKeepsTheRecord) {
    Settings_Folder data;
    ASSERT_TRUE(fs_make_dirs(data.settings_file()));   // a folder in its place
    Settings s;
    s.fps = 240;
    load_settings(&s);
    EXPECT_EQ(s.fps, 240);
    // and a write that fails is only reported by the result
    settings_replace(s);
    fs_fail_under(data_dir());
    EXPECT_FALSE(save_settings());
    fs_fail_under("");
}

// A kill or a full disk in the middle of a save used to leave an empty or
// cut settings.txt, and the next start began from the defaults.
TEST(SettingsLive, AFailedSaveKeepsTheOldFileAndSaysWhy) {
    Settings_Folder data;
    Settings old;
    old.game_dir = "D:\\Games\\EMBERFALL SAGA";
    old.fps = 144;
    settings_replace(old);
    ASSERT_TRUE(save_settings());
    std::string before;
    ASSERT_TRUE(fs_read(data.settings_file(), before));

    Settings changed = old;
    changed.fps = 30;
    settings_replace(changed);
    fs_disk_full_under(data_dir());
    std::string err;
    bool saved = save_settings(&err);
    fs_disk_full_under("");
    EXPECT_FALSE(saved);
    EXPECT_EQ(err.rfind("Could not save " + data.settings_file() + ": ", 0), 0u) << err;
    EXPECT_EQ(err.back(), '.');
    std::string after;
    ASSERT_TRUE(fs_read(data.settings_file(), after));
    EXPECT_EQ(after, before);
    std::vector<Dir_Entry> entries;
    ASSERT_TRUE(fs_list(data_dir(), entries));
    for (const Dir_Entry& e : entries) EXPECT_EQ(e.name.find(".tmp"), std::string::npos) << e.name;
}

// settings.txt as a link to a file elsewhere: the save replaces the link.
TEST(SettingsLive, ASaveNeverWritesThroughALink) {
    Settings_Folder data;
    Temp_Dir elsewhere;
    std::string outside = path_join({elsewhere.path, "precious.txt"});
    ASSERT_TRUE(fs_write(outside, "not the launcher's"));
    ASSERT_TRUE(fs_make_dirs(data_dir()));
    if (!fs_make_link(outside, data.settings_file(), false)) GTEST_SKIP() << "this system makes no links";
    ASSERT_TRUE(save_settings());
    std::string text;
    ASSERT_TRUE(fs_read(outside, text));
    EXPECT_EQ(text, "not the launcher's");
    File_Info info;
    ASSERT_TRUE(fs_stat(data.settings_file(), info));
    EXPECT_FALSE(info.is_link);
}

// The lines a load logged, through the process logger.
struct Logged {
    static inline std::vector<std::string> lines;
    static void sink(Log_Level, std::string_view line) { lines.emplace_back(line); }
    Log_Sink before;
    Logged() : before(log_set_sink(sink)) { lines.clear(); }
    ~Logged() { log_set_sink(before); }
};

// An over-long line (of a known key and of an unknown one) and a list of
// save folders far beyond any real one used to make the whole file
// unreadable, and the next save wrote the defaults over it.
TEST(SettingsLive, OverLongLinesAndListsAreSkippedTheRestKept) {
    Settings_Folder data;
    std::string text = "settings_version 4\nopt_level 3\nkey_map " + std::string(1 << 20, '1') +
                       "\nvol_music 37\nzz_unknown " + std::string(1 << 20, 'x') + "\nfps 144\n";
    for (int i = 0; i < 20000; ++i) text += fmt("save_dir D:\\saves\\%d\n", i);
    text += "mouse_sens 250";   // the last line without its line break
    ASSERT_TRUE(fs_make_dirs(data_dir()));
    ASSERT_TRUE(fs_write(data.settings_file(), text));

    Settings s;
    {
        Logged logged;
        load_settings(&s);
        ASSERT_EQ(Logged::lines.size(), 1u);
        EXPECT_EQ(Logged::lines[0], fmt("%s: skipped 2 lines longer than %d bytes and 19000 save folders beyond the "
                                        "first 1000; the other settings apply.",
                                        data.settings_file(), settings_line_limit));
    }
    auto check = [](const Settings& r, const char* when) {
        EXPECT_EQ(r.opt_level, 3) << when;
        EXPECT_EQ(r.vol_music, 37) << when;
        EXPECT_EQ(r.fps, 144) << when;
        EXPECT_EQ(r.mouse_sens, 250) << when;
        EXPECT_TRUE(r.key_map == Settings{}.key_map) << when;
        ASSERT_EQ(r.save_dirs.size(), settings_save_dir_limit) << when;
        EXPECT_EQ(r.save_dirs.front(), "D:\\saves\\0") << when;
        EXPECT_EQ(r.save_dirs.back(), "D:\\saves\\999") << when;
    };
    check(s, "loaded");
    settings_replace(s);
    ASSERT_TRUE(save_settings());
    Settings back;
    {
        Logged logged;
        load_settings(&back);
        EXPECT_TRUE(Logged::lines.empty());
    }
    check(back, "saved and loaded again");
}

// A file the loader cannot read is set aside, never written over.
TEST(SettingsLive, AnUnreadableFileIsKeptAsBad) {
    Settings_Folder data;
    ASSERT_TRUE(fs_make_dirs(data_dir()));
    std::string bad = data.settings_file() + ".bad";
    std::string big = "opt_level 3\n" + std::string(settings_read_limit, '#');
    struct Case {
        const char* what;
        std::function<bool()> make;
    } cases[] = {
        {"a folder", [&] { return fs_make_dirs(path_join({data.settings_file(), "inside"})); }},
        {"a file over the limit", [&] { return fs_write(data.settings_file(), big); }},
    };
    for (const Case& c : cases) {
        fs_remove_tree(bad);
        ASSERT_TRUE(c.make()) << c.what;
        Settings s;
        s.opt_level = 2;
        {
            Logged logged;
            load_settings(&s);
            ASSERT_EQ(Logged::lines.size(), 1u) << c.what;
            EXPECT_EQ(Logged::lines[0].rfind(data.settings_file() + " cannot be read (", 0), 0u) << Logged::lines[0];
            EXPECT_NE(Logged::lines[0].find("): kept as " + bad + "; the settings start from the defaults."),
                      std::string::npos)
                << Logged::lines[0];
        }
        EXPECT_EQ(s.opt_level, 2) << c.what;
        File_Info info;
        EXPECT_FALSE(fs_stat(data.settings_file(), info) && info.exists) << c.what;
        ASSERT_TRUE(fs_stat(bad, info) && info.exists) << c.what;
        ASSERT_TRUE(save_settings()) << c.what;
        ASSERT_TRUE(fs_stat(bad, info) && info.exists) << c.what;
        fs_remove_file(data.settings_file());
    }
    std::string kept;
    ASSERT_TRUE(fs_read(bad, kept));
    EXPECT_TRUE(kept == big);
}

TEST(SettingsLive, StringsWithALineBreakAreRefused) {
    Settings_Folder data;
    struct Case {
        std::string Settings::*field;
        const char* key;
    } cases[] = {{&Settings::game_dir, "game_dir"},
                 {&Settings::compiler, "compiler"},
                 {&Settings::cross_target, "cross_target"},
                 {&Settings::cross_cpu, "cross_cpu"}};
    for (const Case& c : cases) {
        std::string err;
        ASSERT_TRUE(settings_set_string(c.field, c.key, "C:\\kept", &err)) << err;
        for (const char* bad : {"clang\nfps 30", "clang\r", "\n"}) {
            EXPECT_FALSE(settings_set_string(c.field, c.key, bad, &err));
            EXPECT_EQ(err, fmt("The %s setting cannot hold a line break: kept the previous value.", c.key));
            EXPECT_EQ(settings_copy().*c.field, "C:\\kept");
        }
    }
    std::string err;
    EXPECT_TRUE(settings_add_save_dir("E:\\saves", &err));
    EXPECT_FALSE(settings_add_save_dir("E:\\x\nfps 30", &err));
    EXPECT_EQ(err, "The save_dir setting cannot hold a line break: kept the previous value.");
    EXPECT_FALSE(settings_add_save_dir("", &err));
    EXPECT_EQ(settings_copy().save_dirs, std::vector<std::string>{"E:\\saves"});

    // What was kept is what the file holds.
    ASSERT_TRUE(save_settings());
    Settings back;
    load_settings(&back);
    expect_same(back, settings_copy(), "what was kept");
}

// Whether `text` is settings.txt as one writer left it, or the beginning of
// it: the complete lines hold the keys in the writer's order, each once
// (save_dir aside). Two writes mixed in one file repeat keys.
static bool one_writers_text(std::string_view text, const std::vector<std::string>& order) {
    std::vector<std::string_view> lines = split_at(text, '\n');
    lines.pop_back();   // incomplete, or empty after the last "\n"
    size_t at = 0;
    std::string_view previous;
    for (std::string_view line : lines) {
        std::string_view key = line.substr(0, line.find(' '));
        if (key == "save_dir" && previous == "save_dir") continue;
        while (at < order.size() && order[at] != key) at++;
        if (at == order.size()) return false;
        at++;
        previous = key;
    }
    return true;
}

// Tasks edit and save the record while the interface copies it every frame.
// Each edit keeps the record consistent with itself; every copy must show
// one whole record, and the file one writer's text at any time.
TEST(SettingsLive, ConcurrentEditsCopiesAndSaves) {
    Settings_Folder data;
    // Long save-folder lists of changing length make the texts differ in
    // size, so that two writes mixed in the file leave a tail behind.
    auto edit_to = [](int64_t n) {
        settings_edit([n](Settings& s) {
            s.vol_music = n % 101;
            s.vol_sfx = n % 101;
            s.game_dir = fmt("C:\\Games\\%d\\%s", n, std::string(size_t(n % 53), 'x'));
            s.save_dirs.assign(size_t(n % 7) * 300, fmt("E:\\saves\\%d\\%s", n, std::string(80, 's')));
        });
    };
    auto consistent = [](const Settings& s) {
        int64_t n = 0;
        std::string_view dir = s.game_dir;
        if (dir.substr(0, 9) != "C:\\Games\\") return false;
        dir.remove_prefix(9);
        size_t sep = dir.find('\\');
        if (sep == std::string_view::npos || !parse_int(dir.substr(0, sep), n)) return false;
        if (dir.substr(sep + 1) != std::string(size_t(n % 53), 'x')) return false;
        if (s.vol_music != n % 101 || s.vol_sfx != n % 101) return false;
        if (s.save_dirs.size() != size_t(n % 7) * 300) return false;
        for (const std::string& d : s.save_dirs)
            if (d != fmt("E:\\saves\\%d\\%s", n, std::string(80, 's'))) return false;
        return true;
    };
    std::vector<std::string> order;
    std::string full = settings_text(sculpt_as_read(Settings{}));
    for (std::string_view line : split_at(full, '\n'))
        if (!line.empty()) order.emplace_back(line.substr(0, line.find(' ')));
    order.insert(std::find(order.begin(), order.end(), "hd"), "save_dir");
    edit_to(0);

    std::atomic<bool> saving{true};
    std::atomic<int> bad_copies{0}, mixed_files{0};
    std::vector<std::thread> threads, savers;
    // The threads below loop as fast as they can while the saves run; each
    // turn yields, so that on a busy machine (or under wine, where a synced
    // save is slow) they do not starve the other programs.
    for (int w = 0; w < 2; w++)
        threads.emplace_back([&, w] {
            for (int i = 1; saving; i++) {
                edit_to(w * 1000000 + i);
                std::this_thread::yield();
            }
        });
    threads.emplace_back([&] {
        for (; saving; std::this_thread::yield())
            if (!consistent(settings_copy())) bad_copies++;
    });
    // A read that overlaps a write may itself see two texts; a file that two
    // writes mixed shows the same mixed text to the next read as well.
    threads.emplace_back([&] {
        std::string text, again;
        for (; saving; std::this_thread::yield())
            if (fs_read(data.settings_file(), text) && !one_writers_text(text, order) &&
                fs_read(data.settings_file(), again) && again == text)
                mixed_files++;
    });
    for (int w = 0; w < 3; w++)
        savers.emplace_back([&] {
            for (int i = 0; i < 100; i++) save_settings();
        });
    for (std::thread& t : savers) t.join();
    saving = false;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bad_copies.load(), 0);
    EXPECT_EQ(mixed_files.load(), 0);

    // The file left behind is one whole text of a consistent record.
    std::string text;
    ASSERT_TRUE(fs_read(data.settings_file(), text));
    EXPECT_TRUE(one_writers_text(text, order));
    EXPECT_TRUE(text.ends_with("\ncross_appimage 0\n"));
    Settings back;
    settings_apply_text(back, text);
    EXPECT_TRUE(consistent(back));
    EXPECT_EQ(settings_text(back), text);
    ASSERT_TRUE(save_settings());
}

// The window's saves are written on a thread of their own. Changes made
// while a write is held up merge into one more write, the file ends with the
// last of them, and a wait returns only once that text is on the disk.
TEST(SettingsLive, LaterSavesEndWithTheLastChangeAndTheWaitSeesItOnDisk) {
    Settings_Folder data;
    save_settings_wait();
    std::mutex gate_lock;
    std::condition_variable gate_changed;
    bool open = false;
    std::atomic<int> held{0};
    settings_set_save_hook([&] {
        held++;
        std::unique_lock<std::mutex> guard(gate_lock);
        gate_changed.wait(guard, [&] { return open; });
    });
    const int64_t writes_before = settings_save_stats().writes;

    settings_edit([](Settings& s) { s.fps = 30; });
    save_settings_later();
    while (held.load() == 0) std::this_thread::yield();   // the first write is held
    for (int64_t fps : {144, 165, 240, 120}) {
        settings_edit([&](Settings& s) { s.fps = fps; });
        save_settings_later();
    }
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        save_settings_wait();
        waited = true;
    });
    EXPECT_TRUE(save_settings_pending());
    EXPECT_FALSE(waited.load()) << "the wait returned while a write was held up";
    EXPECT_FALSE(file_exists(data.settings_file()));
    {
        std::lock_guard<std::mutex> guard(gate_lock);
        open = true;
    }
    gate_changed.notify_all();
    waiter.join();
    settings_set_save_hook(nullptr);

    EXPECT_FALSE(save_settings_pending());
    std::string text;
    ASSERT_TRUE(fs_read(data.settings_file(), text));
    EXPECT_EQ(text, settings_text(settings_copy()));
    Settings back;
    settings_apply_text(back, text);
    EXPECT_EQ(back.fps, 120);
    // The four changes made during the held write were one write more.
    EXPECT_EQ(settings_save_stats().writes - writes_before, 2);
}

// A requested write that fails leaves the old file and gives the failure's
// sentence to the wait, as save_settings gives it to its caller; the next
// write that succeeds clears it.
TEST(SettingsLive, ALaterSaveThatFailsIsReportedByTheWait) {
    Settings_Folder data;
    settings_edit([](Settings& s) { s.fps = 144; });
    save_settings_later();
    ASSERT_TRUE(save_settings_wait());
    std::string before;
    ASSERT_TRUE(fs_read(data.settings_file(), before));

    settings_edit([](Settings& s) { s.fps = 30; });
    fs_disk_full_under(data_dir());
    save_settings_later();
    std::string err;
    bool saved = save_settings_wait(&err);
    fs_disk_full_under("");
    EXPECT_FALSE(saved);
    EXPECT_EQ(err.rfind("Could not save " + data.settings_file() + ": ", 0), 0u) << err;
    std::string after;
    ASSERT_TRUE(fs_read(data.settings_file(), after));
    EXPECT_EQ(after, before);

    save_settings_later();
    err.clear();
    EXPECT_TRUE(save_settings_wait(&err)) << err;
    ASSERT_TRUE(fs_read(data.settings_file(), after));
    EXPECT_EQ(after, settings_text(settings_copy()));
}
