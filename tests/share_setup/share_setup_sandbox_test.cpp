// Share setup on network shares, run in the sandbox with mount helpers that bind a local "server"
// folder.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "icon/icns_family.h"
#include "platform/property_list.h"
#include "share_setup/share_setup.h"
#include "share_setup/share_setup_tool.h"
#include "tests/support/files.h"
#include "tests/support/sandbox.h"
#include "tests/support/share_servers.h"
#include "transformers/value_transformers.h"

using vynd::test::Sandbox;

namespace {

// mount.cifs as the sandbox has it: keeps the credentials it was handed (the
// password on the descriptor PASSWD_FD names) and binds /tmp/server where
// the share should appear.
const char kMountByBinding[] =
    "f=${4#credentials=}; f=${f%%,*}; [ -f \"$f\" ] && cat \"$f\" > /tmp/cred\n"
    "[ \"$PASSWD_FD\" = 0 ] && cat > /tmp/pw\n"
    "mkdir -p /tmp/server && mount --bind /tmp/server \"$2\"";

class ShareSetupSandbox : public ::testing::Test {
  protected:
    Sandbox box;

    void SetUp() override {
        box.bind(VYND_SHARE_SETUP_DRIVER, VYND_SHARE_SETUP_DRIVER);
        QImage image(64, 32, QImage::Format_ARGB32);
        image.fill(QColor(200, 30, 40, 255));
        ASSERT_TRUE(image.save(QString::fromStdString(box.path("/tmp/icon.png")), "PNG"));
    }
    // The alerts of one run, each "title|message"; the first line tells that
    // the settings were saved first.
    std::vector<std::string> setup(const std::vector<std::string>& settings) {
        std::vector<std::string> argv{VYND_SHARE_SETUP_DRIVER, "/tmp/icon.png"};
        argv.insert(argv.end(), settings.begin(), settings.end());
        auto r = box.run(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        auto lines = vynd::test::split_lines(r.out);
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_EQ(lines.front(), "saved");
            lines.erase(lines.begin());
        }
        return lines;
    }
    bool onServer(const std::string& rel) const { return box.exists("/tmp/server/" + rel); }
};

const std::string kSuccess = std::string("Setup successful|") + vynd::kSetupDoneMessage;

TEST_F(ShareSetupSandbox, MountedShareGetsItsFoldersAndVolumeIcon) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    auto alerts =
        setup({"vynd_host=smb://server/Deploy", "vynd_username=admin", "vynd_passwd=s3cr$t",
               "vynd_volume_hidden=false", "vynd_pkg_path=Installers"});
    EXPECT_EQ(alerts, std::vector<std::string>{kSuccess});
    for (const char* name : {"Applications", "Users", "Library", "Installers"})
        EXPECT_TRUE(onServer(name)) << name;
    ASSERT_TRUE(onServer(".VolumeIcon.icns"));
    auto family = vynd::IcnsFamily::iconFamilyWithContentsOfFile(
        QString::fromStdString(box.path("/tmp/server/.VolumeIcon.icns")));
    ASSERT_TRUE(family.has_value());
    auto icon = family->bitmapImageRepWithAlphaForIconFamilyElement(vynd::kThumbnail32BitData);
    ASSERT_TRUE(icon.has_value());
    auto lines = box.callLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("/usr/sbin/mount.cifs //server/Deploy /Volumes/Deploy -o "
                             "credentials=/run/vynd-credentials-",
                             0),
              0u)
        << lines[0];
    EXPECT_EQ(box.readFile("/tmp/cred"), "username=admin\n");
    EXPECT_EQ(box.readFile("/tmp/pw"), "s3cr$t\n");
    // Unmounted, and the mount folder it made is gone again.
    EXPECT_FALSE(box.exists("/Volumes/Deploy"));
}

