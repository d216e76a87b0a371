#include "launcher/core/ui_fonts.h"

#include "engine/kt_system/path.h"

Ui_Font_Names add_startup_fonts(Library& lib, std::string_view windir) {
    font_add_embedded(lib, "noto_sans_regular");
    font_add_embedded(lib, "liberation_sans_bold");
    std::string folder = path_join({windir, "Fonts"});
    bool segoe = font_add_file(lib, "segoe", path_join({folder, "segoeui.ttf"}));
    bool segoe_sb = font_add_file(lib, "segoe_sb", path_join({folder, "seguisb.ttf"}));
    return {segoe ? "segoe" : "noto_sans_regular", segoe_sb ? "segoe_sb" : "liberation_sans_bold"};
}

void ui_fonts_destroy(Ui_Fonts& fonts) {
    for (Font** f : {&fonts.regular, &fonts.small, &fonts.bold, &fonts.heading}) {
        font_destroy(*f);
        *f = nullptr;
    }
}

void ui_fonts_load(Ui_Fonts& fonts, Library& lib, Renderer& renderer, const Ui_Font_Names& names, float scale,
                   std::span<const uint8_t> cjk_order) {
    ui_fonts_destroy(fonts);
    fonts.regular = font_create(lib, renderer, scale, names.regular, 14, cjk_order);
    fonts.small = font_create(lib, renderer, scale, names.regular, 12, cjk_order);
    fonts.bold = font_create(lib, renderer, scale, names.bold, 14, cjk_order);
    fonts.heading = font_create(lib, renderer, scale, names.bold, 20, cjk_order);
}
