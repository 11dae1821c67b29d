// Fuzz target: Base64 decoding in both modes, and the round trip of whatever it yields.
#include <cstdlib>

#include "crypto/text_forms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vynd::ByteView input(data, size);
    for (bool newlines : {true, false}) {
        const vynd::Bytes decoded = vynd::decodeBase64WithNewLines(input, newlines);
        // What came out must survive its own round trip.
        const auto text = vynd::encodeBase64WithNewlines(decoded, newlines);
        if (!text)
            std::abort();
        if (vynd::decodeBase64WithNewLines(vynd::bytesOf(*text), newlines) != decoded)
            std::abort();
    }
    (void)vynd::hexdump(input.first(std::min<std::size_t>(size, 300)));
    return 0;
}
