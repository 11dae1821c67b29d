// The byte buffer type shared by the crypto library and its callers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vynd {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The bytes of a text, without terminator.
[[nodiscard]] inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A text holding exactly these bytes (no validation).
[[nodiscard]] inline std::string stringOf(ByteView bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace vynd
