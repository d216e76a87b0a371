#include "launcher/mods/sculpt.h"

#include <algorithm>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/mods/batch.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/mod_tools.h"

bool sculpt_imported() { return file_exists(data_path({"mod_src", "sculpt", sculpt_data_file})); }

static bool normal_hair(const Settings& s) {
    return hdm_characters[0].variants[size_t(hdm_choice(s, 0))].label.find("Normal Hair") != std::string_view::npos;
}

std::string sculpt_state(const Settings& s, int row) {
    bool changed = false;
    for (size_t i = 0; i < sculpt_characters[row].sliders.size(); i++) {
        uint8_t v = s.sculpt[size_t(row)][i];
        if (v >= 1 && v <= 9 && v != 5) changed = true;
    }
    if (!changed) return {};
    std::string out = sculpt_text_of(s, row);
    if (row == 0) out += normal_hair(s) ? 'n' : 'h';
    return out;
}

std::string sculpt_out_path(std::string_view id, std::string_view ext) {
    return data_path({"sculpt", "out", "chr", "pc", id, "bin", fmt("%s.win32%s", id, ext)});
}

std::string sculpt_applied(int row) {
    const Sculpt_Character& c = sculpt_characters[row];
    std::string text;
    if (!fs_read(data_path({"sculpt", "out", fmt("%s.txt", c.model)}), text)) return {};
    for (std::string_view id : {c.model, c.second_model})
        for (std::string_view ext : {".trb", ".imgb"})
            if (!file_exists(sculpt_out_path(id, ext))) return {};
    return std::string(trim_space(text));
}

std::map<std::string, std::string> sculpt_answers(const Settings& s, int row) {
    std::map<std::string, std::string> answers;
    const Sculpt_Character& c = sculpt_characters[row];
    for (size_t i = 0; i < c.sliders.size(); i++) {
        uint8_t v = s.sculpt[size_t(row)][i];
        answers[std::string(c.sliders[i].key)] = fmt("%d", v >= 1 && v <= 9 ? int(v) : 5);
    }
    answers["select the kestrel model with the (h)q hair or the (n)ormal hair"] = normal_hair(s) ? "n" : "h";
    return answers;
}

std::map<std::string, std::string> sculpt_models(int row, std::string_view folder) {
    std::map<std::string, std::string> files;
    std::vector<Dir_Entry> entries;
    if (!fs_list(folder, entries)) return files;
    for (const Dir_Entry& e : entries) {
        std::string low = ascii_lower(e.name);
        for (std::string_view list : sculpt_characters[row].ultimate_lists) {
            std::string text;
            if (low == list && !e.is_dir && fs_read(path_join({folder, e.name}), text)) files[low] = std::move(text);
        }
    }
    return files;
}

Sculpt_Txt sculpt_make_txt(int row, const std::map<std::string, std::string>& answers,
                           std::map<std::string, std::string> files, const std::atomic<uint8_t>* cancel) {
    const Sculpt_Character& c = sculpt_characters[row];
    const std::string path = data_path({"mod_src", "sculpt", c.batch_file});
    std::string text;
    if (!fs_read(path, text, nullptr, bat_file_max)) {
        File_Info info;
        if (fs_stat(path, info) && info.size > bat_file_max)
            return {{}, fmt("%s holds more than %d MB: not Body Sculpting's batch file (import Body Sculpting again).",
                            c.batch_file, int(bat_file_max >> 20))};
        return {{}, fmt("Cannot read %s (import Body Sculpting again).", c.batch_file)};
    }
    Bat_State st;
    st.lines = bat_lines(text);
    st.labels = bat_labels(st.lines);
    auto start = st.labels.find("contsculpt");
    if (start == st.labels.end()) return {{}, fmt("%s has no :CONTSCULPT", c.batch_file)};
    // The file's own "set file=..." lines before the start label name the
    // text its echoes go to.
    for (int i = 0; i + 1 < start->second; i++) {
        std::string_view t = trim_space(st.lines[size_t(i)]);
        if (ascii_lower(t.substr(0, 9)) == "set file=") st.vars["file"] = std::string(t.substr(9));
    }
    st.vars["errorlevel"] = "0";
    st.answers = answers;
    st.files = std::move(files);
    st.cancel = cancel;
    bat_run(st, start->second);
    if (!st.error.empty()) return {{}, fmt("%s: %s (is HD Models+ 4.1.7 imported?)", c.batch_file, st.error)};
    if (st.end_label != "modifymodel")
        return {{}, fmt("%s's HD Models+ Ultimate model could not be sculpted (its .txt has no SCULPTING line: "
                        "HD Models+ older than the mod?).", c.name)};
    return {std::move(st.out), {}};
}
