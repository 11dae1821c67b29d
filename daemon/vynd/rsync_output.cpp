// Reading rsync's itemized change lines and its escaping of names.
#include "rsync_output.h"

#include <ctime>

namespace vynd {

namespace {

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool escape_at(std::string_view s, size_t i) {
    return i + 4 < s.size() + 0 && s[i] == '\\' && s[i + 1] == '#' && is_octal(s[i + 2]) &&
           is_octal(s[i + 3]) && is_octal(s[i + 4]);
}

int two_digits(std::string_view s, size_t at) {
    return (s[at] - '0') * 10 + (s[at + 1] - '0');
}

}  // namespace

std::string decode_rsync_escapes(std::string_view printed) {
    std::string out;
    out.reserve(printed.size());
    for (size_t i = 0; i < printed.size();) {
        if (escape_at(printed, i) && printed[i + 2] <= '3') {
            out += static_cast<char>((printed[i + 2] - '0') * 64 + (printed[i + 3] - '0') * 8 +
                                     (printed[i + 4] - '0'));
            i += 5;
        } else {
            out += printed[i++];
        }
    }
    return out;
}

std::string encode_rsync_escapes(std::string_view name) {
    static const char kOctal[] = "01234567";
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool literal_escape = c == '\\' && i + 4 < name.size() && name[i + 1] == '#' &&
                              is_digit(name[i + 2]) && is_digit(name[i + 3]) &&
                              is_digit(name[i + 4]);
        if (literal_escape || (c != '\t' && (c < ' ' || c >= 0x7f))) {
            out += "\\#";
            out += kOctal[c >> 6];
            out += kOctal[(c >> 3) & 7];
            out += kOctal[c & 7];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int itemize_width_of_root_line(std::string_view line) {
    for (int width : {11, 9}) {
        size_t name_at = kUpdateTypeColumn + width + 1;
        if (line.size() == name_at + 2 && line.substr(name_at) == "./" && line[name_at - 1] == ' ')
            return width;
    }
    return 0;
}

std::optional<ChangeLine> parse_change_line(std::string_view line, int itemize_width) {
    size_t name_at = kUpdateTypeColumn + static_cast<size_t>(itemize_width) + 1;
    if (line.size() <= name_at || line[kUpdateTypeColumn - 1] != ' ' || line[name_at - 1] != ' ')
        return std::nullopt;
    ChangeLine out;
    out.timestamp = line.substr(0, kUpdateTypeColumn - 1);
    out.update_type = line[kUpdateTypeColumn];
    out.printed_name = line.substr(name_at);
    out.name = decode_rsync_escapes(out.printed_name);
    return out;
}

bool reports_update(std::string_view line) {
    return !(line.size() > kUpdateTypeColumn && line[kUpdateTypeColumn] == '.');
}

std::optional<int64_t> parse_rsync_timestamp(std::string_view text) {
    // yyyy/MM/dd HH:mm:ss
    static constexpr std::string_view kShape = "dddd/dd/dd dd:dd:dd";
    if (text.size() != kShape.size())
        return std::nullopt;
    for (size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == 'd' ? !is_digit(text[i]) : text[i] != kShape[i])
            return std::nullopt;
    }
    // Most lines of one run share a handful of seconds: remember the last.
    static thread_local std::string last_text;
    static thread_local int64_t last_value = 0;
    if (text == last_text)
        return last_value;
    struct tm tm {};
    tm.tm_year = two_digits(text, 0) * 100 + two_digits(text, 2) - 1900;
    tm.tm_mon = two_digits(text, 5) - 1;
    tm.tm_mday = two_digits(text, 8);
    tm.tm_hour = two_digits(text, 11);
    tm.tm_min = two_digits(text, 14);
    tm.tm_sec = two_digits(text, 17);
    tm.tm_isdst = -1;
    if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60)
        return std::nullopt;
    time_t t = mktime(&tm);
    if (t == static_cast<time_t>(-1))
        return std::nullopt;
    last_text.assign(text);
    last_value = static_cast<int64_t>(t);
    return last_value;
}

}  // namespace vynd
