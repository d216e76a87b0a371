#include "launcher/core/hard_choices.h"

#include "launcher/core/format.h"
#include "launcher/core/parse_int.h"
#include "launcher/core/settings.h"

const Hard_Option hard_options[hard_option_count] = {
    {"Faster Enemy CTG:", {"Off", "+30%", "+50%"}, {"", "EFSAGA_Hard_CTG+30.txt", "EFSAGA_Hard_CTG+50.txt"},
     "Enemies' CTG gauges fill faster: they act more often"},
    {"Chain Bonus Limit:", {"Off", "600%"}, {"", "EFSAGA_Hard_Chain600.txt"},
     "The chain gauge stops at 600% (not 999.9%); a stagger adds 60% (not 100%)"},
    {"Enemy HP:", {"Off", "+50% (Option 1)", "+75% (Option 2)"},
     {"", "EFSAGA_Hard_EnemyHP50.txt", "EFSAGA_Hard_EnemyHP75.txt"},
     "Mostly weak enemies (+50% / +75% under 100,000 HP); option 2 also +25% at 100,000, +10% from 1,000,000"},
    {"Enemy Strength & Magic:", {"Off", "+20% (Option 1)", "+35% (Option 2)"},
     {"", "EFSAGA_Hard_EnemyStat20.txt", "EFSAGA_Hard_EnemyStat35.txt"},
     "Each enemy's favored stat (balanced ones: both, +15% / +25%)"},
    {"Enemy Stagger Gauge:", {"Off", "Half Gain"}, {"", "EFSAGA_Hard_Stagger50.txt"},
     "Each attack fills an enemy's stagger gauge half as much: staggers take longer"},
    {"Stagger Time:", {"Off", "-25%"}, {"", "EFSAGA_Hard_StaggerTime.txt"},
     "A stagger lasts at most 33.75 s (not 45)"},
    {"Grathvolk Poison:", {"Off", "More Resistant"}, {"", "EFSAGA_Hard_GrthvlkPoison.txt"},
     "Mission 64's Grathvolk resists Poison more (not immune)"},
    {"Fewer Character HP:", {"Off", "On"}, {"", "EFSAGA_Hard_FewerCharHP.txt"},
     "About 20% less HP from Starweave levels 1-8 (about 10% less by the end)"},
};

std::string hard_text(const Settings& s) {
    std::string out;
    for (int i = 0; i < hard_option_count; i++) {
        if (i) out += ',';
        out += fmt("%d", s.hard[i]);
    }
    return out;
}

void hard_parse(Settings& s, std::string_view text) {
    s.hard.fill(0);
    std::vector<std::string_view> pieces = split_at(text, ',');
    for (size_t i = 0; i < pieces.size() && i < size_t(hard_option_count); i++) {
        int64_t v = 0;
        if (parse_int(pieces[i], v) && v >= 0 && v < int64_t(hard_options[i].choices.size()))
            s.hard[i] = uint8_t(v);
    }
}
