// Decoding UTF-8 strictly (RFC 3629): no overlong forms, no surrogates,
// nothing beyond U+10FFFF, no sequence cut short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vynd {

// One character: its length in bytes (0 when the bytes are no well-formed
// sequence) and its code point.
struct Utf8Char {
    std::size_t length = 0;
    char32_t code_point = 0;
};

// The character that starts at text[at] (at < text.size()).
[[nodiscard]] inline Utf8Char utf8_char_at(std::string_view text, std::size_t at) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + at;
    const std::size_t left = text.size() - at;
    const unsigned b = s[0];
    if (b < 0x80)
        return {1, b};
    std::size_t length = 0;
    unsigned lo = 0x80, hi = 0xBF;  // what the second byte may be
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            lo = 0xA0;  // shorter forms are overlong
        else if (b == 0xED)
            hi = 0x9F;  // the surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return {};
    }
    if (left < length || s[1] < lo || s[1] > hi)
        return {};
    char32_t cp = b & (0xFFu >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
        if ((s[k] & 0xC0) != 0x80)
            return {};
        cp = (cp << 6) | (s[k] & 0x3F);
    }
    return {length, cp};
}

// True when the text is well-formed and `accept` takes each of its
// characters. ASCII from space to DEL, the common case, is read eight bytes
// at a time and need not be shown to `accept`, which must take it.
template <typename Accept>
[[nodiscard]] inline bool utf8_all_of(std::string_view text, Accept&& accept) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        if (n - i >= 8) {
            std::uint64_t w;
            std::memcpy(&w, s + i, sizeof w);
            constexpr std::uint64_t kHigh = 0x8080808080808080ull;
            constexpr std::uint64_t kSpace = 0x2020202020202020ull;
            if (((w | (w - kSpace)) & kHigh) == 0) {
                i += 8;
                continue;
            }
        }
        if (s[i] < 0x80) {
            if (!accept(char32_t{s[i]}))
                return false;
            ++i;
            continue;
        }
        const Utf8Char c = utf8_char_at(text, i);
        if (c.length == 0 || !accept(c.code_point))
            return false;
        i += c.length;
    }
    return true;
}

// True when the text is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// The length of the text less a character that its end cuts short: what a
// text cut to a size keeps so as not to end in half a character.
[[nodiscard]] std::size_t utf8_whole_length(std::string_view text);

}  // namespace vynd