TEST_F(ShareSetupSandbox, HiddenVolumeGetsNoIcon) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    auto alerts = setup({"vynd_host=cifs://server/Deploy", "vynd_volume_hidden=true"});
    EXPECT_EQ(alerts, std::vector<std::string>{kSuccess});
    EXPECT_TRUE(onServer("Packages"));
    EXPECT_FALSE(onServer(".VolumeIcon.icns"));
    // No credentials configured: a guest mount.
    auto lines = box.callLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "/usr/sbin/mount.cifs //server/Deploy /Volumes/Deploy -o "
              "guest,uid=0,gid=0,file_mode=0600,dir_mode=0700");
}

TEST_F(ShareSetupSandbox, EncipheredCredentialsAreDecipheredForTheMount) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    auto user = vynd::PasswordValueTransformer::encode("admin");
    auto pass = vynd::PasswordValueTransformer::encode("pa ss");
    ASSERT_TRUE(user && pass);
    auto alerts = setup({"vynd_host=smb://server/Deploy Share", "vynd_encrypt_pass=true",
                         "vynd_username=" + *user, "vynd_passwd=" + *pass});
    EXPECT_EQ(alerts, std::vector<std::string>{kSuccess});
    EXPECT_EQ(box.readFile("/tmp/cred"), "username=admin\n");
    EXPECT_EQ(box.readFile("/tmp/pw"), "pa ss\n");
    auto calls = box.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][1], "//server/Deploy Share");
    EXPECT_EQ(calls[0][2], "/Volumes/Deploy Share");
}

TEST_F(ShareSetupSandbox, EmptyEncipheredUserNameMountsWithoutOne) {
    box.addStub("/usr/bin/sshfs",
                "cat > /tmp/input; mkdir -p /tmp/server; "
                "mount --bind /tmp/server \"$2\"");
    auto pass = vynd::PasswordValueTransformer::encode("pw");
    ASSERT_TRUE(pass);
    auto alerts = setup({"vynd_host=sftp://files/srv/deploy", "vynd_encrypt_pass=true",
                         "vynd_username=", "vynd_passwd=" + *pass});
    EXPECT_EQ(alerts, std::vector<std::string>{kSuccess});
    auto lines = box.callLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "/usr/bin/sshfs files:/srv/deploy /Volumes/deploy -o password_stdin");
    EXPECT_EQ(box.readFile("/tmp/input"), "pw\n");
}

TEST_F(ShareSetupSandbox, FailedMountChangesNothing) {
    box.addStub("/usr/sbin/mount.cifs", "mkdir -p /tmp/server; exit 32");
    auto alerts = setup({"vynd_host=smb://server/Deploy"});
    EXPECT_EQ(alerts,
              std::vector<std::string>{"Unable to mount share.|Check host path, user name, and "
                                       "password.\\nError: 32\\n\\n/usr/sbin/mount.cifs "
                                       "ended with status 32"});
    EXPECT_FALSE(onServer("Applications"));
    EXPECT_FALSE(box.exists("/Volumes/Deploy"));
}

TEST_F(ShareSetupSandbox, ShareWithoutAHostIsNeverMounted) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    for (const char* host : {"vynd_host=afp:/share", "vynd_host=smb:///share", "vynd_host=smb:"}) {
        auto alerts = setup({host});
        EXPECT_EQ(alerts, std::vector<std::string>{"Invalid host path|Check and retype host path."})
            << host;
    }
    EXPECT_TRUE(box.calls().empty());
    EXPECT_FALSE(box.exists("/Volumes/share"));
}

TEST_F(ShareSetupSandbox, BusyVolumeNamesTheProcessThatHoldsIt) {
    box.addStub("/usr/sbin/mount.cifs",
                std::string(kMountByBinding) +
                    " && { (cd \"$2\" && exec sleep 30) </dev/null >/dev/null 2>&1 & }");
    auto alerts = setup({"vynd_host=smb://server/Deploy"});
    EXPECT_EQ(alerts, std::vector<std::string>{"Unable to unmount share|Still in use by sleep"});
    // The folders were made before the unmount was refused.
    EXPECT_TRUE(onServer("Users"));
}

