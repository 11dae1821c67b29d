// Share URLs taken apart and where their shares are mounted.
#include <gtest/gtest.h>

#include "platform/share/remote_share.h"
#include "platform/share/share_url.h"

using namespace vynd;

TEST(ShareUrl, TakesANetworkUrlApart) {
    auto url = parse_share_url("smb://files.example.com:4455/Deploy%20Share/sub");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "smb");
    EXPECT_EQ(url->host, "files.example.com");
    EXPECT_EQ(url->port, 4455);
    EXPECT_EQ(url->path, "/Deploy Share/sub");
    EXPECT_EQ(url->escaped_path, "/Deploy%20Share/sub");
    EXPECT_EQ(share_mount_point(*url), "/Volumes/sub");
}

TEST(ShareUrl, FileUrlsAndPlainPathsNameLocalFolders) {
    auto url = parse_share_url("file:///srv/my%20share");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "file");
    EXPECT_EQ(url->path, "/srv/my share");
    const auto escaped = percent_escape_ascii("/srv/odd $(x) `y` \"q\"");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(*escaped, "/srv/odd%20$(x)%20%60y%60%20%22q%22");
    url = parse_share_url(*escaped);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "");
    EXPECT_EQ(url->path, "/srv/odd $(x) `y` \"q\"");
}

TEST(ShareUrl, FileUrlPathsAreThisComputersAbsolutePaths) {
    EXPECT_EQ(file_url_path("file:///srv/site%20list"), "/srv/site list");
    EXPECT_EQ(file_url_path("FILE://localhost/srv/a"), "/srv/a");
    for (const char* other :
         {"file://server/srv/a", "file://localhost", "file://u@localhost/a", "file://localhost:1/a",
          "file:///a%2", "file:///a%00b", "http:///a", "/srv/a", "file"})
        EXPECT_FALSE(file_url_path(other)) << other;
}

TEST(ShareUrl, NoHostAndBrokenEscapes) {
    auto url = parse_share_url("afp:/share");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host, "");
    EXPECT_FALSE(parse_share_url("smb://h/a%2"));
    EXPECT_FALSE(parse_share_url("smb://h/a%00b"));
    EXPECT_FALSE(parse_share_url(std::string("/srv/a\0b", 8)));
}

// The host reaches mount helpers' command lines, where a leading "-" is an
// option and a "," starts another cifs option.
TEST(ShareUrl, HostsThatAreNoHostNamesAreRefused) {
    for (const char* bad : {"sftp://-oProxyCommand=touch%20x/share", "smb://a%2Cuid=0/share",
                            "nfs://a%20b/x", "smb://[fe80::1/x", "smb://srv:65536/share"})
        EXPECT_FALSE(parse_share_url(bad)) << bad;
    for (const char* good : {"smb://file_server-2.example.com/s", "sftp://[fe80::1%25eth0]:22/home",
                             "nfs://10.0.0.1:65535/x"})
        EXPECT_TRUE(parse_share_url(good)) << good;
}

TEST(ShareUrl, MountPointNeverLeavesVolumes) {
    auto url = parse_share_url("nfs://server/export/a%2F..");
    ASSERT_TRUE(url);
    EXPECT_EQ(share_mount_point(*url), "/Volumes/server");
    url = parse_share_url("smb://server/");
    ASSERT_TRUE(url);
    EXPECT_EQ(share_mount_point(*url), "/Volumes/server");
    url = parse_share_url("smb://server/..");
    ASSERT_TRUE(url);
    EXPECT_EQ(share_mount_point(*url), "/Volumes/server");
}

TEST(RemoteShare, NamesTheRootAsRsyncTakesItAndRefusesWhatCouldPassForAnOption) {
    // A host the URL parser already refuses never reaches remote_share.
    auto share = [](const std::string& text,
                    std::string* why = nullptr) -> std::optional<RemoteShare> {
        auto escaped = percent_escape_ascii(text);
        auto url = escaped ? parse_share_url(*escaped) : std::nullopt;
        if (!url)
            return std::nullopt;
        return remote_share(*url, std::nullopt, std::string("pw"), "", why);
    };
    auto daemon = share("rsync://files:8730/deploy/sub dir/");
    ASSERT_TRUE(daemon);
    EXPECT_EQ(daemon->root, "rsync://files:8730/deploy/sub dir");
    EXPECT_EQ(daemon->password, "pw");
    auto ssh = share("ssh://admin@[::1]:2222/srv/deploy");
    ASSERT_TRUE(ssh);
    EXPECT_EQ(ssh->root, "[::1]:/srv/deploy");
    EXPECT_EQ(ssh->user, "admin");
    EXPECT_EQ(ssh->port, 2222);
    EXPECT_FALSE(ssh->password);  // ssh logs in with a key only
    EXPECT_EQ(share("ssh://files")->root, "files:/");

    std::string why;
    EXPECT_FALSE(share("rsync://files/", &why));
    EXPECT_NE(why.find("module"), std::string::npos);
    EXPECT_FALSE(share("ssh://-oProxyCommand=x/srv"));
    EXPECT_FALSE(share("ssh://fi les/srv"));
    EXPECT_FALSE(share("ssh://a\"b@files/srv"));
}

TEST(PercentEscape, EscapesWhatMayNotStandInAUrl) {
    EXPECT_EQ(percent_escape_ascii("smb://server/my share"), "smb://server/my%20share");
    EXPECT_EQ(percent_escape_ascii("file:///a\"b<c>{d}|e\\f^g`h%i"),
              "file:///a%22b%3Cc%3E%7Bd%7D%7Ce%5Cf%5Eg%60h%25i");
    EXPECT_EQ(percent_escape_ascii("afp://u@h:548/s?x=1&y#z"), "afp://u@h:548/s?x=1&y#z");
    EXPECT_FALSE(percent_escape_ascii("smb://server/Caf\xc3\xa9").has_value());
}
