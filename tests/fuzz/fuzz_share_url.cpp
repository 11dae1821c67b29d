// Fuzz target: the share URL text of the settings, escaped and taken apart
// as the daemon does before it mounts.
#include <cstdlib>
#include <string>

#include "platform/share/share_url.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool is_host_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '[' || c == ']' || c == ':' || c == '%';
}

void check_url(const vynd::ShareUrl& url) {
    // The host reaches the mount helpers' command lines: it must never read
    // as an option, and holds nothing but the characters of a host name or
    // an address.
    FUZZ_CHECK(url.host.empty() || url.host.front() != '-');
    for (char c : url.host) FUZZ_CHECK(is_host_name_char(c));
    FUZZ_CHECK(!url.port || (*url.port >= 0 && *url.port <= 65535));
    FUZZ_CHECK(url.path.find('\0') == std::string::npos);
    const std::string mount_point = vynd::share_mount_point(url);
    FUZZ_CHECK(mount_point.starts_with("/Volumes/"));
    const std::string name = mount_point.substr(9);
    FUZZ_CHECK(!name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;

    const auto escaped = vynd::percent_escape_ascii(text);
    FUZZ_CHECK(escaped.has_value() == ascii);
    if (escaped) {
        for (unsigned char c : *escaped) FUZZ_CHECK(c > ' ' && c < 0x7f && c != '"' && c != '\\');
        if (auto url = vynd::parse_share_url(*escaped))
            check_url(*url);
    }
    if (auto url = vynd::parse_share_url(text))
        check_url(*url);
    // A file URL's path is opened as it is: absolute, and cut short by no zero byte.
    if (auto path = vynd::file_url_path(text))
        FUZZ_CHECK(path->front() == '/' && path->find('\0') == std::string::npos);
    return 0;
}
