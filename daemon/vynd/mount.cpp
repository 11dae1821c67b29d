// Making the share reachable as a local folder for the run, and letting go.
#include "mount.h"

#include <unistd.h>

#include <cstdlib>

#include "log.h"
#include "prefs.h"
#include "share_url.h"
#include "share_volume.h"
#include "sync_job.h"

namespace vynd {

std::optional<ShareUrl> mountURL;
std::optional<ShareUrl> volURL;

namespace {

// What mount_vol mounted (or found mounted), for unmount_vol.
std::optional<MountedShare> mounted;

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
    if ((mountURL->scheme == "http" || mountURL->scheme == "dav") && (username || passwd))
        vynd_log("Warning", "Warning: the credentials for %s://%s go over plain http, unencrypted",
                 mountURL->scheme.c_str(), mountURL->host.c_str());
    std::string why;
    int error = 0;
    mounted = mount_share_volume(*mountURL, username, passwd, &why, &error);
    if (!mounted) {
        vynd_log("Error", "%s", why.c_str());
        vynd_log("Fatal", "Unable to mount share.");
    }
    const std::string& mount_point = mounted->mount_point;
    if (mounted->reused)
        vynd_log("Debug", "%s is already mounted", mount_point.c_str());
    ShareUrl local;
    local.scheme = "file";
    local.path = mount_point;
    local.escaped_path = mount_point;
    local.text = "file://" + mount_point;
    volURL = local;
}

void unmount_vol() {
    if (!mounted)
        return;
    // A share that stays busy stays mounted; the next run will reuse it.
    int ignored = 0;
    (void)unmount_share_volume(*mounted, &ignored);
    mounted.reset();
}

}  // namespace vynd

namespace vynd {

std::optional<std::string> share_modes_option() {
    if (!mountURL)
        return std::nullopt;
    const std::string& s = mountURL->scheme;
    if (s == "smb" || s == "cifs")
        return "--chmod=D0755,F0755";
    if (s == "dav" || s == "davs" || s == "http" || s == "https")
        return "--chmod=D0755,F0644";
    return std::nullopt;
}

}  // namespace vynd