TEST_F(ShareSetupSandbox, RefusedUnmountWithoutAHolderGivesItsError) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    box.addStub("/usr/bin/umount", "exit 32");
    auto alerts = setup({"vynd_host=smb://server/Deploy"});
    EXPECT_EQ(alerts, std::vector<std::string>{
                          "Unable to unmount share|Error: 32\\n\\numount could not unmount "
                          "/Volumes/Deploy, which stays mounted; unmount it by hand."});
}

TEST_F(ShareSetupSandbox, AlreadyMountedShareIsUsedAsItIs) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    box.mkdirs("/tmp/server");
    box.mkdirs("/Volumes/Deploy");
    // A mount whose source is the share's, as the kernel would show it.
    auto r = box.run({"/bin/sh", "-c",
                      "mount -t tmpfs //server/Deploy /tmp/server && "
                      "mount --bind /tmp/server /Volumes/Deploy && " VYND_SHARE_SETUP_DRIVER
                      " /tmp/icon.png vynd_host=smb://server/Deploy && ls /tmp/server"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto lines = vynd::test::split_lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2),
              (std::vector<std::string>{"saved", kSuccess}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Library"), lines.end());
    // The stand-in for the mount helper was not needed; only the test's own mount ran.
    for (const auto& line : box.callLines()) EXPECT_EQ(line.find("mount.cifs"), std::string::npos);
}

}  // namespace

TEST_F(ShareSetupSandbox, AnRsyncDaemonGetsItsFoldersSentWithThePasswordInAFile) {
    if (access("/usr/bin/rsync", X_OK) != 0)
        GTEST_SKIP() << "rsync is not installed";
    vynd::test::RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start("s3cr$t", &why, false)) << why;
    box.mkdirs("/home/deploy/Users");
    const std::string host =
        "vynd_host=rsync://127.0.0.1:" + std::to_string(server.port()) + "/deploy";
    auto alerts = setup({host, "vynd_username=fleet", "vynd_passwd=s3cr$t"});
    EXPECT_EQ(alerts, std::vector<std::string>{kSuccess});
    for (const char* name : {"Applications", "Users", "Library", "Packages"})
        EXPECT_TRUE(box.exists(std::string("/home/deploy/") + name)) << name;
    EXPECT_FALSE(box.exists("/home/deploy/.VolumeIcon.icns"));

    alerts = setup({host, "vynd_username=fleet", "vynd_passwd=wrong"});
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].rfind("Unable to mount share.|", 0), 0u) << alerts[0];
}

// A name holding ".." is refused alike on a mounted share and on one rsync
// reaches: a folder alert with the path it would have had, nothing made
// for it, and the other folders made.
TEST_F(ShareSetupSandbox, RefusedFolderNamesAreToldAlikeAndNothingIsMade) {
    if (access("/usr/bin/rsync", X_OK) != 0)
        GTEST_SKIP() << "rsync is not installed";
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    vynd::test::RsyncDaemon server(box);
    std::string why;
    ASSERT_TRUE(server.start("s3cr$t", &why, false)) << why;
    box.mkdirs("/home/deploy");
    const std::string daemon = "rsync://127.0.0.1:" + std::to_string(server.port()) + "/deploy";
    const std::vector<std::string> names = {"vynd_app_path=../outside",
                                            "vynd_library_path=a/../../outside2"};
    for (const auto& [host, root] :
         {std::pair<std::string, std::string>{"smb://server/Deploy", "/Volumes/Deploy"},
          {daemon, daemon}}) {
        std::vector<std::string> settings = {"vynd_host=" + host, "vynd_username=fleet",
                                             "vynd_passwd=s3cr$t"};
        settings.insert(settings.end(), names.begin(), names.end());
        EXPECT_EQ(setup(settings),
                  (std::vector<std::string>{
                      "Problem Creating Directory|" + root + "/../outside",
                      "Problem Creating Directory|" + root + "/a/../../outside2", kSuccess}))
            << host;
    }
    for (const char* made : {"/tmp/server/Users", "/tmp/server/Packages", "/home/deploy/Users",
                             "/home/deploy/Packages"})
        EXPECT_TRUE(box.exists(made)) << made;
    for (const char* outside :
         {"/tmp/outside", "/tmp/outside2", "/tmp/server/a", "/Volumes/outside", "/home/outside",
          "/home/outside2", "/home/deploy/a"})
        EXPECT_FALSE(box.exists(outside)) << outside;
}

