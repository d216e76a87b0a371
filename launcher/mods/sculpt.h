// Body Sculpting: the three sculptable characters with their sliders, and
// the slider values as the settings keep them.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct Settings;

struct Sculpt_Slider {
    std::string_view label;                  // shown on the page
    std::string_view key;                    // the batch file's question it answers
    std::array<std::string_view, 9> choices; // labels of the values 1..9; 5 keeps the model as it is
};

struct Sculpt_Character {
    std::string_view name;
    std::string_view model;                  // main model id
    std::string_view second_model;
    std::string_view batch_file;             // in the data folder's "mod_src/sculpt"
    std::string_view sculpt_text;            // model text the batch file writes
    std::vector<Sculpt_Slider> sliders;      // at most 8
    std::vector<std::string_view> ultimate_lists;   // lower case
    std::string_view model_list;             // HD Models+'s list run after the sculpt text
};
inline constexpr int sculpt_character_count = 3;
inline constexpr int sculpt_slider_max = 8;
extern const Sculpt_Character sculpt_characters[sculpt_character_count];

// One digit per slider of the row (0..2): the stored value when it is 1..9,
// else 5.
std::string sculpt_text_of(const Settings& s, int row);
// The "sculpt" value of settings.txt: the three rows' texts joined by ",".
std::string sculpt_text(const Settings& s);
// Sets all 24 values to 0, then reads the first three comma-separated
// pieces: of each, the first 8 characters; "1".."9" set that slider.
void sculpt_parse(Settings& s, std::string_view text);
inline constexpr std::string_view sculpt_data_file = "SAGA_Sculpting.bin";
// True when "SAGA_Sculpting.bin" has been imported into the data folder's
// "mod_src/sculpt" (as a file; an import puts the folder in place only
// after checking the batch files there too).
bool sculpt_imported();

// The row's applied-state text: empty when every slider is unchanged;
// otherwise sculpt_text_of, and for row 0 the hair letter of the HD Models+
// variant chosen for it ("n" for a "Normal Hair" variant, else "h").
std::string sculpt_state(const Settings& s, int row);
// <data>/sculpt/out/chr/pc/<id>/bin/<id>.win32<ext>
std::string sculpt_out_path(std::string_view id, std::string_view ext);
// The state the row's models were made for (sculpt/out/<model>.txt,
// trimmed), or empty when that file or one of the row's four outputs is
// missing.
std::string sculpt_applied(int row);

// The answers to the row's batch-file questions: every slider's value, and
// the hair question of the first character.
std::map<std::string, std::string> sculpt_answers(const Settings& s, int row);
// The row's Ultimate lists as found in `folder` (names compared in lower
// case), by lower-case name; unreadable ones are left out.
std::map<std::string, std::string> sculpt_models(int row, std::string_view folder);

struct Sculpt_Txt {
    std::string text;      // the model text the batch file writes
    std::string message;   // why there is none; empty on success
};
// Runs the row's batch file (from the data folder's "mod_src/sculpt") from
// its ":CONTSCULPT" label with these answers and model lists. A batch file
// over bat_file_max bytes is refused unread.
Sculpt_Txt sculpt_make_txt(int row, const std::map<std::string, std::string>& answers,
                           std::map<std::string, std::string> files,
                           const std::atomic<uint8_t>* cancel = nullptr);

struct Task;
// The task "Body Sculpting": makes the sculpted models of every row whose
// sliders are not all unchanged into "sculpt/out", then turns sculpt_on on.
void sculpt_apply_task(Task& t);
