// Reading rsync's itemized change lines and its escaping of names.
#include "daemon/vynd/rsync_output.h"

#include <ctime>

#include "platform/utf8.h"

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

namespace {

bool printable(uint32_t cp) {
    return cp == '\t' || (cp >= 0x20 && cp != 0x7f && !(cp >= 0x80 && cp <= 0x9f) && cp != 0xfffe &&
                          cp != 0xffff);
}

void append_escape(std::string& out, unsigned char c) {
    static const char kOctal[] = "01234567";
    out += "\\#";
    out += kOctal[c >> 6];
    out += kOctal[(c >> 3) & 7];
    out += kOctal[c & 7];
}

}  // namespace

std::string escape_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const Utf8Char c = utf8_char_at(name, i);
        const size_t len = c.length;
        if (len == 0 || !printable(c.code_point)) {
            // Byte by byte, as rsync prints what it cannot show.
            size_t n = len == 0 ? 1 : len;
            for (size_t k = 0; k < n; ++k)
                append_escape(out, static_cast<unsigned char>(name[i + k]));
            i += n;
        } else if (name[i] == '\\' && escape_at(name, i) && name[i + 2] <= '3') {
            append_escape(out, '\\');  // would otherwise read back as an escape
            ++i;
        } else {
            out.append(name.substr(i, len));
            i += len;
        }
    }
    return out;
}

namespace {

// What rsync's itemize may put in each attribute column besides ".", "+"
// (new item), " " (nothing changed) and "?" (unknown): rsync 3's
// "cstpoguax", whose u column also shows n or b (create and both times),
// and rsync 2.6's "cstpog" with a column kept for later use.
constexpr std::string_view kAttributes11[] = {"c", "s", "tT", "p", "o", "g", "unb", "a", "x"};
constexpr std::string_view kAttributes9[] = {"c", "s", "tT", "p", "o", "g", ""};

bool is_itemize_field(std::string_view field) {
    if (field.size() != 9 && field.size() != 11)
        return false;
    if (field[0] == '*') {
        // A message in place of the attributes; rsync has but the one.
        constexpr std::string_view kDeleting = "*deleting";
        return field.substr(0, kDeleting.size()) == kDeleting &&
               field.find_first_not_of(' ', kDeleting.size()) == std::string_view::npos;
    }
    if (std::string_view("<>ch.").find(field[0]) == std::string_view::npos ||
        std::string_view("fdLDS").find(field[1]) == std::string_view::npos)
        return false;
    const std::string_view* letters = field.size() == 11 ? kAttributes11 : kAttributes9;
    for (size_t i = 2; i < field.size(); ++i) {
        char c = field[i];
        if (c != '.' && c != '+' && c != ' ' && c != '?' &&
            letters[i - 2].find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

}  // namespace

int itemize_width_of_root_line(std::string_view line) {
    for (int width : {11, 9}) {
        auto change = parse_change_line(line, width);
        if (change && change->printed_name == "./" && line[kUpdateTypeColumn + 1] == 'd')
            return width;
    }
    return 0;
}

std::optional<ChangeLine> parse_change_line(std::string_view line, int itemize_width) {
    if (itemize_width != 9 && itemize_width != 11)
        return std::nullopt;
    size_t name_at = kUpdateTypeColumn + static_cast<size_t>(itemize_width) + 1;
    if (line.size() <= name_at || line[kUpdateTypeColumn - 1] != ' ' || line[name_at - 1] != ' ')
        return std::nullopt;
    std::string_view timestamp = line.substr(0, kUpdateTypeColumn - 1);
    if (!is_itemize_field(line.substr(kUpdateTypeColumn, static_cast<size_t>(itemize_width))) ||
        !parse_rsync_timestamp(timestamp))
        return std::nullopt;
    ChangeLine out;
    out.timestamp = timestamp;
    out.update_type = line[kUpdateTypeColumn];
    out.printed_name = line.substr(name_at);
    out.name = decode_rsync_escapes(out.printed_name);
    return out;
}

std::optional<ChangeLine> ChangeLineReader::read(std::string_view line) {
    if (width_ == 0) {
        width_ = itemize_width_of_root_line(line);
        if (width_ == 0)
            return std::nullopt;
    }
    return parse_change_line(line, width_);
}

bool reports_update(std::string_view line, int itemize_width) {
    auto change = parse_change_line(line, itemize_width);
    return change && change->update_type != '.';
}

std::optional<std::string_view> overlong_path_in(std::string_view text) {
    constexpr auto npos = std::string_view::npos;
    // The sender measures each name against its limit for a path.
    constexpr std::string_view kOverflows = "filename overflows max-path len by ";
    constexpr std::string_view kSkipping = "skipping overly long name: ";
    if (size_t at = text.find(kOverflows); at != npos) {
        size_t colon = text.find(": ", at + kOverflows.size());
        if (colon != npos && colon + 2 < text.size())
            return text.substr(colon + 2);
    }
    if (size_t at = text.find(kSkipping); at != npos && at + kSkipping.size() < text.size())
        return text.substr(at + kSkipping.size());
    // The receiver's system calls refused it (ENAMETOOLONG): rsync names
    // the path in quotes before the reason.
    constexpr std::string_view kRefused = "\" failed: File name too long";
    size_t end = text.rfind(kRefused);
    size_t begin = end == npos ? npos : text.find('"');
    if (begin != npos && begin < end)
        return text.substr(begin + 1, end - begin - 1);
    return std::nullopt;
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