// A share writer (uid 1500) made the Applications folder, the first folder
// of an area's path and the volume icon links to places outside the share:
// on a mounted share and in a folder a file URL names, setup makes nothing
// through them and names each folder it could not make.
TEST_F(ShareSetupSandbox, LinksAShareWriterPutInTheShareAreNotFollowed) {
    box.addStub("/usr/sbin/mount.cifs", kMountByBinding);
    box.writeFile("/tmp/outside/victim", "kept\n");
    for (const char* share : {"/tmp/server", "/tmp/files"}) {
        box.mkdirs(share);
        ASSERT_EQ(chown(box.path(share).c_str(), 1500, 1500), 0);
        const std::string s = share;
        auto r = box.run_as_user(
            {"/bin/sh", "-c",
             "ln -s /tmp/outside " + s + "/Applications && ln -s /tmp/outside " + s +
                 "/lnk && ln -s /tmp/outside/victim " + s + "/.VolumeIcon.icns"},
            1500);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const char kLink[] = " is a link, which setup does not follow: nothing was made through it.";
    for (const auto& [host, root] :
         {std::pair<std::string, std::string>{"smb://server/Deploy", "/Volumes/Deploy"},
          {"file:///tmp/files", "/tmp/files"}}) {
        EXPECT_EQ(
            setup(
                {"vynd_host=" + host, "vynd_volume_hidden=false", "vynd_library_path=lnk/Library"}),
            (std::vector<std::string>{
                "Problem Creating Directory|" + root + "/Applications\\n\\n" + root +
                    "/Applications" + kLink,
                "Problem Creating Directory|" + root + "/lnk/Library\\n\\n" + root + "/lnk" + kLink,
                kSuccess}))
            << host;
    }
    std::vector<std::string> outside;
    for (const auto& e : std::filesystem::directory_iterator(box.path("/tmp/outside")))
        outside.push_back(e.path().filename().string());
    EXPECT_EQ(outside, std::vector<std::string>{"victim"});
    EXPECT_EQ(box.readFile("/tmp/outside/victim"), "kept\n");
    EXPECT_TRUE(onServer("Users") && box.exists("/tmp/files/Packages"));
}

namespace {

// Whether the host process is there and not yet ended.
bool alive(pid_t pid) {
    const std::string stat = vynd::test::read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// What the sandbox folder holds whose name begins with the prefix.
std::vector<std::string> named(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(e.path().filename().string());
    return out;
}

template <typename Done>
bool within_ten_seconds(Done done) {
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

}  // namespace

// SIGTERM while rsync waits on a server that took the connection and never
// answers: setupshare stops rsync, removes the password file and its scratch
// folder, and its answer says it was stopped. Over ssh it also ends the
// connection master that ssh keeps in the background for a minute.
TEST_F(ShareSetupSandbox, StoppedSetupLeavesNothingBehindAndSaysSo) {
    if (access("/usr/bin/rsync", X_OK) != 0)
        GTEST_SKIP() << "rsync is not installed";
    // Starts setupshare with the settings, waits for `ready`, stops it and
    // checks that it answered so and left no rsync, secret or scratch folder.
    auto stopped = [&](const std::vector<std::pair<const char*, std::string>>& settings,
                       const std::function<bool()>& ready) {
        vynd::Plist request(plist_new_dict());
        for (const auto& [key, value] : settings)
            plist_dict_set_item(request.get(), key, plist_new_string(value.c_str()));
        box.writeFile("/tmp/request", vynd::property_list_xml(request.get()));
        std::filesystem::remove(box.path("/tmp/status"));
        // The sandbox lives on after setupshare, so that a child it left
        // would still be seen running.
        auto running = box.start({"/bin/sh", "-c",
                                  "'" + Sandbox::program("setupshare") +
                                      "' </tmp/request; echo $? >/tmp/status; exec sleep 60"});
        ASSERT_TRUE(ready()) << "rsync never reached the server";
        const std::optional<pid_t> setupshare = box.findProcess(running, "setupshare");
        const std::optional<pid_t> rsync = box.findProcess(running, "rsync");
        ASSERT_TRUE(setupshare && rsync);
        ASSERT_EQ(named(box.path("/tmp"), "vynd-folders-").size(), 1u);

        kill(*setupshare, SIGTERM);
        EXPECT_TRUE(within_ten_seconds([&] { return box.exists("/tmp/status"); }));
        EXPECT_TRUE(within_ten_seconds([&] { return !alive(*rsync); }));
        if (auto sleeper = box.findProcess(running, "sleep"))
            kill(*sleeper, SIGKILL);
        auto r = box.wait(running);
        EXPECT_EQ(box.readFile("/tmp/status"), "0\n");
        EXPECT_EQ(r.out,
                  vynd::alertLine(vynd::kSetupStoppedTitle,
                                  QString(vynd::kSetupStoppedMessage).replace("%s", "SIGTERM")) +
                      "\n");
        EXPECT_TRUE(named(box.path("/run"), "vynd-credentials-").empty());
        EXPECT_TRUE(named(box.path("/tmp"), "vynd-folders-").empty());
    };

    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    int connection = -1;
    stopped({{"vynd_host", "rsync://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/deploy"},
             {"vynd_username", "fleet"},
             {"vynd_passwd", "s3cr$t"}},
            [&] {
                pollfd waiting{listener, POLLIN, 0};
                if (poll(&waiting, 1, 10000) != 1)
                    return false;
                connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                return named(box.path("/run"), "vynd-credentials-").size() == 1u;
            });
    close(connection);
    close(listener);

    // The server takes the login and runs, instead of rsync, what never answers.
    vynd::test::SshServer server(box);
    std::string why;
    ASSERT_TRUE(server.start("", true, &why)) << why;
    box.writeFile("/home/sshd/authorized_keys",
                  "command=\"exec sleep 600\" " +
                      box.readFile(std::string(vynd::test::SshServer::kClientKey) + ".pub"));
    // The master's socket, once it is listening under its own name.
    auto master = [&] {
        std::vector<std::string> sockets;
        if (box.exists("/run/vynd-ssh"))
            for (const std::string& name : named(box.path("/run/vynd-ssh"), ""))
                if (name.find('.') == std::string::npos)
                    sockets.push_back(name);
        return sockets;
    };
    stopped(
        {{"vynd_host", "ssh://root@127.0.0.1:" + std::to_string(server.port()) + "/home/deploy"},
         {"vynd_ssh_key_file", vynd::test::SshServer::kClientKey}},
        [&] { return within_ten_seconds([&] { return master().size() == 1u; }); });
    EXPECT_TRUE(within_ten_seconds([&] { return master().empty(); }));

    // A setup left to end, with the key it was given, ends the master too.
    box.writeFile("/home/sshd/authorized_keys",
                  box.readFile(std::string(vynd::test::SshServer::kClientKey) + ".pub"));
    box.mkdirs("/home/deploy");
    auto r = box.run({"/bin/sh", "-c", "'" + Sandbox::program("setupshare") + "' </tmp/request"});
    EXPECT_EQ(r.out, vynd::alertLine(vynd::kSetupDoneTitle, vynd::kSetupDoneMessage) + "\n");
    EXPECT_TRUE(box.exists("/home/deploy/Packages"));
    EXPECT_TRUE(master().empty());
}
