// The game check: every diagnosis of a fixture install, word for word, the
// two editions, the identity table's own damage, and the movie summary.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "launcher/gamebuild/game_state.h"
#include "tests/gamebuild/discovery/discovery_fixture.h"

namespace {

const std::string mismatch_tail =
    "\xE2\x80\xA6. This launcher needs the Steam release's own efsagaimg.exe: in Steam, Properties > Installed Files > "
    "Verify integrity of game files, and do not patch it again (Quillmarsh has its own 4GB mode)";

// The first 16 hex digits of the file's SHA-256 as the system's own tool
// prints them; "" where there is no such tool.
std::string sha256sum_prefix(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return std::string();
#else
    std::string cmd = "sha256sum '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return std::string();
    char buf[128] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    return n >= 16 ? std::string(buf, 16) : std::string();
#endif
}

bool is_hex16(const std::string& s) {
    if (s.size() != 16) return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

struct Game_Check_Test : Discovery_Test {
    Fixture_Options install(Fixture_Exe exe) {
        Fixture_Options o;
        o.store_root = store_root();
        o.exe = exe;
        return o;
    }
    void write(const Fixture_Options& o) {
        std::string err;
        ASSERT_TRUE(fixture_write_install(o, &err)) << err;
    }
    void use_dir(const std::string& dir) { settings_edit([&](Settings& s) { s.game_dir = dir; }); }
};

// A mismatch sentence with its digest: the digest is checked against the
// system's sha256sum where there is one, and replaced by "<digest>".
std::string with_digest_masked(const std::string& reason, const std::string& exe) {
    size_t at = reason.find("SHA-256 ");
    if (at == std::string::npos) return reason;
    std::string digits = reason.substr(at + 8, 16);
    EXPECT_TRUE(is_hex16(digits)) << reason;
    std::string system = sha256sum_prefix(exe);
    if (!system.empty()) {
        EXPECT_EQ(digits, system);
    }
    return reason.substr(0, at + 8) + "<digest>" + reason.substr(at + 8 + 16);
}

TEST_F(Game_Check_Test, EachInstallGetsItsOwnSentence) {
    struct Case {
        const char* name;
        Fixture_Exe exe;
        const char* depot;
        bool saved;             // game_dir names the fixture's folder
        bool ok;
        const char* edition;
        std::string reason;     // with "<digest>" for the SHA-256 digits
    };
    const std::string different = "a different version of the game or a modified copy, SHA-256 <digest>" + mismatch_tail;
    const Case cases[] = {
        {"nothing saved", Fixture_Exe::En, "574632", false, false, "", "not found: choose its folder"},
        {"no executable", Fixture_Exe::None, "574632", true, false, "",
         "that folder has no amber_data/prog/win/bin/efsagaimg.exe"},
        {"a folder in its place", Fixture_Exe::Folder, "574632", true, false, "",
         "that folder has no amber_data/prog/win/bin/efsagaimg.exe"},
        {"1023 bytes", Fixture_Exe::Short, "574632", true, false, "", "it is not a Windows program"},
        {"not MZ", Fixture_Exe::Not_Mz, "574632", true, false, "", "it is not a Windows program"},
        {"PE header past the end", Fixture_Exe::Bad_Pe_Offset, "574632", true, false, "",
         "it is not a Windows program"},
        {"regional edition", Fixture_Exe::Other_Bytes, "574633", true, false, "",
         "it is another regional edition of the game (Steam depot 574633; this launcher's code is from the North "
         "America / Europe edition, depot 574632): it is not supported yet, and re-installing gets the same one"},
        {"4GB-patched", Fixture_Exe::Four_Gb, "574632", true, false, "",
         "a modified copy of the game (4GB-patched), SHA-256 <digest>" + mismatch_tail},
        {"other bytes", Fixture_Exe::Other_Bytes, "574632", true, false, "", different},
        {"section table cut off", Fixture_Exe::Truncated_Headers, "574632", true, false, "", different},
        {"manifest without depots", Fixture_Exe::Other_Bytes, "", true, false, "", different},
        {"English edition", Fixture_Exe::En, "574632", true, true, "EN", ""},
        {"Japanese edition", Fixture_Exe::Jp, "574632", true, true, "JP", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp_Dir store;
        Fixture_Options o = install(c.exe);
        o.store_root = store.path;
        o.depot = c.depot;
        write(o);
        std::string dir = fixture_game_dir(o);
        use_dir(c.saved ? dir : std::string());
        Task t;
        refresh_game(t);
        Game_State g = game_state_copy();
        EXPECT_TRUE(g.checked);
        EXPECT_EQ(g.ok, c.ok);
        EXPECT_EQ(g.edition, c.edition);
        EXPECT_EQ(with_digest_masked(g.reason, game_exe_path(dir)), c.reason);
        // The check answers the same when the build asks it directly.
        if (c.saved && c.exe != Fixture_Exe::None && c.exe != Fixture_Exe::Folder) {
            Exe_Check direct = check_game_exe(game_exe_path(dir));
            EXPECT_EQ(direct.ok, c.ok);
            EXPECT_EQ(direct.reason, g.reason);
        }
        // The log names the folder and the outcome; a failed folder test logs nothing.
        std::string log = log_text(t);
        if (c.exe == Fixture_Exe::None || c.exe == Fixture_Exe::Folder || !c.saved) {
            EXPECT_EQ(log, "");
        } else {
            EXPECT_EQ(log, "Game: " + dir + " (" + (c.ok ? std::string("ready") : g.reason) + ")\n");
        }
    }
}

TEST_F(Game_Check_Test, TheManifestIsFoundThroughItsInstallFolderName) {
    // The install lives in a folder the main manifest does not name; another
    // manifest names it and carries a regional depot.
    Fixture_Options o = install(Fixture_Exe::Other_Bytes);
    o.folder = "EF SAGA renamed";
    o.installdir = "EMBERFALL SAGA";
    write(o);
    std::string acf = "\"AppState\"\n{\n\t\"installdir\"\t\t\"EF SAGA renamed\"\n\t\"InstalledDepots\"\n\t{\n"
                      "\t\t\"600100\"\n\t\t{\n\t\t}\n\t}\n}\n";
    ASSERT_TRUE(fs_write(path_join({store_root(), "steamapps", "appmanifest_42.acf"}), acf));
    Exe_Check c = check_game_exe(game_exe_path(fixture_game_dir(o)));
    EXPECT_FALSE(c.ok);
    EXPECT_NE(c.reason.find("(Steam depot 600100;"), std::string::npos) << c.reason;
}

TEST_F(Game_Check_Test, TheIdentityTableMustBeWhole) {
    Fixture_Options o = install(Fixture_Exe::En);
    write(o);
    std::string exe = game_exe_path(fixture_game_dir(o));
    const std::string good = fixture_table_text();
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) t.replace(at, from.size(), to);
        return t;
    };
    const std::string damaged = "the launcher's sources are damaged (no exe check)";
    const std::string different = "a different version of the game or a modified copy";
    struct Case {
        const char* name;
        bool readable;
        std::string text;
        std::string reason_start;   // "" = identified
    };
    const Case cases[] = {
        {"no table in the bundle", false, "", "the launcher's sources are damaged (no dispatch table)"},
        {"no hash", true, replaced("zqr_data_hash = 0x", "zqr_data_hash = "), damaged},
        {"no range block", true, replaced("zqr_hash_ranges[] = {", "zqr_hash_ranges[] ="), damaged},
        {"hash of 15 digits", true, replaced("zqr_data_hash = 0x", "zqr_data_hash = 0x0"), damaged},
        {"range block without its end", true, replaced("};", "}"), damaged},
        {"address of 7 digits", true, replaced("{0x00401000,", "{0x0040100,"), damaged},
        {"length that is a word", true, replaced(", 16 }", ", sixteen }"), damaged},
        {"no comma", true, replaced("{0x00401000, 16 }", "{0x00401000 16 }"), damaged},
        {"a comment line in the block", true, replaced("    {0x00401000", "    /* .text */\n    {0x00401000"), ""},
        {"an address inside a section", true, replaced("{0x00401000,", "{0x00401004,"), different},
        {"a range past the end of the file", true, replaced("{0x00401000, 16 }", "{0x00403000, 4096 }"), different},
        {"no ranges and the empty hash", true,
         "zqr_data_hash = 0xCBF29CE484222325;\nzqr_hash_ranges[] = {\n};\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        game_set_table_reader([&c](std::string& text) {
            text = c.text;
            return c.readable;
        });
        Exe_Check r = check_game_exe(exe);
        EXPECT_EQ(r.ok, c.reason_start.empty());
        EXPECT_EQ(r.reason.substr(0, c.reason_start.size()), c.reason_start) << r.reason;
        if (c.reason_start == damaged) {
            EXPECT_EQ(r.reason, damaged);
        }
    }
}

