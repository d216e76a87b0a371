// The launcher's entry: start-up in its fixed order, then a command-line
// mode or the window.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/env.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/interrupt.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/utf.h"
#include "launcher/gamebuild/apk.h"
#include "launcher/gamebuild/build_id.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/run_game.h"
#include "launcher/core/bundle.h"
#include "launcher/core/bundle_data.h"
#include "launcher/app/cli.h"
#include "launcher/core/i18n.h"
#include "launcher/core/leftovers.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/start_trace.h"
#include "launcher/mods/hd.h"
#include "launcher/ui/window_main.h"

namespace {

// The console's output code page is UTF-8 for the run and restored however
// main ends.
struct Console_Utf8 {
    Console_Utf8() { console_utf8(); }
    ~Console_Utf8() { console_restore(); }
    Console_Utf8(const Console_Utf8&) = delete;
    Console_Utf8& operator=(const Console_Utf8&) = delete;
};

void print_error_line(const std::string& line) {
    std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

void remove_leftovers() {
    std::string game_dir = settings_copy().game_dir;
    std::vector<std::string> files = {data_path({"settings.txt"}),
                                      data_path({apk_key_file}),
                                      data_path({apk_cert_file}),
                                      path_join({exe_dir(), cfg_file_name}),
                                      path_join({exe_dir(), build_id_file_name}),
                                      path_join({exe_dir(), built_exe_name}),
                                      data_path({"hd", hd_gui_marker_file})};
    if (!game_dir.empty()) files.push_back(path_join({game_dir, hd_folder_name, hd_gui_marker_file}));
    leftovers_remove(files, data_dir(), wall_ns());
}

int launcher_main(const std::vector<std::string>& args) {
    start_trace("main");
    // 0. UTF-8 console output.
    Console_Utf8 console;
    // A command-line mode notes Ctrl-C from the very start: one that comes
    // while the files are read still ends the mode as cancelled. The
    // window's device is made on this thread, with the renderer: made on
    // a thread of its own while the window opened, a start without a
    // Vulkan driver once hung before it could tell the player.
    if (cli_choose(args).mode) interrupt_catch();

    // 1. No system dialogs for critical errors, crashes or missing files.
    set_quiet_error_mode();

    // Tests make deletions under a chosen path fail through this variable.
    std::string fail_under = env_get("QM_TEST_FAIL_UNDER");
    if (!fail_under.empty()) fs_fail_under(fail_under);

    // 2. The data folder.
    paths_init();

    // 3. The launcher settings.
    load_settings();

    // Temporary files an earlier run left when it was stopped mid-way.
    remove_leftovers();

    // 4. Options the game changed from its own menus, read back from
    //    "Quillmarsh.cfg" beside the launcher.
    cfg_import();

    // 5. The translation catalogue and "language.txt".
    i18n_init(data_dir());

    // 6. The bundle index.
    if (!bundle_open(embedded_bundle())) {
        print_error_line("Quillmarsh: its bundled sources are missing or damaged");
        return 1;
    }

    start_trace("files read");

    // 7. The command line.
    Cli_Choice choice = cli_choose(args);
    // Whatever way the run ends, the last settings.txt asked for is on the
    // disk before the process goes.
    int code = choice.mode ? cli_run(choice, cli_stdout) : window_main();
    save_settings_wait();
    return code;
}

}  // namespace

#ifdef _WIN32
// The wide entry point gives the arguments as UTF-16 whatever the code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::u16string w;
        for (const wchar_t* p = argv[i]; *p; ++p) w.push_back(static_cast<char16_t>(*p));
        args.push_back(utf8_from_utf16(w));
    }
    return launcher_main(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return launcher_main(args);
}
#endif
