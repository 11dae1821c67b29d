// Base64 and hex renderings: fixed examples, the base64 program's answers, round trips, bad input.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>

#include "crypto/assertion_failure.h"
#include "crypto/text_forms.h"
#include "tests/crypto/test_tools.h"

namespace vynd {
namespace {

using test::patternBytes;

// Lengths around the 3-byte groups and the 48-byte lines, plus 1 MiB.
const std::size_t kLengths[] = {0, 1, 2, 3, 15, 16, 17, 47, 48, 49, 50, 95, 96, 97, 1000, 1 << 20};

Bytes everyByteValue() {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    return all;
}

bool isPrefix(const Bytes& prefix, const Bytes& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

TEST(Base64, ShortTextInBothModes) {
    EXPECT_EQ(encodeBase64(bytesOf("abc")), "YWJj\n");
    EXPECT_EQ(encodeBase64WithNewlines(bytesOf("abc"), false), "YWJj");
    EXPECT_EQ(decodeBase64(bytesOf("YWJj\n")), bytesOf("abc"));
    EXPECT_EQ(decodeBase64WithNewLines(bytesOf("YWJj"), false), bytesOf("abc"));
}

TEST(Base64, LinesOfSixtyFourEachEndingInALineFeed) {
    const std::string one = *encodeBase64(Bytes(48, 'x'));
    ASSERT_EQ(one.size(), 65u);
    EXPECT_EQ(one.find('\n'), 64u);

    const std::string two = *encodeBase64(Bytes(49, 'x'));
    ASSERT_EQ(two.size(), 64u + 1 + 4 + 1);
    EXPECT_EQ(two[64], '\n');
    EXPECT_EQ(two.back(), '\n');

    EXPECT_EQ(encodeBase64WithNewlines(Bytes(1 << 20, 'x'), false)->find('\n'), std::string::npos);
}

TEST(Base64, EmptyInput) {
    EXPECT_EQ(encodeBase64(Bytes{}), "");
    EXPECT_EQ(encodeBase64WithNewlines(Bytes{}, false), "");
    EXPECT_TRUE(decodeBase64(Bytes{}).empty());
    EXPECT_TRUE(decodeBase64WithNewLines(Bytes{}, false).empty());
}

TEST(Base64, MatchesTheBase64Program) {
    if (test::base64Program().empty())
        GTEST_SKIP() << "no base64 program";
    unsigned seed = 1;
    for (std::size_t length : kLengths) {
        const Bytes data = patternBytes(length, seed++);
        const auto wrapped = test::runTool({test::base64Program(), "-w", "64"}, data);
        const auto unbroken = test::runTool({test::base64Program(), "-w", "0"}, data);
        ASSERT_EQ(wrapped.status, 0);
        ASSERT_EQ(unbroken.status, 0);
        EXPECT_EQ(encodeBase64(data), stringOf(wrapped.out)) << "length " << length;
        EXPECT_EQ(encodeBase64WithNewlines(data, false), stringOf(unbroken.out))
            << "length " << length;
        EXPECT_EQ(decodeBase64(wrapped.out), data) << "length " << length;
        EXPECT_EQ(decodeBase64WithNewLines(unbroken.out, false), data) << "length " << length;
    }
}

TEST(Base64, ReadsWhatTheBase64ProgramDecodes) {
    if (test::base64Program().empty())
        GTEST_SKIP() << "no base64 program";
    const Bytes data = patternBytes(4000, 99);
    const std::string text = *encodeBase64(data);
    const auto decoded = test::runTool({test::base64Program(), "-d"}, bytesOf(text));
    ASSERT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.out, data);
}

TEST(Base64, RoundTripsEveryByteValueAndManyLengths) {
    const Bytes all = everyByteValue();
    EXPECT_EQ(decodeBase64(bytesOf(*encodeBase64(all))), all);
    EXPECT_EQ(decodeBase64WithNewLines(bytesOf(*encodeBase64WithNewlines(all, false)), false), all);
    for (std::size_t length : kLengths) {
        const Bytes data = patternBytes(length, static_cast<unsigned>(length) + 7);
        EXPECT_EQ(decodeBase64(bytesOf(*encodeBase64(data))), data) << length;
        EXPECT_EQ(decodeBase64WithNewLines(bytesOf(*encodeBase64WithNewlines(data, false)), false),
                  data)
            << length;
    }
}

TEST(Base64, MalformedInputGivesAPrefixAndNeverFails) {
    EXPECT_TRUE(decodeBase64WithNewLines(bytesOf("!!!!"), false).empty());
    EXPECT_TRUE(decodeBase64(bytesOf("not base64 at all\n")).size() < 17);
    const std::string garbage = stringOf(patternBytes(10000, 5));
    (void)decodeBase64(bytesOf(garbage));
    (void)decodeBase64WithNewLines(bytesOf(garbage), false);

    // Text laid out for the other mode yields at most what it holds.
    const Bytes data = patternBytes(500, 11);
    EXPECT_TRUE(isPrefix(decodeBase64WithNewLines(bytesOf(*encodeBase64(data)), false), data));
    EXPECT_TRUE(isPrefix(decodeBase64(bytesOf(*encodeBase64WithNewlines(data, false))), data));

    // Truncated text decodes no further than its last whole group.
    const std::string text = *encodeBase64WithNewlines(data, false);
    EXPECT_TRUE(isPrefix(decodeBase64WithNewLines(bytesOf(text.substr(0, 101)), false), data));
}

TEST(Base64, RefusesInputBeyondTheLibrarysByteCount) {
    // Address space only: the decoder must refuse before reading a byte.
    const std::size_t size = static_cast<std::size_t>(INT_MAX) + 1;
    void* region =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(region, MAP_FAILED);
    const ByteView huge(static_cast<const std::uint8_t*>(region), size);
    try {
        (void)decodeBase64(huge);
        ADD_FAILURE() << "no assertion failure";
    } catch (const AssertionFailure& failure) {
        EXPECT_STREQ(failure.what(), "data length cannot be greater than 2147483647");
    }
    munmap(region, size);
}

TEST(Hexval, LowerCaseDigitPairs) {
    EXPECT_EQ(hexval(Bytes{0x00, 0xAB}), "00ab");
    EXPECT_EQ(hexval(Bytes{}), "");
    EXPECT_EQ(hexval(everyByteValue()).substr(500), "fafbfcfdfeff");
}

TEST(Hexdump, TheDesignedExampleByteForByte) {
    EXPECT_EQ(hexdump(bytesOf("Hello, world! 0123456789")),
              "[0000]   48 65 6C 6C 6F 2C 20 77   6F 72 6C 64 21 20 30 31   Hello..w orld..01\n"
              "[0010]   32 33 34 35 36 37 38 39                             23456789 \n");
}

TEST(Hexdump, LineShapes) {
    EXPECT_EQ(hexdump(Bytes{}), "");
    const std::string seventeen = hexdump(Bytes(17, 'A'));
    const auto secondLine = seventeen.substr(seventeen.find('\n') + 1);
    EXPECT_EQ(secondLine, "[0010]   41" + std::string(48 + 1, ' ') + " A\n");
    // Every full line has the same layout: 6 + 3 + 50 + 2 + 17 + line feed.
    const std::string full = hexdump(everyByteValue());
    std::size_t start = 0, lines = 0;
    for (std::size_t end; (end = full.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_EQ(end - start, 78u);
        ++lines;
    }
    EXPECT_EQ(lines, 16u);
}

TEST(Hexdump, SpacesPunctuationAndHighBytesShowAsFullStops) {
    EXPECT_EQ(hexdump(Bytes{0x20, 0xE9, 'z'}),
              "[0000]   20 E9 7A" + std::string(50 - 8, ' ') + "  ..z\n");
}

TEST(Hexdump, LongOffsetsShowTheirFirstFourDigits) {
    const std::string dump = hexdump(Bytes(0x12341, 0));
    const std::string last = "[1234]   00" + std::string(48, ' ') + "  .\n";
    ASSERT_GE(dump.size(), last.size());
    EXPECT_EQ(dump.substr(dump.size() - last.size()), last);
    EXPECT_EQ(dump.find("[12340]"), std::string::npos);
    EXPECT_NE(dump.find("\n[fff0]"), std::string::npos);
    EXPECT_NE(dump.find("\n[1000]   00"), std::string::npos);  // offset 0x10000
}

}  // namespace
}  // namespace vynd
