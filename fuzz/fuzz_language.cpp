// "language.txt" from any bytes: start-up takes a language only for a code
// of the table (blanks around it allowed), and what it then saves reads
// back as the same language.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_folder.h"
#include "launcher/core/i18n.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = fuzz_folder("language");
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string path = path_join({dir, "language.txt"});
    if (!fs_write(path, text)) std::abort();
    language = 0;
    i18n_init(dir);
    if (language < 0 || language >= language_count) std::abort();
    if (language != 0) {
        std::string_view code = language_table[language].code;
        if (text.find(code) == std::string_view::npos) std::abort();
        const int chosen = language;
        if (!language_save(dir)) std::abort();
        language = 0;
        i18n_init(dir);
        if (language != chosen) std::abort();
    }
    return 0;
}
