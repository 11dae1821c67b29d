// Unit tests of the daemon's settings, path removal and log lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "database.h"
#include "exclude_file.h"
#include "log.h"
#include "prefs.h"
#include "property_list.h"
#include "share_url.h"
#include "temp_dir.h"
#include "value_transformers.h"

namespace fs = std::filesystem;
using namespace vynd;
using vynd::test::TempDir;

namespace {

bool exists_nofollow(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

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
    apply_prefs(nullptr);
    EXPECT_FALSE(hostname.has_value());
    EXPECT_FALSE(username.has_value());
    EXPECT_FALSE(passwd.has_value());
    EXPECT_FALSE(sus_server.has_value());
    EXPECT_EQ(app_path, "Applications");
    EXPECT_EQ(user_path, "Users");
    EXPECT_EQ(lib_path, "Library");
    EXPECT_EQ(pkg_path, "Packages");
    EXPECT_EQ(app_owner, "root");
    EXPECT_EQ(lib_group, "wheel");
    EXPECT_EQ(user_perms, "u=rw,g=r,o=r,+X");
    EXPECT_EQ(sus_mode, 0);
    EXPECT_EQ(bandwidth, 0);
    EXPECT_FALSE(keep_app_synced || run_at_login || auto_restart || set_lib_perm);
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
    apply_prefs(d.get());
    EXPECT_EQ(app_path, "Applications");
    EXPECT_EQ(app_owner, "");
    EXPECT_EQ(user_group, "staff");
    EXPECT_FALSE(username.has_value());
    EXPECT_EQ(passwd, "secret");
    EXPECT_EQ(hostname, "");
    EXPECT_EQ(lib_perms, "u=rw,g=,o=r,+X");
    EXPECT_TRUE(keep_lib_synced);
    EXPECT_EQ(bandwidth, 250);
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
    apply_prefs(d.get());
    EXPECT_TRUE(run_at_login);
    EXPECT_FALSE(auto_restart);
    EXPECT_TRUE(sus_restart);
    EXPECT_TRUE(sus_repair);
    EXPECT_TRUE(keep_app_synced);
    EXPECT_EQ(sus_mode, 2);
    EXPECT_EQ(bandwidth, 2147483647);
    EXPECT_EQ(app_path, "Applications");
    EXPECT_FALSE(hostname.has_value());
    EXPECT_FALSE(set_app_perm);
    EXPECT_EQ(user_owner, "root");
}

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
    EXPECT_TRUE(parse_property_list("<plist version=\"1.0\"><dict><key>a</key><string>b</string>"
                                    "</dict></plist>"));
}

// The share's Library area can bring any file to the site exclude file's place.
TEST(SiteExclude, OnlyARegularFileOfBoundedSizeIsGivenToRsync) {
    TempDir dir;
    const std::string path = dir.path() + "/exclude-Library";
    std::string err;
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::none);
    std::ofstream(path) << "Caches/\n";
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::usable);
    fs::resize_file(path, kMaxSiteExcludeSize + 1);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    EXPECT_EQ(err,
              path + " is larger than 1 MiB, the most a site exclude file may be; it was not read");
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    fs::remove(path);
    fs::create_symlink("/dev/zero", path);
    EXPECT_EQ(check_site_exclude_file(path, &err), SiteExclude::refused);
    EXPECT_EQ(err, "the site exclude file " + path + " is not a regular file; it was not used");
}

TEST(PercentEscape, EscapesWhatMayNotStandInAUrl) {
    EXPECT_EQ(percent_escape_ascii("smb://server/my share"), "smb://server/my%20share");
    EXPECT_EQ(percent_escape_ascii("file:///a\"b<c>{d}|e\\f^g`h%i"),
              "file:///a%22b%3Cc%3E%7Bd%7D%7Ce%5Cf%5Eg%60h%25i");
    EXPECT_EQ(percent_escape_ascii("afp://u@h:548/s?x=1&y#z"), "afp://u@h:548/s?x=1&y#z");
    EXPECT_FALSE(percent_escape_ascii("smb://server/Caf\xc3\xa9").has_value());
}

