#include "launcher/gamebuild/check_report.h"

#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/gamebuild/options.h"
#include "launcher/core/format.h"
#include "launcher/core/settings.h"

std::string check_report_text() {
    Game_State g = game_state_copy();
    std::string text = fmt("game ok %v, %d cutscenes to convert, %d discardable (%.1f GB), %d kept\n", g.ok, g.to_convert,
                           g.discardable, static_cast<double>(g.discard_bytes) / 1e9, g.kept);
    std::string chosen = settings_copy().compiler;
    for (const Compiler& c : compilers_get()) {
        text += fmt("compiler: %s (%s)%s\n", c.label, c.path, c.path == chosen ? " -- chosen" : "");
    }
    Build_Spec here;
    text += fmt("options: %v\n", runtime_option_flags(here));
    return text;
}
