// The mod archive import: recognition, the three importers into "mod_src"
// and the button icons, run as the task "HD Textures" on archives made here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/buttons.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mod_tasks/mod_import.h"
#include "launcher/archive/zip.h"
#include "tests/mods/import_run.h"
#include "tests/mods/mod_archives.h"
#include "tests/support/data_folder.h"
#include "tests/support/temp_dir.h"

namespace {

struct Import_Fixture : Data_Folder {
    ~Import_Fixture() {
        fs_fail_under("");
        settings_replace(Settings{});
    }
    std::string put(const std::string& name, const std::string& bytes) const {
        std::string path = path_join({dir.path, name});
        fs_write(path, bytes);
        return path;
    }
    // Imports the archive and returns the task's log.
    Task_View import(const std::string& path) const {
        Task& t = the_task();
        EXPECT_TRUE(hd_import_start(path));
        while (t.running.load()) sleep_ms(5);
        thread_join(t.thread);
        return task_view(t);
    }
};

std::vector<Zip_Entry> entries_named(const std::vector<std::string>& names) {
    std::vector<Zip_Entry> out;
    for (const std::string& n : names) out.push_back({n, 0, 0, 0, 0, 0});
    return out;
}

// The files below a folder, as relative "/" paths with their bytes.
void tree_files(const std::string& root, const std::string& rel, std::vector<std::pair<std::string, std::string>>& out) {
    std::vector<Dir_Entry> entries;
    fs_list(rel.empty() ? root : path_join({root, rel}), entries);
    for (const Dir_Entry& e : entries) {
        std::string r = rel.empty() ? e.name : rel + "/" + e.name;
        if (e.is_dir) {
            tree_files(root, r, out);
        } else {
            std::string bytes;
            fs_read(path_join({root, r}), bytes);
            out.push_back({r, bytes});
        }
    }
    std::sort(out.begin(), out.end());
}

}  // namespace

TEST(ModImport, RecognisesTheKindByMemberNames) {
    struct Case { const char* what; std::vector<std::string> names; Zip_Kind want; };
    const Case cases[] = {
        {"hard mode wins over sculpting", {"a/SAGA_Sculpting.bin", "x/EFSAGA_Hard_CTG+30.txt"}, Zip_Kind::Hard_Mode},
        {"sculpting", {"SAGA_SCULPTING.BIN"}, Zip_Kind::Sculpt},
        {"HD Models+ in any case", {"r/SupportFiles/EF SAGA HD Models.exe", "r/DATA/x_kestrel1.TXT"}, Zip_Kind::Hd_Models},
        {"HD Models+ needs its list too", {"r/SupportFiles/EF SAGA HD Models.exe"}, Zip_Kind::Hd_Project},
        {"button icons", {"a/SYSTEM.WIN32.PS3", "b/system.win32.360"}, Zip_Kind::Button_Icons},
        {"one button file is not enough", {"a/system.win32.ps3"}, Zip_Kind::Hd_Project},
        {"HD Fonts and GUI", {"Pack/HD_Textures/Hash_Database.txt"}, Zip_Kind::Hd_Gui},
        {"anything else", {"textures/a.dds"}, Zip_Kind::Hd_Project},
    };
    for (const Case& c : cases) EXPECT_EQ(zip_kind(entries_named(c.names)), c.want) << c.what;
}

TEST(ModImport, HardModeUnpacksTextFilesFlat) {
    Import_Fixture f;
    std::string zip = f.put("Hard Mode 1.16.zip", make_zip(hard_mode_members()));
    Task_View v = f.import(zip);
    EXPECT_FALSE(v.failed);
    EXPECT_EQ(v.log, std::vector<std::string>{"Hard Mode: 12 files imported. Pick its options on Features & Mods; they "
                                              "apply the next time the game starts."});
    EXPECT_EQ(v.status, "Hard Mode imported");
    EXPECT_TRUE(hard_imported());
    EXPECT_TRUE(file_exists(data_path({"mod_src", "hardmode", "NOTES.TXT"})));
    EXPECT_FALSE(file_exists(data_path({"mod_src", "hardmode", "preview.png"})));

    // A pack without one option file is refused, naming the first one lacking.
    std::vector<Zip_Member> members = hard_mode_members();
    members.erase(members.begin() + 4);   // EnemyHP50, after the folder, CTG+30, CTG+50, Chain600
    fs_remove_tree(data_path({"mod_src"}));
    v = f.import(f.put("old.zip", make_zip(members)));
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log, std::vector<std::string>{
                         "old.zip has no EFSAGA_Hard_EnemyHP50.txt: not the Hard Mode version this launcher knows (1.16)."});
}

