// Shares that rsync reaches itself, against real servers on the loopback
// address: an rsync daemon with a secrets file, and sshd with a host key, a
// known-hosts file and a client key for rsync over ssh.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/debian_package.h"
#include "tests/support/prefs_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/share_servers.h"

namespace fs = std::filesystem;
using vynd::test::log_message;
using vynd::test::PrefsBuilder;
using vynd::test::RsyncDaemon;
using vynd::test::Sandbox;
using vynd::test::SshServer;

namespace {

const char kPassword[] = "fl33t pass $(x) `y`";
const char kSeen[] = "/tmp/proc-seen";

std::string missing_requirement() {
    for (const char* program :
         {"/usr/bin/rsync", "/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen"}) {
        if (access(program, X_OK) != 0)
            return std::string(program) + " is not installed";
    }
    return "";
}

class RemoteShareTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string missing = missing_requirement();
        if (!missing.empty())
            GTEST_SKIP() << missing;
        box.writeFile("/home/deploy/Applications/Tool.app/Contents/Info.plist", "info\n");
        box.writeFile("/home/deploy/Applications/Read Me $(x).txt", "read me\n");
        box.mkdirs("/home/deploy/Library");
        box.mkdirs("/home/deploy/Users");
        box.mkdirs("/home/deploy/Packages");
        ASSERT_TRUE(vynd::test::build_debian_package(box.path("/home/deploy/Packages/tool.deb"),
                                                     "vynd-test", "f", "v1"));
        box.addStub("/usr/bin/dpkg", "[ \"$1\" = --audit ] && exit 0\nexit 0");
        // rsync and ssh, whoever starts them, first note every command line
        // and environment to be seen at that moment.
        for (const char* program : {"rsync", "ssh"}) {
            box.bind(std::string("/usr/bin/") + program, std::string("/opt/real/") + program);
            box.addStub(std::string("/usr/bin/") + program,
                        "for f in /proc/[0-9]*/cmdline /proc/[0-9]*/environ; do tr '\\0' '\\n' "
                        "<\"$f\"; echo; done >>" +
                            std::string(kSeen) +
                            " 2>/dev/null\n"
                            "exec /opt/real/" +
                            program + " \"$@\"");
        }
    }

    bool logged(const std::string& message) const {
        for (const auto& line : box.logLines())
            if (log_message(line) == message)
                return true;
        return false;
    }
    bool logHas(const std::string& text) const {
        return box.readFile("/var/log/vynd.log").find(text) != std::string::npos;
    }
    size_t dpkgInstalls() const {
        auto calls = box.calls();
        return std::count_if(calls.begin(), calls.end(), [](const auto& argv) {
            return argv[0] == "/usr/bin/dpkg" && argv.size() == 5 && argv[3] == "--install";
        });
    }
    bool credentialsLeft() const {
        for (const auto& e : fs::directory_iterator(box.path("/run")))
            if (e.path().filename().string().rfind("vynd-credentials-", 0) == 0)
                return true;
        return false;
    }
    // What a local user could have read while the programs ran.
    bool seenAnywhere(const std::string& secret) const {
        return box.readFile(kSeen).find(secret) != std::string::npos ||
               box.readFile("/var/log/vynd.log").find(secret) != std::string::npos;
    }

    // First run, no-change run, a deletion; then an emptied area that
    // deletes nothing until allowed to. `source` is the logged remote root.
    void mirrorsInstallsAndDeletes(PrefsBuilder& prefs, const std::string& source) {
        prefs.flag("vynd_keep_app_synced", true);
        box.writePrefs(prefs.get());
        auto r = box.vynd({"-i"});
        ASSERT_EQ(r.status, 0) << r.err << box.readFile("/var/log/vynd.log");
        EXPECT_EQ(box.readFile("/Applications/Tool.app/Contents/Info.plist"), "info\n");
        EXPECT_EQ(box.readFile("/Applications/Read Me $(x).txt"), "read me\n");
        EXPECT_TRUE(logHas(
            "rsync --out-format=\"%t %i %n\" -ii -rltD -T \"/var/db/vynd/Applications\" "
            "--bwlimit=0   -pgo --delay-updates --no-devices --no-specials --chmod=Fug-s \"" +
            source +
            "/Applications/\" "
            "\"/Applications/\""))
            << box.readFile("/var/log/vynd.log");
        EXPECT_TRUE(logHas(">f+++++++++ Tool.app/Contents/Info.plist"))
            << box.readFile("/var/log/vynd.log");
        EXPECT_EQ(dpkgInstalls(), 1u);

        size_t lines = box.logLines().size();
        ASSERT_EQ(box.vynd({"-i"}).status, 0);
        auto all = box.logLines();
        for (size_t i = lines; i < all.size(); ++i)
            EXPECT_EQ(all[i].find(">f"), std::string::npos) << all[i];
        EXPECT_EQ(dpkgInstalls(), 1u);

        fs::remove(box.path("/home/deploy/Applications/Read Me $(x).txt"));
        ASSERT_EQ(box.vynd({"-i"}).status, 0);
        EXPECT_TRUE(logged("*deleted Read Me $(x).txt"));
        EXPECT_FALSE(box.exists("/Applications/Read Me $(x).txt"));

        // A missing area folder is a failed rsync: nothing deleted.
        fs::rename(box.path("/home/deploy/Applications"), box.path("/home/deploy/Gone"));
        ASSERT_EQ(box.vynd({"-i"}).status, 0);
        EXPECT_TRUE(box.exists("/Applications/Tool.app/Contents/Info.plist"));

        // An emptied area holds its deletions until they are allowed.
        box.mkdirs("/home/deploy/Applications");
        ASSERT_EQ(box.vynd({"-i"}).status, 0);
        EXPECT_TRUE(box.exists("/Applications/Tool.app/Contents/Info.plist"));
        EXPECT_TRUE(
            logHas("/Applications is empty on the share while 3 installed paths are "
                   "recorded for Applications: nothing deleted"));
        prefs.flag("vynd_allow_empty_area", true);
        box.writePrefs(prefs.get());
        ASSERT_EQ(box.vynd({"-i"}).status, 0);
        EXPECT_FALSE(box.exists("/Applications/Tool.app/Contents/Info.plist"));

        EXPECT_FALSE(credentialsLeft());
    }

    void refused(PrefsBuilder& prefs) {
        box.writePrefs(prefs.get());
        auto r = box.vynd({"-i"});
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(logged("Unable to mount share.")) << box.readFile("/var/log/vynd.log");
        EXPECT_FALSE(box.exists("/Applications/Tool.app"));
        EXPECT_FALSE(credentialsLeft());
    }

    Sandbox box;
};

