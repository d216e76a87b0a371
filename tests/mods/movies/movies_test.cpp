// The cutscene list over generated movie containers and ".heads" files.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/mods/movies.h"
#include "tests/support/temp_dir.h"
#include "tools/fixture_game/fixture_game.h"

namespace {

struct Movies_Test : ::testing::Test {
    Temp_Dir game;
    std::string folder = path_join({game.path, "amber_data", "movie"});
    void SetUp() override { ASSERT_TRUE(fs_make_dirs(folder)); }
    std::string put(const std::string& name, const std::string& bytes) {
        std::string path = path_join({folder, name});
        EXPECT_TRUE(fs_write(path, bytes));
        return path;
    }
    const Movie* find(const std::vector<Movie>& list, const std::string& name) {
        for (const Movie& m : list) {
            if (path_base(m.path) == name) return &m;
        }
        return nullptr;
    }
    std::vector<Movie> only(const std::string& name, const std::string& bytes) {
        put(name, bytes);
        return list_movies(game.path);
    }
};

std::string heads_of(const std::vector<int64_t>& offsets) {
    std::string t;
    for (int64_t o : offsets) t += std::to_string(o) + " 30 1280 720 30000 1001\n";
    return t;
}

TEST_F(Movies_Test, StreamsAreReadFromTheBinkHeaders) {
    auto list = only("opening.wmp", fixture_wmp({5000, 3000}));
    ASSERT_EQ(list.size(), 1u);
    const Movie& m = list[0];
    EXPECT_EQ(m.path, path_join({folder, "opening.wmp"}));
    EXPECT_EQ(m.size, 16 + 5000 + 3000);
    ASSERT_EQ(m.streams.size(), 2u);
    EXPECT_EQ(m.streams[0].offset, 16);
    EXPECT_EQ(m.streams[1].offset, 5016);
    EXPECT_EQ(m.streams[1].frames, 60u);
    EXPECT_EQ(m.streams[1].width, 1280u);
    EXPECT_EQ(m.streams[1].height, 720u);
    EXPECT_EQ(m.streams[1].fps_num, 30000u);
    EXPECT_EQ(m.streams[1].fps_den, 1001u);
    EXPECT_EQ(m.streams[0].mp4, path_join({folder, "opening.mp4"}));
    EXPECT_EQ(m.streams[1].mp4, path_join({folder, "opening_5016.mp4"}));
    EXPECT_EQ(m.missing, 2);
    EXPECT_FALSE(m.all_converted || m.cut || m.empty || m.from_heads);
}

TEST_F(Movies_Test, TheMp4NameOfAStream) {
    EXPECT_EQ(stream_mp4("/g/movie/opening.wmp", 16), "/g/movie/opening.mp4");
    EXPECT_EQ(stream_mp4("/g/movie/opening.wmp", 52000000), "/g/movie/opening_52000000.mp4");
    EXPECT_EQ(stream_mp4("C:\\g\\INTRO.WMP", 5000000000), "C:\\g\\INTRO_5000000000.mp4");
    EXPECT_EQ(movie_u32(std::string("\x78\x56\x34\x12\xFF", 5)), 0x12345678u);
    EXPECT_EQ(movie_u32("\x01\x02"), 0u);
}

TEST_F(Movies_Test, SizeDecidesEmptyCutAndIntact) {
    struct Case {
        size_t size;
        bool empty, cut;
    };
    const Case cases[] = {{0, true, false}, {16, true, false}, {17, false, true}, {4096, false, true}, {4097, false, false}};
    for (const Case& c : cases) {
        Temp_Dir other;
        std::string dir = path_join({other.path, "amber_data", "movie"});
        ASSERT_TRUE(fs_make_dirs(dir));
        std::string bytes = fixture_wmp({8000}).substr(0, c.size);
        ASSERT_TRUE(fs_write(path_join({dir, "m.wmp"}), bytes));
        // A ".heads" file beside an empty container is not read either.
        ASSERT_TRUE(fs_write(path_join({dir, "m.wmp.heads"}), heads_of({16, 9000})));
        auto list = list_movies(other.path);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].empty, c.empty) << c.size;
        EXPECT_EQ(list[0].cut, c.cut) << c.size;
        EXPECT_EQ(movie_intact(list[0]), !c.empty && !c.cut) << c.size;
        EXPECT_EQ(list[0].streams.size(), c.empty ? 0u : 2u) << c.size;
    }
}

TEST_F(Movies_Test, ACutContainerTakesItsStreamsFromTheHeads) {
    std::string path = put("staff.wmp", fixture_wmp({3000, 3000, 3000}).substr(0, 4096));
    auto alone = list_movies(game.path);
    ASSERT_EQ(alone.size(), 1u);
    // Only the Bink headers inside the 4096 bytes that are left.
    EXPECT_EQ(alone[0].streams.size(), 2u);
    EXPECT_FALSE(alone[0].from_heads);

    std::vector<int64_t> offsets;
    for (int i = 0; i < 12; ++i) offsets.push_back(16 + 3000 * i);
    ASSERT_TRUE(fs_write(path + ".heads", heads_of(offsets)));
    auto list = list_movies(game.path);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].streams.size(), 12u);
    EXPECT_TRUE(list[0].from_heads);
    EXPECT_TRUE(list[0].cut);
    EXPECT_EQ(list[0].streams[11].offset, 16 + 3000 * 11);
    EXPECT_EQ(list[0].streams[11].mp4, path_join({folder, "staff_33016.mp4"}));
}

