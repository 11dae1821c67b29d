// What text a manifest may hold, how names it cannot hold are stored, and
// the text form of its dates.
#include <cstring>
#include <ctime>

#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/manifest_parts.h"
#include "daemon/vynd/path_components.h"
#include "daemon/vynd/rsync_output.h"
#include "platform/utf8.h"

namespace vynd {

std::string stored_key_path(const std::string& key) {
    return key.find("\\#") == std::string::npos ? key : decode_rsync_escapes(key);
}

bool needs_escape(std::string_view path) {
    bool plain = true;
    for (char c : path) {
        auto b = static_cast<unsigned char>(c);
        plain = plain && b >= 0x20 && b < 0x80 && b != '\\';
    }
    return !plain && (!is_storable_text(path) || decode_rsync_escapes(path) != path);
}

bool is_safe_relative_path(std::string_view path) {
    if (path.empty() || path.front() == '/')
        return false;
    std::string_view rest = path;
    if (rest.back() == '/')
        rest.remove_suffix(1);
    return for_each_component(rest, [](std::string_view part) {
        return !part.empty() && part != "." && part != ".." &&
               part.find('\0') == std::string_view::npos;
    });
}

bool is_storable_text(std::string_view text) {
    // XML 1.0 takes no other control character, nor U+FFFE or U+FFFF (bench_mirror).
    return utf8_all_of(text, [](char32_t c) {
        return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') && c != 0xFFFE && c != 0xFFFF;
    });
}

std::string format_plist_date(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::optional<int64_t> parse_plist_date(std::string_view text) {
    // Dates repeat from entry to entry, so the last one is kept (bench_mirror).
    static thread_local std::string last_text;
    static thread_local int64_t last_value = 0;
    if (!last_text.empty() && text == last_text)
        return last_value;
    struct tm tm {};
    std::string s(text);
    const char* end = strptime(s.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
    if (!end)
        return std::nullopt;
    if (*end == '.') {
        ++end;
        while (*end >= '0' && *end <= '9') ++end;
    }
    if (*end != 'Z' || end[1] != '\0')
        return std::nullopt;
    last_value = static_cast<int64_t>(timegm(&tm));
    last_text = s;
    return last_value;
}

}  // namespace vynd
