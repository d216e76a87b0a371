// Game pads on Windows: XInputGetState of xinput1_4.dll (by ordinal 2),
// loaded when first needed and called through a procedure pointer, so a
// system without the DLL just has no pads.
#include "engine/kt_system/gamepad.h"

#include "engine/kt_system/win_util.h"

#include <xinput.h>

namespace {

using Get_State = DWORD(WINAPI*)(DWORD user, XINPUT_STATE* state);

Get_State xinput_get_state() {
    static Get_State proc = [] {
        HMODULE lib = LoadLibraryW(L"xinput1_4.dll");
        if (!lib) return Get_State(nullptr);
        void* p = reinterpret_cast<void*>(GetProcAddress(lib, MAKEINTRESOURCEA(2)));
        return reinterpret_cast<Get_State>(p);
    }();
    return proc;
}

}  // namespace

int pad_read_system(int user, Pad_State* out) {
    Get_State get = xinput_get_state();
    if (!get || user < 0 || user >= pad_count) return -1;
    XINPUT_STATE state{};
    DWORD r = get(DWORD(user), &state);
    if (r != 0) return int(r);
    Xinput_Pad pad;
    pad.buttons = state.Gamepad.wButtons;
    pad.left_trigger = state.Gamepad.bLeftTrigger;
    pad.right_trigger = state.Gamepad.bRightTrigger;
    pad.thumb_lx = state.Gamepad.sThumbLX;
    pad.thumb_ly = state.Gamepad.sThumbLY;
    pad.thumb_rx = state.Gamepad.sThumbRX;
    pad.thumb_ry = state.Gamepad.sThumbRY;
    pad_from_xinput(pad, *out);
    return 0;
}