TEST_F(Movies_Test, HeadsLinesOfAnotherShapeAreSkipped) {
    std::string path = put("m.wmp", fixture_wmp({5000}).substr(0, 100));
    std::string text = "16 30 1280 720 30000 1001\r\n"          // CR LF: read
                       "100 30 1280 720 30000\n"                 // five fields
                       "200 30 wide 720 30000 1001\n"            // a word
                       "300 30 1280 720 30000 1001 7\n"          // seven fields
                       "\n"
                       "400\t31  1920 1080 24 1\n"               // any white space
                       "4294967812 4294967297 1 1 1 1\n";         // 64-bit offset, low 32 bits of the rest
    ASSERT_TRUE(fs_write(path + ".heads", text));
    auto list = list_movies(game.path);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].streams.size(), 3u);
    EXPECT_EQ(list[0].streams[0].offset, 16);
    EXPECT_EQ(list[0].streams[0].fps_den, 1001u);
    EXPECT_EQ(list[0].streams[1].offset, 400);
    EXPECT_EQ(list[0].streams[1].width, 1920u);
    EXPECT_EQ(list[0].streams[2].offset, 4294967812);
    EXPECT_EQ(list[0].streams[2].frames, 1u);
}

TEST_F(Movies_Test, TheStreamTableEnds) {
    struct Case {
        const char* name;
        std::string bytes;
        size_t streams;
    };
    std::string zero = fixture_wmp({100, 100});
    zero[16 + 4] = zero[16 + 5] = zero[16 + 6] = zero[16 + 7] = 0;   // first size field 0
    std::string many = fixture_wmp(std::vector<uint32_t>(257, 48));
    std::string bad_header = fixture_wmp({100});
    bad_header[2] = 'X';
    std::string bad_bink = fixture_wmp({100, 100});
    bad_bink[116 + 2] = 'X';
    std::string short_bink = fixture_wmp({100, 100}).substr(0, 116 + 47);
    const Case cases[] = {
        {"a size field of 0 ends the table", zero, 1},
        {"at most 256 streams", many, 256},
        {"no WMP header", bad_header, 0},
        {"a second header without KB2", bad_bink, 1},
        {"a Bink header cut short", short_bink, 1},
    };
    for (const Case& c : cases) {
        Temp_Dir other;
        std::string dir = path_join({other.path, "amber_data", "movie"});
        ASSERT_TRUE(fs_make_dirs(dir));
        ASSERT_TRUE(fs_write(path_join({dir, "m.wmp"}), c.bytes));
        auto list = list_movies(other.path);
        ASSERT_EQ(list.size(), 1u) << c.name;
        EXPECT_EQ(list[0].streams.size(), c.streams) << c.name;
        if (c.streams == 0) {
            EXPECT_FALSE(list[0].all_converted);
            EXPECT_EQ(list[0].missing, 0);
        }
    }
}

// A ".heads" file is bounded like the container's own table: at most 256
// streams, and a file far larger than any table is not read at all.
TEST_F(Movies_Test, TheHeadsTableEnds) {
    std::vector<int64_t> offsets;
    for (int i = 0; i < 300; ++i) offsets.push_back(16 + 100 * i);
    struct Case {
        const char* name;
        std::string text;
        size_t streams;
        bool from_heads;
    } cases[] = {
        {"300 lines give 256 streams", heads_of(offsets), 256, true},
        // The container's own one stream stays.
        {"a huge file gives none", heads_of({16, 116}) + std::string(size_t(1) << 20, ' '), 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = put("m.wmp", fixture_wmp({5000}).substr(0, 100));
        ASSERT_TRUE(fs_write(path + ".heads", c.text));
        auto list = list_movies(game.path);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].streams.size(), c.streams);
        EXPECT_EQ(list[0].from_heads, c.from_heads);
    }
}

TEST_F(Movies_Test, ConvertedStreamsAndNames) {
    put("INTRO.WMP", fixture_wmp({5000, 3000}));
    put("ending.wmp", fixture_wmp({6000}));
    put("notes.txt", "not a movie");
    put(".wmp", fixture_wmp({100}));
    put("wmp", fixture_wmp({100}));
    ASSERT_TRUE(fs_write(path_join({folder, "INTRO.mp4"}), "mp4"));
    ASSERT_TRUE(fs_make_dirs(path_join({folder, "INTRO_5016.mp4"})));   // a folder counts as missing
    ASSERT_TRUE(fs_write(path_join({folder, "ending.mp4"}), "mp4"));
    auto list = list_movies(game.path);
    EXPECT_EQ(list.size(), 3u);
    const Movie* intro = find(list, "INTRO.WMP");
    const Movie* ending = find(list, "ending.wmp");
    ASSERT_TRUE(intro && ending && find(list, ".wmp"));
    EXPECT_EQ(intro->missing, 1);
    EXPECT_FALSE(intro->all_converted);
    EXPECT_EQ(ending->missing, 0);
    EXPECT_TRUE(ending->all_converted);
}

TEST_F(Movies_Test, NoMovieFolderIsAnEmptyList) {
    Temp_Dir other;
    EXPECT_TRUE(list_movies(other.path).empty());
    EXPECT_TRUE(list_movies(path_join({other.path, "missing"})).empty());
}

}  // namespace
