// The font files carried inside the program (see CMakeLists.txt here for
// where they come from).
#pragma once
#include <string_view>

// The bytes of an embedded font file by name: "noto_sans_regular" (Noto
// Sans Regular), "liberation_sans_bold" (Liberation Sans Bold),
// "orbitron_bold" (the display font: Play Bold) and "noto_sans_cjk" (the
// Noto Sans CJK collection). Empty for any other name.
std::string_view embedded_font(std::string_view name);

// Face index inside the "noto_sans_cjk" collection of the CJK faces
// 0 Japanese, 1 Traditional Chinese, 2 Simplified Chinese, 3 Korean.
int embedded_cjk_face(int cjk);