TEST_F(Game_Check_Test, TheTableOfTheBundledGameMatchesTheFixture) {
    std::string text;
    std::string source = env_get("QM_SOURCE_DIR");
    ASSERT_FALSE(source.empty());
    ASSERT_TRUE(fs_read(path_join({source, "sample_game", "tree", "gen", "zqr_table.c"}), text));
    Exe_Table bundled, fixture;
    ASSERT_TRUE(parse_exe_table(text, bundled));
    ASSERT_TRUE(parse_exe_table(fixture_table_text(), fixture));
    EXPECT_EQ(bundled.hash, fixture_fnv1a64(fixture_en_bytes, 16));
    EXPECT_EQ(bundled.ranges, fixture.ranges);
    // The other edition's bytes give its fixed constant.
    EXPECT_EQ(fnv1a64(std::string_view(reinterpret_cast<const char*>(fixture_jp_bytes), 16)), jp_edition_hash);
}

TEST_F(Game_Check_Test, HeaderReadsStayInsideTheFile) {
    const std::string bytes = "\x01\x02\x03\x04\x05\x06\x07\x08";
    struct Case {
        uint64_t offset;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {0, true, 0x04030201},
        {4, true, 0x08070605},
        {5, false, 0},
        {8, false, 0},
        {~uint64_t(0) - 2, false, 0},
    };
    for (const Case& c : cases) {
        uint32_t v = 0xDEAD;
        EXPECT_EQ(pe_u32(bytes, c.offset, v), c.ok) << c.offset;
        EXPECT_EQ(v, c.value) << c.offset;
    }
}

