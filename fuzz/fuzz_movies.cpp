// A cutscene container and its ".heads" file from any bytes (the container,
// then after the first "\n--- heads\n" the heads text): the stream table
// holds at most movie_max_streams streams, the container's own streams lie
// inside it in order, and a table written out as ".heads" reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_folder.h"
#include "launcher/mod_tasks/cutscenes.h"
#include "launcher/mods/movies.h"

namespace {

bool same_streams(const std::vector<Movie_Stream>& a, const std::vector<Movie_Stream>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].offset != b[i].offset || a[i].frames != b[i].frames || a[i].width != b[i].width ||
            a[i].height != b[i].height || a[i].fps_num != b[i].fps_num || a[i].fps_den != b[i].fps_den)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static const std::string_view mark = "\n--- heads\n";
    size_t at = bytes.find(mark);
    std::string_view container = bytes.substr(0, at);
    std::string_view heads = at == std::string_view::npos ? std::string_view() : bytes.substr(at + mark.size());

    const std::string& game = fuzz_folder("movies");
    const std::string folder = path_join({game, "amber_data", "movie"});
    const std::string wmp = path_join({folder, "opening.wmp"});
    fs_make_dirs(folder);
    if (!fs_write(wmp, container)) std::abort();
    if (at == std::string_view::npos) fs_remove_file(wmp + ".heads");
    else if (!fs_write(wmp + ".heads", heads)) std::abort();

    std::vector<Movie> movies = list_movies(game);
    if (movies.size() != 1) std::abort();
    const Movie& m = movies[0];
    if (m.streams.size() > size_t(movie_max_streams)) std::abort();
    if (!m.from_heads) {
        int64_t last = 0;
        for (const Movie_Stream& s : m.streams) {
            if (s.offset <= last || s.offset + 48 > m.size) std::abort();
            last = s.offset;
        }
    }
    if (m.empty || m.streams.empty()) return 0;
    // What a discard writes for this table reads back as the same table.
    if (!fs_write(wmp + ".heads", movie_heads_text(m))) std::abort();
    fs_write(wmp, container.substr(0, 17));
    std::vector<Movie> again = list_movies(game);
    if (again.size() != 1 || !again[0].from_heads || !same_streams(again[0].streams, m.streams)) std::abort();
    return 0;
}
