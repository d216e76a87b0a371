// The two cutscene tasks: "Convert Movies" runs the bundle's converter
// ("tools/bink2mp4.exe") with FFmpeg over the game's movie folder, turning
// every Bink cutscene without an MP4 into one; "Discard Movies" cuts every
// fully converted container down to its first 4096 bytes after keeping its
// stream table in "<container>.heads". Both end with the game check, so the
// movie summary follows their work.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Task;

// The conversion's progress, for the one running conversion.
struct Convert_Progress {
    int64_t total = 0;     // cutscenes to convert at the start
    int64_t done = 0;      // cutscenes the converter finished
    std::string current;   // file name of the container being converted
};

void convert_task(Task& t);
void discard_task(Task& t);

// Reads one output line of the converter: a start line, a "frame " line
// or a "done in" line; sets the step text and progress.
void convert_line(Task& t, std::string_view line);
// Starts a conversion's progress afresh with `total` cutscenes.
void convert_progress_reset(int64_t total);
Convert_Progress convert_progress();

// The converter's thread count: cores - 1 from 3 cores on, else 1.
int convert_threads(int cores);
// The converter's command line for the game folder.
std::vector<std::string> convert_command(std::string_view game_dir, std::string_view ffmpeg, int cores);
// The text of a container's ".heads" file: one line per stream.
struct Movie;
std::string movie_heads_text(const Movie& m);

// Test seam: the processor count convert_command is given (0 = the real one).
void convert_set_core_count(int cores);
