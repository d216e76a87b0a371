#include "launcher/mods/sculpt.h"

#include <algorithm>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/batch.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/mod_tools.h"

static constexpr std::array<std::string_view, 9> size_choices = {
    "1 (Smaller)", "2", "3", "4", "5 (As Is)", "6", "7", "8", "9 (Larger)"};
static constexpr std::array<std::string_view, 9> length_choices = {
    "1 (Shorter)", "2", "3", "4", "5 (As Is)", "6", "7", "8", "9 (Longer)"};
static constexpr std::array<std::string_view, 9> sari_choices = {
    "Red", "Violet", "Green", "Pink", "Blue (As Is)", "Cyan", "Purple", "Grey", "Silver"};
static constexpr std::array<std::string_view, 9> fur_choices = {
    "Cyan", "White", "Light Natural", "Lighter Natural", "Natural (As Is)", "Darker Natural", "Dark Natural", "Black", "Pink"};

static constexpr Sculpt_Slider hips{"Hips", "hips", size_choices};
static constexpr Sculpt_Slider legs{"Legs", "legs", size_choices};
static constexpr Sculpt_Slider waist{"Waist", "waist", size_choices};
static constexpr Sculpt_Slider butt{"Butt", "butt", size_choices};
static constexpr Sculpt_Slider bust{"Bust", "bust", size_choices};
static constexpr Sculpt_Slider biceps{"Biceps", "biceps", size_choices};
static constexpr Sculpt_Slider arms{"Arms", "arms", size_choices};
static constexpr Sculpt_Slider neck{"Neck", "neck", size_choices};
static constexpr Sculpt_Slider skirt{"Skirt", "skirt", length_choices};
static constexpr Sculpt_Slider sari{"Sari Color", "select tarsa's sari color", sari_choices};
static constexpr Sculpt_Slider fur{"Fur Color", "select tarsa's fur color", fur_choices};

const Sculpt_Character sculpt_characters[sculpt_character_count] = {
    {"Kestrel", "c201", "c001", "SAGA Kestrel Body Sculpting.bat", "Kestrel_Sculpt.txt",
     {hips, legs, waist, butt, bust, biceps, arms, neck}, {"x_kestrel2.txt", "x_kestrel_hair2.txt"}, "X_Kestrel1.txt"},
    {"Mirela", "c205", "c005", "SAGA Mirela Body Sculpting.bat", "Mirela_Sculpt.txt",
     {hips, legs, waist, skirt, bust, arms, neck}, {"x_mirela2.txt"}, "X_Mirela1.txt"},
    {"Tarsa", "c206", "c006", "SAGA Tarsa Body Sculpting.bat", "Tarsa_Sculpt.txt",
     {hips, legs, waist, bust, arms, neck, sari, fur}, {"x_tarsa2.txt"}, "X_Tarsa1.txt"},
};

std::string sculpt_text_of(const Settings& s, int row) {
    std::string out;
    const auto& values = s.sculpt[size_t(row)];
    for (size_t i = 0; i < sculpt_characters[row].sliders.size(); i++) {
        uint8_t v = values[i];
        out += char('0' + (v >= 1 && v <= 9 ? v : 5));
    }
    return out;
}

std::string sculpt_text(const Settings& s) {
    std::string out;
    for (int row = 0; row < sculpt_character_count; row++) {
        if (row) out += ',';
        out += sculpt_text_of(s, row);
    }
    return out;
}

void sculpt_parse(Settings& s, std::string_view text) {
    for (auto& row : s.sculpt) row.fill(0);
    std::vector<std::string_view> pieces = split_at(text, ',');
    for (size_t row = 0; row < pieces.size() && row < size_t(sculpt_character_count); row++) {
        std::string_view piece = pieces[row];
        for (size_t i = 0; i < piece.size() && i < size_t(sculpt_slider_max); i++) {
            char c = piece[i];
            if (c >= '1' && c <= '9') s.sculpt[row][i] = uint8_t(c - '0');
        }
    }
}

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