TEST(ModImport, SculptingUnpacksBatchFilesAndItsData) {
    Import_Fixture f;
    Task_View v = f.import(f.put("Sculpting.zip", make_zip(sculpt_members())));
    EXPECT_FALSE(v.failed) << v.log.front();
    EXPECT_EQ(v.log, std::vector<std::string>{
                         "Body Sculpting imported. Pick the shapes on Features & Mods, then Apply Sculpting."});
    EXPECT_TRUE(sculpt_imported());
    EXPECT_FALSE(file_exists(data_path({"mod_src", "sculpt", "readme.txt"})));
    EXPECT_TRUE(file_exists(data_path({"mod_src", "sculpt", ".bat"})));

    // A batch file without its ":SCULPT" label.
    std::vector<Zip_Member> members = sculpt_members();
    members[1].data = "@echo off\r\n";
    fs_remove_tree(data_path({"mod_src"}));
    v = f.import(f.put("s.zip", make_zip(members)));
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log, std::vector<std::string>{"s.zip has no " + std::string(sculpt_characters[1].batch_file) +
                                              ": not the Body Sculpting version this launcher knows (4.0.5)."});
}

TEST(ModImport, HdModelsKeepsItsTreeAndSkipsBatchFilesAndEscapes) {
    Import_Fixture f;
    std::string zip = f.put("HD Models.zip", make_zip(hd_models_members()));
    Task_View v = f.import(zip);
    ASSERT_FALSE(v.failed) << v.log.front();
    EXPECT_EQ(v.log, std::vector<std::string>{
                         "HD Models+ imported. Pick each character's model on Features & Mods, then Apply HD Models."});
    EXPECT_TRUE(hdm_imported());
    std::string dir = data_path({"mod_src", "hdmodels"});
    EXPECT_FALSE(file_exists(path_join({dir, "SupportFiles", "run.BAT"})));
    EXPECT_FALSE(file_exists(path_join({dir, "escape.txt"})));
    EXPECT_FALSE(file_exists(data_path({"mod_src", "escape.txt"})));
    EXPECT_FALSE(file_exists(path_join({dir, "Readme.txt"})));

    // The tree equals what bsdtar unpacks of the same members.
    if (std::system("bsdtar --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no bsdtar";
    std::string peer = path_join({f.dir.path, "bsdtar"});
    fs_make_dirs(peer);
    std::string root = "EF SAGA HD Models 4.1.7/";
    std::string cmd = "bsdtar -xf '" + zip + "' -C '" + peer + "' -s '|^" + root + "||' --exclude '*.BAT' " +
                      "--exclude '*..*' --exclude 'Readme.txt' '" + root + "*'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::vector<std::pair<std::string, std::string>> ours, theirs;
    tree_files(dir, "", ours);
    tree_files(peer, "", theirs);
    EXPECT_EQ(ours.size(), theirs.size());
    for (size_t i = 0; i < std::max(ours.size(), theirs.size()); i++) {
        std::string a = i < ours.size() ? ours[i].first : "", b = i < theirs.size() ? theirs[i].first : "";
        EXPECT_EQ(a, b);
        if (a != b) break;
    }
    EXPECT_TRUE(ours == theirs);
}

TEST(ModImport, HdModelsProgressStaysWithinOne) {
    struct Case { int n; float want; };
    for (Case c : {Case{1, 0.056f}, Case{150, 0.95f}, Case{158, 0.998f}, Case{159, 1.0f}, Case{1000, 1.0f}})
        EXPECT_NEAR(hdm_import_progress(c.n), c.want, 0.0005f) << c.n;
}

// (HD Fonts and GUI, ZIP or RAR5, is tested with its importer.)
TEST(ModImport, FilesThatAreNoModZip) {
    Import_Fixture f;
    // A game folder, so that what goes to the HD Project importer is refused
    // by its own ZIP check.
    fs_make_dirs(path_join({f.dir.path, "game", "amber_data"}));
    settings_edit([&](Settings& s) { s.game_dir = path_join({f.dir.path, "game"}); });
    struct Case { const char* what; std::string name; std::string bytes; std::string line; };
    const Case cases[] = {
        {"RAR5 that cannot be listed", "damaged.rar", rar5_damaged(),
         "damaged.rar is a RAR archive this launcher cannot read (encrypted, multi-part, or damaged)."},
        {"RAR 4", "old.rar", rar4_bytes(),
         "old.rar is an old RAR (RAR 4) archive: unpack it with 7-Zip or WinRAR and make a ZIP of it, or get the mod "
         "again."},
        {"four bytes of RAR", "four.rar", "Rar!",
         "four.rar is an old RAR (RAR 4) archive: unpack it with 7-Zip or WinRAR and make a ZIP of it, or get the mod "
         "again."},
        {"under four bytes", "tiny.zip", "Ra", "tiny.zip is not a ZIP file (or it is damaged)."},
        {"no archive", "notes.zip", "just some text, no archive at all",
         "notes.zip is not a ZIP file (or it is damaged)."},
    };
    for (const Case& c : cases) {
        Task_View v = f.import(f.put(c.name, c.bytes));
        EXPECT_TRUE(v.failed) << c.what;
        EXPECT_EQ(v.log, std::vector<std::string>{c.line}) << c.what;
    }
    Task_View v = f.import(path_join({f.dir.path, "missing.zip"}));
    EXPECT_EQ(v.log, std::vector<std::string>{"Cannot open " + path_join({f.dir.path, "missing.zip"}) + "."});
    EXPECT_EQ(hd_import_path(), path_join({f.dir.path, "missing.zip"}));
}

TEST(ButtonIcons, DdsHeaderAndBlankTest) {
    std::string sheet = glyph_sheet(3);
    std::string dds = bb_dds(sheet);
    ASSERT_EQ(dds.size(), 131200u);
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(dds[at])) | uint32_t(uint8_t(dds[at + 1])) << 8 | uint32_t(uint8_t(dds[at + 2])) << 16 |
               uint32_t(uint8_t(dds[at + 3])) << 24;
    };
    const std::pair<size_t, uint32_t> fields[] = {{0, 0x20534444}, {4, 124}, {8, 0x100F}, {12, 128}, {16, 256},
                                                  {20, 1024}, {28, 0}, {76, 32}, {80, 0x41}, {84, 0}, {88, 32},
                                                  {92, 0xFF0000}, {96, 0xFF00}, {100, 0xFF}, {104, 0xFF000000},
                                                  {108, 0x1000}, {112, 0}};
    for (auto [at, want] : fields) EXPECT_EQ(u32(at), want) << "offset " << at;
    EXPECT_TRUE(dds.substr(128) == sheet);

    // Counts of fully transparent and fully opaque pixels at the limits.
    struct Case { int transparent; int opaque; bool ok; };
    for (Case c : {Case{8191, 500, false}, Case{8192, 500, true}, Case{8192, 499, false}, Case{20000, 12768, true}}) {
        std::string s(bb_sheet_size, '\0');
        for (int i = 0; i < 32768; i++) {
            uint8_t alpha = i < c.transparent ? 0 : i < c.transparent + c.opaque ? 255 : 128;
            s[size_t(4 * i + 3)] = char(alpha);
        }
        EXPECT_EQ(bb_sheet_ok(s), c.ok) << c.transparent << " transparent, " << c.opaque << " opaque";
    }
}

