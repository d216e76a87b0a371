// Game pads on Linux: SDL's game-controller API. Pad 0..3 are the first four
// controllers SDL knows; a slot whose controller went away takes the next
// free one when asked again.
#include "engine/kt_system/gamepad.h"

#include <SDL.h>

namespace {

SDL_GameController* slots[pad_count];

bool controllers_ready() {
    static bool ready = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
    return ready;
}

bool held_elsewhere(SDL_JoystickID id, int user) {
    for (int i = 0; i < pad_count; ++i) {
        if (i != user && slots[i] && SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(slots[i])) == id) return true;
    }
    return false;
}

SDL_GameController* controller_for(int user) {
    SDL_GameController*& c = slots[user];
    if (c && !SDL_GameControllerGetAttached(c)) {
        SDL_GameControllerClose(c);
        c = nullptr;
    }
    for (int j = 0; !c && j < SDL_NumJoysticks(); ++j) {
        if (SDL_IsGameController(j) && !held_elsewhere(SDL_JoystickGetDeviceInstanceID(j), user)) {
            c = SDL_GameControllerOpen(j);
        }
    }
    return c;
}

}  // namespace

int pad_read_system(int user, Pad_State* out) {
    if (user < 0 || user >= pad_count || !controllers_ready()) return -1;
    // Plugged and unplugged pads show after an update; a controller just
    // opened reads its axes from the next one.
    SDL_GameControllerUpdate();
    bool had = slots[user] != nullptr;
    SDL_GameController* c = controller_for(user);
    if (!c) return -1;
    if (!had) SDL_GameControllerUpdate();
    static const struct {
        SDL_GameControllerButton from;
        Gamepad_Button to;
    } buttons[] = {
        {SDL_CONTROLLER_BUTTON_A, Gamepad_Button::Face_Down},
        {SDL_CONTROLLER_BUTTON_B, Gamepad_Button::Face_Right},
        {SDL_CONTROLLER_BUTTON_X, Gamepad_Button::Face_Left},
        {SDL_CONTROLLER_BUTTON_Y, Gamepad_Button::Face_Up},
        {SDL_CONTROLLER_BUTTON_DPAD_UP, Gamepad_Button::Dpad_Up},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, Gamepad_Button::Dpad_Down},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, Gamepad_Button::Dpad_Left},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, Gamepad_Button::Dpad_Right},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, Gamepad_Button::Left_Shoulder},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, Gamepad_Button::Right_Shoulder},
        {SDL_CONTROLLER_BUTTON_BACK, Gamepad_Button::Back},
        {SDL_CONTROLLER_BUTTON_GUIDE, Gamepad_Button::Guide},
        {SDL_CONTROLLER_BUTTON_START, Gamepad_Button::Start},
        {SDL_CONTROLLER_BUTTON_LEFTSTICK, Gamepad_Button::Left_Stick},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, Gamepad_Button::Right_Stick},
    };
    *out = Pad_State{};
    out->connected = true;
    for (const auto& b : buttons) out->buttons[int(b.to)] = SDL_GameControllerGetButton(c, b.from) != 0;
    // SDL's sticks point down for positive Y; ours point up.
    out->axes[int(Gamepad_Axis::Left_X)] = stick_axis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX));
    out->axes[int(Gamepad_Axis::Left_Y)] = -stick_axis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY));
    out->axes[int(Gamepad_Axis::Right_X)] = stick_axis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTX));
    out->axes[int(Gamepad_Axis::Right_Y)] = -stick_axis(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_RIGHTY));
    float lt = float(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERLEFT)) / 32767.0f;
    float rt = float(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_TRIGGERRIGHT)) / 32767.0f;
    out->axes[int(Gamepad_Axis::Left_Trigger)] = lt;
    out->axes[int(Gamepad_Axis::Right_Trigger)] = rt;
    out->buttons[int(Gamepad_Button::Left_Trigger)] = lt > 0.5f;
    out->buttons[int(Gamepad_Button::Right_Trigger)] = rt > 0.5f;
    return 0;
}
