// Making the share reachable as a local folder for the run, and letting go.
#pragma once

#include <optional>
#include <string>

namespace vynd {

// A share URL taken apart. `path` is percent-decoded.
struct ShareUrl {
    std::string text;    // the escaped text it was parsed from
    std::string scheme;  // empty when the text has none
    std::string user;
    std::string host;
    std::optional<int> port;
    std::string escaped_path;
    std::string path;
};

// The URL parsed from the escaped host text; no value before mount_vol.
extern std::optional<ShareUrl> mountURL;
// The local folder that stands for the root of the share (a file URL).
extern std::optional<ShareUrl> volURL;

// Parses an escaped URL text. No value when a percent escape is broken or
// decodes to a zero byte.
[[nodiscard]] std::optional<ShareUrl> parse_share_url(const std::string& escaped);

// The folder below /Volumes where a network share is mounted: the last
// component of its path, or the host for a share at the server's root.
[[nodiscard]] std::string share_mount_point(const ShareUrl& url);

// Mounts the share of the settings (network URLs) or takes the folder of a
// file URL; ends the run with a Fatal line when it cannot.
void mount_vol();
// Unmounts what mount_vol mounted.
void unmount_vol();

}  // namespace vynd
