#include "launcher/mod_tasks/cutscenes.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/thread.h"
#include "launcher/core/bundle.h"
#include "launcher/core/child_run.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/game.h"
#include "launcher/mods/movies.h"

namespace {

std::mutex g_progress_lock;
Convert_Progress g_progress;
std::atomic<int> g_core_count{0};

// A number of the converter's "frame" line; decimal fractions allowed, 0
// when the field does not parse.
double field_number(std::string_view s) {
    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() ? v : 0;
}

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) at++;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') end++;
        if (end > at) out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

std::string after_last_separator(std::string_view path) {
    size_t cut = path.find_last_of("/\\");
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string movie_folder(std::string_view game_dir) { return path_join({game_dir, "amber_data", "movie"}); }

// What a cancelled or failed converter left half-written: its ".mp4.part"
// files, which never count as converted.
void remove_partial_mp4s(std::string_view folder) {
    std::vector<Dir_Entry> entries;
    if (!fs_list(folder, entries)) return;
    for (const Dir_Entry& e : entries) {
        std::string lower = ascii_lower(e.name);
        if (!e.is_dir && lower.size() > 9 && lower.compare(lower.size() - 9, 9, ".mp4.part") == 0)
            fs_remove_file(path_join({folder, e.name}));
    }
}

// The game check that ends both tasks; the task's own last step stays the
// one shown.
void refresh_keeping_step(Task& t) {
    Task_View before = task_view(t);
    refresh_game(t);
    set_status_text(t, before.progress, before.status);
}

}  // namespace

int convert_threads(int cores) { return cores >= 3 ? cores - 1 : 1; }

void convert_set_core_count(int cores) { g_core_count.store(cores); }

std::vector<std::string> convert_command(std::string_view game_dir, std::string_view ffmpeg, int cores) {
    std::string movies = movie_folder(game_dir);
    return {data_path({"tools", "bink2mp4.exe"}),
            "--dll",
            path_join({game_dir, "amber_data", "prog", "win", "bin", "bink2w32.dll"}),
            "--ffmpeg",
            std::string(ffmpeg),
            "--threads",
            fmt("%d", convert_threads(cores)),
            "all",
            movies,
            movies};
}

void convert_progress_reset(int64_t total) {
    std::lock_guard<std::mutex> guard(g_progress_lock);
    g_progress = Convert_Progress{total, 0, {}};
}

Convert_Progress convert_progress() {
    std::lock_guard<std::mutex> guard(g_progress_lock);
    return g_progress;
}

void convert_line(Task& t, std::string_view raw) {
    std::string_view line = trim_space(raw);
    std::lock_guard<std::mutex> guard(g_progress_lock);
    Convert_Progress& p = g_progress;
    const double total = double(std::max<int64_t>(p.total, 1));
    if (line.find(" frames at ") != std::string_view::npos && line.find(" -> ") != std::string_view::npos) {
        size_t colon = line.find(": ");
        if (colon == std::string_view::npos) return;
        p.current = after_last_separator(line.substr(0, colon));
        set_status(t, float(double(p.done) / total), "Converting %s: cutscene %d of %d", p.current, p.done + 1, p.total);
        return;
    }
    if (line.substr(0, 7) == "done in") {
        p.done++;
        return;
    }
    if (line.substr(0, 6) != "frame ") return;
    std::vector<std::string_view> w = words_of(line);
    if (w.size() < 4) return;
    double frame = field_number(w[1]), count = field_number(w[3]);
    if (!(count > 0)) return;
    set_status(t, float((frame / count + double(p.done)) / total), "Converting %s: cutscene %d of %d, frame %d of %d",
               p.current, p.done + 1, p.total, int64_t(frame), int64_t(count));
}

