#include <gtest/gtest.h>

#include "launcher/core/parse_int.h"

TEST(ParseInt, AcceptedForms) {
    struct Case {
        const char* text;
        int64_t want;
    } cases[] = {
        {"0", 0},
        {"42", 42},
        {"-7", -7},
        {"+7", 7},
        {" \t12 \r\n", 12},
        {"0x1a", 26},
        {"0xFF", 255},
        {"-0x10", -16},
        {"0b101", 5},
        {"0o17", 15},
        {"0d19", 19},
        {"0z1b", 23},
        {"1_000_000", 1000000},
        {"0x7fff_ffff", 0x7fffffff},
        {"007", 7},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"0x7fffffffffffffff", INT64_MAX},
    };
    for (const Case& c : cases) {
        int64_t v = 99;
        EXPECT_TRUE(parse_int(c.text, v)) << c.text;
        EXPECT_EQ(v, c.want) << c.text;
    }
}

TEST(ParseInt, RefusedFormsLeaveTheValue) {
    const char* cases[] = {
        "", " ", "-", "+", "0x", "0b", "_1", "1_", "0x_1", "12a", "1 2", "1.5", "0b2", "0o8", "0z1c", "0x1g",
        "--1", "+-1", "9223372036854775808", "-9223372036854775809", "0x8000000000000000",
        "99999999999999999999999",
    };
    for (const char* c : cases) {
        int64_t v = 77;
        EXPECT_FALSE(parse_int(c, v)) << c;
        EXPECT_EQ(v, 77) << c;
    }
}

TEST(ParseInt, SplitAndTrim) {
    EXPECT_EQ(split_at("", ','), (std::vector<std::string_view>{""}));
    EXPECT_EQ(split_at("a,,b,", ','), (std::vector<std::string_view>{"a", "", "b", ""}));
    EXPECT_EQ(trim_space(" \t x y \r\n"), "x y");
    EXPECT_EQ(trim_space(" \t\r\n"), "");
}
