// Making the share reachable as a local folder for the run, and letting go.
#include "mount.h"

#include <sys/stat.h>
#include <unistd.h>

#include "log.h"
#include "prefs.h"
#include "share_mount.h"
#include "share_url.h"

namespace vynd {

std::optional<ShareUrl> mountURL;
std::optional<ShareUrl> volURL;

namespace {

// The mount point mount_vol used, and whether it made the folder.
std::string mounted_at;
bool made_mount_folder = false;

}  // namespace

void mount_vol() {
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
        // one would depend on where the daemon happens to be started.
        if (mountURL->path.empty() || mountURL->path.front() != '/')
            vynd_log("Fatal", "Invalid host path");
        volURL = mountURL;
        return;
    }
    if (mountURL->host.empty())
        vynd_log("Fatal", "Invalid host path");
    std::string mount_point = share_mount_point(*mountURL);
    if (is_mount_point(mount_point)) {
        vynd_log("Debug", "%s is already mounted", mount_point.c_str());
    } else {
        mkdir("/Volumes", 0755);
        made_mount_folder = mkdir(mount_point.c_str(), 0700) == 0;
        MountRequest request;
        request.scheme = mountURL->scheme;
        request.host = mountURL->host;
        request.port = mountURL->port;
        request.path = mountURL->path;
        request.escaped_path = mountURL->escaped_path;
        request.user = username;
        request.password = passwd;
        request.mount_point = mount_point;
        std::string why;
        if (!mount_share(request, &why)) {
            if (made_mount_folder)
                rmdir(mount_point.c_str());
            made_mount_folder = false;
            vynd_log("Error", "%s", why.c_str());
            vynd_log("Fatal", "Unable to mount share.");
        }
    }
    mounted_at = mount_point;
    ShareUrl local;
    local.scheme = "file";
    local.path = mount_point;
    local.escaped_path = mount_point;
    local.text = "file://" + mount_point;
    volURL = local;
}

void unmount_vol() {
    if (!mountURL || !is_network_share(*mountURL) || mounted_at.empty())
        return;
    // A share that stays busy stays mounted; the next run will reuse it.
    if (unmount_share(mounted_at) && made_mount_folder)
        rmdir(mounted_at.c_str());
    mounted_at.clear();
}

}  // namespace vynd
