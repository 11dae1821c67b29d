// The daemon's settings: defaults, fallbacks, unexpected kinds, enciphered credentials.
#include <gtest/gtest.h>

#include "daemon/vynd/prefs.h"
#include "platform/property_list.h"
#include "transformers/value_transformers.h"

using namespace vynd;

namespace {

Plist dict_from_xml(const std::string& body) {
    auto p = parse_property_list(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body +
        "</dict></plist>");
    EXPECT_TRUE(p.has_value());
    return std::move(*p);
}

}  // namespace

TEST(PermsToChmodString, MapsDigitsToLetters) {
    EXPECT_EQ(perms_to_chmod_string(std::nullopt), "u=rw,g=r,o=r,+X");
    EXPECT_EQ(perms_to_chmod_string("011"), "u=rw,g=r,o=r,+X");
    EXPECT_EQ(perms_to_chmod_string("002"), "u=rw,g=rw,o=,+X");
    EXPECT_EQ(perms_to_chmod_string("222"), "u=,g=,o=,+X");
    EXPECT_EQ(perms_to_chmod_string("021"), "u=rw,g=,o=r,+X");
    // Only the first three characters count; short strings read 0 for what is missing.
    EXPECT_EQ(perms_to_chmod_string("1221"), "u=r,g=,o=,+X");
    EXPECT_EQ(perms_to_chmod_string("2"), "u=,g=rw,o=rw,+X");
    EXPECT_EQ(perms_to_chmod_string(""), "u=rw,g=rw,o=rw,+X");
    // Characters the pane never writes fall back to the default digit.
    EXPECT_EQ(perms_to_chmod_string("x;9"), "u=rw,g=r,o=r,+X");
}

TEST(ApplyPrefs, DefaultsWithoutAFile) {
    Settings s = apply_prefs(nullptr);
    EXPECT_FALSE(s.hostname.has_value());
    EXPECT_FALSE(s.username.has_value());
    EXPECT_FALSE(s.passwd.has_value());
    EXPECT_FALSE(s.sus_server.has_value());
    EXPECT_EQ(s.app.path, "Applications");
    EXPECT_EQ(s.user.path, "Users");
    EXPECT_EQ(s.lib.path, "Library");
    EXPECT_EQ(s.pkg_path, "Packages");
    EXPECT_EQ(s.app.owner, "root");
    EXPECT_EQ(s.lib.group, "wheel");
    EXPECT_EQ(s.user.perms, "u=rw,g=r,o=r,+X");
    EXPECT_EQ(s.sus_mode, 0);
    EXPECT_EQ(s.bandwidth, 0);
    EXPECT_FALSE(s.app.keepSynced || s.run_at_login || s.auto_restart || s.lib.setPerm);
}

TEST(ApplyPrefs, FallbackRulesDifferByKey) {
    auto d = dict_from_xml(
        "<key>vynd_app_path</key><string></string>"
        "<key>vynd_app_owner</key><string></string>"
        "<key>vynd_user_group</key><string>staff</string>"
        "<key>vynd_username</key><string></string>"
        "<key>vynd_passwd</key><string>secret</string>"
        "<key>vynd_host</key><string></string>"
        "<key>vynd_lib_perms</key><string>021</string>"
        "<key>vynd_keep_lib_synced</key><true/>"
        "<key>vynd_bandwidth</key><integer>250</integer>");
    Settings s = apply_prefs(d.get());
    EXPECT_EQ(s.app.path, "Applications");
    EXPECT_EQ(s.app.owner, "");
    EXPECT_EQ(s.user.group, "staff");
    EXPECT_FALSE(s.username.has_value());
    EXPECT_EQ(s.passwd, "secret");
    EXPECT_EQ(s.hostname, "");
    EXPECT_EQ(s.lib.perms, "u=rw,g=,o=r,+X");
    EXPECT_TRUE(s.lib.keepSynced);
    EXPECT_EQ(s.bandwidth, 250);
}

TEST(ApplyPrefs, ValuesOfUnexpectedKinds) {
    auto d = dict_from_xml(
        "<key>vynd_run_at_login</key><string>YES</string>"
        "<key>vynd_auto_restart</key><string>no</string>"
        "<key>vynd_sus_restart</key><string> 7</string>"
        "<key>vynd_sus_repair</key><integer>2</integer>"
        "<key>vynd_keep_app_synced</key><string>true</string>"
        "<key>vynd_sus_mode</key><string>2abc</string>"
        "<key>vynd_bandwidth</key><string>99999999999999</string>"
        "<key>vynd_app_path</key><array><string>x</string></array>"
        "<key>vynd_host</key><dict/>"
        "<key>vynd_set_app_perm</key><array/>"
        "<key>vynd_user_owner</key><integer>5</integer>");
    Settings s = apply_prefs(d.get());
    EXPECT_TRUE(s.run_at_login);
    EXPECT_FALSE(s.auto_restart);
    EXPECT_TRUE(s.sus_restart);
    EXPECT_TRUE(s.sus_repair);
    EXPECT_TRUE(s.app.keepSynced);
    EXPECT_EQ(s.sus_mode, 2);
    EXPECT_EQ(s.bandwidth, 2147483647);
    EXPECT_EQ(s.app.path, "Applications");
    EXPECT_FALSE(s.hostname.has_value());
    EXPECT_FALSE(s.app.setPerm);
    EXPECT_EQ(s.user.owner, "root");
}

TEST(ApplyPrefs, EncipheredCredentialsAreDecoded) {
    auto user = PasswordValueTransformer::encode("admin");
    auto pass = PasswordValueTransformer::encode("s3cret \xc3\xa9");
    ASSERT_TRUE(user && pass);
    auto d = dict_from_xml("<key>vynd_encrypt_pass</key><true/><key>vynd_username</key><string>" +
                           *user + "</string><key>vynd_passwd</key><string>" + *pass + "</string>");
    Settings s = apply_prefs(d.get());
    EXPECT_EQ(s.username, "admin");
    EXPECT_EQ(s.passwd, "s3cret \xc3\xa9");

    // A text that does not decode gives no credential, never the stored text.
    auto bad = dict_from_xml(
        "<key>vynd_encrypt_pass</key><true/><key>vynd_username</key><string>plainname</string>"
        "<key>vynd_passwd</key><string></string>");
    s = apply_prefs(bad.get());
    EXPECT_FALSE(s.username.has_value());
    EXPECT_FALSE(s.passwd.has_value());

    // Without the switch both are used as stored.
    auto plain = dict_from_xml("<key>vynd_username</key><string>" + *user +
                               "</string><key>vynd_passwd</key><string>pw</string>");
    s = apply_prefs(plain.get());
    EXPECT_EQ(s.username, *user);
    EXPECT_EQ(s.passwd, "pw");
}
