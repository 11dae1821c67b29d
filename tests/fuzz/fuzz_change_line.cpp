// Fuzz target: rsync's change lines at both itemize widths, and its "\#ooo"
// escapes of names.
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "manifest_file.h"
#include "rsync_output.h"

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    using vynd::kUpdateTypeColumn;

    const int root_width = vynd::itemize_width_of_root_line(line);
    FUZZ_CHECK(root_width == 0 || root_width == 9 || root_width == 11);

    for (int width : {9, 11}) {
        auto change = vynd::parse_change_line(line, width);
        if (!change)
            continue;
        const size_t name_at = kUpdateTypeColumn + width + 1;
        FUZZ_CHECK(change->timestamp == std::string_view(line).substr(0, kUpdateTypeColumn - 1));
        FUZZ_CHECK(change->update_type == line[kUpdateTypeColumn]);
        FUZZ_CHECK(change->printed_name == std::string_view(line).substr(name_at));
        FUZZ_CHECK(change->name == vynd::decode_rsync_escapes(change->printed_name));
        (void)vynd::parse_rsync_timestamp(change->timestamp);
    }
    FUZZ_CHECK(vynd::reports_update(line) ==
          !(line.size() > kUpdateTypeColumn && line[kUpdateTypeColumn] == '.'));
    (void)vynd::parse_rsync_timestamp(line);

    // Escaped names stay on one line of text a manifest can hold, and decode
    // exactly.
    const std::string printed = vynd::escape_name(line);
    for (unsigned char c : printed) FUZZ_CHECK(c == '\t' || (c >= ' ' && c != 0x7f));
    FUZZ_CHECK(vynd::is_storable_text(printed));
    FUZZ_CHECK(vynd::decode_rsync_escapes(printed) == line);
    return 0;
}
