#include "launcher/core/i18n.h"

#include <cstddef>
#include <string>

#include "engine/kt_datafile/datafile.h"
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"

const Language language_table[language_count] = {
    {"en", "English", {0, 1, 2, 3}},
    {"ja", "日本語", {0, 1, 2, 3}},
    {"zh-Hant", "繁體中文", {1, 2, 0, 3}},
    {"zh-Hans", "简体中文", {2, 1, 0, 3}},
    {"ko", "한국어", {3, 0, 1, 2}},
    {"ru", "Русский", {0, 1, 2, 3}},
    {"de", "Deutsch", {0, 1, 2, 3}},
    {"fr", "Français", {0, 1, 2, 3}},
    {"es", "Español", {0, 1, 2, 3}},
    {"pt-BR", "Português (Brasil)", {0, 1, 2, 3}},
    {"it", "Italiano", {0, 1, 2, 3}},
    {"pl", "Polski", {0, 1, 2, 3}},
};

int language = 0;

// The bytes of the texts under launcher/core/lang/, made into arrays at build time.
#define QM_CARRIED(id) extern const unsigned char lang_text_##id[]; extern const size_t lang_text_##id##_size;
QM_CARRIED(ja)
QM_CARRIED(zh_Hant)
QM_CARRIED(zh_Hans)
QM_CARRIED(ko)
QM_CARRIED(ru)
QM_CARRIED(de)
QM_CARRIED(fr)
QM_CARRIED(es)
QM_CARRIED(pt_BR)
QM_CARRIED(it)
QM_CARRIED(pl)
#undef QM_CARRIED

static std::string_view bytes(const unsigned char* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

const Carried_Text carried_texts[carried_text_count] = {
    {"ja", bytes(lang_text_ja, lang_text_ja_size)},
    {"zh-Hant", bytes(lang_text_zh_Hant, lang_text_zh_Hant_size)},
    {"zh-Hans", bytes(lang_text_zh_Hans, lang_text_zh_Hans_size)},
    {"ko", bytes(lang_text_ko, lang_text_ko_size)},
    {"ru", bytes(lang_text_ru, lang_text_ru_size)},
    {"de", bytes(lang_text_de, lang_text_de_size)},
    {"fr", bytes(lang_text_fr, lang_text_fr_size)},
    {"es", bytes(lang_text_es, lang_text_es_size)},
    {"pt-BR", bytes(lang_text_pt_BR, lang_text_pt_BR_size)},
    {"it", bytes(lang_text_it, lang_text_it_size)},
    {"pl", bytes(lang_text_pl, lang_text_pl_size)},
};

Catalog& the_catalog() {
    static Catalog catalog;
    return catalog;
}

int language_index(std::string_view code) {
    for (int i = 0; i < language_count; i++)
        if (language_table[i].code == code) return i;
    return -1;
}

void i18n_init(std::string_view data_folder) {
    Catalog& c = the_catalog();
    catalog_init(c);
    language = 0;
    for (const Carried_Text& t : carried_texts) {
        load_lines(c, t.text);
        clear_stripped(c);
    }
    std::string content;
    if (!fs_read(path_join({data_folder, "language.txt"}), content, nullptr, language_file_limit)) return;
    int index = language_index(trim_space(content));
    if (index >= 0) language_set(index);
}

std::string_view shown(std::string_view english) {
    if (language == 0) return english;
    return text_shown(the_catalog(), english);
}

bool language_set(int index) {
    if (index < 0 || index >= language_count) return false;
    if (!select_language(the_catalog(), language_table[index].code)) return false;
    language = index;
    return true;
}

bool language_save(std::string_view data_folder) {
    return fs_write_atomic(path_join({data_folder, "language.txt"}), language_table[language].code);
}
