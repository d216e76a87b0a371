#include "launcher/mods/hd_models.h"

#include <map>
#include <mutex>

#include "engine/kt_system/fs.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/paths.h"
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

bool hdm_imported() {
    return file_exists(data_path({"mod_src", "hdmodels", "SupportFiles", "EF SAGA HD Models.exe"}));
}

const Model_Size Original_Model_Sizes[original_model_count] = {
    {"chr/pc/c201/bin/c201.win32.trb", 794339},  {"chr/pc/c201/bin/c201.win32.imgb", 2130264},
    {"chr/pc/c202/bin/c202.win32.trb", 886815},  {"chr/pc/c202/bin/c202.win32.imgb", 2410136},
    {"chr/pc/c203/bin/c203.win32.trb", 777069},  {"chr/pc/c203/bin/c203.win32.imgb", 2128868},
    {"chr/pc/c204/bin/c204.win32.trb", 714859},  {"chr/pc/c204/bin/c204.win32.imgb", 2326632},
    {"chr/pc/c205/bin/c205.win32.trb", 719745},  {"chr/pc/c205/bin/c205.win32.imgb", 2164820},
    {"chr/pc/c206/bin/c206.win32.trb", 830980},  {"chr/pc/c206/bin/c206.win32.imgb", 2288372},
};

// Whether an answers file holds "::A", remembered with the size and time
// it had, so that the page's every-frame question costs a status read.
static bool holds_weapon_answers(const std::string& path) {
    struct Known {
        uint64_t size;
        int64_t mtime;
        bool holds;
    };
    static std::mutex lock;
    static std::map<std::string, Known> known;
    File_Info info;
    if (!fs_stat(path, info) || !info.exists || info.is_dir) return false;
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = known.find(path);
        if (it != known.end() && it->second.size == info.size && it->second.mtime == info.mtime_ns)
            return it->second.holds;
    }
    std::string text;
    if (!fs_read(path, text)) return false;
    bool holds = text.find("::A") != std::string::npos;
    std::lock_guard<std::mutex> g(lock);
    known[path] = {info.size, info.mtime_ns, holds};
    return holds;
}

std::string hdm_asks(const Settings& s, int row) {
    int choice = hdm_choice(s, row);
    if (choice == 0) return {};
    const Hdm_Variant& v = hdm_characters[row].variants[size_t(choice)];
    for (std::string_view f : v.files) {
        if (holds_weapon_answers(data_path({"mod_src", "hdmodels", "Data", f})))
            return fmt("%s%s", v.label, s.hd_models_hide ? ", weapon hidden" : ", weapon shown");
    }
    return std::string(v.label);
}

std::string hdm_out_path(std::string_view id, std::string_view ext) {
    return data_path({"hdmodels", "out", "chr", "pc", id, "bin", fmt("%s.win32%s", id, ext)});
}

static std::string marker_path(int row) {
    return data_path({"hdmodels", "out", fmt("%s.txt", ascii_lower(hdm_characters[row].name))});
}

std::string hdm_applied(int row) {
    std::string raw;
    if (!fs_read(marker_path(row), raw)) return {};
    std::string text(trim_space(raw));
    for (const Hdm_Variant& v : hdm_characters[row].variants) {
        if (v.models.empty() || text.compare(0, v.label.size(), v.label) != 0) continue;
        for (std::string_view id : v.models)
            for (std::string_view ext : {".trb", ".imgb"})
                if (!file_exists(hdm_out_path(id, ext))) return {};
    }
    return text;
}

std::string hdm_answer_txt(std::string_view text, bool hide_weapon) {
    std::string out;
    bool in_section = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        start = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view t = trim_space(line);
        if (t.substr(0, 3) == "::A") continue;
        if (t.substr(0, 3) == "::I") {
            in_section = true;
            continue;
        }
        if (t.substr(0, 3) == "::E") {
            in_section = false;
            continue;
        }
        if (in_section && !hide_weapon) continue;
        out.append(line);
        out.append("\r\n");
    }
    return out;
}
