// The modal dialogs the launcher's window shows over its pages.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/ui/ui.h"

enum Dialog_Bit : uint32_t {
    dialog_updated = 1u << 0,
    dialog_movies = 1u << 1,
    dialog_assets = 1u << 2,
    dialog_uninstall = 1u << 3,
    dialog_compiler = 1u << 4,
    dialog_browser = 1u << 5,
};
// The dialogs that show, by their order and exclusion rules.
uint32_t dialogs_showing(const Ui_Shared& s);

// The body texts of the confirmation dialogs (sizes in GB of 10^9 bytes).
std::string movies_dialog_body(const Game_State& g);
std::string assets_dialog_body(int64_t archives, int64_t archive_bytes, std::string_view zip, int64_t zip_bytes);
std::string uninstall_dialog_body(int64_t bytes, bool gui_stays, bool discarded);

// Draws the dialogs that show, in their order. Only the topmost takes
// input, and only when it was already open as the frame began (`open_at_start`),
// so the click that opened it cannot also press one of its buttons.
void draw_dialogs(App& app, uint32_t open_at_start);
