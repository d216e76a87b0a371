// HD Fonts and GUI import from ZIP and RAR5 archives, run as the task
// "HD Textures" over a fixture game folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/mods/hd.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/archive/zip.h"
#include "tests/mods/zip_maker.h"
#include "tests/rar5/rar5_test_writer.h"
#include "tests/mods/import_run.h"
#include "tests/support/data_folder.h"

namespace {

struct Gui_File {
    std::string name, data;
};

// The mod's files below a top folder, plus members that must never be
// written: one that climbs out, one with an absolute name.
std::vector<Gui_File> gui_files() {
    return {{"HD Fonts and GUI/readme.txt", "not in hd_textures"},
            {"HD Fonts and GUI/HD_Textures/hash_database.txt", "hash list"},
            {"HD Fonts and GUI/HD_Textures/fonts/font_a.dds", std::string(5000, 'f')},
            {"HD Fonts and GUI/HD_Textures/menu/../../../escape.dds", "climbs out"},
            {"HD Fonts and GUI/HD_Textures/maps/map.dds", std::string(3000, 'm')}};
}

std::string gui_zip(const std::vector<Gui_File>& files) {
    std::vector<Zip_Member> m;
    for (const Gui_File& f : files) m.push_back({f.name, f.data, true});
    return make_zip(m);
}

std::string gui_rar(const std::vector<Gui_File>& files) {
    std::vector<rar5_writer::Entry> entries;
    for (const Gui_File& f : files) {
        rar5_writer::Entry e;
        e.name = f.name;
        e.content = f.data;
        entries.push_back(e);
    }
    return rar5_writer::archive(entries);
}

struct Gui_Fixture : Data_Folder {
    std::string game, hd, textures;
    Gui_Fixture() {
        game = path_join({dir.path, "EMBERFALL SAGA"});
        hd = path_join({game, "amber_data_hd"});
        textures = path_join({hd, "hd_textures"});
        fs_make_dirs(path_join({game, "amber_data"}));
        settings_edit([&](Settings& s) { s.game_dir = game; });
    }
    ~Gui_Fixture() {
        fs_fail_under("");
        fs_disk_full_under("");
        fs_set_free_space_hook(nullptr);
        zip_set_read_hook(nullptr);
        hd_swap_fail_for_test(false);
        settings_replace(Settings{});
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        std::string path = path_join({dir.path, name});
        fs_write(path, bytes);
        return path;
    }
    // The files below a folder as sorted relative "/" paths.
    static std::vector<std::string> files(const std::string& root, const std::string& rel = "") {
        std::vector<std::string> out;
        std::vector<Dir_Entry> entries;
        fs_list(rel.empty() ? root : path_join({root, rel}), entries);
        for (const Dir_Entry& e : entries) {
            std::string r = rel.empty() ? e.name : rel + "/" + e.name;
            if (e.is_dir) {
                std::vector<std::string> below = files(root, r);
                out.insert(out.end(), below.begin(), below.end());
            } else {
                out.push_back(r);
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

bool has_line(const Task_View& v, const std::string& line) {
    return std::find(v.log.begin(), v.log.end(), line) != v.log.end();
}

}  // namespace

TEST(HdGui, ImportsFromZipAndRar5) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {{"HD Fonts.zip", gui_zip(gui_files())}, {"HD Fonts.rar", gui_rar(gui_files())}};
    for (const Case& c : cases) {
        Gui_Fixture f;
        std::string archive = f.put(c.name, c.bytes);
        Task_View v = import_archive(archive);
        EXPECT_FALSE(v.failed) << c.name;
        EXPECT_EQ(f.files(f.hd), (std::vector<std::string>{"hd_textures/fonts/font_a.dds",
                                                           "hd_textures/hash_database.txt", "hd_textures/maps/map.dds",
                                                           "quillmarsh_hd_gui.txt"}))
            << c.name;
        std::string font;
        ASSERT_TRUE(fs_read(path_join({f.textures, "fonts", "font_a.dds"}), font));
        EXPECT_EQ(font, std::string(5000, 'f'));
        EXPECT_TRUE(f.files(f.game, "").size() == 4) << "nothing lands outside the HD folder";
        std::string marker;
        ASSERT_TRUE(fs_read(path_join({f.hd, "quillmarsh_hd_gui.txt"}), marker));
        EXPECT_EQ(marker, "# HD Fonts and GUI (" + std::string(hd_gui_page) +
                              "), imported by Quillmarsh's launcher (Features & Mods > HD Textures)\narchive=" + c.name +
                              "\narchive_path=" + archive + "\nfiles=3\n");
        // The member that climbs out is named once and not counted.
        EXPECT_TRUE(has_line(v, "Skipped HD Fonts and GUI/HD_Textures/menu/../../../escape.dds: its name is not safe "
                                "to unpack (the name holds \"..\").")) << c.name;
        EXPECT_EQ(v.log.back(), "HD Fonts and GUI imported: 3 files in " + f.textures + ". HD Textures is On.");
        EXPECT_TRUE(settings_copy().hd);
        EXPECT_TRUE(hd_gui_imported());
    }
}

TEST(HdGui, AnInterruptedImportResumesFromTheIntactFiles) {
    Gui_Fixture f;
    std::string archive = f.put("HD Fonts.zip", gui_zip(gui_files()));
    std::string fresh = path_join({f.hd, "hd_textures.new"});
    fs_make_dirs(path_join({fresh, "fonts"}));
    fs_write(path_join({fresh, "hash_database.txt"}), "hash list");              // intact
    fs_write(path_join({fresh, "fonts", "font_a.dds"}), std::string(5000, 'x'));  // same size, other bytes
    fs_write(path_join({fresh, "stale.dds"}), "not in this archive");
    Task_View v = import_archive(archive);
    EXPECT_FALSE(v.failed);
    EXPECT_TRUE(has_line(v, "1 of the 4 files were already unpacked (an earlier import's): kept."));
    std::string font;
    ASSERT_TRUE(fs_read(path_join({f.textures, "fonts", "font_a.dds"}), font));
    EXPECT_EQ(font, std::string(5000, 'f'));
    EXPECT_FALSE(file_exists(path_join({f.textures, "stale.dds"})));
}

// A failed, refused or cancelled import leaves the textures in use, writes
// no marker and claims nothing.
TEST(HdGui, NothingChangesWhenTheImportDoesNotFinish) {
    struct Case {
        const char* what;
        void (*arrange)(Gui_Fixture& f);
        std::string line;   // expected in the log ("" = none checked)
        bool failed;
    };
    const Case cases[] = {
        {"cancelled while unpacking",
         [](Gui_Fixture&) {
             zip_set_read_hook([](int64_t, std::string&) {
                 the_task().cancel.store(1);
                 return true;
             });
         },
         "Cancelled.", true},
        {"the disk is full",
         [](Gui_Fixture& f) { fs_disk_full_under(path_join({f.hd, "hd_textures.new"})); },
         "Cannot unpack HD Fonts and GUI/HD_Textures/", true},
        {"the final rename fails", [](Gui_Fixture&) { hd_swap_fail_for_test(true); }, "Cannot move the textures to ",
         true},
        {"not enough room",
         [](Gui_Fixture&) {
             fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
                 bytes = 268435456 + 8000;   // 256 MiB and less than the 1.1-fold of the archive's 8 KB
                 return true;
             });
         },
         "Not enough room: the textures need about 0.3 GB free on the disk of ", true},
    };
    for (const Case& c : cases) {
        Gui_Fixture f;
        fs_make_dirs(f.textures);
        fs_write(path_join({f.textures, "old.dds"}), "the textures in use");
        fs_write(path_join({f.hd, "quillmarsh_hd.txt"}), "zip=HD Project.zip\n");
        std::string archive = f.put("HD Fonts.zip", gui_zip(gui_files()));
        c.arrange(f);
        Task_View v = import_archive(archive);
        EXPECT_EQ(v.failed, c.failed) << c.what;
        EXPECT_TRUE(file_exists(path_join({f.textures, "old.dds"}))) << c.what;
        EXPECT_FALSE(file_exists(path_join({f.hd, "quillmarsh_hd_gui.txt"}))) << c.what;
        EXPECT_FALSE(settings_copy().hd) << c.what;
        bool claimed = false, said = c.line.empty();
        for (const std::string& l : v.log) {
            claimed = claimed || l.find("imported") != std::string::npos;
            said = said || l.starts_with(c.line);
        }
        EXPECT_FALSE(claimed) << c.what;
        EXPECT_TRUE(said) << c.what;
    }
}

TEST(HdGui, RoomRuleCountsTheArchive) {
    // 8,019 bytes of textures need 8,019 + 801 + 256 MiB free.
    const uint64_t need = 8019 + 801 + 268435456;
    for (uint64_t free_bytes : {need - 1, need}) {
        Gui_Fixture f;
        std::string archive = f.put("HD Fonts.zip", gui_zip(gui_files()));
        fs_set_free_space_hook([=](std::string_view, uint64_t& bytes) {
            bytes = free_bytes;
            return true;
        });
        Task_View v = import_archive(archive);
        EXPECT_EQ(v.failed, free_bytes < need) << free_bytes;
    }
}
