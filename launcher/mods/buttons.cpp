#include "launcher/mods/buttons.h"

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/paths.h"
#include "launcher/core/settings.h"
#include "launcher/core/task.h"
#include "launcher/archive/zip.h"

bool bb_present() {
    return file_exists(data_path({"button_icons", "button_ps.dds"})) &&
           file_exists(data_path({"button_icons", "button_xb.dds"}));
}

void put_u32le(std::string& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++) bytes[offset + size_t(i)] = char(uint8_t(value >> (8 * i)));
}

std::string bb_dds(std::string_view sheet) {
    std::string dds(128, '\0');
    put_u32le(dds, 0, 0x20534444);   // "DDS "
    put_u32le(dds, 4, 124);
    put_u32le(dds, 8, 0x100F);       // caps, height, width, pitch, pixel format
    put_u32le(dds, 12, 128);
    put_u32le(dds, 16, 256);
    put_u32le(dds, 20, 1024);
    put_u32le(dds, 76, 32);
    put_u32le(dds, 80, 0x41);        // alpha pixels, RGB
    put_u32le(dds, 88, 32);
    put_u32le(dds, 92, 0x00FF0000);
    put_u32le(dds, 96, 0x0000FF00);
    put_u32le(dds, 100, 0x000000FF);
    put_u32le(dds, 104, 0xFF000000);
    put_u32le(dds, 108, 0x1000);     // texture
    dds.append(sheet.substr(0, bb_sheet_size));
    return dds;
}

bool bb_sheet_ok(std::string_view sheet) {
    if (sheet.size() < bb_sheet_size) return false;
    int transparent = 0, opaque = 0;
    for (size_t i = 3; i < bb_sheet_size; i += 4) {
        uint8_t alpha = uint8_t(sheet[i]);
        transparent += alpha == 0;
        opaque += alpha == 255;
    }
    return transparent >= bb_min_transparent && opaque >= bb_min_opaque;
}
