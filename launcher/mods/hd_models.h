// HD Models+: the imported mod, the models its tool made and where they go
// (the characters, their variants and the settings' choice per character
// are in launcher/core/hdm_choices.h).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/hdm_choices.h"
#include "launcher/mods/filelist.h"

struct Settings;

// The first list file of the character table (characters, variants and
// their files in order) that the folder's "Data" lacks as a file; "" when
// it holds all 41.
std::string_view hdm_first_missing(std::string_view folder);
// The folder holds the mod's tool "SupportFiles/EF SAGA HD Models.exe" as a file.
bool hdm_tool_present(std::string_view folder);
// True when the mod's tool "SupportFiles/EF SAGA HD Models.exe" has been
// imported into the data folder's "mod_src/hdmodels" (as a file; an import
// puts the folder in place only after checking the list files there too).
bool hdm_imported();

// The 12 original model files of the main characters and their exact
// sizes: a file of another size is not the game's own.
struct Model_Size {
    std::string_view path;
    uint64_t size;
};
inline constexpr int original_model_count = 12;
extern const Model_Size Original_Model_Sizes[original_model_count];

// The row's choice text: empty for "Original"; else the variant's label,
// followed by ", weapon hidden" or ", weapon shown" (hd_models_hide) when
// one of its answers files in the mod's "Data" holds "::A". The files'
// answer is kept per file and read again only when a file changes.
std::string hdm_asks(const Settings& s, int row);
// The choice text the row's models were last applied under (its marker in
// "hdmodels/out", trimmed), or empty when there is none or the outputs of
// a variant the text names are missing.
std::string hdm_applied(int row);
// <data>/hdmodels/out/<character>.txt: the choice text the row's models
// were made under (hdm_applied reads it, the task writes it).
std::string hdm_marker_path(int row);
// <data>/hdmodels/out/chr/pc/<id>/bin/<id>.win32<ext>
std::string hdm_out_path(std::string_view id, std::string_view ext);
// The answers text handed to the tool: CRLF lines without the "::A",
// "::I" and "::E" markers, and without the lines between "::I" and "::E"
// (the weapon-hiding answers) unless `hide_weapon`.
std::string hdm_answer_txt(std::string_view text, bool hide_weapon);

struct Task;
struct Hd_Tool;


// --- The game's models, shared with Body Sculpting --------------------------

// The game's script archive and its file list, read for the copies of the
// original models. The list's entries point into `list_bytes`: the record
// is neither copied nor moved once opened.
struct Game_Scripts {
    std::string letter;       // the language letter, "u" or "c"
    std::string list_bytes;
    Filelist list;
    Game_Archive archive;
    Game_Scripts() = default;
    Game_Scripts(const Game_Scripts&) = delete;
    Game_Scripts& operator=(const Game_Scripts&) = delete;
};
// Reads amber_data/sys/filelist_scr<letter>.win32.bin and opens
// amber_scr<letter>.win32.bin ("u" when that archive exists, else "c").
// False after logging why.
bool game_scripts_open(Task& t, std::string_view game_dir, Game_Scripts& g);
// A list line split at ":" into at most four pieces: position, unpacked
// size, stored size and the path (which may hold ":" itself).
std::vector<std::string_view> game_line_fields(std::string_view text);
// Reads the member that `fields` describe and writes it below `orig_dir`
// under its path (`fields[3]`), which must be a safe member name. False
// after logging why; `write_failed` is the message (with the target) for a
// failed write.
bool game_model_copy(Task& t, const Game_Scripts& g, const std::vector<std::string_view>& fields,
                     std::string_view orig_dir, std::string_view write_failed);
// Checks the copies below `orig_dir` of the rows of Original_Model_Sizes
// that `wanted` accepts (all when it is empty). False after logging that
// `mod_name` starts from the original models.
bool game_models_original(Task& t, std::string_view orig_dir, std::string_view mod_name,
                          const std::vector<std::string>& wanted);

// Where the mod's tool writes a model in its work folder:
// <work>/models/mod/chr/pc/<id>/bin/<id>.win32<ext>.
std::string tool_model_path(std::string_view work, std::string_view id, std::string_view ext);
// Copies the tool's .trb and .imgb of each id to `out_path` (id, ext).
// False after logging "The models tool made no ... for <name>" (the task
// failed).
bool tool_models_copy(Task& t, std::string_view work, const std::vector<std::string_view>& ids,
                      std::string (*out_path)(std::string_view, std::string_view), std::string_view name,
                      std::string_view log_path);
// Makes <data>/<area>/work and <area>/out and readies `ctx` for tool runs
// in the work folder, with the log <work>/<log_name> created empty (none
// when it cannot be made). False after logging "Cannot make <folder>.".
bool models_work_open(Task& t, std::string_view area, std::string_view log_name, Hd_Tool& ctx);
// Closes the log of the tool runs on every ending of a task.
struct Tool_Log_Close {
    std::FILE*& log;
    ~Tool_Log_Close() {
        if (log) std::fclose(log);
        log = nullptr;
    }
};
