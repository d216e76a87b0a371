// The operating system's cryptographic random source.
#pragma once
#include <cstddef>
#include <string>

// Fills `out` with `size` bytes from the system's random source
// (BCryptGenRandom on Windows, getrandom elsewhere). False, with the reason
// in `err` when given, when the system could not deliver them all.
bool os_random(void* out, size_t size, std::string* err = nullptr);
