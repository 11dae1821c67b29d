// Byte buffers read back as text, through the one strict UTF-8 decoder.
#include "crypto/utf8.h"

#include "platform/utf8.h"

namespace vynd {

bool isValidUtf8(ByteView bytes) {
    return is_valid_utf8({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::optional<std::string> utf8String(ByteView bytes) {
    if (!isValidUtf8(bytes))
        return std::nullopt;
    return stringOf(bytes);
}

}  // namespace vynd
