// Making the share reachable as a local folder for the run, and letting go.
#include "daemon/vynd/mount.h"

#include <unistd.h>

#include <cstdlib>

#include "daemon/vynd/log.h"
#include "daemon/vynd/path_components.h"
#include "daemon/vynd/prefs.h"
#include "daemon/vynd/rsync_output.h"
#include "platform/share/remote_share.h"
#include "platform/share/share_mount.h"
#include "platform/share/share_url.h"
#include "platform/share/share_volume.h"

namespace vynd {

namespace {

// Anyone on the network path can read and change what such a transport
// carries, and pose as the server: what every computer then installs as
// root. One line a run for that, and one when credentials go along in clear.
void warn_if_open_transport(const ShareUrl& url, const std::optional<MountEntry>& nfs_mount,
                            const Settings& settings) {
    const std::string& s = url.scheme;
    bool open = s == "rsync" || s == "http" || s == "dav";
    if (s == "nfs") {
        // Kerberos (sec=krb5, krb5i, krb5p) authenticates the server.
        open = !nfs_mount || nfs_mount->options.find("sec=krb5") == std::string::npos;
    }
    if (open)
        vynd_log("Warning",
                 "Warning: %s://%s is reached over a transport that neither encrypts nor "
                 "authenticates the server: anyone on the network path can change what is "
                 "installed",
                 s.c_str(), url.host.c_str());
    if ((s == "http" || s == "dav") && (settings.username || settings.passwd))
        vynd_log("Warning", "Warning: the credentials for %s://%s go over plain http, unencrypted",
                 s.c_str(), url.host.c_str());
}

// Reaching the share needs nothing mounted; listing its root shows that the
// server answers, takes the login and has the module and folder.
void reach_remote_share(Share& share, const Settings& settings) {
    const ShareUrl& mountURL = *share.mountURL;
    std::optional<RemoteShare>& remote = share.remote;
    std::string why;
    remote =
        remote_share(mountURL, settings.username, settings.passwd, settings.ssh_key_file, &why);
    if (!remote) {
        vynd_log("Error", "%s", why.c_str());
        vynd_log("Fatal", "Unable to mount share.");
    }
    if (remote->scheme == "ssh" && settings.passwd)
        vynd_log("Info", "The password is not used for ssh:// shares: the server must take a key");
    warn_if_open_transport(mountURL, std::nullopt, settings);
    int status = 0;
    auto items = list_remote_folder(*remote, remote->root, &why, &status);
    if (!items) {
        vynd_log("Error", "%s (rsync status %d)", escape_name(why).c_str(), status);
        vynd_log("Fatal", "Unable to mount share.");
    }
    share.remote_root = std::move(*items);
    ShareUrl root = mountURL;
    root.path = remote->root;
    root.escaped_path = remote->root;
    root.text = remote->root;
    share.volURL = root;
}

}  // namespace

void mount_vol(Share& share, const Settings& settings) {
    const std::optional<std::string>& hostname = settings.hostname;
    std::optional<ShareUrl>& mountURL = share.mountURL;
    std::optional<ShareUrl>& volURL = share.volURL;
    std::optional<std::string> escaped;
    if (hostname)
        escaped = percent_escape_ascii(*hostname);
    if (!escaped) {
        vynd_log("Fatal", "host string is nil! Either string is nil or URL encoding failed %s",
                 hostname ? hostname->c_str() : "(null)");
    }
    mountURL = parse_share_url(*escaped);
    if (!mountURL)
        vynd_log("Fatal", "Invalid host path");
    if (!is_network_share(*mountURL)) {
        // A local folder: the share root is the URL's own path. A relative
        // one is taken from the working folder (/ for a scheduled run) and
        // made absolute, so the logged paths say where it is.
        if (mountURL->path.empty())
            vynd_log("Fatal", "Invalid host path");
        volURL = mountURL;
        if (volURL->path.front() != '/') {
            char* cwd = getcwd(nullptr, 0);
            volURL->path = join_path(cwd ? cwd : "/", volURL->path);
            free(cwd);
        }
        return;
    }
    if (mountURL->host.empty())
        vynd_log("Fatal", "Invalid host path");
    if (is_remote_share(*mountURL)) {
        reach_remote_share(share, settings);
        return;
    }
    if (mountURL->scheme != "nfs")
        warn_if_open_transport(*mountURL, std::nullopt, settings);
    std::string why;
    int error = 0;
    std::optional<MountedShare>& mounted = share.mounted;
    mounted = mount_share_volume(*mountURL, settings.username, settings.passwd, &why, &error);
    if (!mounted) {
        vynd_log("Error", "%s", why.c_str());
        vynd_log("Fatal", "Unable to mount share.");
    }
    const std::string& mount_point = mounted->mount_point;
    if (mountURL->scheme == "nfs")
        warn_if_open_transport(*mountURL, mount_entry(mount_point), settings);
    if (mounted->reused)
        vynd_log("Debug", "%s is already mounted", mount_point.c_str());
    ShareUrl local;
    local.scheme = "file";
    local.path = mount_point;
    local.escaped_path = mount_point;
    local.text = "file://" + mount_point;
    volURL = local;
}

bool share_is_remote(const Share& share) {
    return share.remote.has_value();
}

bool open_share_access(const Share& share, RemoteAccess& access) {
    if (!share.remote)
        return true;
    std::string why;
    if (!access.open(*share.remote, &why)) {
        vynd_log("Error", "%s", why.c_str());
        return false;
    }
    // What a daemon says before the transfer goes to rsync's standard
    // output among the change lines: any text the server chooses.
    if (share.remote->scheme == "rsync")
        access.options.insert(access.options.begin(), "--no-motd");
    return true;
}

std::optional<std::vector<std::string>> list_share_folder(const Share& share,
                                                          const std::string& folder,
                                                          std::vector<char>* types) {
    std::string why;
    int status = 0;
    auto items = list_remote_folder(*share.remote, folder, &why, &status);
    if (!items) {
        vynd_log("Debug", "Cannot list %s: %s", folder.c_str(), escape_name(why).c_str());
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const auto& item : *items) {
        names.push_back(decode_rsync_escapes(item.name));
        if (types)
            types->push_back(item.type);
    }
    return names;
}

bool remote_folder_is_link(const Share& share, const std::string& folder) {
    const std::optional<RemoteShare>& remote = share.remote;
    // An rsync daemon does not follow a link given as the folder to send;
    // rsync started over ssh does.
    if (!remote || remote->scheme != "ssh")
        return false;
    size_t slash = folder.rfind('/');
    if (slash == std::string::npos || slash + 1 >= folder.size())
        return false;
    std::string parent = folder.substr(0, slash);
    if (parent.back() == ':')
        parent += '/';
    const std::string name = folder.substr(slash + 1);
    std::vector<std::string> names;
    std::vector<char> types;
    if (parent == remote->root) {
        // An area folder at the root: the listing made on reaching the share.
        for (const auto& item : share.remote_root) {
            names.push_back(decode_rsync_escapes(item.name));
            types.push_back(item.type);
        }
    } else if (auto listed = list_share_folder(share, parent, &types)) {
        names = std::move(*listed);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return types[i] == 'l';
    }
    return false;  // not there: rsync will say so and copy nothing
}

void unmount_vol(Share& share) {
    if (share.remote)
        close_remote_share(*share.remote);
    if (!share.mounted)
        return;
    // A share that stays busy stays mounted; the next run will reuse it.
    int ignored = 0;
    (void)unmount_share_volume(*share.mounted, &ignored);
    share.mounted.reset();
}

std::optional<std::string> share_modes_option(const Share& share) {
    if (!share.mountURL)
        return std::nullopt;
    const std::string& s = share.mountURL->scheme;
    if (s == "smb" || s == "cifs")
        return "--chmod=D0755,F0755";
    if (s == "dav" || s == "davs" || s == "http" || s == "https")
        return "--chmod=D0755,F0644";
    return std::nullopt;
}

}  // namespace vynd
