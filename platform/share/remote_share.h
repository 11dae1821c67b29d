// Shares that rsync reaches itself, with nothing mounted: an rsync daemon
// (rsync://server[:port]/module[/path]) or rsync over ssh
// (ssh://[user@]server[:port]/path).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/secret_file.h"
#include "platform/share/share_url.h"

namespace vynd {

// True for the schemes "rsync" and "ssh".
[[nodiscard]] bool is_remote_share(const ShareUrl& url);

struct RemoteShare {
    std::string scheme;  // "rsync" or "ssh"
    // The share's root as rsync names it: "rsync://server:port/module/path"
    // or "server:/path" (no user: that reaches rsync privately).
    std::string root;
    std::optional<std::string> user;
    std::optional<std::string> password;  // rsync daemons only
    std::optional<int> port;
    std::string key_file;  // ssh: the private key; empty for root's own keys
};

// Takes a network URL of a remote scheme apart. The user is the settings'
// one, else the URL's. No value, with the reason, for a URL that rsync or
// ssh could take for an option or that names no module.
[[nodiscard]] std::optional<RemoteShare> remote_share(const ShareUrl& url,
                                                      const std::optional<std::string>& user,
                                                      const std::optional<std::string>& password,
                                                      const std::string& key_file,
                                                      std::string* err);

// What one rsync run needs to reach the share: options to put before the
// operands and variables for its environment. The password (rsync daemon)
// and the ssh configuration with the user name lie in root-only files that
// live as long as this.
class RemoteAccess {
  public:
    [[nodiscard]] bool open(const RemoteShare& share, std::string* err);
    std::vector<std::string> options;
    std::vector<std::string> environment;

  private:
    SecretFile password_;
    SecretFile ssh_config_;
};

struct RemoteItem {
    std::string name;  // as rsync prints it, its "\#ooo" escapes kept
    char type = '-';   // the first character of its mode: 'd', 'l', '-', ...
};

// Lists the top level of a folder of the share ("." left out). No value
// when rsync cannot: the reason is what rsync or ssh said, and the status
// rsync's exit status.
[[nodiscard]] std::optional<std::vector<RemoteItem>> list_remote_folder(const RemoteShare& share,
                                                                        const std::string& folder,
                                                                        std::string* err,
                                                                        int* status);

// Ends the connection kept open for later calls to an ssh server, if any.
void close_remote_share(const RemoteShare& share);

// Makes the folders (paths relative to the share's root) on the share,
// leaving those that exist as they are, by sending them from an empty tree.
// False with what rsync said and its exit status (-1: not run).
[[nodiscard]] bool create_remote_folders(const RemoteShare& share,
                                         const std::vector<std::string>& folders, std::string* err,
                                         int* status);

}  // namespace vynd
