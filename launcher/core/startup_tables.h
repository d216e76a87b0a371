// Constant tables of the program: the system cursor identifiers and the
// COM identifiers of the shell's file dialogs. Read-only, without locks.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

// --- System cursors ----------------------------------------------------------
// The Windows resource identifiers of the system cursors.
enum class Cursor_Kind { Arrow, Ibeam, Cross, Size_We, Hand };
struct Cursor_Id {
    Cursor_Kind kind;
    std::string_view name;   // the Windows name, "IDC_ARROW", ...
    uint16_t id;
};
inline constexpr int cursor_id_count = 5;
extern const Cursor_Id cursor_ids[cursor_id_count];
// The identifier to hand to the cursor loader.
uint16_t cursor_id(Cursor_Kind kind);

// --- COM identifiers -----------------------------------------------------------
// A class or interface identifier with the layout of the Windows GUID
// (16 bytes: a 32-bit, two 16-bit fields in the machine's byte order, then
// eight bytes), so the platform layer can hand it to the system as is.
struct Com_Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(Com_Guid) == 16);

extern const Com_Guid clsid_file_open_dialog;   // CLSID_FileOpenDialog
extern const Com_Guid clsid_file_save_dialog;   // CLSID_FileSaveDialog
extern const Com_Guid iid_file_open_dialog;     // IID_IFileOpenDialog
extern const Com_Guid iid_file_save_dialog;     // IID_IFileSaveDialog
extern const Com_Guid iid_shell_item;           // IID_IShellItem

bool guid_equal(const Com_Guid& a, const Com_Guid& b);
