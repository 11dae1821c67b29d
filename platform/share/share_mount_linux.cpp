// Mounting network shares with the helper program for their URL scheme.
#include "platform/share/share_mount.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/failure.h"
#include "platform/process.h"
#include "platform/secret_file.h"
#include "platform/share/share_url.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

// One item of a davfs2 secrets line: blanks, "#", quotes and backslashes
// escaped with a backslash, so that any name or password stays one item.
std::string davfs_secrets_item(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '#' || c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string authority(const MountRequest& r) {
    return r.port ? r.host + ":" + std::to_string(*r.port) : r.host;
}

std::string unbracketed(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

// The source as each helper is given it, which is also what the kernel
// shows for the mount.
std::string mount_source(const MountRequest& r) {
    const std::string& s = r.scheme;
    if (s == "smb" || s == "cifs")
        return "//" + unbracketed(r.host) + r.path;
    if (s == "nfs" || s == "sftp" || s == "ssh")
        return r.host + ":" + (r.path.empty() ? "/" : r.path);
    std::string web = (s == "dav" || s == "http") ? "http" : "https";
    return web + "://" + authority(r) + r.escaped_path;
}

// Only root may read a mounted share: every user's folder on it is there.
std::string owner_only_options() {
    return "uid=" + std::to_string(geteuid()) + ",gid=" + std::to_string(getegid()) +
           ",file_mode=0600,dir_mode=0700";
}

std::string without_trailing_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string decode_mountinfo_field(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] >= '0' && s[i + 1] <= '3') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

bool mount_share(const MountRequest& r, std::string* err) {
    int ignored = 0;
    return mount_share(r, err, &ignored);
}

bool mount_share(const MountRequest& r, std::string* err, int* error_code) {
    *error_code = -1;
    const std::string user = r.user.value_or("");
    const std::string password = r.password.value_or("");
    if (has_control_characters(user) || password.find('\n') != std::string::npos ||
        password.find('\0') != std::string::npos)
        return fail(err, "the user name or password holds a line break or control character");
    std::vector<std::string> argv;
    std::string input;
    std::vector<std::string> env;
    SecretFile secret;
    SecretFile config;
    const std::string& s = r.scheme;
    if (s == "smb" || s == "cifs") {
        std::string options;
        if (r.user || r.password) {
            // The password never lies in a file: mount.cifs reads it from
            // the descriptor PASSWD_FD names, here its standard input.
            if (!secret.create("username=" + user + "\n", err))
                return false;
            options = "credentials=" + secret.path();
            input = password + "\n";
            env.push_back("PASSWD_FD=0");
        } else {
            options = "guest";
        }
        if (r.port)
            options += ",port=" + std::to_string(*r.port);
        options += "," + owner_only_options();
        argv = {"/usr/sbin/mount.cifs", mount_source(r), r.mount_point, "-o", options};
    } else if (s == "nfs") {
        argv = {"/usr/sbin/mount.nfs", mount_source(r), r.mount_point};
        if (r.port) {
            argv.push_back("-o");
            argv.push_back("port=" + std::to_string(*r.port));
        }
    } else if (s == "sftp" || s == "ssh") {
        // Without allow_other a FUSE mount is its mounting user's alone.
        argv = {"/usr/bin/sshfs", mount_source(r), r.mount_point};
        if (r.port) {
            argv.push_back("-p");
            argv.push_back(std::to_string(*r.port));
        }
        if (r.user) {
            // ssh takes the user from a private configuration file; the
            // system's own configuration still applies after it.
            if (user.find('"') != std::string::npos)
                return fail(err, "the user name holds a double quote");
            if (!secret.create("User \"" + user + "\"\nInclude /etc/ssh/ssh_config\n", err))
                return false;
            argv.push_back("-F");
            argv.push_back(secret.path());
        }
        if (r.password) {
            argv.push_back("-o");
            argv.push_back("password_stdin");
            input = password + "\n";
        }
    } else if (s == "dav" || s == "davs" || s == "http" || s == "https") {
        argv = {"/usr/sbin/mount.davfs", mount_source(r), r.mount_point};
        std::string options = owner_only_options();
        // mount.davfs takes credentials from a secrets file (it prompts only
        // on a terminal): a private one, named by a private configuration
        // file given with conf=, both 0600 and removed after the mount.
        if (r.user || r.password) {
            if (!secret.create(davfs_secrets_item(r.mount_point) + " " + davfs_secrets_item(user) +
                                   " " + davfs_secrets_item(password) + "\n",
                               err))
                return false;
            if (!config.create("secrets " + secret.path() + "\n", err))
                return false;
            options = "conf=" + config.path() + "," + options;
        }
        argv.push_back("-o");
        argv.push_back(options);
    } else {
        return fail(err,
                    "no mount helper for " + (s.empty() ? std::string("this URL") : s + "://"));
    }
    int status = run_process_with_input(argv, input, env);
    *error_code = status;
    if (status != 0) {
        return fail(err, argv[0] + (status < 0 ? std::string(" could not be started")
                                               : " ended with status " + std::to_string(status)));
    }
    if (!is_mount_point(r.mount_point))
        return fail(err, argv[0] + " mounted nothing");
    *error_code = 0;
    return true;
}

std::vector<std::string> remove_leftover_credentials() {
    std::vector<std::string> removed;
    DIR* dir = opendir("/run");
    if (!dir)
        return removed;
    while (struct dirent* e = readdir(dir)) {
        if (strncmp(e->d_name, "vynd-credentials-", 17) != 0)
            continue;
        // A file still locked belongs to a mount in progress.
        const UniqueFd fd(
            openat(dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        bool stale = !fd || flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
        if (stale && unlinkat(dirfd(dir), e->d_name, 0) == 0)
            removed.push_back(std::string("/run/") + e->d_name);
    }
    closedir(dir);
    return removed;
}

bool is_mount_point(const std::string& path) {
    return mount_entry(path).has_value();
}

std::optional<MountEntry> mount_entry(const std::string& path) {
    std::ifstream in("/proc/self/mountinfo");
    std::optional<MountEntry> found;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, mount_point;
        if (!(fields >> id >> parent >> dev >> root >> mount_point))
            continue;
        if (decode_mountinfo_field(mount_point) != path)
            continue;
        // Optional fields end at a lone "-"; the type and the source follow.
        MountEntry entry;
        std::string field;
        while (fields >> field && field != "-") {
        }
        fields >> entry.type >> entry.source >> entry.options;
        entry.source = decode_mountinfo_field(entry.source);
        found = entry;  // a later line lies on top of an earlier one
    }
    return found;
}

bool mount_is_share(const MountEntry& entry, const MountRequest& r) {
    return without_trailing_slashes(entry.source) == without_trailing_slashes(mount_source(r));
}

bool unmount_share(const std::string& mount_point) {
    int ignored = 0;
    return unmount_share(mount_point, &ignored);
}

bool unmount_share(const std::string& mount_point, int* error_code) {
    int status = run_process({"/usr/bin/umount", mount_point});
    if (!is_mount_point(mount_point)) {
        *error_code = 0;
        return true;
    }
    // Still mounted although umount said it worked: something was mounted twice.
    *error_code = status != 0 ? status : -1;
    return false;
}

}  // namespace vynd
