#include "launcher/gamebuild/run_game.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "engine/kt_system/shell.h"
#include "engine/kt_system/thread.h"
#include "launcher/gamebuild/config.h"
#include "launcher/core/paths.h"

std::atomic<uint8_t>& game_running_flag() {
    static std::atomic<uint8_t> flag{0};
    return flag;
}

std::string built_exe_path() {
    std::string path = path_join({exe_dir(), built_exe_name});
    return file_exists(path) ? path : std::string();
}

void game_watch(Started_Program* p) {
    shell_program_wait(p);
    shell_program_close(p);
    game_running_flag().exchange(0);
}

bool run_game(std::string_view program, std::string_view folder) {
    // Only a program file is started: the shell would "open" a folder or a
    // name it can resolve otherwise with some other program, whose end would
    // then stand for the game's.
    if (!file_exists(program)) return false;
    Started_Program* p = shell_start_program(program, folder);
    if (!p) return false;
    game_running_flag().exchange(1);
    if (!thread_start_detached([p] { game_watch(p); })) {
        // Nobody would ever see the game end: give up the read-back rather
        // than leave the flag set for the rest of the run.
        shell_program_close(p);
        game_running_flag().exchange(0);
    }
    return true;
}

bool game_flag_frame(Game_Flag_Watch& w) {
    uint8_t now = game_running_flag().load();
    bool fell = w.last == 1 && now == 0;
    w.last = now;
    if (fell) cfg_import();
    return fell;
}
