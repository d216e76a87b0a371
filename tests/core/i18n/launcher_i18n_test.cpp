#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "tests/support/temp_dir.h"

namespace {

// The English texts and their translations of one carried text, read
// independently of the catalogue (one declared language per text).
struct Pair {
    std::string english, translation;
};
// A line of the file as the catalogue reads it: "\\n" is a line break.
std::string with_breaks(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
            out += '\n';
            i++;
        } else {
            out += line[i];
        }
    }
    return out;
}

std::vector<Pair> pairs_of(std::string_view text) {
    std::vector<Pair> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == '@') continue;
        if (line[0] == '\t') {
            if (!out.empty()) out.back().translation = with_breaks(line.substr(1));
        } else {
            out.push_back({with_breaks(line), ""});
        }
    }
    return out;
}

// The formatting verbs of a text in order ("%s", "%d", "%02x", ...).
std::vector<std::string> verbs_of(const std::string& text) {
    static const std::regex verb("%[-0]?[0-9]*(\\.[0-9]+)?[sdxXfvc%]");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), verb); it != std::sregex_iterator(); ++it)
        out.push_back(it->str());
    return out;
}

TEST(CarriedTexts, MatchTheLanguageTable) {
    ASSERT_EQ(language_table[0].code, "en");
    for (int i = 0; i < carried_text_count; i++) {
        const Carried_Text& t = carried_texts[i];
        EXPECT_EQ(t.code, language_table[i + 1].code);
        EXPECT_EQ(language_index(t.code), i + 1);
        // A "#" line naming the language, then the one declared language.
        ASSERT_FALSE(t.text.empty()) << t.code;
        EXPECT_EQ(t.text[0], '#') << t.code;
        size_t at = t.text.find("\n@languages ");
        ASSERT_NE(at, std::string_view::npos) << t.code;
        size_t end = t.text.find('\n', at + 1);
        EXPECT_EQ(t.text.substr(at + 12, end - at - 12), t.code);
    }
    EXPECT_EQ(language_index("xx"), -1);
    EXPECT_EQ(language_index("EN"), -1);
}

TEST(CarriedTexts, EveryTextLoadsWhole) {
    Temp_Dir dir;
    i18n_init(dir.path);
    std::optional<std::set<std::string>> english_set;
    for (int i = 0; i < carried_text_count; i++) {
        const Carried_Text& t = carried_texts[i];
        SCOPED_TRACE(std::string(t.code));
        ASSERT_TRUE(language_set(i + 1));
        std::vector<Pair> pairs = pairs_of(t.text);
        EXPECT_GE(pairs.size(), 40u);
        std::set<std::string> set;
        for (const Pair& p : pairs) {
            EXPECT_TRUE(set.insert(p.english).second) << "twice: " << p.english;
            EXPECT_FALSE(p.translation.empty()) << p.english;
            EXPECT_EQ(p.english.find_first_of("\r\t"), std::string::npos) << p.english;
            EXPECT_EQ(shown(p.english), p.translation) << p.english;
            // The translation is filled with the same values in the same order.
            EXPECT_EQ(verbs_of(p.translation), verbs_of(p.english)) << p.english;
        }
        if (!english_set) english_set = set;
        else EXPECT_EQ(set, *english_set) << "a different set of English texts";
    }
}

TEST(LanguageFile, ChoosesTheLanguageAtStart) {
    struct Case {
        const char* content;   // nullptr: no file
        int language;
        std::string_view build; // what "Build" shows then
    };
    const Case cases[] = {
        {" ja\r\n", 1, "\xe3\x83\x93\xe3\x83\xab\xe3\x83\x89"},
        {"de\n", 6, "Erstellen"},
        {"pt-BR", 9, "Compilar"},
        {"zh-Hant", 2, "\xe5\xbb\xba\xe7\xbd\xae"},
        {"en", 0, "Build"},
        {"xx", 0, "Build"},
        {"DE", 0, "Build"},
        {"", 0, "Build"},
        {"ja de", 0, "Build"},
        {nullptr, 0, "Build"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.content ? k.content : "(no file)");
        Temp_Dir dir;
        if (k.content) {
            ASSERT_TRUE(fs_write(path_join({dir.path, "language.txt"}), k.content));
        }
        language_set(3);  // whatever came before does not matter
        i18n_init(dir.path);
        EXPECT_EQ(language, k.language);
        EXPECT_EQ(shown("Build"), k.build);
        EXPECT_EQ(shown("Not a launcher text"), "Not a launcher text");
    }
}

TEST(LanguageFile, ChangingTheLanguageIsSavedAndReadBack) {
    Temp_Dir dir;
    i18n_init(dir.path);
    ASSERT_TRUE(language_set(4));
    ASSERT_TRUE(language_save(dir.path));
    std::string content;
    ASSERT_TRUE(fs_read(path_join({dir.path, "language.txt"}), content));
    EXPECT_EQ(content, "ko");  // the code alone: a later start finds it valid as it is

    ASSERT_TRUE(language_set(0));
    EXPECT_EQ(shown("Build"), "Build");
    EXPECT_FALSE(language_set(12));
    EXPECT_FALSE(language_set(-1));
    EXPECT_EQ(language, 0);

    i18n_init(dir.path);
    EXPECT_EQ(language, 4);
    EXPECT_EQ(shown("Build"), "\xeb\xb9\x8c\xeb\x93\x9c");  // 빌드
}

TEST(LanguageFile, SaveFailsWithoutAFolder) {
    Temp_Dir dir;
    i18n_init(dir.path);
    EXPECT_FALSE(language_save(path_join({dir.path, "missing", "folder"})));
}

}  // namespace