TEST(ButtonIcons, ImportWritesBothSheetsAndTurnsTheSettingOn) {
    Import_Fixture f;
    std::string zip = f.put("Better Button Icons.zip", make_zip(button_members()));
    Task_View v = f.import(zip);
    ASSERT_FALSE(v.failed) << v.log.front();
    std::string icons = data_path({"button_icons"});
    EXPECT_EQ(v.log, (std::vector<std::string>{
                         "button_ps.dds: the PlayStation icons", "button_xb.dds: the Xbox 360 icons",
                         "Better Button Icons imported into " + icons +
                             ". It is On: with no controller the game shows the keyboard's keys, with a PlayStation "
                             "controller its buttons, with any other the Xbox 360 ones."}));
    EXPECT_TRUE(bb_present());
    EXPECT_TRUE(settings_copy().button_icons);
    EXPECT_FALSE(fs_is_dir(path_join({icons, "unpack"})));
    std::string ps;
    ASSERT_TRUE(fs_read(path_join({icons, "button_ps.dds"}), ps));
    EXPECT_TRUE(ps.substr(128) == glyph_sheet(1));

    // ffmpeg reads the DDS back to the sheet's pixels, byte for byte.
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    std::string raw = path_join({f.dir.path, "ps.bgra"});
    std::string cmd = "ffmpeg -v error -y -i '" + path_join({icons, "button_ps.dds"}) +
                      "' -f rawvideo -pix_fmt bgra '" + raw + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string pixels;
    ASSERT_TRUE(fs_read(raw, pixels));
    EXPECT_TRUE(pixels == glyph_sheet(1));
}

