// Reading rsync's itemized change lines and its escaping of names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vynd {

// The column of the update type, the first character of the itemize field.
inline constexpr size_t kUpdateTypeColumn = 20;

// One change line taken apart. `name` is the item's real name (escapes
// decoded); `printed_name` is the name as rsync printed it.
struct ChangeLine {
    std::string_view timestamp;
    char update_type = '.';
    std::string_view printed_name;
    std::string name;
};

// Undoes rsync's "\#ooo" escapes (three octal digits give one byte).
// rsync escapes a literal backslash that precedes "#" and three digits, so
// the decoding is exact.
[[nodiscard]] std::string decode_rsync_escapes(std::string_view printed);

// A name as it stands in log lines and manifests: printable UTF-8 text as it
// is; control characters, bytes that are not UTF-8, the two non-characters
// XML refuses and a backslash before "#" and three digits as rsync's
// "\#ooo", byte by byte. decode_rsync_escapes gives the name back.
[[nodiscard]] std::string escape_name(std::string_view name);

// A change line has exactly the shape of --out-format="%t %i %n": rsync's
// timestamp, one space, an itemize field of the run's width (9 for rsync
// 2.6, 11 for rsync 3) holding only what rsync puts in each column (or
// "*deleting"), one space, a name that is not empty. Anything else on
// rsync's output is rsync's own text (its messages, a server's message of
// the day) and never names an item.

// The width of the itemize field as seen in the line that lists the source
// folder itself ("./"); 0 when the line is not that line.
[[nodiscard]] int itemize_width_of_root_line(std::string_view line);

// Takes a change line apart for an itemize field of `itemize_width`
// characters. No value for a line that does not have that shape.
[[nodiscard]] std::optional<ChangeLine> parse_change_line(std::string_view line, int itemize_width);

// Reads the lines of one rsync run of a folder's content. rsync lists the
// source folder itself ("./") before any of its items, so nothing before
// that line is a change line, and that line gives the width of the itemize
// field for the rest of the run. (A server's message of the day, which
// could forge that line too, is kept out with --no-motd.)
class ChangeLineReader {
  public:
    // No value for rsync's own text.
    [[nodiscard]] std::optional<ChangeLine> read(std::string_view line);

  private:
    int width_ = 0;
};

// True when the line is a change line that reports an update (anything but
// "." as its update type).
[[nodiscard]] bool reports_update(std::string_view line, int itemize_width);

// The path, as rsync printed it, that one of rsync's messages names as too
// long for this computer (beyond the kernel's limit for a path or for one
// of its names); no value for other text.
[[nodiscard]] std::optional<std::string_view> overlong_path_in(std::string_view text);

// rsync's "year/month/day hours:minutes:seconds" in local time, as seconds
// since the Unix epoch. No value when the text is not such a time.
[[nodiscard]] std::optional<int64_t> parse_rsync_timestamp(std::string_view text);

}  // namespace vynd
