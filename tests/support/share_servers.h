// Real servers of a share on the loopback address, run inside a sandbox: an
// rsync daemon and an sshd (SFTP and rsync over ssh).
#pragma once

#include <optional>
#include <string>

#include "tests/support/sandbox.h"

namespace vynd::test {

// A port on 127.0.0.1 that nothing listens on at the moment.
[[nodiscard]] int free_port();
[[nodiscard]] bool accepts_connections(int port);

// A server program started in the sandbox, so that it sees the sandbox's
// files and accounts and never this machine's.
class ShareServer {
  public:
    explicit ShareServer(Sandbox& box) : box_(box) {}
    virtual ~ShareServer() { stop(); }
    ShareServer(const ShareServer&) = delete;
    ShareServer& operator=(const ShareServer&) = delete;

    void stop();
    [[nodiscard]] int port() const { return port_; }
    // What the server wrote to its standard error.
    [[nodiscard]] virtual std::string log() const;
    // The server program's own process (the one that forks per client), as
    // this machine numbers it; no value when it is not running.
    [[nodiscard]] std::optional<pid_t> serverProcess(const std::string& comm) const {
        return box_.findProcess(running_, comm);
    }

  protected:
    // Starts argv on a fresh port (known before) and waits for it to listen.
    bool launch(const std::vector<std::string>& argv, std::string* why);
    Sandbox& box_;
    int port_ = free_port();

  private:
    Sandbox::Running running_;
    std::string err_file_;
};

// rsync --daemon with one module "deploy" of /home/deploy, read only unless
// asked, whose user "fleet" logs in with `password`. `global` lines go before
// the module ("motd file = ..."), `module` lines into it ("use chroot = yes").
class RsyncDaemon : public ShareServer {
  public:
    using ShareServer::ShareServer;
    bool start(const std::string& password, std::string* why, bool read_only = true,
               const std::string& global = "", const std::string& module = "");
    // Its log file: connections, logins, transfers.
    [[nodiscard]] std::string log() const override;

  private:
    static constexpr const char* kLog = "/home/rsyncd/log";
};

// sshd on 127.0.0.1 with a host key made for the test, root logging in with
// `password` (when not empty) or with the key at /home/client/id_ed25519
// (made here). The host key is put in root's known hosts when asked.
class SshServer : public ShareServer {
  public:
    using ShareServer::ShareServer;
    static constexpr const char* kClientKey = "/home/client/id_ed25519";
    bool start(const std::string& password, bool known_host, std::string* why);
};

}  // namespace vynd::test