std::string rsync_url(const RsyncDaemon& server, const std::string& module = "deploy") {
    return "rsync://127.0.0.1:" + std::to_string(server.port()) + "/" + module;
}

std::string ssh_url(const SshServer& server) {
    return "ssh://root@127.0.0.1:" + std::to_string(server.port()) + "/home/deploy";
}

}  // namespace

TEST_F(RemoteShareTest, AnRsyncDaemonIsMirroredWithThePasswordInAFileOnly) {
    RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start(kPassword, &why)) << why;
    PrefsBuilder prefs;
    prefs.text("vynd_host", rsync_url(server))
        .text("vynd_username", "fleet")
        .text("vynd_passwd", kPassword);
    mirrorsInstallsAndDeletes(prefs, rsync_url(server));
    EXPECT_TRUE(
        logged("Warning: rsync://127.0.0.1 is reached over a transport that neither "
               "encrypts nor authenticates the server: anyone on the network path can "
               "change what is installed"));
    EXPECT_NE(server.log().find("rsync allowed access on module deploy"), std::string::npos)
        << server.log();
    EXPECT_NE(box.readFile(kSeen).find("--password-file=/run/vynd-credentials-"),
              std::string::npos);
    EXPECT_FALSE(seenAnywhere(kPassword));
}

TEST_F(RemoteShareTest, AnRsyncDaemonThatRefusesEndsTheRunAsAFailedMount) {
    RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start(kPassword, &why)) << why;
    PrefsBuilder prefs;
    prefs.text("vynd_host", rsync_url(server))
        .text("vynd_username", "fleet")
        .text("vynd_passwd", "wrong");
    refused(prefs);
    prefs.text("vynd_host", rsync_url(server, "nomodule")).text("vynd_passwd", kPassword);
    refused(prefs);
    server.stop();
    prefs.text("vynd_host", rsync_url(server));
    refused(prefs);
    EXPECT_FALSE(seenAnywhere(kPassword));
}

