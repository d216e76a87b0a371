#include "launcher/ui/window_main.h"

std::span<const Backend_Desc> window_backends() { return {}; }

void window_capture_frames(Backend&) {}

bool window_screenshot(Backend&, const std::string&) { return false; }

int window_backend_errors() { return 0; }
