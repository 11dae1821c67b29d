// A real network share: a private sshd on the loopback address serves a
// folder over SFTP, and the daemon mounts it through sshfs and FUSE with a
// user name and password, mirrors from it and unmounts it at shutdown.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/share_servers.h"

using vynd::test::Sandbox;
using vynd::test::SshServer;

namespace {

const char kPassword[] = "s3cret pass $(x) `y`";

std::string missing_requirement() {
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        return "FUSE is not available here (/dev/fuse: " + std::string(strerror(errno)) + ")";
    for (const char* program :
         {"/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/ssh-keygen", "/usr/bin/fusermount3"}) {
        if (access(program, X_OK) != 0)
            return std::string(program) + " is not installed";
    }
    return "";
}

}  // namespace

TEST(MirroringSshfs, MountsARealShareMirrorsFromItAndUnmountsIt) {
    std::string missing = missing_requirement();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    Sandbox box;
    box.writeFile("/home/deploy/Applications/Tool.app/Contents/Info.plist", "info\n");
    box.writeFile("/home/deploy/Applications/Read Me $(x).txt", "read me\n");
    box.mkdirs("/home/deploy/Library");
    box.mkdirs("/home/deploy/Users");
    SshServer server(box);
    std::string why;
    ASSERT_TRUE(server.start(kPassword, true, &why)) << why;

    vynd::test::PrefsBuilder prefs;
    prefs.text("vynd_host", "sftp://127.0.0.1:" + std::to_string(server.port()) + "/home/deploy")
        .text("vynd_username", "root")
        .text("vynd_passwd", kPassword)
        .flag("vynd_keep_app_synced", true);
    box.writePrefs(prefs.get());
    auto r = box.vynd({"-i"});
    EXPECT_EQ(r.status, 0) << r.err;
    server.stop();

    EXPECT_EQ(box.readFile("/Applications/Tool.app/Contents/Info.plist"), "info\n");
    EXPECT_EQ(box.readFile("/Applications/Read Me $(x).txt"), "read me\n");
    std::string log = box.readFile("/var/log/vynd.log");
    // rsync copied from the folder the share was mounted on.
    EXPECT_EQ(box.lastLoggedWith(" \"/Volumes/deploy/Applications/\" \"/Applications/\"")
                  .rfind("rsync ", 0),
              0u)
        << log;
    EXPECT_NE(log.find(">f+++++++++ Tool.app/Contents/Info.plist"), std::string::npos) << log;
    EXPECT_EQ(log.find(kPassword), std::string::npos);
    // The share was really served: sshd took the password.
    std::string sshd_log = server.log();
    EXPECT_NE(sshd_log.find("Accepted password for root from 127.0.0.1"), std::string::npos)
        << sshd_log;
    EXPECT_NE(sshd_log.find("subsystem 'sftp'"), std::string::npos) << sshd_log;
    // Unmounted at shutdown: the mount point the daemon made is gone again
    // (it could not be removed while the share was mounted on it).
    EXPECT_FALSE(box.exists("/Volumes/deploy"));
}

TEST(MirroringSshfs, AWrongPasswordMountsNothing) {
    std::string missing = missing_requirement();
    if (!missing.empty())
        GTEST_SKIP() << missing;
    Sandbox box;
    box.mkdirs("/home/deploy/Applications");
    SshServer server(box);
    std::string why;
    ASSERT_TRUE(server.start(kPassword, true, &why)) << why;
    vynd::test::PrefsBuilder prefs;
    prefs.text("vynd_host", "sftp://127.0.0.1:" + std::to_string(server.port()) + "/home/deploy")
        .text("vynd_username", "root")
        .text("vynd_passwd", "not the password");
    box.writePrefs(prefs.get());
    auto r = box.vynd({"-i"});
    server.stop();
    EXPECT_NE(r.status, 0);
    std::string log = box.readFile("/var/log/vynd.log");
    EXPECT_NE(log.find("Unable to mount share."), std::string::npos) << log;
    EXPECT_EQ(log.find("not the password"), std::string::npos);
    EXPECT_FALSE(box.exists("/Volumes/deploy"));
}
