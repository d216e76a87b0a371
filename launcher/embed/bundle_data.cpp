// The bundle's bytes, placed between two symbols by the generated assembler
// file (an .incbin in a read-only data section).
#include "launcher/core/bundle_data.h"

#include <cstddef>
#include <cstdint>

extern "C" const char qm_bundle_begin[];
extern "C" const char qm_bundle_end[];

std::string_view embedded_bundle() {
    auto begin = reinterpret_cast<uintptr_t>(qm_bundle_begin);
    auto end = reinterpret_cast<uintptr_t>(qm_bundle_end);
    return std::string_view(qm_bundle_begin, size_t(end - begin));
}
