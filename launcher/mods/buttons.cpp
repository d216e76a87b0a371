#include "launcher/mods/buttons.h"

#include "launcher/core/paths.h"

bool bb_present() {
    return file_exists(data_path({"button_icons", "button_ps.dds"})) &&
           file_exists(data_path({"button_icons", "button_xb.dds"}));
}
