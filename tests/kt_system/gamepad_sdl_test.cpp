// The Linux game-pad back end with a real SDL game controller: SDL's
// virtual joystick, which the game-controller API sees like a plugged-in
// pad, read through pad_read_system into the shared Pad_State layout.
#include <gtest/gtest.h>

#include <SDL.h>

#include "engine/kt_system/gamepad.h"

namespace {

TEST(GamepadSdl, VirtualControllerReadsInThePadLayout) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER), 0) << SDL_GetError();
    Pad_State pad;
    EXPECT_NE(pad_read_system(0, &pad), 0) << "no pad before one is plugged in";

    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                          SDL_CONTROLLER_BUTTON_MAX, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* joy = SDL_JoystickOpen(index);
    ASSERT_NE(joy, nullptr);
    SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_A, 1);
    SDL_JoystickSetVirtualButton(joy, SDL_CONTROLLER_BUTTON_DPAD_LEFT, 1);
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_LEFTY, -32768);   // pushed up
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_RIGHTY, 32767);   // pulled down
    SDL_JoystickSetVirtualAxis(joy, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);

    ASSERT_EQ(pad_read_system(0, &pad), 0);
    EXPECT_TRUE(pad.connected);
    EXPECT_TRUE(pad.buttons[int(Gamepad_Button::Face_Down)]);
    EXPECT_TRUE(pad.buttons[int(Gamepad_Button::Dpad_Left)]);
    EXPECT_FALSE(pad.buttons[int(Gamepad_Button::Face_Right)]);
    EXPECT_EQ(pad.axes[int(Gamepad_Axis::Left_X)], -1.0f);
    EXPECT_EQ(pad.axes[int(Gamepad_Axis::Left_Y)], 1.0f) << "up is positive, as on Windows";
    EXPECT_EQ(pad.axes[int(Gamepad_Axis::Right_Y)], -1.0f);
    EXPECT_EQ(pad.axes[int(Gamepad_Axis::Right_Trigger)], 1.0f);
    EXPECT_TRUE(pad.buttons[int(Gamepad_Button::Right_Trigger)]);
    EXPECT_FALSE(pad.buttons[int(Gamepad_Button::Left_Trigger)]);
    EXPECT_NE(pad_read_system(1, &pad), 0) << "one controller fills one slot";

    SDL_JoystickClose(joy);
    SDL_JoystickDetachVirtual(index);
    EXPECT_NE(pad_read_system(0, &pad), 0) << "unplugged";
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

}  // namespace