namespace {

template <typename... A>
void fail(Task& t, std::string_view format, const A&... args) {
    logf(t, format, args...);
    t.failed.store(1);
}

std::string state_path(const Sculpt_Character& c) { return data_path({"sculpt", "out", fmt("%s.txt", c.model)}); }

// Makes one row's models (steps c to i); false when the task ends.
bool sculpt_row(Task& t, Hd_Tool& ctx, const Settings& s, int row, const std::string& state,
                const std::string& log_path) {
    const Sculpt_Character& c = sculpt_characters[row];
    const std::string& work = ctx.work_dir;
    const std::string data = path_join({work, "Data"});
    set_status(t, float(row) * 0.5f / 3.0f + 0.45f, "Sculpting %s", c.name);
    Sculpt_Txt made = sculpt_make_txt(row, sculpt_answers(s, row), sculpt_models(row, data), &t.cancel);
    // A run stopped by Cancel is no fault of the batch file: the runner
    // reports the cancellation.
    if (t.cancel.load()) {
        t.failed.store(1);
        return false;
    }
    if (!made.message.empty()) {
        fail(t, "%s", made.message);
        return false;
    }
    if (!fs_write(path_join({data, c.sculpt_text}), made.text)) {
        fail(t, "Cannot write in %s.", work);
        return false;
    }
    for (std::string_view id : {c.model, c.second_model})
        for (std::string_view ext : {".trb", ".imgb"}) fs_remove_file(tool_model_path(work, id, ext));
    for (std::string_view f : {c.sculpt_text, c.model_list}) {
        if (!file_exists(path_join({data, f}))) {
            fail(t, "HD Models+'s Data/%s is missing: import HD Models+ again.", f);
            return false;
        }
        int64_t code = -1;
        if (!hd_tool(ctx, "EF SAGA HD Models.exe", {fmt("Data\\%s", f)}, work, &code)) {
            t.failed.store(1);
            return false;
        }
        if (t.cancel.load()) {
            t.failed.store(1);
            return false;
        }
        if (code != 0) {
            fail(t, "The models tool could not make %s's model (Data\\%s: exit %d). Log: %s", c.name, f, code,
                 log_path);
            return false;
        }
    }
    if (!tool_models_copy(t, work, {c.model, c.second_model}, sculpt_out_path, c.name, log_path)) return false;
    if (!fs_write(state_path(c), state)) {
        t.failed.store(1);
        return false;
    }
    return true;
}

// Copies the 12 models of the three rows out of the game into
// <work>/models/orig and checks the main ones; the game's skeleton of model
// folders is mirrored under models/mod. False when the task ends.
bool sculpt_game_models(Task& t, std::string_view game_dir, const std::string& work) {
    set_status(t, 0.3f, "Reading the game's models");
    Game_Scripts g;
    if (!game_scripts_open(t, game_dir, g)) return false;
    std::vector<std::string> wanted;
    for (const Sculpt_Character& c : sculpt_characters)
        for (std::string_view id : {c.model, c.second_model})
            for (std::string_view ext : {".trb", ".imgb"}) wanted.push_back(fmt("chr/pc/%s/bin/%s.win32%s", id, id, ext));
    const std::string orig = path_join({work, "models", "orig"});
    size_t count = 0;
    for (const Filelist_Entry& e : g.list.entries) {
        std::vector<std::string_view> fields = game_line_fields(e.text);
        if (fields.size() != 4 || std::find(wanted.begin(), wanted.end(), fields[3]) == wanted.end()) continue;
        if (!game_model_copy(t, g, fields, orig, "Cannot write %s.")) return false;
        count++;
    }
    if (count != wanted.size()) {
        logf(t, "The game's amber_scr%s does not have the main characters' models.", g.letter);
        return false;
    }
    if (!game_models_original(t, orig, "Body Sculpting", wanted)) return false;
    mirror_dirs(orig, path_join({work, "models", "mod"}));
    return true;
}

}  // namespace

void sculpt_apply_task(Task& t) {
    const Settings s = settings_copy();
    if (s.game_dir.empty()) return fail(t, "Choose the EMBERFALL SAGA folder first (Home).");
    if (!sculpt_imported()) return fail(t, "Import Body Sculpting's ZIP first.");
    if (!hdm_imported())
        return fail(t, "Body Sculpting reshapes HD Models+'s Ultimate models: import HD Models+ (Features & Mods) "
                       "first.");
    Hd_Tool ctx;
    if (!models_work_open(t, "sculpt", "sculpt.log", ctx)) return t.failed.store(1);
    Tool_Log_Close closes{ctx.log};
    const std::string& work = ctx.work_dir;
    const std::string log_path = path_join({work, "sculpt.log"});

    set_status(t, 0.05f, "Copying HD Models+'s files");
    if (!copy_tree_changed(t, data_path({"mod_src", "hdmodels"}), work)) return t.failed.store(1);
    if (!file_exists(path_join({work, "SupportFiles", "EF SAGA HD Models.exe"})))
        return fail(t, "HD Models+'s SupportFiles/EF SAGA HD Models.exe is missing: import HD Models+ again.");
    if (!ensure_dir(path_join({work, "Data"})) ||
        !fs_copy_file(data_path({"mod_src", "sculpt", "SAGA_Sculpting.bin"}),
                      path_join({work, "Data", "SAGA_Sculpting.bin"})))
        return fail(t, "Cannot copy SAGA_Sculpting.bin into %s.", work);
    if (!sculpt_game_models(t, s.game_dir, work)) return t.failed.store(1);

    int sculpted = 0;
    for (int row = 0; row < sculpt_character_count; row++) {
        fs_remove_file(state_path(sculpt_characters[row]));
        std::string state = sculpt_state(s, row);
        if (state.empty()) continue;
        if (!sculpt_row(t, ctx, s, row, state, log_path)) return;
        sculpted++;
    }

    settings_edit([](Settings& live) { live.sculpt_on = true; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    if (sculpted)
        logf(t,
             "Body Sculpting applied to %d characters (HD Models+'s Ultimate models, sculpted). The game uses them the "
             "next time it starts.",
             sculpted);
    else
        logf(t, "Every choice is as is: HD Models+'s models (or the game's) are used.");
    set_status(t, 1.0f, "Body Sculpting applied");
}
