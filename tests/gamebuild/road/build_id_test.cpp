// The build identity: the bundle's four-lane hash, the file beside the game,
// and the stale and outdated answers.
#include <gtest/gtest.h>

#include "launcher/gamebuild/build_id.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/core/build_id_cache.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "road_support.h"
#include "tests/support/temp_dir.h"

namespace {

// Known answers from an independent implementation of the same hash.
TEST(BuildIdentity, FourLaneHashKnownAnswers) {
    std::string pattern;
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 256; ++i) pattern.push_back(char(i));
    pattern += "xy";
    const std::pair<std::string, uint64_t> cases[] = {
        {"", 0x2c49319bbdfff0c5ull},
        {"E", 0x48d85533bfdfcfc1ull},
        {"EFBUNDL2", 0x7713fc2ba6579c82ull},
        {std::string("EFBUNDL2\x01\x00\x00", 11), 0xe7fc34025c013292ull},   // three bytes left over
        {pattern, 0x46650338b54ed279ull},
    };
    for (const auto& [bytes, id] : cases) EXPECT_EQ(bundle_identity_of(bytes), id) << bytes.size();
}

TEST(BuildIdentity, FileTextKeepsSixteenDigits) {
    EXPECT_EQ(build_id_text(0xab, "options x", true), "00000000000000ab\noptions x\ndlss 1\n");
    EXPECT_EQ(build_id_text(0xfedcba9876543210ull, "", false), "fedcba9876543210\n\ndlss 0\n");
}

struct Id_Fixture : ::testing::Test {
    Temp_Dir dir;
    Settings saved = settings_copy();
    void SetUp() override {
        paths_set_exe_dir(dir.path);
        build_id_forget();
    }
    void TearDown() override {
        paths_set_exe_dir("");
        settings_replace(saved);
        build_id_forget();
    }
    std::string id_hex() { return fmt("%016x", bundle_identity()); }
    void write_id(const std::string& text) {
        ASSERT_TRUE(fs_write(path_join({dir.path, build_id_file_name}), text));
        build_id_forget();
    }
    void make_game() { ASSERT_TRUE(put(path_join({dir.path, built_exe_name}), "game")); }
};

TEST_F(Id_Fixture, StaleAnswers) {
    EXPECT_TRUE(build_stale());   // no file
    struct Case { const char* name; std::string text; bool stale; bool dlss; };
    std::string upper = id_hex();
    for (char& c : upper) c = char(toupper(c));
    const Case cases[] = {
        {"written by this launcher", id_hex() + "\nsig\ndlss 1\n", false, true},
        {"blanks after line 1, CR line ends", id_hex() + "   \r\nsig\r\ndlss 0\r\n", false, false},
        {"upper-case digits", upper + "\nsig\ndlss 0\n", true, false},
        {"another bundle", "0000000000000001\nsig\ndlss 0\n", true, false},
        {"line 3 with a blank after it", id_hex() + "\nsig\ndlss 1 \n", false, true},
        {"line 3 of seven characters", id_hex() + "\nsig\ndlss 10\n", false, false},
        {"empty file", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_id(c.text);
        EXPECT_EQ(build_stale(), c.stale);
        EXPECT_EQ(build_id_record().dlss, c.dlss);
    }
}

TEST_F(Id_Fixture, TheAnswerIsReadOnceUntilForgotten) {
    write_id(id_hex() + "\nsig\ndlss 0\n");
    EXPECT_FALSE(build_stale());
    ASSERT_TRUE(fs_remove_file(path_join({dir.path, build_id_file_name})));
    EXPECT_FALSE(build_stale());   // cached
    build_id_forget();
    EXPECT_TRUE(build_stale());
}

// A reader that read the file before a build wrote a new one must not store
// its old answer over the forget.
TEST_F(Id_Fixture, AnAnswerReadBeforeAForgetIsNotKept) {
    uint64_t generation = build_id_generation();
    build_id_forget();
    build_id_store(generation, Build_Id_Fresh, Build_Id_Record{"old", true});
    EXPECT_EQ(build_id_state().load(), Build_Id_Unread);
    build_id_store(build_id_generation(), Build_Id_Stale, Build_Id_Record{"new", false});
    EXPECT_EQ(build_id_state().load(), Build_Id_Stale);
    EXPECT_EQ(build_id_record().signature, "new");
}

TEST_F(Id_Fixture, WriteMakesTheGameFreshAndNotOutdated) {
    make_game();
    settings_edit([](Settings& s) {
        s.compiler = "/opt/llvm/bin/clang";
        s.opt_level = 2;
        s.pgo = true;
        s.lto = false;
        s.experimental = true;
        s.tools = false;
    });
    EXPECT_EQ(build_options_sig(), "options /opt/llvm/bin/clang|O2|pgo true|lto false|experimental true|tools false");
    EXPECT_TRUE(build_stale());
    build_id_write(dir.path, true);
    std::string text;
    ASSERT_TRUE(fs_read(path_join({dir.path, build_id_file_name}), text));
    EXPECT_EQ(text, build_id_text(bundle_identity(), build_options_sig(), true));
    EXPECT_FALSE(build_stale());
    EXPECT_FALSE(build_outdated());
    settings_edit([](Settings& s) { s.opt_level = 3; });
    EXPECT_TRUE(build_outdated());
}

TEST_F(Id_Fixture, OutdatedAnswers) {
    std::string lld_dir = path_join({dir.path, "llvm"});
    ASSERT_TRUE(put(path_join({lld_dir, "ld.lld"}), "linker"));
    struct Case { const char* name; bool game; bool stale; const char* sig; bool dlss_built; bool dlss_chosen;
                  bool lld; bool outdated; };
    const Case cases[] = {
        {"no game", false, false, "", false, false, true, false},
        {"stale game", true, true, "other", false, false, true, false},
        {"no signature in the file", true, false, nullptr, false, false, true, false},
        {"same options", true, false, "", false, false, true, false},
        {"other options", true, false, "options x|O1|pgo true|lto false|experimental false|tools false", false, false, true, true},
        {"DLSS chosen since, linker present", true, false, "", false, true, true, true},
        {"DLSS chosen since, no linker", true, false, "", false, true, false, false},
        {"DLSS built in and chosen", true, false, "", true, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs_remove_file(path_join({dir.path, built_exe_name}));
        if (c.game) make_game();
        settings_edit([&](Settings& s) {
            s.compiler = path_join({c.lld ? lld_dir : dir.path, "clang"});
            s.aa_dlss = c.dlss_chosen;
        });
        std::string sig = c.sig == nullptr ? "" : std::string(c.sig).empty() ? build_options_sig() : c.sig;
        std::string text = (c.stale ? std::string("0000000000000001") : id_hex()) + "\n";
        if (c.sig != nullptr) text += sig + "\ndlss " + (c.dlss_built ? "1" : "0") + "\n";
        write_id(text);
        EXPECT_EQ(build_outdated(), c.outdated);
    }
}

}  // namespace
