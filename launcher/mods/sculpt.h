// Body Sculpting: the imported mod, the answers and model lists its batch
// files take, and the models made (the characters, their sliders and the
// settings' values are in launcher/core/sculpt_choices.h).
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/sculpt_choices.h"

struct Settings;

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
