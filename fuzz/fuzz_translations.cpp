// Translation texts from any bytes: the catalogue finds every key it took
// at its own index, and every language it declared can be chosen and shows
// each key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/kt_i18n/i18n.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The catalogue points into the text: it lives as long as the catalogue.
    const std::string text(reinterpret_cast<const char*>(data), size);
    Catalog c;
    catalog_init(c);
    load_lines(c, text);
    for (size_t k = 0; k < c.keys.size(); ++k) {
        const Text_Key& key = c.keys[k];
        if (key.hash != text_hash(key.text) || text_find(c, key.text, key.hash) != int(k)) std::abort();
    }
    for (const Text_Language& l : c.languages) {
        const std::string code = l.code;
        if (!select_language(c, code)) std::abort();
        for (const Text_Key& key : c.keys) {
            // Every shown text is one the catalogue holds or the key itself.
            std::string_view shown = text_shown(c, key.text);
            if (shown.size() > text.size()) std::abort();
        }
        clear_stripped(c);
    }
    return 0;
}
