// Decoding UTF-8 strictly (RFC 3629).
#include "platform/utf8.h"

namespace vynd {

bool is_valid_utf8(std::string_view text) {
    return utf8_all_of(text, [](char32_t) { return true; });
}

std::size_t utf8_whole_length(std::string_view text) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t start = text.size();
    while (start > 0 && (byte(start - 1) & 0xC0) == 0x80) --start;
    if (start == 0)
        return text.size();
    // The lead byte's form tells how long its sequence means to be, whether
    // or not what follows makes it well-formed.
    const unsigned lead = byte(--start);
    const std::size_t announced = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return text.size() - start < announced ? start : text.size();
}

}  // namespace vynd
