#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/kt_i18n/i18n.h"

namespace {

std::string_view value_of(const Catalog& c, std::string_view english, std::string_view code) {
    int key = text_find(c, english, text_hash(english));
    const Text_Value* v = text_get(c, key, language_find(c, code));
    return v ? v->text : std::string_view("<none>");
}

// Line ends in CR LF and LF mixed, stray TAB lines, "-" skips, padded
// English text, an English text without translations.
const char fixture[] =
    "# a test text\r\n"
    "\tstray before any English\r\n"
    "@languages ja de\r\n"
    "\r\n"
    "Build\r\n"
    "\t\xe3\x83\x93\xe3\x83\xab\xe3\x83\x89\r\n"  // ビルド
    "\tErstellen\r\n"
    "\tbeyond the declared languages\r\n"
    "Linking\r\n"
    "-\r\n"
    "\tLinken\r\n"
    "  Padded text \t\r\n"
    "\t  mit Rand \r\n"
    "  -  \r\n"
    "Untranslated\n"
    "@note other @ lines say nothing\n"
    "Only German\n"
    " - \n"
    "\tNur Deutsch\n"
    "# a comment between\n"
    "Last\n"
    "\tlast ja";  // no line end at all

struct Loaded : ::testing::Test {
    Catalog c;
    void SetUp() override {
        catalog_init(c);
        load_lines(c, fixture);
    }
};

TEST_F(Loaded, ReadsTheTranslationLines) {
    ASSERT_EQ(c.languages.size(), 3u);
    EXPECT_EQ(c.languages[0].code, "en");
    EXPECT_EQ(c.languages[1].code, "ja");
    EXPECT_EQ(c.languages[2].code, "de");

    struct Case {
        std::string_view english, code, expected;
    };
    const Case cases[] = {
        {"Build", "ja", "\xe3\x83\x93\xe3\x83\xab\xe3\x83\x89"},
        {"Build", "de", "Erstellen"},
        {"Linking", "ja", "<none>"},       // skipped with "-"
        {"Linking", "de", "Linken"},
        {"Padded text", "ja", "  mit Rand "},  // keyed trimmed; the translation kept as written
        {"Padded text", "de", "<none>"},
        {"Only German", "ja", "<none>"},
        {"Only German", "de", "Nur Deutsch"},
        {"Last", "ja", "last ja"},
    };
    for (const Case& k : cases) EXPECT_EQ(value_of(c, k.english, k.code), k.expected) << k.english << " " << k.code;

    // Stray TAB lines store nothing; an English text with no translation
    // line and the "@" line are not keys.
    EXPECT_EQ(c.keys.size(), 5u);
    EXPECT_EQ(text_find(c, "Untranslated", text_hash("Untranslated")), -1);
    EXPECT_EQ(text_find(c, "@note other @ lines say nothing", text_hash("@note other @ lines say nothing")), -1);
    for (const auto& list : c.values)
        for (const Text_Value& v : list) {
            EXPECT_NE(v.text, "stray before any English");
            EXPECT_NE(v.text, "beyond the declared languages");
        }
}

// "\n" is a line break inside a text, in the English key and in a
// translation; another backslash stays as written.
TEST(LineBreaks, AreReadFromTheirEscape) {
    Catalog c;
    catalog_init(c);
    load_lines(c,
               "@languages de\n"
               "Two lines:\\nthe second\n"
               "\tZwei Zeilen:\\ndie zweite\\n\n"
               "A path bin\\clang.exe\n"
               "\tEin Pfad bin\\clang.exe\n"
               "Ends in a backslash\\\n"
               "\tEndet mit\\\n");
    EXPECT_EQ(value_of(c, "Two lines:\nthe second", "de"), "Zwei Zeilen:\ndie zweite\n");
    EXPECT_EQ(value_of(c, "A path bin\\clang.exe", "de"), "Ein Pfad bin\\clang.exe");
    EXPECT_EQ(value_of(c, "Ends in a backslash\\", "de"), "Endet mit\\");
    EXPECT_EQ(text_find(c, "Two lines:\\nthe second", text_hash("Two lines:\\nthe second")), -1);
    // The decoded key outlives the text it was read from and a reload.
    load_lines(c, "@languages de\nTwo lines:\\nthe second\n\tNeu\n");
    EXPECT_EQ(value_of(c, "Two lines:\nthe second", "de"), "Neu");
}

TEST_F(Loaded, ShowsTheCurrentLanguageWithFallbacks) {
    load_lines(c, "@languages en\nColour\n\tColor\nBuild\n\tBuild it\n");
    struct Case {
        std::string_view code, text, expected;
    };
    const Case cases[] = {
        {"en", "Build", "Build"},            // English: the text itself, even with an entry
        {"en", "Colour", "Colour"},
        {"de", "Build", "Erstellen"},
        {"de", "Not in the catalogue", "Not in the catalogue"},
        {"de", "Colour", "Color"},           // German lacks it: the English entry
        {"ja", "Linking", "Linking"},        // neither Japanese nor an English entry
        {"de", "Padded text", "<none>"},     // no German: no English entry either
        {"ja", "Padded text", "  mit Rand "},
        {"ja", "  Padded text \t", "  Padded text \t"},  // looked up as given, not trimmed
        {"ja", "", ""},
    };
    for (const Case& k : cases) {
        ASSERT_TRUE(select_language(c, k.code));
        std::string_view expected = k.expected == "<none>" ? k.text : k.expected;
        EXPECT_EQ(text_shown(c, k.text), expected) << k.code << " " << k.text;
    }
}

TEST_F(Loaded, LanguagesAreFoundOrAdded) {
    ASSERT_TRUE(select_language(c, "de"));
    EXPECT_FALSE(select_language(c, "xx"));
    EXPECT_EQ(c.current, 2);

    // A second text declaring known and new codes reuses the known index.
    load_lines(c, "@languages\tde  fr\nBuild\n\tBauen\n\tConstruire\n");
    ASSERT_EQ(c.languages.size(), 4u);
    EXPECT_EQ(value_of(c, "Build", "de"), "Bauen");
    EXPECT_EQ(value_of(c, "Build", "fr"), "Construire");
    EXPECT_EQ(value_of(c, "Build", "ja"), "\xe3\x83\x93\xe3\x83\xab\xe3\x83\x89");
    EXPECT_EQ(c.keys.size(), 5u);

    c.languages[1].ruby = true;
    EXPECT_EQ(add_language(c, "ja", "Japanese"), 1);
    EXPECT_EQ(c.languages[1].name, "Japanese");
    EXPECT_TRUE(c.languages[1].ruby);
    EXPECT_EQ(add_language(c, "ko", "Korean"), 4);
    EXPECT_FALSE(c.languages[4].ruby);
}

TEST(KeyHash, IsFnv1aFoldedWithItsHighBits) {
    // FNV-1a 32 reference values: "" 0x811c9dc5, "a" 0xe40c292c, "foobar" 0xbf9cf968.
    EXPECT_EQ(text_hash(""), 0x811c9dc5u ^ (0x811c9dc5u >> 15));
    EXPECT_EQ(text_hash("a"), 0xe40c292cu ^ (0xe40c292cu >> 15));
    EXPECT_EQ(text_hash("foobar"), 0xbf9cf968u ^ (0xbf9cf968u >> 15));
}

TEST(KeyTable, GrowsBeforeItIsMoreThanHalfFull) {
    Catalog c;
    catalog_init(c);
    EXPECT_EQ(text_find(c, "k0", text_hash("k0")), -1);  // no slots yet

    static std::string texts[9];
    for (int i = 0; i < 9; i++) {
        texts[i] = "key " + std::to_string(i);
        uint32_t h = text_hash(texts[i]);
        ASSERT_EQ(text_find(c, texts[i], h), -1);
        EXPECT_EQ(keys_intern(c, texts[i], h), i);
        // 1 key: 16 slots; with 7 stored the 8th needs 16 and fits; with 8
        // stored the 9th needs 18 and the table doubles first.
        EXPECT_EQ(c.slots.size(), i < 8 ? 16u : 32u) << "after key " << i;
    }
    for (int i = 0; i < 9; i++) EXPECT_EQ(text_find(c, texts[i], text_hash(texts[i])), i);
}

TEST(KeyTable, FindsEveryKeyAmongMany) {
    Catalog c;
    catalog_init(c);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; i++) texts.push_back("text " + std::to_string(i * 7919));
    for (size_t i = 0; i < texts.size(); i++) {
        keys_intern(c, texts[i], text_hash(texts[i]));
        ASSERT_GE(c.slots.size(), 2 * c.keys.size());
        ASSERT_EQ(c.slots.size() & (c.slots.size() - 1), 0u);
    }
    for (size_t i = 0; i < texts.size(); i++) ASSERT_EQ(text_find(c, texts[i], text_hash(texts[i])), int(i));
    // Same hash, different bytes; and a prefix of a key.
    EXPECT_EQ(text_find(c, "not a key", text_hash(texts[5])), -1);
    EXPECT_EQ(text_find(c, "text", text_hash("text")), -1);
}

