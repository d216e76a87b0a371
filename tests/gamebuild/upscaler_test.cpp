// Checking the upscaler files, and the work that needs no download.
#include <gtest/gtest.h>

#include "tests/gamebuild/upscaler_fixture.h"

TEST(Upscaler, Sha256MatchesTheStandardVectors) {
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Upscaler, CheckNeedsSizeAndHash) {
    Upscaler_Fixture f;
    const Fake_File& loader = f.fsr[1];
    const Fsr4_File row = fsr4_table()[1];
    std::string path = path_join({fsr4_dir(), loader.name});
    std::string same_size = loader.bytes;
    same_size[100] ^= 1;
    struct Case { const char* what; bool write; std::string bytes; bool ok; };
    const Case cases[] = {
        {"missing", false, "", false},
        {"one byte short", true, loader.bytes.substr(1), false},
        {"same size, other bytes", true, same_size, false},
        {"the file", true, loader.bytes, true},
    };
    for (const Case& c : cases) {
        fs_remove_file(path);
        if (c.write) f.put_fsr4(loader, c.bytes);
        EXPECT_EQ(fsr4_check(path, row), c.ok) << c.what;
    }
    // The shipped tables are the vendors' files.
    fsr4_set_table_for_tests({});
    ASSERT_EQ(fsr4_table().size(), 3u);
    EXPECT_EQ(fsr4_table()[2].size, 36135696);
    dlss_set_table_for_tests({});
    ASSERT_EQ(dlss_table().size(), 8u);
    EXPECT_EQ(dlss_table()[7].path, "lib/Windows_x86_64/rel/nvngx_dlss.dll");
}

TEST(Upscaler, PresentLooksAtSizesOnly) {
    struct Case { const char* what; int damaged; bool ok; };
    // damaged: 0 none, 1 same-size corrupt loader, 2 short loader, 3 loader missing, 4 a folder in its place
    const Case cases[] = {
        {"all there", 0, true}, {"same size, corrupt", 1, true}, {"wrong size", 2, false},
        {"missing", 3, false},  {"a folder", 4, false},
    };
    for (const Case& c : cases) {
        Upscaler_Fixture f;
        for (const Fake_File& file : f.fsr) f.put_fsr4(file, file.bytes);
        std::string loader = path_join({fsr4_dir(), f.fsr[1].name});
        std::string corrupt = f.fsr[1].bytes;
        corrupt[0] ^= 1;
        if (c.damaged == 1) fs_write(loader, corrupt);
        if (c.damaged == 2) fs_write(loader, "short");
        if (c.damaged >= 3) fs_remove_file(loader);
        if (c.damaged == 4) fs_make_dirs(loader);
        EXPECT_EQ(fsr4_present(), c.ok) << c.what;
    }
}

TEST(Upscaler, AllValidNeedsNoCurlAndLeavesTheStatus) {
    Upscaler_Fixture f;
    for (const Fake_File& file : f.fsr) f.put_fsr4(file, file.bytes);
    for (const Fake_File& file : f.dlss) f.put_dlss(file, file.bytes);
    f.hide_curl();
    Task t;
    set_status(t, 0.5f, "Before");
    EXPECT_TRUE(fsr4_fetch(t));
    EXPECT_TRUE(log_of(t).empty());
    EXPECT_EQ(t.status, "Before");
    EXPECT_EQ(t.progress, 0.5f);
    EXPECT_TRUE(dlss_fetch(t, false, true));
    EXPECT_EQ(t.status, "Before");
    EXPECT_EQ(log_of(t), (std::vector<std::string>{
        "DLSS: NVIDIA DLSS 310.9.16 in this build (NVIDIA's license: " + path_join({dlss_dir(), "LICENSE.txt"}) + ")"}));
}

TEST(Upscaler, DlssLeftOutWithoutItsLinker) {
    Upscaler_Fixture f;
    Task t;
    EXPECT_FALSE(dlss_fetch(t, true, true));   // a cross build: silently
    EXPECT_TRUE(log_of(t).empty());
    EXPECT_FALSE(dlss_fetch(t, false, false));
    EXPECT_EQ(log_of(t), (std::vector<std::string>{
        "DLSS: not in this build: it needs LLVM's linker (lld) beside Clang, and there is none (TAA instead)."}));
}

TEST(Upscaler, DlssRuntimeBesideTheGame) {
    Upscaler_Fixture f;
    const Fake_File& runtime = f.dlss[2];
    std::string game = path_join({f.dir.path, "out"});
    fs_make_dirs(game);
    std::string dest = path_join({game, "nvngx_dlss.dll"});
    auto read = [](const std::string& p) { std::string d; fs_read(p, d); return d; };

    Task t;
    dlss_feature(t, game);
    EXPECT_EQ(log_of(t), (std::vector<std::string>{"DLSS: cannot read lib/Windows_x86_64/rel/nvngx_dlss.dll."}));
    EXPECT_FALSE(file_exists(dest));

    f.put_dlss(runtime, runtime.bytes);
    struct Case { const char* what; bool existing; std::string before, after; };
    std::string same_length(runtime.bytes.size(), 'z');
    const Case cases[] = {
        {"none there", false, "", runtime.bytes},
        {"same length: kept", true, same_length, same_length},
        {"other length: replaced", true, "old", runtime.bytes},
    };
    for (const Case& c : cases) {
        fs_remove_file(dest);
        if (c.existing) fs_write(dest, c.before);
        Task u;
        dlss_feature(u, game);
        EXPECT_TRUE(log_of(u).empty()) << c.what;
        EXPECT_EQ(read(dest), c.after) << c.what;
    }

    fs_remove_file(dest);
    fs_fail_under(game);
    Task w;
    dlss_feature(w, game);
    EXPECT_EQ(log_of(w), (std::vector<std::string>{"DLSS: cannot write " + dest + "."}));
}
