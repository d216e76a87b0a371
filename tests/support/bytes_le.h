// Little-endian numbers read from a byte string, for tests that check the
// fields of a format (ZIP, SquashFS) the code under test wrote.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

inline uint16_t u16_at(const std::string& s, size_t at) {
    uint16_t v = 0;
    std::memcpy(&v, s.data() + at, 2);
    return v;
}

inline uint32_t u32_at(const std::string& s, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

inline uint64_t u64_at(const std::string& s, size_t at) {
    uint64_t v = 0;
    std::memcpy(&v, s.data() + at, 8);
    return v;
}
