// The text module at the program's edges: UTF-8 / UTF-16 with malformed
// input, code page 932 byte cuts and the settings file's integer syntax.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/text/Text.h"

namespace corvane::text {
namespace {

TEST(Text, MalformedUtf8BecomesOneReplacementPerBadByte) {
    struct Case {
        const char* what;
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {"ascii and kanji", "a漢", u"a漢"},
        {"four bytes give a surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three bytes", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated at the end", "a\xE3\x81", u"a\uFFFD\uFFFD"},
        {"stray continuation", "\x80z", u"\uFFFDz"},
        {"NUL kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    }
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x\xDC00"), "\xEF\xBF\xBDx\xEF\xBF\xBD");  // lone surrogates
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600漢"), "\xF0\x9F\x98\x80漢");
}

TEST(Text, Cp932CutsNeverSplitADoubleByteCharacter) {
    struct Case {
        std::string utf8;
        std::size_t maxBytes;
        std::string cut;
    } cases[] = {
        {"abc", 2, "ab"},
        {"漢字", 3, "漢"},            // two bytes each
        {"漢字", 4, "漢字"},
        {"ｶﾅ漢", 3, "ｶﾅ"},           // half-width kana take one byte
        {"a😀b", 2, "a?"},            // a character the code page lacks is one '?'
        {"漢", 1, ""},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8 + " in " + std::to_string(c.maxBytes));
        EXPECT_EQ(CutToCp932Bytes(c.utf8, c.maxBytes), c.cut);
    }
    EXPECT_EQ(Cp932Length("ｶ漢a"), 4u);
    EXPECT_EQ(Utf8ToCp932("a😀"), "a?");
}

TEST(Text, IntegerSyntax) {
    struct Case {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        {"42", 42},          {"  -7", -7},         {"+5", 5},
        {"$1F", 31},         {"0x10", 16},         {"X7fffffff", 2147483647},
        {"-0x10", -16},      {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"0x80000000", -2147483647 - 1},  // hexadecimal is the 32-bit pattern
        {"", std::nullopt},  {"+", std::nullopt},  {"0x", std::nullopt},
        {"12a", std::nullopt}, {"4 2", std::nullopt}, {"42 ", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseInt32(c.text), c.value);
    }
}

}  // namespace
}  // namespace corvane::text
