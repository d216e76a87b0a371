#include "launcher/core/hdm_choices.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"

const Hdm_Character hdm_characters[hdm_character_count] = {
    {"Kestrel",
     {
         {"Original", {}, {}},
         {"High Quality", {"Kestrel.txt"}, {"c201"}},
         {"High Quality, Normal Hair", {"Kestrel_Hair.txt"}, {"c201"}},
         {"Ultimate", {"X_Kestrel2.txt", "X_Kestrel1.txt"}, {"c201", "c001"}},
         {"Ultimate, Normal Hair", {"X_Kestrel_Hair2.txt", "X_Kestrel1.txt"}, {"c201", "c001"}},
         {"Maren Corran", {"Kestrel_Maren.txt", "Kestrel_Maren1.txt"}, {"c201", "c001"}},
         {"Dasha", {"Kestrel_DaSha.txt", "Kestrel_DaSha1.txt"}, {"c201", "c001"}},
         {"Holm", {"Kestrel_Holm.txt", "Kestrel_Holm1.txt"}, {"c201", "c001"}},
         {"Veska Lorn", {"Kestrel_Veska.txt", "Kestrel_Veska1.txt"}, {"c201", "c001"}},
     }},
    {"Brannoc",
     {
         {"Original", {}, {}},
         {"High Quality", {"Brannoc.txt"}, {"c202"}},
         {"Bandaged (Hale Residence)", {"BandagedBrannoc.txt"}, {"c202"}},
         {"Bare Chest", {"ShirtlessBrannoc.txt"}, {"c202"}},
         {"Tarsa's Wyrmfall", {"Brannoc_Wyrmfall.txt"}, {"c202"}},
         {"Oswin Tolvar", {"Brannoc_Tolvar.txt"}, {"c202"}},
         {"Brisk Tolle", {"Brannoc_Tolle.txt"}, {"c202"}},
     }},
    {"Orsel",
     {
         {"Original", {}, {}},
         {"High Quality", {"Orsel.txt"}, {"c203"}},
         {"Ultimate", {"X_Orsel2.txt", "X_Orsel1.txt"}, {"c203", "c003"}},
         {"Ruel", {"Orsel_Ruel.txt"}, {"c203"}},
     }},
    {"Pellam",
     {
         {"Original", {}, {}},
         {"High Quality", {"Pellam.txt"}, {"c204"}},
         {"Ultimate", {"X_Pellam2.txt", "X_Pellam1.txt"}, {"c204", "c004"}},
         {"Deportee Robe", {"Pellam_Deportee.txt"}, {"c204"}},
         {"Tobin", {"Pellam_Tobin.txt"}, {"c204"}},
     }},
    {"Mirela",
     {
         {"Original", {}, {}},
         {"High Quality", {"Mirela.txt"}, {"c205"}},
         {"Ultimate", {"X_Mirela2.txt", "X_Mirela1.txt"}, {"c205", "c005"}},
         {"Deportee Robe", {"Mirela_Deportee.txt"}, {"c205"}},
         {"Wenna Hale", {"Mirela_Wenna.txt"}, {"c205"}},
     }},
    {"Tarsa",
     {
         {"Original", {}, {}},
         {"High Quality", {"Tarsa.txt"}, {"c206"}},
         {"Ultimate", {"X_Tarsa2.txt", "X_Tarsa1.txt"}, {"c206", "c006"}},
         {"Garrow", {"Tarsa_Garrow.txt"}, {"c206"}},
         {"Aldous Hale", {"Tarsa_Aldous.txt"}, {"c206"}},
         {"Veska Lorn", {"Tarsa_Veska.txt"}, {"c206"}},
         {"Kip", {"Tarsa_Kip.txt"}, {"c206"}},
     }},
};

int hdm_choice(const Settings& s, int row) {
    int v = s.hd_models[size_t(row)];
    return v < int(hdm_characters[row].variants.size()) ? v : 0;
}

std::string hdm_text(const Settings& s) {
    std::string out;
    for (int row = 0; row < hdm_character_count; row++) {
        if (row) out += ',';
        out += fmt("%d", hdm_choice(s, row));
    }
    return out;
}

void hdm_parse(Settings& s, std::string_view text) {
    s.hd_models.fill(0);
    std::vector<std::string_view> pieces = split_at(text, ',');
    for (size_t row = 0; row < pieces.size() && row < size_t(hdm_character_count); row++) {
        int64_t v = 0;
        if (parse_int(pieces[row], v) && v >= 0 && v < int64_t(hdm_characters[row].variants.size()))
            s.hd_models[row] = uint8_t(v);
    }
}
