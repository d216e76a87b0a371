#include "launcher/core/startup_tables.h"

#include <cstring>

const Cursor_Id cursor_ids[cursor_id_count] = {
    {Cursor_Kind::Arrow, "IDC_ARROW", 32512},
    {Cursor_Kind::Ibeam, "IDC_IBEAM", 32513},
    {Cursor_Kind::Cross, "IDC_CROSS", 32515},
    {Cursor_Kind::Size_We, "IDC_SIZEWE", 32644},
    {Cursor_Kind::Hand, "IDC_HAND", 32649},
};

uint16_t cursor_id(Cursor_Kind kind) {
    for (const Cursor_Id& c : cursor_ids)
        if (c.kind == kind) return c.id;
    return cursor_ids[0].id;
}

// {DC1C5A9C-E88A-4DDE-A5A1-60F82A20AEF7}
const Com_Guid clsid_file_open_dialog = {0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
// {C0B4E2F3-BA21-4773-8DBA-335EC946EB8B}
const Com_Guid clsid_file_save_dialog = {0xC0B4E2F3, 0xBA21, 0x4773, {0x8D, 0xBA, 0x33, 0x5E, 0xC9, 0x46, 0xEB, 0x8B}};
// {D57C7288-D4AD-4768-BE02-9D969532D960}
const Com_Guid iid_file_open_dialog = {0xD57C7288, 0xD4AD, 0x4768, {0xBE, 0x02, 0x9D, 0x96, 0x95, 0x32, 0xD9, 0x60}};
// {84BCCD23-5FDE-4CDB-AEA4-AF64B83D78AB}
const Com_Guid iid_file_save_dialog = {0x84BCCD23, 0x5FDE, 0x4CDB, {0xAE, 0xA4, 0xAF, 0x64, 0xB8, 0x3D, 0x78, 0xAB}};
// {43826D1E-E718-42EE-BC55-A1E261C37BFE}
const Com_Guid iid_shell_item = {0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};

bool guid_equal(const Com_Guid& a, const Com_Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}
