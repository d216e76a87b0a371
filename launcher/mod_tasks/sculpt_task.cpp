#include "launcher/mod_tasks/model_tasks.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/format.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/config.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/mod_tools.h"
#include "launcher/mods/sculpt.h"

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
