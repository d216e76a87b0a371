#include "launcher/mods/movies.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"

namespace {

bool ends_with_wmp(std::string_view name) {
    if (name.size() < 4) return false;
    std::string_view tail = name.substr(name.size() - 4);
    const char want[] = ".wmp";
    for (size_t i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != want[i]) return false;
    }
    return true;
}

// The stream table read from the container itself: the 16-byte header, then
// one 48-byte Bink header per stream, each read where the previous one says.
std::vector<Movie_Stream> wmp_streams(const std::string& path) {
    std::vector<Movie_Stream> out;
    std::string head;
    if (!fs_read_at(path, 0, 16, head) || head.size() != 16 || head.compare(0, 3, "WMP") != 0) return out;
    int64_t o = 16;
    for (;;) {
        std::string bink;
        if (!fs_read_at(path, static_cast<uint64_t>(o), 48, bink) || bink.size() != 48 || bink.compare(0, 3, "KB2") != 0)
            break;
        std::string_view b(bink);
        Movie_Stream s;
        s.offset = o;
        s.frames = movie_u32(b.substr(8));
        s.width = movie_u32(b.substr(20));
        s.height = movie_u32(b.substr(24));
        s.fps_num = movie_u32(b.substr(28));
        s.fps_den = movie_u32(b.substr(32));
        out.push_back(std::move(s));
        uint32_t size = movie_u32(b.substr(4));
        o += static_cast<int64_t>(size) + 8;
        if (size == 0 || out.size() >= movie_max_streams) break;
    }
    return out;
}

// The stream table of a ".heads" file: "offset frames width height num den"
// per line; any line of another shape is skipped. Like the container's own
// table it yields at most movie_max_streams streams.
std::vector<Movie_Stream> heads_streams(const std::string& path) {
    std::vector<Movie_Stream> out;
    std::string text;
    // One line per stream, each well under 128 bytes.
    if (!fs_read(path, text, nullptr, uint64_t(movie_max_streams) * 128)) return out;
    for (std::string_view line : split_at(text, '\n')) {
        if (out.size() >= size_t(movie_max_streams)) break;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        int64_t v[6];
        int n = 0;
        bool good = true;
        size_t i = 0;
        while (i < line.size() && good) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\v' || line[i] == '\f' || line[i] == '\r'))
                ++i;
            if (i >= line.size()) break;
            size_t start = i;
            while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\v' || line[i] == '\f' || line[i] == '\r'))
                ++i;
            if (n == 6) {
                good = false;
                break;
            }
            if (!parse_int(line.substr(start, i - start), v[n])) good = false;
            ++n;
        }
        if (!good || n != 6) continue;
        Movie_Stream s;
        s.offset = v[0];
        s.frames = static_cast<uint32_t>(v[1]);
        s.width = static_cast<uint32_t>(v[2]);
        s.height = static_cast<uint32_t>(v[3]);
        s.fps_num = static_cast<uint32_t>(v[4]);
        s.fps_den = static_cast<uint32_t>(v[5]);
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace

uint32_t movie_u32(std::string_view bytes) {
    if (bytes.size() < 4) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

std::string stream_mp4(std::string_view container, int64_t offset) {
    std::string_view stem = container.size() >= 4 ? container.substr(0, container.size() - 4) : std::string_view();
    if (offset == 16) return fmt("%s.mp4", stem);
    return fmt("%s_%d.mp4", stem, offset);
}

std::vector<Movie> list_movies(std::string_view game_dir) {
    std::vector<Movie> out;
    std::string folder = path_join({game_dir, "amber_data", "movie"});
    std::vector<Dir_Entry> entries;
    if (!fs_list(folder, entries)) return out;
    for (const Dir_Entry& e : entries) {
        if (!ends_with_wmp(e.name)) continue;
        Movie m;
        m.path = path_join({folder, e.name});
        File_Info info;
        m.size = fs_stat(m.path, info) && info.exists ? static_cast<int64_t>(info.size) : static_cast<int64_t>(e.size);
        m.cut = m.size >= 17 && m.size <= movie_kept_bytes;
        m.empty = m.size <= 16;
        if (!m.empty) {
            std::vector<Movie_Stream> own = wmp_streams(m.path);
            std::vector<Movie_Stream> heads = heads_streams(m.path + ".heads");
            if (heads.size() > own.size()) {
                m.streams = std::move(heads);
                m.from_heads = true;
            } else {
                m.streams = std::move(own);
            }
        }
        for (Movie_Stream& s : m.streams) {
            s.mp4 = stream_mp4(m.path, s.offset);
            if (!file_exists(s.mp4)) ++m.missing;
        }
        m.all_converted = m.missing == 0 && !m.streams.empty();
        out.push_back(std::move(m));
    }
    return out;
}