TEST(ButtonIcons, RefusedSheetsAndSizes) {
    Import_Fixture f;
    std::vector<Zip_Member> members = button_members();
    members[1].data.resize(members[1].data.size() - 1);
    Task_View v = f.import(f.put("b.zip", make_zip(members)));
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log, (std::vector<std::string>{
                         "button_ps.dds: the PlayStation icons",
                         "b.zip's system.win32.360 is 9247263 bytes, not 9247264: not the version this launcher "
                         "knows (v2.0). Get it with Get."}));
    EXPECT_FALSE(bb_present());
    EXPECT_FALSE(settings_copy().button_icons);

    members = button_members();
    members[0].data = button_file(std::string(bb_sheet_size, '\x7f'));
    v = f.import(f.put("blank.zip", make_zip(members)));
    EXPECT_EQ(v.log, std::vector<std::string>{
                         "system.win32.ps3 does not hold button icons where the launcher expects them."});
    EXPECT_FALSE(fs_is_dir(data_path({"button_icons", "unpack"})));

    // A sheet that cannot be written leaves no file under the final name.
    fs_remove_file(data_path({"button_icons", "button_ps.dds"}));
    fs_fail_under(data_path({"button_icons", "button_ps"}));
    v = f.import(f.put("ok.zip", make_zip(button_members())));
    EXPECT_EQ(v.log, std::vector<std::string>{"Cannot write in " + data_path({"button_icons"}) + "."});
    EXPECT_FALSE(file_exists(data_path({"button_icons", "button_ps.dds"})));
}

// ---- All or nothing: what a cancelled, refused or damaged import leaves ----