TEST(Rmpath, RemovesFilesAndTreesAndReportsWhatIsLeft) {
    TempDir t;
    EXPECT_TRUE(rmpath(t / "missing", false));
    EXPECT_TRUE(rmpath(t / "missing", true));

    fs::create_directories(t / "empty");
    EXPECT_FALSE(rmpath(t / "empty", true));
    EXPECT_TRUE(fs::is_directory(t / "empty"));

    t.write("file");
    EXPECT_TRUE(rmpath(t / "file", true));
    EXPECT_FALSE(exists_nofollow(t / "file"));

    fs::create_directories(t / "tree/a/b/c");
    t.write("tree/a/b/c/f");
    t.write("tree/.hidden");
    EXPECT_TRUE(rmpath(t / "tree", false));
    EXPECT_FALSE(exists_nofollow(t / "tree"));
}

TEST(Rmpath, NeverFollowsSymbolicLinks) {
    TempDir t;
    fs::create_directories(t / "outside/keep");
    t.write("outside/keep/precious");

    // A link to a folder is removed itself, with keep listable folders too.
    fs::create_directory_symlink(t / "outside", t / "link");
    EXPECT_TRUE(rmpath(t / "link", true));
    EXPECT_FALSE(exists_nofollow(t / "link"));
    EXPECT_TRUE(fs::exists(t / "outside/keep/precious"));

    // A dangling link is something there, and is removed.
    fs::create_symlink(t / "nowhere", t / "dangling");
    EXPECT_TRUE(rmpath(t / "dangling", false));
    EXPECT_FALSE(exists_nofollow(t / "dangling"));

    // Removing a tree never descends through a link inside it.
    fs::create_directories(t / "tree/sub");
    fs::create_directory_symlink(t / "outside", t / "tree/sub/escape");
    fs::create_symlink(t / "outside/keep/precious", t / "tree/file-link");
    EXPECT_TRUE(rmpath(t / "tree", false));
    EXPECT_FALSE(exists_nofollow(t / "tree"));
    EXPECT_TRUE(fs::exists(t / "outside/keep/precious"));
}

TEST(Rmpath, UnlistableFolderIsRemovedEvenWhenKeepingListableOnes) {
    TempDir t;
    fs::create_directories(t / "locked/inner");
    chmod((t / "locked").c_str(), 0);
    // As root a folder is always listable; the rule only matters for others.
    if (geteuid() == 0) {
        EXPECT_FALSE(rmpath(t / "locked", true));
    } else {
        EXPECT_TRUE(rmpath(t / "locked", true));
    }
    chmod((t / "locked").c_str(), 0755);
}

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

TEST(ApplyPrefs, EncipheredCredentialsAreDecoded) {
    auto user = PasswordValueTransformer::encode("admin");
    auto pass = PasswordValueTransformer::encode("s3cret \xc3\xa9");
    ASSERT_TRUE(user && pass);
    auto d = dict_from_xml("<key>vynd_encrypt_pass</key><true/><key>vynd_username</key><string>" +
                           *user + "</string><key>vynd_passwd</key><string>" + *pass + "</string>");
    apply_prefs(d.get());
    EXPECT_EQ(username, "admin");
    EXPECT_EQ(passwd, "s3cret \xc3\xa9");

    // A text that does not decode gives no credential, never the stored text.
    auto bad = dict_from_xml(
        "<key>vynd_encrypt_pass</key><true/><key>vynd_username</key><string>plainname</string>"
        "<key>vynd_passwd</key><string></string>");
    apply_prefs(bad.get());
    EXPECT_FALSE(username.has_value());
    EXPECT_FALSE(passwd.has_value());

    // Without the switch both are used as stored.
    auto plain = dict_from_xml("<key>vynd_username</key><string>" + *user +
                               "</string><key>vynd_passwd</key><string>pw</string>");
    apply_prefs(plain.get());
    EXPECT_EQ(username, *user);
    EXPECT_EQ(passwd, "pw");
}
