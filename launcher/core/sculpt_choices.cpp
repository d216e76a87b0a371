#include "launcher/core/sculpt_choices.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"

static constexpr std::array<std::string_view, 9> size_choices = {
    "1 (Smaller)", "2", "3", "4", "5 (As Is)", "6", "7", "8", "9 (Larger)"};
static constexpr std::array<std::string_view, 9> length_choices = {
    "1 (Shorter)", "2", "3", "4", "5 (As Is)", "6", "7", "8", "9 (Longer)"};
static constexpr std::array<std::string_view, 9> sari_choices = {
    "Red", "Violet", "Green", "Pink", "Blue (As Is)", "Cyan", "Purple", "Grey", "Silver"};
static constexpr std::array<std::string_view, 9> fur_choices = {
    "Cyan", "White", "Light Natural", "Lighter Natural", "Natural (As Is)", "Darker Natural", "Dark Natural", "Black", "Pink"};

static constexpr Sculpt_Slider hips{"Hips", "hips", size_choices};
static constexpr Sculpt_Slider legs{"Legs", "legs", size_choices};
static constexpr Sculpt_Slider waist{"Waist", "waist", size_choices};
static constexpr Sculpt_Slider butt{"Butt", "butt", size_choices};
static constexpr Sculpt_Slider bust{"Bust", "bust", size_choices};
static constexpr Sculpt_Slider biceps{"Biceps", "biceps", size_choices};
static constexpr Sculpt_Slider arms{"Arms", "arms", size_choices};
static constexpr Sculpt_Slider neck{"Neck", "neck", size_choices};
static constexpr Sculpt_Slider skirt{"Skirt", "skirt", length_choices};
static constexpr Sculpt_Slider sari{"Sari Color", "select tarsa's sari color", sari_choices};
static constexpr Sculpt_Slider fur{"Fur Color", "select tarsa's fur color", fur_choices};

const Sculpt_Character sculpt_characters[sculpt_character_count] = {
    {"Kestrel", "c201", "c001", "SAGA Kestrel Body Sculpting.bat", "Kestrel_Sculpt.txt",
     {hips, legs, waist, butt, bust, biceps, arms, neck}, {"x_kestrel2.txt", "x_kestrel_hair2.txt"}, "X_Kestrel1.txt"},
    {"Mirela", "c205", "c005", "SAGA Mirela Body Sculpting.bat", "Mirela_Sculpt.txt",
     {hips, legs, waist, skirt, bust, arms, neck}, {"x_mirela2.txt"}, "X_Mirela1.txt"},
    {"Tarsa", "c206", "c006", "SAGA Tarsa Body Sculpting.bat", "Tarsa_Sculpt.txt",
     {hips, legs, waist, bust, arms, neck, sari, fur}, {"x_tarsa2.txt"}, "X_Tarsa1.txt"},
};

std::string sculpt_text_of(const Settings& s, int row) {
    std::string out;
    const auto& values = s.sculpt[size_t(row)];
    for (size_t i = 0; i < sculpt_characters[row].sliders.size(); i++) {
        uint8_t v = values[i];
        out += char('0' + (v >= 1 && v <= 9 ? v : 5));
    }
    return out;
}

std::string sculpt_text(const Settings& s) {
    std::string out;
    for (int row = 0; row < sculpt_character_count; row++) {
        if (row) out += ',';
        out += sculpt_text_of(s, row);
    }
    return out;
}

void sculpt_parse(Settings& s, std::string_view text) {
    for (auto& row : s.sculpt) row.fill(0);
    std::vector<std::string_view> pieces = split_at(text, ',');
    for (size_t row = 0; row < pieces.size() && row < size_t(sculpt_character_count); row++) {
        std::string_view piece = pieces[row];
        for (size_t i = 0; i < piece.size() && i < size_t(sculpt_slider_max); i++) {
            char c = piece[i];
            if (c >= '1' && c <= '9') s.sculpt[row][i] = uint8_t(c - '0');
        }
    }
}
