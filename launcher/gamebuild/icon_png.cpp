// The launcher's icon for the AppImage: one 256x256 PNG (an ember), the file
// icon/quillmarsh.png embedded at build time (CMakeLists.txt here).
#include "launcher/gamebuild/appimage.h"

#include <cstddef>
#include <cstdint>

extern "C" const char qm_icon_png_begin[];
extern "C" const char qm_icon_png_end[];

std::string_view icon_png() {
    auto b = reinterpret_cast<uintptr_t>(qm_icon_png_begin), e = reinterpret_cast<uintptr_t>(qm_icon_png_end);
    return std::string_view(qm_icon_png_begin, size_t(e - b));
}
