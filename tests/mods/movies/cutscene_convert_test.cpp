// "Convert Movies" with our stand-in converter and the real FFmpeg: the MP4s
// it names, checked with ffprobe, the steps and the end of the task, and a
// Cancel that leaves no half-made MP4 and no FFmpeg behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/gamebuild/check_report.h"
#include "launcher/mods/movies.h"
#include "tests/mods/movies/cutscene_fixture.h"
#include "tests/support/poll.h"

namespace {

bool tools_present() {
    return file_exists("/usr/bin/ffmpeg") && file_exists("/usr/bin/ffprobe") &&
           std::system("/usr/bin/ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264") == 0;
}

// The fake converter as the bundle's converter in the data folder.
void install_converter() {
    std::string exe = data_path({"tools", "bink2mp4.exe"});
    ASSERT_TRUE(fs_make_dirs(path_dir(exe)));
    ASSERT_TRUE(fs_copy_file(QM_FAKE_CONVERTER, exe));
    ASSERT_EQ(std::system(("chmod +x '" + exe + "'").c_str()), 0);
}

// "codec frames" of the MP4's video stream, as ffprobe counts them.
std::string probe(const std::string& mp4, const Temp_Dir& dir) {
    std::string out = path_join({dir.path, "probe.txt"});
    std::string cmd = "/usr/bin/ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                      "stream=codec_name,nb_read_frames -of csv=p=0 '" + mp4 + "' >'" + out + "' 2>&1";
    (void)!std::system(cmd.c_str());
    std::string text;
    fs_read(out, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Processes whose command line mentions `marker` and FFmpeg.
int processes_with(const std::string& marker) {
    std::vector<Dir_Entry> entries;
    fs_list("/proc", entries);
    int count = 0;
    for (const Dir_Entry& e : entries) {
        if (e.name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline;
        if (!fs_read(path_join({"/proc", e.name, "cmdline"}), cmdline)) continue;
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        if (cmdline.find(marker) != std::string::npos && cmdline.find("ffmpeg") != std::string::npos) count++;
    }
    return count;
}

}  // namespace

TEST(CutsceneConvert, EveryCutsceneBecomesAnH264Mp4) {
    if (!tools_present()) GTEST_SKIP() << "needs ffmpeg with libx264 and ffprobe";
    Cutscene_Game g;
    install_converter();
    convert_set_core_count(3);
    g.put("opening.wmp", cutscene_wmp({{12, 64, 36, 24, 1}, {7, 32, 32, 30000, 1001}}));
    g.put("ending.mp4.part", "left by a cancelled run");

    Task t;
    convert_task(t);
    ASSERT_FALSE(t.failed.load()) << ::testing::PrintToString(t.log);
    EXPECT_TRUE(log_has(t, "Converting 2 cutscenes (all of them: about 7 hours of video, English and Japanese; it can be "
                           "cancelled and continued later)"));
    EXPECT_TRUE(log_has(t, "Converting with 2 threads"));
    EXPECT_EQ(t.status, "Converted 2 cutscenes");
    EXPECT_EQ(t.progress, 1.0f);
    Temp_Dir scratch;
    EXPECT_EQ(probe(g.movie("opening.mp4"), scratch), "h264,12");
    EXPECT_EQ(probe(g.movie("opening_5016.mp4"), scratch), "h264,7");
    EXPECT_FALSE(file_exists(g.movie("ending.mp4.part")));
    EXPECT_EQ(first_line(check_report_text()), "game ok true, 0 cutscenes to convert, 1 discardable (0.0 GB), 0 kept");

    // A converter that cannot do its work fails the task.
    fs_remove_file(g.movie("opening_5016.mp4"));
    fs_remove_file(path_join({g.game, "amber_data", "prog", "win", "bin", "bink2w32.dll"}));
    Task failed;
    convert_task(failed);
    EXPECT_TRUE(failed.failed.load());
    EXPECT_TRUE(log_has(failed, "The converter failed.")) << ::testing::PrintToString(failed.log);
}

// Cancel while FFmpeg works on a long cutscene: the converter and its FFmpeg
// end, and no MP4 of that cutscene counts as converted.
TEST(CutsceneConvert, CancelLeavesNoMp4AndNoFfmpeg) {
    if (!tools_present()) GTEST_SKIP() << "needs ffmpeg with libx264 and ffprobe";
    Cutscene_Game g;
    install_converter();
    g.put("long.wmp", cutscene_wmp({{2400, 32, 32, 24, 1}}));
    env_set("FAKE_CONVERTER_REALTIME", "1");
    ASSERT_TRUE(task_start("Convert Movies", convert_task, 0));
    Task& t = the_task();
    int64_t until = clock_ns() + 90'000'000'000LL;   // a hang guard, within the cutscene's 100 s
    while (clock_ns() < until && task_view(t).status.find(", frame ") == std::string::npos) sleep_ms(10);
    EXPECT_NE(task_view(t).status.find("Converting long.wmp: cutscene 1 of 1, frame "), std::string::npos)
        << task_view(t).status;
    EXPECT_GE(processes_with(g.movies), 1);   // the converter, its shell and FFmpeg
    task_cancel(t);
    while (t.running.load()) sleep_ms(10);
    env_set("FAKE_CONVERTER_REALTIME", "", true);

    EXPECT_TRUE(t.failed.load());
    EXPECT_TRUE(log_has(t, "Cancelled.")) << ::testing::PrintToString(t.log);
    EXPECT_FALSE(log_has(t, "The converter failed."));
    EXPECT_FALSE(file_exists(g.movie("long.mp4")));
    EXPECT_FALSE(file_exists(g.movie("long.mp4.part")));
    EXPECT_EQ(list_movies(g.game)[0].missing, 1);
    int alive = 1;
    poll_until([&] { return (alive = processes_with(g.movies)) == 0; });
    EXPECT_EQ(alive, 0);
}