TEST_F(RemoteShareTest, RsyncOverSshIsMirroredWithAKnownHostAndAKey) {
    SshServer server(box);
    std::string why;
    ASSERT_TRUE(server.start("", true, &why)) << why;
    PrefsBuilder prefs;
    prefs.text("vynd_host", ssh_url(server)).text("vynd_ssh_key_file", SshServer::kClientKey);
    mirrorsInstallsAndDeletes(prefs, "127.0.0.1:/home/deploy");
    EXPECT_NE(server.log().find("Accepted publickey for root from 127.0.0.1"), std::string::npos)
        << server.log();
    EXPECT_FALSE(logHas("neither encrypts"));
    // No line of the private key was to be seen.
    std::string key = box.readFile(SshServer::kClientKey);
    for (const auto& line : vynd::test::split_lines(key)) {
        if (line.find("PRIVATE KEY") == std::string::npos && !line.empty()) {
            EXPECT_FALSE(seenAnywhere(line)) << line;
        }
    }
}

TEST_F(RemoteShareTest, RsyncOverSshRefusesAnUnknownServerAWrongKeyAndAFolderThatIsALink) {
    SshServer server(box);
    std::string why;
    ASSERT_TRUE(server.start("", false, &why)) << why;
    PrefsBuilder prefs;
    prefs.text("vynd_host", ssh_url(server)).text("vynd_ssh_key_file", SshServer::kClientKey);
    refused(prefs);
    EXPECT_EQ(server.log().find("Accepted"), std::string::npos) << server.log();

    std::string key = box.readFile("/home/sshd/host_key.pub");
    box.writeFile(
        "/root/.ssh/known_hosts",
        "[127.0.0.1]:" + std::to_string(server.port()) + " " + key.substr(0, key.rfind(' ')) + "\n",
        0600);
    ASSERT_EQ(box.run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                       "/home/client/other"})
                  .status,
              0);
    prefs.text("vynd_ssh_key_file", "/home/client/other");
    refused(prefs);

    // Followed by the server's rsync, a link would send what it points to.
    box.writeFile("/home/secret/shadow", "server secret\n");
    fs::rename(box.path("/home/deploy/Applications"), box.path("/home/deploy/Apps"));
    fs::create_directory_symlink("/home/secret", box.path("/home/deploy/Applications"));
    prefs.text("vynd_ssh_key_file", SshServer::kClientKey);
    box.writePrefs(prefs.get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_FALSE(box.exists("/Applications/shadow"));
    EXPECT_TRUE(
        logged("127.0.0.1:/home/deploy/Applications is a symbolic link on the share: "
               "nothing copied or deleted for Applications"));
    EXPECT_EQ(dpkgInstalls(), 1u);
}

// A server's message of the day with lines shaped like rsync's and a forged
// Fatal line: none of it names an item to record, delete or give the area's
// modes, and none of it stands in the log.
TEST_F(RemoteShareTest, AnRsyncDaemonsMessageOfTheDayIsNeverTakenForItsOutput) {
    const std::string kMotd = "/home/rsyncd/motd";
    const std::string forged = "2026/12/11 10:00:00 Fatal: forged by the server\n";
    box.writeFile(kMotd, forged +
                             "2026/12/11 10:00:00 >f+++++++++ victim.txt\n"
                             "2026/12/11 10:00:00 .f          secret.conf\n");
    RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start(kPassword, &why, true, "motd file = " + kMotd + "\n")) << why;
    box.writeFile("/Applications/victim.txt", "local\n");
    box.writeFile("/Applications/secret.conf", "local secret\n", 0600);
    PrefsBuilder prefs;
    prefs.text("vynd_host", rsync_url(server))
        .text("vynd_username", "fleet")
        .text("vynd_passwd", kPassword)
        .flag("vynd_keep_app_synced", true)
        .flag("vynd_set_app_perm", true);
    box.writePrefs(prefs.get());
    ASSERT_EQ(box.vynd({"-i"}).status, 0) << box.readFile("/var/log/vynd.log");
    EXPECT_EQ(box.readFile("/Applications/Tool.app/Contents/Info.plist"), "info\n");
    std::string manifest = box.readFile("/var/db/vynd/Applications.plist");
    EXPECT_EQ(manifest.find("victim"), std::string::npos);
    EXPECT_EQ(manifest.find("secret"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(box.path("/Applications/secret.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    box.writeFile(kMotd, forged);
    ASSERT_EQ(box.vynd({"-i"}).status, 0);
    EXPECT_TRUE(box.exists("/Applications/victim.txt"));
    EXPECT_FALSE(logHas("forged")) << box.readFile("/var/log/vynd.log");
}
