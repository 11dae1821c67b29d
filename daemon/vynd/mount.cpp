// Making the share reachable as a local folder for the run, and letting go.
#include "mount.h"

#include <sys/stat.h>
#include <unistd.h>

#include "log.h"
#include "prefs.h"
#include "share_mount.h"
#include "url.h"

namespace vynd {

std::optional<ShareUrl> mountURL;
std::optional<ShareUrl> volURL;

namespace {

// The mount point mount_vol used, and whether it made the folder.
std::string mounted_at;
bool made_mount_folder = false;

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percent_decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size() || hex_value(s[i + 1]) < 0 || hex_value(s[i + 2]) < 0)
            return std::nullopt;
        char c = static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
        if (c == '\0')
            return std::nullopt;
        out += c;
        i += 2;
    }
    return out;
}

bool is_network(const ShareUrl& url) {
    return !url.scheme.empty() && url.scheme != "file";
}

}  // namespace

std::optional<ShareUrl> parse_share_url(const std::string& escaped) {
    ShareUrl url;
    url.text = escaped;
    std::string rest = escaped;
    size_t colon = rest.find(':');
    bool scheme_ok = colon != std::string::npos && colon > 0 && isalpha(rest[0]);
    for (size_t i = 0; scheme_ok && i < colon; ++i) {
        char c = rest[i];
        scheme_ok = isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    }
    if (scheme_ok) {
        url.scheme = rest.substr(0, colon);
        rest = rest.substr(colon + 1);
    }
    if (!url.scheme.empty() && rest.compare(0, 2, "//") == 0) {
        size_t end = rest.find_first_of("/?#", 2);
        std::string auth = rest.substr(2, end == std::string::npos ? end : end - 2);
        rest = end == std::string::npos ? "" : rest.substr(end);
        size_t at = auth.rfind('@');
        if (at != std::string::npos) {
            auto user = percent_decode(auth.substr(0, at).substr(0, auth.find(':')));
            if (!user)
                return std::nullopt;
            url.user = *user;
            auth = auth.substr(at + 1);
        }
        size_t port_colon = auth.rfind(':');
        size_t bracket = auth.rfind(']');
        if (port_colon != std::string::npos &&
            (bracket == std::string::npos || port_colon > bracket)) {
            std::string port = auth.substr(port_colon + 1);
            auth = auth.substr(0, port_colon);
            if (!port.empty()) {
                if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
                    return std::nullopt;
                url.port = std::stoi(port);
            }
        }
        auto host = percent_decode(auth);
        if (!host)
            return std::nullopt;
        url.host = *host;
    }
    if (!url.scheme.empty())
        rest = rest.substr(0, rest.find_first_of("?#"));
    url.escaped_path = rest;
    auto path = percent_decode(rest);
    if (!path)
        return std::nullopt;
    url.path = *path;
    return url;
}

std::string share_mount_point(const ShareUrl& url) {
    std::string name;
    std::string_view p = url.path;
    while (!p.empty() && p.back() == '/') p.remove_suffix(1);
    size_t slash = p.rfind('/');
    name = std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
    if (name.empty() || name == "." || name == "..")
        name = url.host;
    for (char& c : name) {
        if (c == '/')
            c = ':';
    }
    if (name.empty() || name == "." || name == "..")
        name = "share";
    return "/Volumes/" + name;
}

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
    if (!is_network(*mountURL)) {
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
    if (!mountURL || !is_network(*mountURL) || mounted_at.empty())
        return;
    // A share that stays busy stays mounted; the next run will reuse it.
    if (unmount_share(mounted_at) && made_mount_folder)
        rmdir(mounted_at.c_str());
    mounted_at.clear();
}

}  // namespace vynd
