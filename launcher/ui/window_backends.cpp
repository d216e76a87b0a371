#include "launcher/ui/window_main.h"

std::span<const Backend_Desc> window_backends() { return {}; }
