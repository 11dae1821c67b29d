// Text renderings of byte buffers: Base64 with or without line breaks, hex value and hex dump.
#pragma once

#include <optional>
#include <string>

#include "crypto/bytes.h"

namespace vynd {

// Base64 (RFC 4648 alphabet, "=" padding). With newlines, lines of 64
// characters, each one (the last included) ending in a line feed; without, one
// unbroken line. No value when the encoder cannot be flushed (logged).
[[nodiscard]] std::optional<std::string> encodeBase64WithNewlines(ByteView data, bool newlines);

// encodeBase64WithNewlines with line breaks.
[[nodiscard]] std::optional<std::string> encodeBase64(ByteView data);

// Decodes Base64 text laid out for the given mode. Never fails: input that is
// not Base64 yields what was decoded before the decoder stopped, possibly
// nothing. Throws AssertionFailure for input longer than 2147483647 bytes.
[[nodiscard]] Bytes decodeBase64WithNewLines(ByteView text, bool newlines);

// decodeBase64WithNewLines with line breaks.
[[nodiscard]] Bytes decodeBase64(ByteView text);

// Two lower-case hex digits per byte, no separators.
[[nodiscard]] std::string hexval(ByteView data);

// A dump of 16 bytes a line: "[addr]   hex bytes   characters".
[[nodiscard]] std::string hexdump(ByteView data);

}  // namespace vynd
