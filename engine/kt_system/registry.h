// Registry string values. On Linux a stand-in answers the few values the
// launcher reads (see registry_posix.cpp).
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

enum class Reg_Root { Current_User, Local_Machine };

// A REG_SZ value as UTF-8; empty when missing, not a string, or longer
// than `max_bytes` of UTF-16 (0 = no limit).
std::string reg_string(Reg_Root root, std::string_view key, std::string_view value, size_t max_bytes = 0);
