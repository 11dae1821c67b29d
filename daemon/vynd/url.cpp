// Percent-escaping of share URL texts.
#include "url.h"

#include <cstring>

namespace vynd {

std::optional<std::string> percent_escape_ascii(const std::string& text) {
    // Letters, digits and the characters that are legal in a URL, delimiters
    // included; everything else is written as %XX.
    static const char kLegal[] = "!$&'()*+,-./:;=?@_~#";
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x80)
            return std::nullopt;
        bool legal = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     (c != 0 && std::strchr(kLegal, c));
        if (legal) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace vynd
