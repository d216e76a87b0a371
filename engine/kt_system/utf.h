// UTF-8 <-> UTF-16 conversion (portable; the Windows back ends use it to make
// the NUL-terminated wide strings the system calls take).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

std::u16string utf16_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::u16string_view text);
