// Fuzz target: rsync's change lines at both itemize widths, and its "\#ooo"
// escapes of names.
#include <cstdlib>
#include <string>

#include "daemon/vynd/manifest_file.h"
#include "daemon/vynd/rsync_output.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    using vynd::kUpdateTypeColumn;

    const int root_width = vynd::itemize_width_of_root_line(line);
    FUZZ_CHECK(root_width == 0 || root_width == 9 || root_width == 11);

    for (int width : {9, 11}) {
        auto change = vynd::parse_change_line(line, width);
        FUZZ_CHECK(vynd::reports_update(line, width) == (change && change->update_type != '.'));
        if (!change)
            continue;
        // Only the exact shape is a change line: a time, the itemize field,
        // a name.
        const size_t name_at = kUpdateTypeColumn + width + 1;
        FUZZ_CHECK(line.size() > name_at && line[name_at - 1] == ' ');
        FUZZ_CHECK(change->timestamp == std::string_view(line).substr(0, kUpdateTypeColumn - 1));
        FUZZ_CHECK(vynd::parse_rsync_timestamp(change->timestamp).has_value());
        FUZZ_CHECK(std::string_view("<>ch.*").find(change->update_type) != std::string_view::npos);
        FUZZ_CHECK(change->update_type == line[kUpdateTypeColumn]);
        FUZZ_CHECK(change->update_type == '*' ||
                   std::string_view("fdLDS").find(line[kUpdateTypeColumn + 1]) !=
                       std::string_view::npos);
        FUZZ_CHECK(change->printed_name == std::string_view(line).substr(name_at));
        FUZZ_CHECK(change->name == vynd::decode_rsync_escapes(change->printed_name));
    }
    if (root_width != 0)
        FUZZ_CHECK(vynd::parse_change_line(line, root_width)->printed_name == "./");
    (void)vynd::parse_rsync_timestamp(line);

    // Escaped names stay on one line of text a manifest can hold, and decode
    // exactly.
    const std::string printed = vynd::escape_name(line);
    for (unsigned char c : printed) FUZZ_CHECK(c == '\t' || (c >= ' ' && c != 0x7f));
    FUZZ_CHECK(vynd::is_storable_text(printed));
    FUZZ_CHECK(vynd::decode_rsync_escapes(printed) == line);
    return 0;
}
