// Strict UTF-8 validation (RFC 3629).
#include "crypto/utf8.h"

namespace vynd {

bool isValidUtf8(ByteView bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b == 0xE0) {
            len = 3, lo = 0xA0;
        } else if (b >= 0xE1 && b <= 0xEC) {
            len = 3;
        } else if (b == 0xED) {
            len = 3, hi = 0x9F;  // excludes the surrogates
        } else if (b >= 0xEE && b <= 0xEF) {
            len = 3;
        } else if (b == 0xF0) {
            len = 4, lo = 0x90;
        } else if (b >= 0xF1 && b <= 0xF3) {
            len = 4;
        } else if (b == 0xF4) {
            len = 4, hi = 0x8F;  // nothing beyond U+10FFFF
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        if (bytes[i + 1] < lo || bytes[i + 1] > hi)
            return false;
        for (std::size_t k = 2; k < len; ++k) {
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF)
                return false;
        }
        i += len;
    }
    return true;
}

std::optional<std::string> utf8String(ByteView bytes) {
    if (!isValidUtf8(bytes))
        return std::nullopt;
    return stringOf(bytes);
}

}  // namespace vynd
