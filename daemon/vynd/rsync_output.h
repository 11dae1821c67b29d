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

// The length of the itemize field (9 for rsync 2.6, 11 for rsync 3) as seen
// in the line that lists the source folder itself ("./"); 0 when the line is
// not that line.
[[nodiscard]] int itemize_width_of_root_line(std::string_view line);

// Takes a change line apart for an itemize field of `itemize_width`
// characters. No value for a line that does not have the layout (too short,
// no timestamp, no space after the itemize field).
[[nodiscard]] std::optional<ChangeLine> parse_change_line(std::string_view line, int itemize_width);

// True when the line reports an update (anything but "." at column 20).
[[nodiscard]] bool reports_update(std::string_view line);

// rsync's "year/month/day hours:minutes:seconds" in local time, as seconds
// since the Unix epoch. No value when the text is not such a time.
[[nodiscard]] std::optional<int64_t> parse_rsync_timestamp(std::string_view text);

}  // namespace vynd
