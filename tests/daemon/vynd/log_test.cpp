// The daemon's log lines.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "daemon/vynd/log.h"
#include "tests/support/temp_dir.h"

using namespace vynd;
using vynd::test::TempDir;

TEST(VyndLog, LineFormatAndLongMessagesCutAtACharacter) {
    TempDir t;
    log_file = fopen((t / "log").c_str(), "a+");
    ASSERT_NE(log_file, nullptr);
    vynd_log("Info", "hello %s %d", "world", 42);
    vynd_log("Debug", "first\nsecond");
    // 1022 ASCII bytes then a two-byte character: the buffer holds 1023 bytes,
    // so the character does not fit and must not be cut in half.
    std::string long_text(1022, 'a');
    long_text += "\xc3\xa9 tail";
    vynd_log("Info", "%s", long_text.c_str());
    close_log_file();

    std::ifstream in(t / "log");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u);
    std::regex stamp(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} hello world 42$)");
    EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
    EXPECT_EQ(lines[1].substr(20), "first");
    EXPECT_EQ(lines[2], "second");
    EXPECT_EQ(lines[3].substr(20), std::string(1022, 'a'));
}
