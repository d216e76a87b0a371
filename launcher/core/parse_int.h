// Whole numbers as the settings, the game configuration and the key maps
// write them.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/kt_datafile/datafile.h"   // trim_space

// The pieces between the separators, in order; n separators give n+1 pieces
// (an empty text gives one empty piece).
std::vector<std::string_view> split_at(std::string_view text, char sep);

// Reads a signed 64-bit integer. Surrounding white space is ignored; then an
// optional "+" or "-", an optional base prefix ("0b" 2, "0o" 8, "0d" 10,
// "0z" 12, "0x" 16) and at least one digit of that base; "_" may stand
// between digits. False for empty or malformed text and for a value outside
// the 64-bit range; `out` is then unchanged.
bool parse_int(std::string_view text, int64_t& out);

// Takes a base prefix ("0b" 2, "0o" 8, "0d" 10, "0z" 12, "0x" 16) off the
// front of `s` when at least one more character follows it, and returns
// the base; 10, with `s` unchanged, when there is none.
int take_base_prefix(std::string_view& s);
// The value of a digit in bases up to 36 (either letter case); 99 for a
// character that is no digit.
int digit_value(char c);
