// The HD Project texture import: its refusals and rules, run as the task
// "HD Textures" over a fixture game folder, and the small rules it judges
// the mod's tools by.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/hd_project.h"
#include "launcher/mods/mod_import.h"
#include "tests/mods/filelist_fixture.h"
#include "tests/mods/zip_maker.h"
#include "tests/mods/import_run.h"
#include "tests/support/data_folder.h"

namespace {

std::vector<Zip_Member> project_members() {
    return {{"SupportFiles/efsgtool.exe", "MZ"},
            {"SupportFiles/EFSAGA_HDProject.exe", "MZ"},
            {"SupportFiles/EFSAGA_ModelsHD.exe", "MZ"},
            {"Data/LoadHDPCs.tx1", "P c201"},
            {"Data/LoadHDPCs.tx3", "N n001"},
            {"Data/LoadHDEnvironments.txt", "Z2"},
            {"Textures/z002/a.dds", std::string(4000, 'd'), true},
            {"readme.txt", "not unpacked"}};
}

struct Project_Fixture : Data_Folder {
    std::string game, work;
    Project_Fixture() {
        game = path_join({dir.path, "EMBERFALL SAGA"});
        work = path_join({game, "amber_data_hd_work"});
        for (const char* f : {"filelistu", "amber_imgu", "filelist_scru", "amber_scru"})
            put(path_join({game, "amber_data", "sys", std::string(f) + ".win32.bin"}), "game's own");
        settings_edit([&](Settings& s) { s.game_dir = game; });
        // Room enough unless a test says otherwise.
        fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
            bytes = uint64_t(1) << 40;
            return true;
        });
    }
    ~Project_Fixture() {
        fs_set_free_space_hook(nullptr);
        settings_replace(Settings{});
    }
    static void put(const std::string& path, std::string_view bytes) {
        fs_make_dirs(path_dir(path));
        fs_write(path, bytes);
    }
    std::string archive(const std::string& name, const std::string& bytes) const {
        std::string path = path_join({dir.path, name});
        put(path, bytes);
        return path;
    }
};

}  // namespace

TEST(HdProject, Refusals) {
    using Members = std::vector<Zip_Member>;
    auto without = [](const char* name) {
        Members m = project_members();
        m.erase(std::remove_if(m.begin(), m.end(), [&](const Zip_Member& z) { return z.name == name; }), m.end());
        return m;
    };
    auto renamed = [](const char* from, const char* to) {
        Members m = project_members();
        for (Zip_Member& z : m)
            if (z.name == from) z.name = to;
        return m;
    };
    Members no_textures = without("Textures/z002/a.dds");
    no_textures.erase(no_textures.begin());   // and no efsgtool.exe either
    Members climbing = project_members();
    climbing.push_back({"textures/../x.dds", "out"});
    const std::string page(hd_project_page);
    struct Case {
        const char* what;
        std::string zip;   // the archive's bytes
        std::function<void(Project_Fixture&)> arrange;
        std::string line;  // the log's line after "HD Project.zip" or in full
    };
    const Case cases[] = {
        {"no game folder", make_zip(project_members()),
         [](Project_Fixture&) { settings_edit([](Settings& s) { s.game_dir.clear(); }); },
         "Choose the EMBERFALL SAGA folder first (Home)."},
        {"old assets discarded", make_zip(project_members()),
         [](Project_Fixture& f) {
             f.put(path_join({f.game, "amber_data_hd", "quillmarsh_hd.txt"}), "zip=a.zip\n");
             f.put(path_join({f.game, "amber_data_hd", "discarded.txt"}), "# deleted\n");
         },
         "The game's original archives were discarded (Discard Old Assets): an import needs them. Have Steam restore "
         "them (Properties > Installed Files > Verify integrity of game files), then Import again."},
        {"not a ZIP", "PK but nothing more", nullptr, "HD Project.zip is not a ZIP file (or it is damaged)."},
        {"no textures, even with a member missing", make_zip(no_textures), nullptr,
         "HD Project.zip is not the EF SAGA HD Project's ZIP (it has no textures/). Get it with Get, from " + page + "."},
        {"a tool missing", make_zip(without("SupportFiles/EFSAGA_ModelsHD.exe")), nullptr,
         "HD Project.zip is not the EF SAGA HD Project's ZIP (it has no SupportFiles/EFSAGA_ModelsHD.exe). Get it with "
         "Get, from " + page + "."},
        {"the game lacks an archive of the voices", make_zip(renamed("SupportFiles/efsgtool.exe", "supportfiles/EFSGTOOL.EXE")),
         [](Project_Fixture& f) { fs_remove_file(path_join({f.game, "amber_data", "sys", "filelist_scru.win32.bin"})); },
         "The game has no amber_data/sys/filelist_scru.win32.bin (English voices)."},
        {"Japanese voices", make_zip(project_members()),
         [](Project_Fixture&) { settings_edit([](Settings& s) { s.voice_japanese = true; }); },
         "The game has no amber_data/sys/filelistc.win32.bin (Japanese voices)."},
        {"a member climbs out", make_zip(climbing), nullptr,
         "The ZIP has a file outside its folder (textures/../x.dds): not the mod's ZIP."},
        {"the tool does not run", make_zip(project_members()), nullptr, "The mod's efsgtool.exe does not run here."},
    };
    for (const Case& c : cases) {
        Project_Fixture f;
        std::string path = f.archive("HD Project.zip", c.zip);
        if (c.arrange) c.arrange(f);
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_NE(std::find(v.log.begin(), v.log.end(), c.line), v.log.end()) << c.what << "\n" << v.log.back();
        EXPECT_FALSE(fs_is_dir(path_join({f.game, "amber_data_hd"})) &&
                     file_exists(path_join({f.game, "amber_data_hd", "quillmarsh_hd.txt"})) &&
                     !file_exists(path_join({f.game, "amber_data_hd", "discarded.txt"})))
            << c.what;
        EXPECT_FALSE(file_exists(path_join({f.work, "x.dds"})) || file_exists(path_join({f.dir.path, "x.dds"})));
    }
}

