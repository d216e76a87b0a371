// The runner for the mods' own Windows programs with its import log (the
// progress of long copies and unpacks is archive/progress.h), and the small file-tree operations the imports share. Task thread only.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/archive/progress.h"
#include "launcher/core/format.h"

struct Task;

// One import run's context for the mod's programs.
struct Hd_Tool {
    Task* task = nullptr;
    std::string work_dir;      // holds the unpacked "SupportFiles"; default working folder
    std::string staging_dir;   // where the import builds its result (its owner's)
    std::FILE* log = nullptr;  // "hd_import.log", or none
    bool failed = false;       // a program could not be run or a copy failed
};

// Runs <work>/SupportFiles/<tool> quietly with a 30-minute limit, its output
// collected, and writes the run to the import log:
//   "> tool args  [working folder]\n<output>(exit N)".
// The working folder is `cwd`, or the context's work folder when empty.
// False (with "Cannot run <tool>." in the task log and the context's failed
// flag set) only when the program could not be started; `exit_code` gets
// its exit code (-1 when it was stopped).
bool hd_tool(Hd_Tool& ctx, std::string_view tool, const std::vector<std::string>& args, std::string_view cwd,
             int64_t* exit_code);
// hd_tool with "efsgtool.exe" -i <list> <data> <member>.
bool hd_tool_import(Hd_Tool& ctx, std::string_view list, std::string_view data, std::string_view member,
                    std::string_view cwd, int64_t* exit_code = nullptr);

// Writes one formatted line to the context's log, when it has one.
void hd_log_text(Hd_Tool& ctx, std::string_view text);
template <typename... A>
void hd_log(Hd_Tool& ctx, std::string_view format, const A&... args) {
    if (ctx.log) hd_log_text(ctx, fmt(format, args...));
}

// Copies a file over any existing target (its folder made first). Failure:
// "Cannot copy %s to %s (is there room?)." in the task log and the failed flag.
bool copy_into(Hd_Tool& ctx, std::string_view from, std::string_view to);
// Moves a file onto the target (replacing it); across volumes it copies and
// deletes the source. False only when that copy failed.
bool move_into(Hd_Tool& ctx, std::string_view from, std::string_view to);
// Copies the files below `from` whose lower-cased names end with one of the
// (lower-case) suffixes to the same places below `to`. False at the first
// failed copy; an unreadable or empty source gives true.
bool copy_tree_suffix(Hd_Tool& ctx, std::string_view from, std::string_view to,
                      const std::vector<std::string>& suffixes);
// Copies the files below `from` whose counterpart below `to` is missing or
// of another size or modification time (a copy takes the source's time). Logs "Cannot read %s." or "Cannot copy %s (is there room?)."
bool copy_tree_changed(Task& t, std::string_view from, std::string_view to);
// Makes `to` and every folder below `from` again below it; no files.
void mirror_dirs(std::string_view from, std::string_view to);
// Deletes every file below the folder; the folders stay.
void delete_tree_files(std::string_view dir);
// The names of the folder's sub-folders, sorted by name_less_ci.
std::vector<std::string> subdirs(std::string_view dir);
// a before b, compared lower-cased byte by byte.
bool name_less_ci(std::string_view a, std::string_view b);
bool name_less_ci2(std::string_view a, std::string_view b);
// The path with every "/" made a "\".
std::string to_backslashes(std::string_view path);
// Free bytes for the user on the volume of `path` ("" = the current one).
bool disk_free(std::string_view path, uint64_t& bytes);
// Makes the folder with its parents; true when it is a folder afterwards.
bool ensure_dir(std::string_view path);
// Finds `name` in `dir` ignoring case, as Windows would: the path of the
// entry whose name matches, or dir/name when none does.
std::string find_ci(std::string_view dir, std::string_view name);