TEST(TextPut, ReplacesOwnedAndCarriedTexts) {
    Catalog c;
    catalog_init(c);
    int de = add_language(c, "de", "");
    int key = keys_intern(c, "Build", text_hash("Build"));
    std::string source = "Erstellen";
    text_put_copy(c, key, de, source);
    source = "changed!!";
    EXPECT_EQ(text_get(c, key, de)->text, "Erstellen");
    EXPECT_TRUE(text_get(c, key, de)->owned);
    text_put(c, key, de, "Bauen");
    EXPECT_EQ(text_get(c, key, de)->text, "Bauen");
    EXPECT_FALSE(text_get(c, key, de)->owned);
    EXPECT_EQ(text_get(c, key, 0), nullptr);
    EXPECT_EQ(text_get(c, key + 5, de), nullptr);
}

TEST(StripRuby, LeavesOutEveryClosedRun) {
    struct Case {
        std::string_view text, expected;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"\xe6\xbc\xa2{{kan}}\xe5\xad\x97{{ji}}", "\xe6\xbc\xa2\xe5\xad\x97"},
        {"{{a}}{{b}}c", "c"},
        {"a{{b}}c{{d", "ac{{d"},   // an open run with no end is kept
        {"a{{b", "a{{b"},
        {"a}}b{{", "a}}b{{"},
        {"{{{{x}}}}", "}}"},        // a run ends at the first "}}"
        {"", ""},
    };
    for (const Case& k : cases) EXPECT_EQ(strip_ruby(k.text), k.expected) << k.text;
}

TEST(StripRuby, ShownStripsOnlyForARubyLanguageAndCaches) {
    Catalog c;
    catalog_init(c);
    load_lines(c, "@languages ja ko\nKanji\n\t\xe6\xbc\xa2{{kan}}\xe5\xad\x97\n\tk{{r}}o\n");
    c.languages[size_t(language_find(c, "ja"))].ruby = true;

    ASSERT_TRUE(select_language(c, "ja"));
    std::string_view first = text_shown(c, "Kanji");
    EXPECT_EQ(first, "\xe6\xbc\xa2\xe5\xad\x97");
    EXPECT_EQ(text_shown(c, "Kanji").data(), first.data());  // made once, then taken from the cache
    EXPECT_EQ(c.stripped.size(), 1u);

    ASSERT_TRUE(select_language(c, "ko"));
    EXPECT_TRUE(c.stripped.empty());
    EXPECT_EQ(text_shown(c, "Kanji"), "k{{r}}o");  // not a ruby language: as stored
}

}  // namespace
