// Real servers of a share on the loopback address, run inside a sandbox.
#include "tests/support/share_servers.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

namespace vynd::test {

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

bool ShareServer::launch(const std::vector<std::string>& argv, std::string* why) {
    running_ = box_.start(argv);
    err_file_ = running_.err_file;
    for (int i = 0; i < 100; ++i) {
        if (accepts_connections(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stop();
    *why = argv[0] + " did not start: " + log();
    return false;
}

void ShareServer::stop() {
    if (running_.pid < 0)
        return;
    kill(running_.pid, SIGTERM);
    (void)box_.wait(running_);
    running_.pid = -1;
}

std::string ShareServer::log() const {
    std::ifstream in(err_file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RsyncDaemon::log() const {
    return box_.readFile(kLog);
}

bool RsyncDaemon::start(const std::string& password, std::string* why, bool read_only,
                        const std::string& global, const std::string& module) {
    box_.mkdirs("/home/deploy");
    box_.writeFile("/home/rsyncd/secrets", "fleet:" + password + "\n", 0600);
    box_.writeFile("/home/rsyncd/rsyncd.conf",
                   "uid = 0\n"
                   "gid = 0\n"
                   "socket options = TCP_NODELAY\n" +
                       global +
                       "[deploy]\n"
                       "path = /home/deploy\n"
                       "read only = " +
                       std::string(read_only ? "yes" : "no") +
                       "\n"
                       "auth users = fleet\n"
                       "secrets file = /home/rsyncd/secrets\n" +
                       module);
    return launch({"/usr/bin/rsync", "--daemon", "--no-detach", "--log-file=" + std::string(kLog),
                   "--config=/home/rsyncd/rsyncd.conf", "--address=127.0.0.1",
                   "--port=" + std::to_string(port_)},
                  why);
}

bool SshServer::start(const std::string& password, bool known_host, std::string* why) {
    box_.mkdirs("/home/sshd");
    box_.mkdirs("/home/client");
    box_.mkdirs("/run/sshd");
    for (const char* key : {"/home/sshd/host_key", kClientKey}) {
        auto keygen = box_.run(
            {"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "vynd-test", "-f", key});
        if (keygen.status != 0) {
            *why = "ssh-keygen: " + keygen.err;
            return false;
        }
    }
    std::string shadow = "*";
    if (!password.empty()) {
        struct crypt_data data {};
        const char* hash = crypt_r(password.c_str(), "$6$vyndtestsalt$", &data);
        if (!hash || hash[0] == '*') {
            *why = "crypt failed";
            return false;
        }
        shadow = hash;
    }
    box_.setEtcFile("shadow",
                    "root:" + shadow + ":19000:0:99999:7:::\nsshd:*:19000:0:99999:7:::\n");
    box_.writeFile("/home/sshd/authorized_keys",
                   password.empty() ? box_.readFile(std::string(kClientKey) + ".pub") : "");
    const char* yes_no = password.empty() ? "no" : "yes";
    box_.writeFile("/home/sshd/sshd_config",
                   "ListenAddress 127.0.0.1\n"
                   "Port " +
                       std::to_string(port_) +
                       "\n"
                       "HostKey /home/sshd/host_key\n"
                       "PidFile none\n"
                       "UsePAM no\n"
                       "PermitRootLogin yes\n"
                       "PasswordAuthentication " +
                       std::string(yes_no) +
                       "\n"
                       "KbdInteractiveAuthentication no\n"
                       "PubkeyAuthentication " +
                       std::string(password.empty() ? "yes" : "no") +
                       "\n"
                       "AuthorizedKeysFile /home/sshd/authorized_keys\n"
                       "StrictModes no\n"
                       "Subsystem sftp internal-sftp\n"
                       // A fleet logs in at the same moment: the defaults
                       // (10:30:100 unauthenticated, 10 sessions a connection)
                       // would turn computers away.
                       "MaxStartups 200\n"
                       "MaxSessions 50\n"
                       "LogLevel VERBOSE\n");
    if (known_host) {
        // The client knows the server's key, as an administrator would set up.
        std::string key = box_.readFile("/home/sshd/host_key.pub");
        key = key.substr(0, key.rfind(' '));
        box_.writeFile("/root/.ssh/known_hosts",
                       "[127.0.0.1]:" + std::to_string(port_) + " " + key + "\n", 0600);
    }
    return launch({"/usr/sbin/sshd", "-D", "-e", "-f", "/home/sshd/sshd_config"}, why);
}

}  // namespace vynd::test
