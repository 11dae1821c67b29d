// Share URL texts: escaping the administrator's host text and taking the URL apart.
#include "platform/share/share_url.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace vynd {

namespace {

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
        if (s[i] == '\0')
            return std::nullopt;
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

bool is_name_char(char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

// A host name, an IPv4 address or a bracketed IPv6 address (a zone after
// "%" allowed). The host goes into mount helpers' command lines, where a
// leading "-" would be taken for an option, and into the option lists they
// build from it, where a "," or "=" would start another.
bool is_host(const std::string& host) {
    if (host.empty())
        return true;
    if (host.front() == '[') {
        if (host.size() < 4 || host.back() != ']' || host[1] == '-' || host[1] == '.')
            return false;
        for (size_t i = 1; i + 1 < host.size(); ++i) {
            if (!is_name_char(host[i]) && host[i] != ':' && host[i] != '%')
                return false;
        }
        return true;
    }
    if (host.front() == '-' || host.front() == '.')
        return false;
    return std::all_of(host.begin(), host.end(), is_name_char);
}

}  // namespace

std::optional<std::string> percent_escape_ascii(const std::string& text) {
    // Letters, digits and the characters that are legal in a URL, delimiters
    // included; everything else is written as %XX.
    static const char kLegal[] = "!$&'()*+,-./:;=?@_~#";
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x80)
            return std::nullopt;
        bool legal = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     (c != 0 && std::strchr(kLegal, c));
        if (legal) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::optional<ShareUrl> parse_share_url(const std::string& escaped) {
    ShareUrl url;
    url.text = escaped;
    std::string rest = escaped;
    size_t colon = rest.find(':');
    bool scheme_ok =
        colon != std::string::npos && colon > 0 && isalpha(static_cast<unsigned char>(rest[0]));
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
                if (*url.port > 65535)
                    return std::nullopt;
            }
        }
        auto host = percent_decode(auth);
        if (!host || !is_host(*host))
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

std::optional<std::string> file_url_path(const std::string& escaped) {
    std::optional<ShareUrl> url = parse_share_url(escaped);
    // URL schemes are case-insensitive.
    const bool file = url && strcasecmp(url->scheme.c_str(), "file") == 0;
    if (!file || !url->user.empty() || url->port ||
        (!url->host.empty() && url->host != "localhost") || url->path.empty() ||
        url->path.front() != '/')
        return std::nullopt;
    return url->path;
}

bool is_network_share(const ShareUrl& url) {
    return !url.scheme.empty() && url.scheme != "file";
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

bool has_control_characters(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

}  // namespace vynd