TEST(HdProject, RoomRule) {
    struct Case {
        uint64_t wanted, unpacked, need;
    };
    const Case cases[] = {
        {20000000000, 0, 25000000000},            // nothing unpacked yet
        {20000000000, 10000000000, 15000000000},  // an earlier run's files count
        {20000000000, 13000000000, 12500000000},  // at most 12.5 GB of them
        {40000000000, 5000000000, 35000000000},   // a bigger ZIP needs what its unpacking writes
    };
    for (const Case& c : cases) EXPECT_EQ(hd_room_needed(c.wanted, c.unpacked), c.need) << c.wanted << " " << c.unpacked;
}

TEST(HdProject, NotEnoughRoomKeepsWhatAnEarlierRunUnpacked) {
    for (bool earlier : {false, true}) {
        Project_Fixture f;
        std::string path = f.archive("HD Project.zip", make_zip(project_members()));
        if (earlier) f.put(path_join({f.work, "Textures", "z002", "a.dds"}), std::string(4000, 'd'));
        fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
            bytes = 14000000000;
            return true;
        });
        Task_View v = import_archive(path);
        EXPECT_TRUE(v.failed);
        std::string want = "Not enough room: the import needs about 25 GB free on the disk of " + f.work +
                           " while it runs, and there are 14.0 GB. Free some space and Import again.";
        EXPECT_NE(std::find(v.log.begin(), v.log.end(), want), v.log.end()) << v.log.front();
        EXPECT_EQ(fs_is_dir(f.work), earlier);
        if (earlier) {
            EXPECT_TRUE(file_exists(path_join({f.work, "Textures", "z002", "a.dds"})));
            EXPECT_EQ(v.log.back(), "The files unpacked from the ZIP were kept in " + f.work +
                                        ": the next Import goes on from them (delete that folder to free the space).");
        }
    }
}

TEST(HdProject, ToolRunsThatCount) {
    struct Case {
        int64_t code;
        bool list_used, done;
    };
    const Case cases[] = {
        {0, false, false}, {0, true, true},       {1, false, true},      {1000, false, true},
        {1001, false, false}, {-1, false, false}, {-1, true, false},     {0xFFFFFFFF, false, false},
    };
    for (const Case& c : cases) EXPECT_EQ(hd_texture_done(c.code, c.list_used), c.done) << c.code << " " << c.list_used;
}

TEST(HdProject, ModelIdsThatMayBecomePaths) {
    for (const char* ok : {"c201", "n001a", "w.x"}) EXPECT_TRUE(hd_model_id_ok(ok)) << ok;
    for (const char* bad : {"", "a/b", "a\\b", "C:x", "..", "x..y"}) EXPECT_FALSE(hd_model_id_ok(bad)) << bad;
}

TEST(HdProject, ExcerptEndsOnAWholeCharacter) {
    const std::string a599(599, 'a');
    EXPECT_EQ(utf8_head(a599 + "\xC3\xA9" + "b", 600), a599);        // é would be cut
    EXPECT_EQ(utf8_head(a599 + "b\xE2\x82\xAC", 600), a599 + "b");   // ends right before €
    EXPECT_EQ(utf8_head("a\xE2\x82\xAC", 3), "a");
    EXPECT_EQ(utf8_head("short", 600), "short");
}

TEST(HdProject, RepackedPairMustHoldItsEntries) {
    Project_Fixture f;
    std::string list = path_join({f.dir.path, "filelist.bin"}), archive = path_join({f.dir.path, "archive.bin"});
    std::string lines = std::string("0:10:10:a.trb") + '\0' + "1:20:20:b.imgb" + '\0';
    f.put(list, fixture_list({lines}, {{0, 0, 0}, {0, 0, 14}}));
    std::string why;
    f.put(archive, std::string(2048 + 0x20, 'x'));
    EXPECT_TRUE(hd_pair_ok(list, archive, &why)) << why;
    f.put(archive, std::string(2048 + 0x1F, 'x'));
    EXPECT_FALSE(hd_pair_ok(list, archive, &why));
    EXPECT_EQ(why, "b.imgb lies past the end of archive.bin");
    f.put(list, "not a list");
    EXPECT_FALSE(hd_pair_ok(list, archive, &why));
}
