// The cutscene tasks without a converter: the converter's command line and
// output lines, the discard of converted containers, and what the game
// check shows afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/gamebuild/check_report.h"
#include "launcher/mods/movies.h"
#include "tests/mods/movies/cutscene_fixture.h"

namespace {

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

TEST(Cutscenes, ThreadCountsAndTheCommandLine) {
    const struct {
        int cores, threads;
    } cases[] = {{1, 1}, {2, 1}, {3, 2}, {16, 15}};
    for (const auto& c : cases) EXPECT_EQ(convert_threads(c.cores), c.threads) << c.cores;

    Data_Folder data;
    std::vector<std::string> cmd = convert_command("G", "ff", 3);
    std::string movies = path_join({"G", "amber_data", "movie"});
    EXPECT_EQ(cmd, (std::vector<std::string>{data_path({"tools", "bink2mp4.exe"}), "--dll",
                                             path_join({"G", "amber_data", "prog", "win", "bin", "bink2w32.dll"}),
                                             "--ffmpeg", "ff", "--threads", "2", "all", movies, movies}));
}

TEST(Cutscenes, ConverterLinesBecomeStepsAndProgress) {
    Task t;
    convert_progress_reset(10);
    struct Step {
        const char* line;
        const char* status;   // nullptr: unchanged
        float progress;
    } steps[] = {
        // Before any start line the name is empty.
        {"C:\\x\\amber_data\\movie\\op.wmp 12 frames", nullptr, 0},
        {"  C:\\x\\amber_data\\movie\\op.wmp: 3000 frames at 30000/1001 fps -> C:\\x\\op.mp4  ",
         "Converting op.wmp: cutscene 1 of 10", 0.0f},
        {"done in 1.5 s", nullptr, 0},
        {"done in 2 s", nullptr, 0},
        {"done in 2 s", nullptr, 0},
        {"done in 2 s", nullptr, 0},
        {"/x/amber_data/movie/op2.wmp: 3000 frames at 30/1 fps -> /x/op2.mp4", "Converting op2.wmp: cutscene 5 of 10", 0.4f},
        {"frame 1500 / 3000", "Converting op2.wmp: cutscene 5 of 10, frame 1500 of 3000", 0.45f},
        {"frame 1500.5 / 3000.9 fps=30", "Converting op2.wmp: cutscene 5 of 10, frame 1500 of 3000", 0.45f},
        {"frame 10 / 0", nullptr, 0},                   // no frame count: ignored
        {"frame 10 /", nullptr, 0},                     // three fields: ignored
        {"frame abc / 3000", "Converting op2.wmp: cutscene 5 of 10, frame 0 of 3000", 0.4f},
        {"no colon frames at 30 -> x.mp4", nullptr, 0}, // a start line without ": "
        {"[h264] a line of the encoder", nullptr, 0},
    };
    std::string status = "", last_status;
    float progress = -1;
    for (const Step& s : steps) {
        convert_line(t, s.line);
        if (s.status) {
            status = s.status;
            progress = s.progress;
        }
        EXPECT_EQ(t.status, status) << s.line;
        EXPECT_NEAR(t.progress, progress, 1e-4) << s.line;
    }
    EXPECT_EQ(convert_progress().done, 4);
    EXPECT_EQ(convert_progress().current, "op2.wmp");
}

TEST(Cutscenes, WithoutFfmpegNothingRuns) {
    Cutscene_Game g;
    g.put("op.wmp", cutscene_wmp({{12, 64, 36, 24, 1}}));
    Cutscene_Game::ffmpeg("/usr/bin/ffmpeg", false);
    Task t;
    convert_task(t);
    EXPECT_TRUE(t.failed.load());
    EXPECT_TRUE(log_has(t, "Needs FFmpeg with its H.264 encoder (install it above).")) << ::testing::PrintToString(t.log);
    EXPECT_TRUE(game_state_copy().checked);   // the check ran all the same
    EXPECT_FALSE(file_exists(data_path({"tools", "README.txt"})));
}

TEST(Cutscenes, NothingToConvert) {
    Cutscene_Game g;
    g.put("op.wmp", cutscene_wmp({{12, 64, 36, 24, 1}}));
    g.put("op.mp4", "converted");
    Task t;
    convert_task(t);
    EXPECT_FALSE(t.failed.load());
    EXPECT_TRUE(log_has(t, "Every movie already has its MP4s."));
    EXPECT_EQ(t.status, "Nothing to convert");
    EXPECT_EQ(t.progress, 1.0f);
}

// Three containers, one still missing an MP4: two are cut, the third is
// kept; a second discard finds nothing to do; --check's line follows.
TEST(Cutscenes, DiscardCutsConvertedContainers) {
    Cutscene_Game g;
    std::string a = g.put("a.wmp", cutscene_wmp({{12, 64, 36, 24, 1}, {24, 64, 36, 30000, 1001}}));
    std::string b = g.put("b.wmp", cutscene_wmp({{6, 48, 32, 24, 1}}));
    std::string c = g.put("c.wmp", cutscene_wmp({{6, 48, 32, 24, 1}, {6, 48, 32, 24, 1}}));
    for (const char* mp4 : {"a.mp4", "a_5016.mp4", "b.mp4", "c.mp4"}) g.put(mp4, "mp4");
    std::string a_bytes;
    ASSERT_TRUE(fs_read(a, a_bytes));

    Task t;
    discard_task(t);
    EXPECT_FALSE(t.failed.load()) << ::testing::PrintToString(t.log);
    EXPECT_TRUE(log_has(t, "Kept c.wmp: 1 of its 2 cutscenes have no MP4 yet")) << ::testing::PrintToString(t.log);
    EXPECT_TRUE(log_has(t, "Discarded 2 old movies: 0.0 GB freed (1 kept: convert them first)"));
    EXPECT_EQ(t.status, "0.0 GB freed");
    std::string cut, heads;
    ASSERT_TRUE(fs_read(a, cut));
    EXPECT_EQ(cut, a_bytes.substr(0, 4096));
    ASSERT_TRUE(fs_read(a + ".heads", heads));
    EXPECT_EQ(heads, "16 12 64 36 24 1\n5016 24 64 36 30000 1001\n");
    File_Info info;
    ASSERT_TRUE(fs_stat(b, info));
    EXPECT_EQ(info.size, 4096u);
    ASSERT_TRUE(fs_stat(c, info));
    EXPECT_EQ(info.size, 16u + 10000u);

    // The cut containers still list their streams, from their ".heads".
    for (const Movie& m : list_movies(g.game)) {
        if (path_base(m.path) != "a.wmp") continue;
        EXPECT_TRUE(m.cut && m.from_heads && m.all_converted);
        EXPECT_EQ(m.streams.size(), 2u);
    }
    EXPECT_EQ(first_line(check_report_text()), "game ok true, 1 cutscenes to convert, 0 discardable (0.0 GB), 1 kept");

    Task again;
    discard_task(again);
    EXPECT_FALSE(again.failed.load());
    EXPECT_EQ(again.log, (std::vector<std::string>{"Kept c.wmp: 1 of its 2 cutscenes have no MP4 yet",
                                                   "Discarded 0 old movies: 0.0 GB freed (1 kept: convert them first)",
                                                   "Game: " + g.game + " (ready)"}));
}

// A ".heads" that cannot be written leaves its container whole.
TEST(Cutscenes, AFailedHeadsWriteCutsNothing) {
    Cutscene_Game g;
    std::string a = g.put("a.wmp", cutscene_wmp({{12, 64, 36, 24, 1}}));
    std::string b = g.put("b.wmp", cutscene_wmp({{12, 64, 36, 24, 1}}));
    g.put("a.mp4", "mp4");
    g.put("b.mp4", "mp4");
    fs_fail_under(a + ".heads");
    Task t;
    discard_task(t);
    fs_fail_under("");
    EXPECT_TRUE(t.failed.load());
    EXPECT_TRUE(log_has(t, "Could not write a.wmp.heads: a.wmp kept")) << ::testing::PrintToString(t.log);
    EXPECT_TRUE(log_has(t, "Discarded 1 old movies: 0.0 GB freed"));
    File_Info info;
    ASSERT_TRUE(fs_stat(a, info));
    EXPECT_EQ(info.size, 5016u);
    EXPECT_FALSE(file_exists(a + ".heads"));
    ASSERT_TRUE(fs_stat(b, info));
    EXPECT_EQ(info.size, 4096u);
    EXPECT_EQ(first_line(check_report_text()), "game ok true, 0 cutscenes to convert, 1 discardable (0.0 GB), 0 kept");
}
