// Shares that rsync reaches itself, with nothing mounted.
#include "platform/share/remote_share.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/failure.h"
#include "platform/leftover_files.h"
#include "platform/process.h"

namespace vynd {

namespace {

// A host name or address that neither rsync nor ssh can take for an option
// or for more than a host: letters, digits, ".", "-", "_", and the brackets
// and colons of an IPv6 address.
bool plain_host(const std::string& host) {
    if (host.empty() || host.front() == '-')
        return false;
    for (unsigned char c : host) {
        if (!isalnum(c) && c != '.' && c != '-' && c != '_' && c != ':' && c != '[' && c != ']')
            return false;
    }
    return true;
}

// An ssh configuration value in double quotes, which it may not hold.
bool quotable(const std::string& value) {
    return value.find('"') == std::string::npos && !has_control_characters(value);
}

// "drwxr-xr-x          4,096 2026/12/10 13:11:25 name": the mode, the
// size, the date and time, then the name after one space.
std::optional<RemoteItem> parse_listing_line(const std::string& line) {
    if (line.size() < 10 || std::string("-dlpscb").find(line[0]) == std::string::npos)
        return std::nullopt;
    size_t pos = line.find_first_not_of(' ', 10);
    if (pos == 10 || pos == std::string::npos)
        return std::nullopt;
    pos = line.find(' ', pos);    // after the size
    const size_t kDateTime = 20;  // "2026/12/10 13:11:25 "
    if (pos == std::string::npos || line.size() <= pos + 1 + kDateTime || line[pos + 5] != '/' ||
        line[pos + 14] != ':' || line[pos + kDateTime] != ' ')
        return std::nullopt;
    RemoteItem item;
    item.type = line[0];
    item.name = line.substr(pos + 1 + kDateTime);
    return item;
}

// Where the connections to ssh servers are kept open for the run's later
// calls: root's alone, or not used.
constexpr const char* kControlFolder = "/run/vynd-ssh";

bool control_folder_ready() {
    mkdir(kControlFolder, 0700);
    struct stat st;
    return lstat(kControlFolder, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// The server as rsync hands it to ssh: an IPv6 address without brackets.
std::string ssh_host(const RemoteShare& share) {
    std::string host = share.root.substr(0, share.root.find(":/"));
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

// The connection master ControlPersist puts in the background is no child
// of this process, so nothing would end it when the process is stopped: it
// stays for its minute. For each share it may serve, the command that ends
// it, naming its socket as ssh resolves it, so that it needs none of the
// configuration files a stop removes.
std::mutex masters_lock;
std::map<std::string, std::vector<std::string>> masters;

std::string master_key(const RemoteShare& share) {
    return share.root + '\n' + share.user.value_or("") + '\n' +
           (share.port ? std::to_string(*share.port) : "") + '\n' + share.key_file;
}

void note_master(const RemoteShare& share, const std::string& config) {
    const std::string key = master_key(share);
    {
        std::lock_guard<std::mutex> hold(masters_lock);
        if (masters.count(key))
            return;
    }
    std::string socket;
    (void)run_process_lines(
        {"/usr/bin/ssh", "-F", config, "-T", "-G", ssh_host(share)},
        [&](std::string_view line) {
            if (line.substr(0, 12) == "controlpath ")
                socket = std::string(line.substr(12));
        },
        true);
    if (socket.empty() || socket == "none")
        return;
    std::vector<std::string> end_master = {"/usr/bin/ssh", "-F", "/dev/null", "-o",
                                           "BatchMode yes"};
    end_master.insert(end_master.end(),
                      {"-o", "ControlPath " + socket, "-O", "exit", ssh_host(share)});
    std::lock_guard<std::mutex> hold(masters_lock);
    if (masters.emplace(key, end_master).second)
        leftover_command_made(end_master);
}

}  // namespace

bool is_remote_share(const ShareUrl& url) {
    return url.scheme == "rsync" || url.scheme == "ssh";
}

std::optional<RemoteShare> remote_share(const ShareUrl& url, const std::optional<std::string>& user,
                                        const std::optional<std::string>& password,
                                        const std::string& key_file, std::string* err) {
    RemoteShare share;
    share.scheme = url.scheme;
    share.port = url.port;
    share.user = user;
    if (!share.user && !url.user.empty())
        share.user = url.user;
    if (!plain_host(url.host)) {
        fail(err, "the server name " + url.host + " is not a plain host name or address");
        return std::nullopt;
    }
    if (has_control_characters(url.path) || (share.user && has_control_characters(*share.user))) {
        fail(err, "the share path or user name holds a control character");
        return std::nullopt;
    }
    std::string path = url.path.empty() ? "/" : url.path;
    if (share.scheme == "rsync") {
        size_t module_end = path.find('/', 1);
        if (path.size() < 2 || module_end == 1) {
            fail(err, "an rsync:// share names a module: rsync://server/module");
            return std::nullopt;
        }
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        share.password = password;
        if (share.password && share.password->find('\n') != std::string::npos) {
            fail(err, "the password holds a line break");
            return std::nullopt;
        }
        share.root =
            "rsync://" + url.host + (url.port ? ":" + std::to_string(*url.port) : "") + path;
    } else {
        if (share.user && !quotable(*share.user)) {
            fail(err, "the user name holds a double quote");
            return std::nullopt;
        }
        if (!quotable(key_file)) {
            fail(err, "the ssh key file's path holds a double quote");
            return std::nullopt;
        }
        share.key_file = key_file;
        share.root = url.host + ":" + path;
    }
    return share;
}

bool RemoteAccess::open(const RemoteShare& share, std::string* err) {
    options.clear();
    environment.clear();
    if (share.scheme == "rsync") {
        // A daemon that stops answering must not hold the run for ever.
        // The exchange before the file list is many small messages each
        // way; left to Nagle's algorithm, each waits out the peer's delayed
        // acknowledgement, some 40 ms a message and most of a short run.
        options = {"--contimeout=30", "--timeout=600", "--sockopts=TCP_NODELAY"};
        if (share.user)
            environment.push_back("USER=" + *share.user);
        if (share.password) {
            if (!password_.create(*share.password + "\n", err))
                return false;
            options.push_back("--password-file=" + password_.path());
        }
        return true;
    }
    // The server's key must be known already and nothing may prompt: a
    // run has no one to answer. Options given first win over the system's.
    std::string config;
    if (share.user)
        config += "User \"" + *share.user + "\"\n";
    if (share.port)
        config += "Port " + std::to_string(*share.port) + "\n";
    config +=
        "BatchMode yes\n"
        "StrictHostKeyChecking yes\n"
        "PasswordAuthentication no\n"
        "KbdInteractiveAuthentication no\n"
        "ConnectTimeout 30\n"
        "ServerAliveInterval 15\n"
        "ServerAliveCountMax 4\n";
    if (!share.key_file.empty())
        config += "IdentityFile \"" + share.key_file + "\"\nIdentitiesOnly yes\n";
    // One login a run, not one a call: each further call is a new channel
    // of the same connection, which costs the server little.
    const bool master = control_folder_ready();
    if (master)
        config += "ControlMaster auto\nControlPath " + std::string(kControlFolder) +
                  "/%C\nControlPersist 60\n";
    config += "Include /etc/ssh/ssh_config\n";
    if (!ssh_config_.create(config, err))
        return false;
    if (master)
        note_master(share, ssh_config_.path());
    options = {"-e", "/usr/bin/ssh -F " + ssh_config_.path()};
    return true;
}

std::optional<std::vector<RemoteItem>> list_remote_folder(const RemoteShare& share,
                                                          const std::string& folder,
                                                          std::string* err, int* status) {
    RemoteAccess access;
    *status = -1;
    if (!access.open(share, err))
        return std::nullopt;
    std::vector<std::string> argv = {"/usr/bin/rsync", "--no-motd", "--list-only"};
    argv.insert(argv.end(), access.options.begin(), access.options.end());
    argv.push_back(folder + "/");
    std::vector<RemoteItem> items;
    std::string said;
    *status = run_process_lines(
        argv,
        [&](std::string_view text) {
            std::string line(text);
            if (auto item = parse_listing_line(line)) {
                if (item->name != ".")
                    items.push_back(std::move(*item));
            } else if (!line.empty()) {
                said += (said.empty() ? "" : "; ") + line;
            }
        },
        true, {}, access.environment);
    if (*status != 0) {
        fail(err, said.empty() ? "rsync ended with status " + std::to_string(*status) : said);
        return std::nullopt;
    }
    return items;
}

void close_remote_share(const RemoteShare& share) {
    std::vector<std::string> end_master;
    {
        std::lock_guard<std::mutex> hold(masters_lock);
        auto it = masters.find(master_key(share));
        if (share.scheme != "ssh" || it == masters.end())
            return;
        end_master = std::move(it->second);
        masters.erase(it);
    }
    (void)run_process_lines(
        end_master, [](std::string_view) {}, true);
    leftover_command_gone(end_master);
}

bool create_remote_folders(const RemoteShare& share, const std::vector<std::string>& folders,
                           std::string* err, int* status) {
    namespace fs = std::filesystem;
    *status = -1;
    char tmpl[] = "/tmp/vynd-folders-XXXXXX";
    if (!mkdtemp(tmpl))
        return fail(err, "cannot make a temporary folder");
    const fs::path tree = tmpl;
    leftover_folder_made(tree);
    std::error_code ec;
    bool made = true;
    for (const auto& folder : folders) {
        fs::path relative = fs::path(folder).relative_path().lexically_normal();
        if (relative.empty() || *relative.begin() == "..")
            continue;
        made = fs::create_directories(tree / relative, ec) && made;
    }
    RemoteAccess access;
    bool ok = false;
    if (!made) {
        fail(err, "cannot make the folders to send");
    } else if (access.open(share, err)) {
        std::vector<std::string> argv = {"/usr/bin/rsync", "--no-motd", "-r"};
        argv.insert(argv.end(), access.options.begin(), access.options.end());
        argv.push_back(tree.string() + "/");
        argv.push_back(share.root + "/");
        std::string said;
        *status = run_process_lines(
            argv,
            [&](std::string_view line) { said += (said.empty() ? "" : "; ") + std::string(line); },
            true, {}, access.environment);
        ok = *status == 0;
        if (!ok)
            fail(err, said.empty() ? "rsync ended with status " + std::to_string(*status) : said);
    }
    fs::remove_all(tree, ec);
    leftover_folder_gone(tree);
    return ok;
}

}  // namespace vynd
