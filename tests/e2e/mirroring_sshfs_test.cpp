// A real network share: a private sshd on the loopback address serves a
// folder over SFTP, and the daemon mounts it through sshfs and FUSE with a
// user name and password, mirrors from it and unmounts it at shutdown.
#include <arpa/inet.h>
#include <crypt.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "prefs_builder.h"
#include "sandbox.h"

using vynd::test::Sandbox;

namespace {

const char kPassword[] = "s3cret pass $(x) `y`";

// A port on 127.0.0.1 that nothing listens on at the moment.
int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool accepts_connections(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

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

// sshd runs in the sandbox too, so that it checks the password against the
// sandbox's own account files and never against this machine's.
class SftpServer {
  public:
    explicit SftpServer(Sandbox& box) : box_(box) {}
    ~SftpServer() { stop(); }

    bool start(std::string* why) {
        port_ = free_port();
        box_.mkdirs("/home/sshd");
        box_.mkdirs("/run/sshd");
        auto keygen = box_.run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C",
                                "vynd-test", "-f", "/home/sshd/host_key"});
        if (keygen.status != 0) {
            *why = "ssh-keygen: " + keygen.err;
            return false;
        }
        struct crypt_data data {};
        const char* hash = crypt_r(kPassword, "$6$vyndtestsalt$", &data);
        if (!hash || hash[0] == '*') {
            *why = "crypt failed";
            return false;
        }
        box_.setEtcFile("shadow", "root:" + std::string(hash) +
                                      ":19000:0:99999:7:::\nsshd:*:19000:0:99999:7:::\n");
        box_.writeFile("/home/sshd/sshd_config",
                       "ListenAddress 127.0.0.1\n"
                       "Port " +
                           std::to_string(port_) +
                           "\n"
                           "HostKey /home/sshd/host_key\n"
                           "PidFile none\n"
                           "UsePAM no\n"
                           "PermitRootLogin yes\n"
                           "PasswordAuthentication yes\n"
                           "KbdInteractiveAuthentication no\n"
                           "PubkeyAuthentication no\n"
                           "AuthorizedKeysFile none\n"
                           "StrictModes no\n"
                           "Subsystem sftp internal-sftp\n"
                           "LogLevel VERBOSE\n");
        // The client knows the server's key, as an administrator would set up.
        std::string key = box_.readFile("/home/sshd/host_key.pub");
        key = key.substr(0, key.rfind(' '));
        box_.writeFile("/root/.ssh/known_hosts",
                       "[127.0.0.1]:" + std::to_string(port_) + " " + key + "\n", 0600);
        running_ = box_.start({"/usr/sbin/sshd", "-D", "-e", "-f", "/home/sshd/sshd_config"});
        err_file_ = running_.err_file;
        for (int i = 0; i < 100; ++i) {
            if (accepts_connections(port_))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        *why = "sshd did not start: " + log();
        return false;
    }

    void stop() {
        if (running_.pid < 0)
            return;
        kill(running_.pid, SIGTERM);
        result_ = box_.wait(running_);
        running_.pid = -1;
    }

    [[nodiscard]] int port() const { return port_; }
    // What sshd wrote to its standard error (-e): connections, logins.
    [[nodiscard]] std::string log() const {
        std::ifstream in(err_file_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    Sandbox& box_;
    int port_ = -1;
    Sandbox::Running running_;
    Sandbox::Result result_;
    std::string err_file_;
};

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
    SftpServer server(box);
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;

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
    SftpServer server(box);
    std::string why;
    ASSERT_TRUE(server.start(&why)) << why;
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
