// The launcher's fonts: which files start-up puts into the asset library
// and the four fonts the window's interface draws with.
#pragma once
#include <span>
#include <string>
#include <string_view>

#include "engine/kt_render/font.h"

// The names of the regular and the bold interface font in the Library.
struct Ui_Font_Names {
    std::string regular;
    std::string bold;
};

// Adds the embedded "noto_sans_regular" and "liberation_sans_bold", then
// "segoeui.ttf" as "segoe" and "seguisb.ttf" as "segoe_sb" from the system
// font folder (windir joined with "Fonts"). Each system font that was
// added is chosen over its embedded stand-in, independently.
Ui_Font_Names add_startup_fonts(Library& lib, std::string_view windir);

// The interface's four fonts: the regular font at 14 and 12, the bold one
// at 14 and 20 (sizes before the scale). A font that cannot be made is
// nullptr, and text drawn with it shows nothing.
struct Ui_Fonts {
    Font* regular = nullptr;        // 14
    Font* small = nullptr;          // regular, 12
    Font* bold = nullptr;           // 14
    Font* heading = nullptr;        // bold, 20
};

// Destroys the fonts made before and makes the four again at this scale,
// with the CJK fallback faces in the interface language's order.
void ui_fonts_load(Ui_Fonts& fonts, Library& lib, Renderer& renderer, const Ui_Font_Names& names, float scale,
                   std::span<const uint8_t> cjk_order);
void ui_fonts_destroy(Ui_Fonts& fonts);
