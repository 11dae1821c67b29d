// Strict UTF-8 validation for the texts read back out of byte buffers.
#pragma once

#include <optional>
#include <string>

#include "crypto/bytes.h"

namespace vynd {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing beyond U+10FFFF, no truncated sequence.
[[nodiscard]] bool isValidUtf8(ByteView bytes);

// The bytes as text when they are valid UTF-8, else no value.
[[nodiscard]] std::optional<std::string> utf8String(ByteView bytes);

}  // namespace vynd
