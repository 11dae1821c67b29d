// The one UTF-8 decoder: what it takes, what it refuses, and where a cut text ends.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf8.h"

using namespace vynd;
using namespace std::string_literals;

TEST(Utf8, DecodesWellFormedSequencesOnly) {
    const struct {
        std::string bytes;
        size_t length;
        char32_t code_point;
    } cases[] = {
        {"\0"s, 1, 0},
        {"\x7f", 1, 0x7f},
        {"\xc2\x80", 2, 0x80},
        {"\xdf\xbf", 2, 0x7ff},
        {"\xe0\xa0\x80", 3, 0x800},
        {"\xed\x9f\xbf", 3, 0xd7ff},
        {"\xee\x80\x80", 3, 0xe000},
        {"\xef\xbf\xbf", 3, 0xffff},
        {"\xf0\x90\x80\x80", 4, 0x10000},
        {"\xf4\x8f\xbf\xbf", 4, 0x10ffff},
        // Overlong forms, surrogates, beyond U+10FFFF, stray and cut-short sequences.
        {"\xc0\x80", 0, 0},
        {"\xc1\xbf", 0, 0},
        {"\xe0\x9f\xbf", 0, 0},
        {"\xf0\x8f\xbf\xbf", 0, 0},
        {"\xed\xa0\x80", 0, 0},
        {"\xed\xbf\xbf", 0, 0},
        {"\xf4\x90\x80\x80", 0, 0},
        {"\xf5\x80\x80\x80", 0, 0},
        {"\xff", 0, 0},
        {"\x80", 0, 0},
        {"\xe2\x82", 0, 0},
        {"\xe2\x28\xa1", 0, 0},
    };
    for (const auto& c : cases) {
        const Utf8Char got = utf8_char_at(c.bytes, 0);
        EXPECT_EQ(got.length, c.length) << testing::PrintToString(c.bytes);
        if (c.length) {
            EXPECT_EQ(got.code_point, c.code_point) << testing::PrintToString(c.bytes);
        }
        EXPECT_EQ(is_valid_utf8(c.bytes), c.length == c.bytes.size())
            << testing::PrintToString(c.bytes);
    }
}

// Whatever the eight-byte blocks skip, a fault after or inside them is found,
// and every character besides ASCII from space to DEL is shown to the caller.
TEST(Utf8, TheFastPathMissesNothing) {
    const std::string ascii(16, 'a');
    EXPECT_TRUE(is_valid_utf8(ascii + "\xc3\xa9" + ascii));
    EXPECT_FALSE(is_valid_utf8(ascii + "\xc3"));
    EXPECT_FALSE(is_valid_utf8("abcdefg\xed\xa0\x80" + ascii));
    std::u32string seen;
    EXPECT_TRUE(utf8_all_of(ascii + "\t" + ascii + "\xe2\x82\xac" + ascii,
                            [&](char32_t c) { return seen += c, true; }));
    EXPECT_EQ(seen, U"\t\u20ac");
    EXPECT_FALSE(utf8_all_of("abcdefghij\x01", [](char32_t c) { return c >= 0x20; }));
}

TEST(Utf8, ACutTextLosesOnlyItsHalfCharacter) {
    EXPECT_EQ(utf8_whole_length("ab\xe2\x82"), 2u);
    EXPECT_EQ(utf8_whole_length("ab\xf0"), 2u);
    EXPECT_EQ(utf8_whole_length("ab\xe2\x82\xac"), 5u);
    EXPECT_EQ(utf8_whole_length("abc"), 3u);
    EXPECT_EQ(utf8_whole_length(""), 0u);
}