void convert_task(Task& t) {
    const std::string game_dir = settings_copy().game_dir;
    Dependency ffmpeg = dependency_get(Dep_Kind::FFmpeg);
    if (ffmpeg.found.empty() || !ffmpeg.ok) {
        log_line(t, "Needs FFmpeg with its H.264 encoder (install it above).");
        t.failed.store(1);
        refresh_keeping_step(t);
        return;
    }
    std::vector<Movie> movies = list_movies(game_dir);
    int64_t total = 0, old_cuts = 0;
    for (const Movie& m : movies) {
        if (movie_intact(m)) total += m.missing;
        if (m.cut && !m.from_heads) old_cuts++;
    }
    if (old_cuts > 0)
        logf(t,
             "%d movies were discarded by an older launcher, which converted only the first of the cutscenes a "
             "movie file can hold: the others are gone from them. To get them back, have Steam verify the game's "
             "files (Properties > Installed Files > Verify integrity), then Convert Movies again.",
             old_cuts);
    if (total == 0) {
        log_line(t, "Every movie already has its MP4s.");
        set_status(t, 1.0f, "Nothing to convert");
        refresh_keeping_step(t);
        return;
    }
    if (bundle_extract(t, data_dir(), {"tools/"}) < 0) {
        t.failed.store(1);
        refresh_keeping_step(t);
        return;
    }
    int cores = g_core_count.load() > 0 ? g_core_count.load() : cpu_count();
    std::vector<std::string> command = convert_command(game_dir, ffmpeg.found, cores);
    convert_progress_reset(total);
    logf(t,
         "Converting %d cutscenes (all of them: about 7 hours of video, English and Japanese; it can be cancelled "
         "and continued later)",
         total);
    set_status(t, 0.0f, "Converting: 0 of %d", total);
    logf(t, "Converting with %s threads", command[6]);
    int64_t code = -1;
    bool started = child_run(t, command, "", Output_Mode::Log, nullptr, convert_line, 0, &code);
    remove_partial_mp4s(movie_folder(game_dir));
    if (!t.cancel.load()) {
        if (started && code == 0) {
            set_status(t, 1.0f, "Converted %d cutscenes", convert_progress().done);
        } else {
            log_line(t, "The converter failed.");
            t.failed.store(1);
        }
    }
    refresh_keeping_step(t);
}

std::string movie_heads_text(const Movie& m) {
    std::string text;
    for (const Movie_Stream& s : m.streams)
        text += fmt("%d %d %d %d %d %d\n", s.offset, s.frames, s.width, s.height, s.fps_num, s.fps_den);
    return text;
}

void discard_task(Task& t) {
    std::vector<Movie> movies = list_movies(settings_copy().game_dir);
    int64_t discarded = 0, kept = 0, freed = 0;
    const size_t n = movies.size();
    for (size_t i = 0; i < n; i++) {
        if (t.cancel.load()) break;
        const Movie& m = movies[i];
        if (m.cut || m.empty) continue;
        std::string name = path_base(m.path);
        if (!m.all_converted) {
            logf(t, "Kept %s: %d of its %d cutscenes have no MP4 yet", name, m.missing, m.streams.size());
            kept++;
            continue;
        }
        set_status(t, float(double(i) / double(n)), "Discarding %s", name);
        // The stream table must be whole on the disk before the container is
        // cut: it is all that is left of the container's streams afterwards.
        const std::string heads = m.path + ".heads";
        const std::string text = movie_heads_text(m);
        std::string back;
        if (!fs_write_atomic(heads, text) || !fs_read(heads, back) || back != text) {
            logf(t, "Could not write %s.heads: %s kept", name, name);
            t.failed.store(1);
            continue;
        }
        std::string err;
        if (!fs_truncate(m.path, uint64_t(movie_kept_bytes), &err)) {
            logf(t, "Could not cut down %s: %s", name, err);
            t.failed.store(1);
            continue;
        }
        discarded++;
        freed += m.size - movie_kept_bytes;
    }
    std::string suffix = kept > 0 ? fmt(" (%d kept: convert them first)", kept) : std::string();
    logf(t, "Discarded %d old movies: %.1f GB freed%s", discarded, double(freed) / 1e9, suffix);
    set_status(t, 1.0f, "%.1f GB freed", double(freed) / 1e9);
    refresh_keeping_step(t);
}
