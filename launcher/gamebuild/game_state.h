// The result of the game check, one record under its own lock. It is
// written whole by refresh_game and copied whole by every reader.
#pragma once
#include <cstdint>
#include <string>

struct Game_State {
    bool checked = false;
    bool ok = false;
    std::string reason;
    int64_t to_convert = 0;
    int64_t discardable = 0;
    int64_t kept = 0;
    int64_t discard_bytes = 0;
    bool some_converted = false;
    bool convertible = false;
    std::string edition;   // "EN" or "JP" when ok
};

Game_State game_state_copy();
void game_state_publish(const Game_State& s);
