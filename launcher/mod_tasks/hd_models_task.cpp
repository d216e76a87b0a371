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

// --- The task ------------------------------------------------------------------

namespace {

template <typename... A>
void fail(Task& t, std::string_view format, const A&... args) {
    logf(t, format, args...);
    t.failed.store(1);
}

bool taken_model_path(std::string_view path) {
    bool folder = false;
    for (std::string_view prefix : {"chr/pc/", "chr/npc/", "chr/weapon/", "chr/summon/"})
        folder = folder || path.substr(0, prefix.size()) == prefix;
    auto ends = [&](std::string_view suffix) {
        return path.size() >= suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
    };
    return folder && (ends(".trb") || ends(".imgb"));
}

// Builds one character's chosen models (steps c to g of a row); false when
// the task ends.
bool hdm_apply_row(Task& t, Hd_Tool& ctx, const Settings& s, int row, const std::string& asks,
                   const std::string& log_path) {
    const Hdm_Character& c = hdm_characters[row];
    const Hdm_Variant& v = c.variants[size_t(hdm_choice(s, row))];
    const std::string& work = ctx.work_dir;
    set_status(t, 0.45f + float(row) * 0.5f / 6.0f, "%s: %s", c.name, v.label);
    for (std::string_view id : v.models)
        for (std::string_view ext : {".trb", ".imgb"}) fs_remove_file(tool_model_path(work, id, ext));
    for (std::string_view f : v.files) {
        std::string text;
        if (!fs_read(path_join({work, "Data", f}), text)) {
            fail(t, "The mod's Data/%s is missing: import its ZIP again.", f);
            return false;
        }
        std::string arg = fmt("Data\\%s", f);
        if (text.find("::A") != std::string::npos) {
            std::string name = fmt("zqr_%s", f);
            if (!fs_write(path_join({work, "Data", name}), hdm_answer_txt(text, s.hd_models_hide))) {
                fail(t, "Cannot write in %s.", work);
                return false;
            }
            arg = fmt("Data\\%s", name);
        }
        int64_t code = -1;
        if (!hd_tool(ctx, "EF SAGA HD Models.exe", {arg}, work, &code)) {
            t.failed.store(1);
            return false;
        }
        if (t.cancel.load()) {
            t.failed.store(1);
            return false;
        }
        if (code != 0) {
            fail(t, "The models tool could not make %s's %s model (Data\\%s: exit %d). Log: %s", c.name, v.label, f,
                 code, log_path);
            return false;
        }
    }
    if (!tool_models_copy(t, work, v.models, hdm_out_path, c.name, log_path)) return false;
    if (!fs_write(hdm_marker_path(row), asks)) {
        t.failed.store(1);
        return false;
    }
    return true;
}

}  // namespace

void hdm_apply_task(Task& t) {
    const Settings s = settings_copy();
    if (s.game_dir.empty()) return fail(t, "Choose the EMBERFALL SAGA folder first (Home).");
    if (!hdm_imported()) return fail(t, "Import HD Models+'s ZIP first.");
    Hd_Tool ctx;
    if (!models_work_open(t, "hdmodels", "hdmodels.log", ctx)) return t.failed.store(1);
    Tool_Log_Close closes{ctx.log};
    const std::string& work = ctx.work_dir;
    const std::string log_path = path_join({work, "hdmodels.log"});

    set_status(t, 0.02f, "Copying the mod's files");
    if (!copy_tree_changed(t, data_path({"mod_src", "hdmodels"}), work)) return t.failed.store(1);

    set_status(t, 0.1f, "Reading the game's models");
    Game_Scripts g;
    if (!game_scripts_open(t, s.game_dir, g)) return t.failed.store(1);
    const std::string orig = path_join({work, "models", "orig"});
    const size_t n = g.list.entries.size();
    int count = 0;
    for (size_t i = 0; i < n; i++) {
        std::vector<std::string_view> fields = game_line_fields(g.list.entries[i].text);
        if (fields.size() != 4 || !taken_model_path(fields[3])) continue;
        if (!game_model_copy(t, g, fields, orig, "Cannot write %s (is there room?).")) return t.failed.store(1);
        count++;
        if (i % 64 == 0) set_status(t, 0.1f + 0.3f * float(i) / float(n), "Reading the game's models (%d)", count);
        // The runner reports the cancellation.
        if (t.cancel.load()) return t.failed.store(1);
    }
    if (!game_models_original(t, orig, "HD Models+", {})) return t.failed.store(1);
    mirror_dirs(orig, path_join({work, "models", "mod"}));

    int applied = 0;
    for (int row = 0; row < hdm_character_count; row++) {
        fs_remove_file(hdm_marker_path(row));
        std::string asks = hdm_asks(s, row);
        if (asks.empty()) continue;
        if (!hdm_apply_row(t, ctx, s, row, asks, log_path)) return;
        applied++;
    }

    settings_edit([](Settings& live) { live.hd_models_on = true; });
    save_settings();
    cfg_write_file(exe_dir(), Cfg_When::If_Present);
    if (applied)
        logf(t, "HD Models+ applied to %d characters. The game uses them the next time it starts.", applied);
    else
        logf(t, "Every character is Original: the game's own models are used.");
    set_status(t, 1.0f, "HD Models+ applied");
}
