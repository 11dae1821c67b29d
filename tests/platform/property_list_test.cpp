// Property lists as the programs read them.
#include <gtest/gtest.h>

#include <string>

#include "platform/property_list.h"

using namespace vynd;

// libplist ends the program when it hands out a key or string holding a zero
// byte: such a file is no property list, and the settings are the defaults.
TEST(PropertyList, AZeroByteInAKeyOrStringIsNoPropertyList) {
    using namespace std::string_literals;
    EXPECT_FALSE(parse_property_list(
        "<plist version=\"1.0\"><dict><key>vynd_host</key><string>smb://a\0b/s</string>"
        "</dict></plist>"s));
    // Binary: {"a\0b" in UTF-16: "x"}.
    EXPECT_FALSE(parse_property_list("bplist00\xd1\x01\x02\x63\0a\0\0\0b\x51x\x08\x0b\x12"s +
                                     std::string(6, '\0') + "\x01\x01"s + std::string(7, '\0') +
                                     "\x03"s + std::string(15, '\0') + "\x14"s));
    EXPECT_TRUE(
        parse_property_list("<plist version=\"1.0\"><dict><key>a</key><string>b</string>"
                            "</dict></plist>"));
}
