#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_datafile/datafile.h"

namespace {

std::vector<std::string> all_tokens(std::string_view line) {
    std::vector<std::string> out;
    std::string_view token;
    while (next_token(line, token)) out.emplace_back(token);
    EXPECT_TRUE(line.empty());
    EXPECT_TRUE(token.empty());
    return out;
}

TEST(NextToken, SplitsAtBlanksAndTabs) {
    struct Case {
        std::string_view line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"@languages ja", {"@languages", "ja"}},
        {"  @languages\tzh-Hant \t pt-BR  ", {"@languages", "zh-Hant", "pt-BR"}},
        {"one", {"one"}},
        {"", {}},
        {" \t \t", {}},
        // Only blanks and TABs separate: other bytes are part of the token.
        {"a\rb c\xc2\xa0" "d", {"a\rb", "c\xc2\xa0" "d"}},
    };
    for (const Case& c : cases) EXPECT_EQ(all_tokens(c.line), c.tokens) << c.line;
}

TEST(NextToken, LeavesTheLineAtTheSeparator) {
    std::string_view line = "\tkey  value rest", token;
    ASSERT_TRUE(next_token(line, token));
    EXPECT_EQ(token, "key");
    EXPECT_EQ(line, "  value rest");
    ASSERT_TRUE(next_token(line, token));
    EXPECT_EQ(token, "value");
    EXPECT_EQ(line, " rest");
}

TEST(TrimSpace, RemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trim_space(" \t x \t y \r\n"), "x \t y");
    EXPECT_EQ(trim_space("\r\n\t "), "");
    EXPECT_EQ(trim_space(""), "");
    EXPECT_EQ(trim_space("-"), "-");
}

}  // namespace
