// Share URL texts: escaping the administrator's host text and taking the URL apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vynd {

// Escapes the characters that may not stand in a URL (blanks, quotes, angle
// brackets, braces, backslashes, percent signs and the like), leaving the URL
// delimiters as they are. No value when the text holds a character outside
// ASCII, which the ASCII encoding cannot carry.
[[nodiscard]] std::optional<std::string> percent_escape_ascii(const std::string& text);

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

// Parses an escaped URL text. No value when a percent escape is broken or
// decodes to a zero byte.
[[nodiscard]] std::optional<ShareUrl> parse_share_url(const std::string& escaped);

// The path on this computer that a file URL names ("file:///path", or with
// the host "localhost"), percent-decoded. No value for any other text, a
// file URL of another host, or one whose path is not absolute or whose
// escapes are broken.
[[nodiscard]] std::optional<std::string> file_url_path(const std::string& escaped);

// True when the URL names a share on a server: it has a scheme other than
// "file" (compared case-sensitively).
[[nodiscard]] bool is_network_share(const ShareUrl& url);

// The folder below /Volumes where a network share is mounted: the last
// component of its path, or the host for a share at the server's root.
[[nodiscard]] std::string share_mount_point(const ShareUrl& url);

// Whether text for a helper's command line or options file holds a control
// character, which would end a line or an option early.
[[nodiscard]] bool has_control_characters(std::string_view text);

}  // namespace vynd
