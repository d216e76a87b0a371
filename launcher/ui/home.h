// The Home page: the game folder, the two requirements, the activity panel
// and the row of buttons that run, build, clear and convert.
#pragma once
#include "launcher/ui/ui.h"

void draw_home(App& app, const Ui_Rect& content);