namespace {

// One small mod kind: its good archive's members, the folder it fills and
// a member of 1 GiB of zeros that takes seconds to unpack.
struct Mod_Kind {
    const char* folder;
    std::vector<Zip_Member> members;
    std::string big;
    bool (*imported)();
};

std::vector<Mod_Kind> mod_kinds() {
    return {{"hardmode", hard_mode_members(), "Hard Mode 1.16/big.txt", hard_imported},
            {"sculpt", sculpt_members(), "Sculpting 4.0.5/big.bat", sculpt_imported},
            {"hdmodels", hd_models_members(), "EF SAGA HD Models 4.1.7/Textures/big.dds", hdm_imported}};
}

// Every file below the mod sources, with its bytes.
std::vector<std::pair<std::string, std::string>> mod_sources() {
    std::vector<std::pair<std::string, std::string>> out;
    tree_files(data_path({"mod_src"}), "", out);
    return out;
}

bool holds_part_or_new(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, bytes] : files)
        if (name.ends_with(".part") || name.find(".new/") != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(ModImport, CancelStopsTheUnpackingAndKeepsTheFilesInUse) {
    for (const Mod_Kind& k : mod_kinds()) {
        Import_Fixture f;
        fs_set_free_space_hook([](std::string_view, uint64_t& bytes) {
            bytes = uint64_t(1) << 40;
            return true;
        });
        ASSERT_FALSE(f.import(f.put("good.zip", make_zip(k.members))).failed) << k.folder;
        const auto before = mod_sources();
        std::vector<Zip_Member> members = k.members;
        members.insert(members.begin(), zeros_member(k.big, 1024));
        std::string zip = f.put("big.zip", make_zip(members));
        // Cancelled once the big member is being written.
        const std::string part = part_path(path_join({data_path({"mod_src", std::string(k.folder) + ".new"}),
                                                      k.big.substr(k.big.find('/') + 1)}));
        Task_View v;
        ASSERT_TRUE(import_cancelled_at(zip, part, v)) << k.folder << ": still unpacking";
        EXPECT_TRUE(v.failed) << k.folder;
        ASSERT_FALSE(v.log.empty()) << k.folder;
        EXPECT_EQ(v.log.back(), "Cancelled.") << k.folder;
        EXPECT_EQ(v.log.size(), 1u) << k.folder << ": " << v.log.front();
        const auto after = mod_sources();
        EXPECT_FALSE(holds_part_or_new(after)) << k.folder;
        EXPECT_TRUE(after == before) << k.folder;
        EXPECT_TRUE(k.imported()) << k.folder;
        fs_set_free_space_hook(nullptr);
    }
}

TEST(ModImport, ARefusedOrDamagedPackAfterAGoodOneChangesNothing) {
    for (const Mod_Kind& k : mod_kinds()) {
        // Each kind's refusal: a file its checks need is missing or wrong,
        // or a member is damaged.
        std::vector<Zip_Member> missing = k.members, damaged = k.members;
        std::string k_name = k.folder;
        if (k_name == "hardmode") missing.erase(missing.begin() + 4);
        if (k_name == "sculpt") missing[1].data = "@echo off\r\n";
        if (k_name == "hdmodels") missing.pop_back();
        for (Zip_Member& m : damaged) m.deflate = false;
        std::string damaged_zip = make_zip(damaged);
        size_t at = damaged_zip.find(damaged[2].data);
        ASSERT_NE(at, std::string::npos);
        damaged_zip[at] ^= 0x20;
        Import_Fixture f;
        ASSERT_FALSE(f.import(f.put("good.zip", make_zip(k.members))).failed) << k.folder;
        const auto before = mod_sources();
        for (const std::string& bad : {make_zip(missing), damaged_zip}) {
            Task_View v = f.import(f.put("old.zip", bad));
            EXPECT_TRUE(v.failed) << k.folder;
            const auto after = mod_sources();
            EXPECT_TRUE(after == before) << k.folder << ": " << (v.log.empty() ? "" : v.log.back());
            EXPECT_TRUE(k.imported()) << k.folder;
        }
    }
    // The first import refused: nothing counts as imported.
    Import_Fixture f;
    std::vector<Zip_Member> members = hard_mode_members();
    members.erase(members.begin() + 4);
    EXPECT_TRUE(f.import(f.put("old.zip", make_zip(members))).failed);
    EXPECT_FALSE(hard_imported());
    EXPECT_TRUE(mod_sources().empty());
}

// A packer may leave every name in lower case: the pack is still whole, and
// the files the launcher reads later get its own spelling.
TEST(ModImport, ALowerCasePackImportsWithTheLaunchersSpelling) {
    for (const Mod_Kind& k : mod_kinds()) {
        Import_Fixture f;
        std::vector<Zip_Member> members = k.members;
        for (Zip_Member& m : members) m.name = lower_ascii(m.name);
        Task_View v = f.import(f.put("lower.zip", make_zip(members)));
        EXPECT_FALSE(v.failed) << k.folder << ": " << (v.log.empty() ? "" : v.log.back());
        EXPECT_TRUE(k.imported()) << k.folder;
        std::string dir = data_path({"mod_src", k.folder});
        std::string k_name = k.folder;
        if (k_name == "hardmode") {
            EXPECT_EQ(hard_first_missing(dir), "");
        }
        if (k_name == "sculpt") {
            for (const Sculpt_Character& c : sculpt_characters)
                EXPECT_TRUE(file_exists(path_join({dir, c.batch_file}))) << c.batch_file;
        }
        if (k_name == "hdmodels") {
            EXPECT_EQ(hdm_first_missing(dir), "");
            EXPECT_TRUE(file_exists(path_join({dir, "Textures", "c201", "skin.dds"})));
        }
    }
}

TEST(ModImport, RoomForTheSmallModsFollowsTheHdImportsRule) {
    // The members' bytes, a tenth more and 256 MiB.
    std::vector<Zip_Member> members = hard_mode_members();
    uint64_t bytes = 0;
    for (const Zip_Member& m : members)
        if (ends_with_lower(m.name, ".txt")) bytes += m.data.size();
    const uint64_t need = bytes + bytes / 10 + 268435456;
    for (uint64_t free_bytes : {need - 1, need}) {
        Import_Fixture f;
        fs_set_free_space_hook([=](std::string_view, uint64_t& b) {
            b = free_bytes;
            return true;
        });
        Task_View v = f.import(f.put("hard.zip", make_zip(members)));
        fs_set_free_space_hook(nullptr);
        EXPECT_EQ(v.failed, free_bytes < need) << free_bytes;
        if (free_bytes < need) {
            EXPECT_EQ(v.log, std::vector<std::string>{"Not enough room: the mod's files need about 0.3 GB free on the "
                                                      "disk of " + data_path({"mod_src"}) + ", and there are 0.3 GB."});
        }
        EXPECT_EQ(hard_imported(), free_bytes >= need);
    }
}

// Only a regular file is an archive: one reached through a link reads as the
// file, a FIFO is refused at once.
TEST(ModImport, ArchivesThroughALinkAndFifos) {
    Import_Fixture f;
    fs_make_dirs(path_join({f.dir.path, "game", "amber_data"}));
    settings_edit([&](Settings& s) { s.game_dir = path_join({f.dir.path, "game"}); });
    std::string rar = f.put("fonts.rar", rar5_fonts());
    std::string link = path_join({f.dir.path, "link.rar"});
    if (!fs_make_link(rar, link, false)) GTEST_SKIP() << "no symbolic links here";
    Task_View v = f.import(link);
    EXPECT_FALSE(v.failed) << v.log.back();
    EXPECT_EQ(v.log.back(), "HD Fonts and GUI imported: 1 files in " +
                                path_join({f.dir.path, "game", "amber_data_hd", "hd_textures"}) + ". HD Textures is On.");
    std::string fifo = path_join({f.dir.path, "mod.zip"});
    if (std::system(("mkfifo '" + fifo + "' 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no FIFOs here";
    v = f.import(fifo);
    EXPECT_TRUE(v.failed);
    EXPECT_EQ(v.log, std::vector<std::string>{"Cannot open " + fifo + "."});
}

// "Quillmarsh.cfg" beside the launcher is written again after each import,
// so its mod lines follow what was imported; a refused import leaves it.
TEST(ModImport, EachImportRewritesTheGameConfiguration) {
    Import_Fixture f;
    Temp_Dir exe;
    paths_set_exe_dir(exe.path);
    const std::string cfg = path_join({exe.path, "Quillmarsh.cfg"});
    std::string game = path_join({f.dir.path, "game"});
    fs_make_dirs(path_join({game, "amber_data"}));
    settings_edit([&](Settings& s) { s.game_dir = game; });
    struct Case { const char* what; std::vector<Zip_Member> members; bool ok; };
    std::vector<Zip_Member> refused = hard_mode_members();
    refused.erase(refused.begin() + 4);
    const Case cases[] = {
        {"Hard Mode", hard_mode_members(), true},
        {"Body Sculpting", sculpt_members(), true},
        {"HD Models+", hd_models_members(), true},
        {"HD Fonts and GUI", {{"HD Fonts/HD_Textures/hash_database.txt", "x"}}, true},
        {"a refused pack", refused, false},
    };
    for (const Case& c : cases) {
        fs_write(cfg, "stale\n");
        Task_View v = f.import(f.put("mod.zip", make_zip(c.members)));
        EXPECT_EQ(v.failed, !c.ok) << c.what;
        std::string text;
        fs_read(cfg, text);
        EXPECT_EQ(text, c.ok ? cfg_text() : "stale\n") << c.what;
        // From the GUI import on, the game reads the HD folder.
        bool hd_line = text.find("ZQR_HD_DIR=" + path_join({game, "amber_data_hd"}) + "\n") != std::string::npos;
        EXPECT_EQ(hd_line, c.ok && hd_gui_imported()) << c.what;
    }
    paths_set_exe_dir("");
}