TEST_F(Game_Check_Test, TheMovieSummaryCountsIntactContainersOnly) {
    struct Case {
        Fixture_Exe exe;
        bool bink;
        bool ok, convertible;
        int64_t to_convert, discardable, kept, bytes;
    };
    const Case cases[] = {
        {Fixture_Exe::En, true, true, true, 2, 1, 1, 16 + 6000 - 4096},
        {Fixture_Exe::En, false, true, false, 2, 1, 1, 16 + 6000 - 4096},
        {Fixture_Exe::Other_Bytes, true, false, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Temp_Dir store;
        Fixture_Options o = install(c.exe);
        o.store_root = store.path;
        o.movies = true;
        o.bink = c.bink;
        write(o);
        use_dir(fixture_game_dir(o));
        Task t;
        refresh_game(t);
        Game_State g = game_state_copy();
        EXPECT_EQ(g.ok, c.ok);
        EXPECT_EQ(g.convertible, c.convertible);
        EXPECT_EQ(g.to_convert, c.to_convert);
        EXPECT_EQ(g.discardable, c.discardable);
        EXPECT_EQ(g.kept, c.kept);
        EXPECT_EQ(g.discard_bytes, c.bytes);
        EXPECT_EQ(g.some_converted, c.ok);
    }
}

TEST_F(Game_Check_Test, TheConfigurationIsRewrittenButNeverCreated) {
    Fixture_Options o = install(Fixture_Exe::En);
    write(o);
    use_dir(fixture_game_dir(o));
    std::string launcher = exe_dir();
    std::string cfg = path_join({launcher, "Quillmarsh.cfg"});
    Task t;
    refresh_game(t);
    EXPECT_FALSE(file_exists(cfg));

    ASSERT_TRUE(fs_make_dirs(launcher));
    ASSERT_TRUE(fs_write(cfg, "stale"));
    refresh_game(t);
    std::string text;
    ASSERT_TRUE(fs_read(cfg, text));
    EXPECT_NE(text, "stale");
    EXPECT_NE(text.find("ZQR_"), std::string::npos);
}

}  // namespace
