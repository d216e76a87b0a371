// The Input Map page.
#include "launcher/ui/ui.h"

void draw_input_map(App&, const Ui_Rect&) {}
