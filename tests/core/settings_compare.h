// Comparing settings records in tests.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "launcher/core/settings.h"
#include "launcher/mods/sculpt.h"

// A slider byte outside 1..9 means 5 (unchanged), which the file writes as
// "5" and reads back as 5; this gives the record with those bytes as read.
inline Settings sculpt_as_read(Settings s) {
    for (int row = 0; row < sculpt_character_count; row++)
        for (size_t i = 0; i < sculpt_characters[row].sliders.size(); i++)
            if (s.sculpt[size_t(row)][i] < 1 || s.sculpt[size_t(row)][i] > 9) s.sculpt[size_t(row)][i] = 5;
    return s;
}

// Equal records; on a difference the two texts show which lines differ.
inline void expect_same(const Settings& got, const Settings& want, const std::string& what) {
    EXPECT_EQ(settings_text(got), settings_text(want)) << what;
    EXPECT_TRUE(sculpt_as_read(got) == sculpt_as_read(want)) << what;
}
