// The Windows virtual-key codes the key table knows (the published values,
// so that the table builds and is tested on every target).
#pragma once

namespace vk {
inline constexpr unsigned back = 0x08, tab = 0x09, return_ = 0x0D, shift = 0x10, control = 0x11, menu = 0x12;
inline constexpr unsigned pause = 0x13, capital = 0x14, escape = 0x1B, space = 0x20, prior = 0x21, next = 0x22;
inline constexpr unsigned end = 0x23, home = 0x24, left = 0x25, up = 0x26, right = 0x27, down = 0x28;
inline constexpr unsigned snapshot = 0x2C, insert = 0x2D, delete_ = 0x2E;
inline constexpr unsigned lwin = 0x5B, rwin = 0x5C, apps = 0x5D;
inline constexpr unsigned numpad0 = 0x60, numpad9 = 0x69, multiply = 0x6A, add = 0x6B, subtract = 0x6D;
inline constexpr unsigned decimal = 0x6E, divide = 0x6F, f1 = 0x70, f24 = 0x87, numlock = 0x90, scroll = 0x91;
inline constexpr unsigned lshift = 0xA0, rshift = 0xA1, lcontrol = 0xA2, rcontrol = 0xA3, lmenu = 0xA4, rmenu = 0xA5;
inline constexpr unsigned oem_1 = 0xBA, oem_plus = 0xBB, oem_comma = 0xBC, oem_minus = 0xBD, oem_period = 0xBE;
inline constexpr unsigned oem_2 = 0xBF, oem_3 = 0xC0, oem_4 = 0xDB, oem_5 = 0xDC, oem_6 = 0xDD, oem_7 = 0xDE;
}  // namespace vk
