#include "engine/kt_render/fonts/embedded_fonts.h"

#include <cstddef>
#include <cstdint>

#define QM_FONT(name)                                \
    extern "C" const char qm_font_##name##_begin[]; \
    extern "C" const char qm_font_##name##_end[];
QM_FONT(noto_sans_regular)
QM_FONT(liberation_sans_bold)
QM_FONT(orbitron_bold)
QM_FONT(noto_sans_cjk)
#undef QM_FONT

namespace {

std::string_view between(const char* begin, const char* end) {
    auto b = reinterpret_cast<uintptr_t>(begin), e = reinterpret_cast<uintptr_t>(end);
    return std::string_view(begin, size_t(e - b));
}

}  // namespace

std::string_view embedded_font(std::string_view name) {
    if (name == "noto_sans_regular") return between(qm_font_noto_sans_regular_begin, qm_font_noto_sans_regular_end);
    if (name == "liberation_sans_bold")
        return between(qm_font_liberation_sans_bold_begin, qm_font_liberation_sans_bold_end);
    if (name == "orbitron_bold") return between(qm_font_orbitron_bold_begin, qm_font_orbitron_bold_end);
    if (name == "noto_sans_cjk") return between(qm_font_noto_sans_cjk_begin, qm_font_noto_sans_cjk_end);
    return {};
}

int embedded_cjk_face(int cjk) {
    // Debian's NotoSansCJK-Regular.ttc holds JP, KR, SC, TC, HK, then the mono faces.
    static constexpr int faces[4] = {0, 3, 2, 1};
    return cjk >= 0 && cjk < 4 ? faces[cjk] : -1;
}
