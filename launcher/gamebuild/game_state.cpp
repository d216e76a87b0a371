#include "launcher/gamebuild/game_state.h"

#include "engine/kt_system/thread.h"

static Slim_Lock g_game_lock;
static Game_State g_game_state;

Game_State game_state_copy() {
    Lock_Guard guard(g_game_lock);
    return g_game_state;
}

void game_state_publish(const Game_State& s) {
    Lock_Guard guard(g_game_lock);
    g_game_state = s;
}
