// The game's cutscenes: the ".wmp" movie containers in amber_data/movie,
// their stream tables and the MP4 file each cutscene converts to.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One cutscene: a Bink 2 file inside a container.
struct Movie_Stream {
    int64_t offset = 0;   // where the Bink file begins in the container; names the stream
    uint32_t frames = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fps_num = 0;
    uint32_t fps_den = 0;
    std::string mp4;      // stream_mp4 of the container and offset
};

// One container.
struct Movie {
    std::string path;
    int64_t size = 0;
    std::vector<Movie_Stream> streams;
    int64_t missing = 0;        // streams whose MP4 is absent (or is a folder)
    bool all_converted = false; // missing == 0 and at least one stream
    bool cut = false;           // 17 <= size <= 4096: cut down by a discard
    bool from_heads = false;    // the streams came from the ".heads" file
    bool empty = false;         // size <= 16: not opened, no streams
};

// The most streams one container yields.
inline constexpr int movie_max_streams = 256;
// What a discard keeps of a container.
inline constexpr int64_t movie_kept_bytes = 4096;

// Every container of the game folder's amber_data/movie, in listing order.
// Never fails: an unreadable folder gives an empty list.
std::vector<Movie> list_movies(std::string_view game_dir);
// The MP4 path of the stream at `offset`: x.wmp gives x.mp4 for the first
// stream (offset 16) and x_<offset>.mp4 for the others.
std::string stream_mp4(std::string_view container, int64_t offset);
// The little-endian u32 in the first 4 bytes (0 for fewer than 4 bytes).
uint32_t movie_u32(std::string_view bytes);

// An intact container is neither cut nor empty; only those count towards
// the conversion and discard figures.
inline bool movie_intact(const Movie& m) { return !m.cut && !m.empty; }
