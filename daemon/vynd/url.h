// Percent-escaping of share URL texts.
#pragma once

#include <optional>
#include <string>

namespace vynd {

// Escapes the characters that may not stand in a URL (blanks, quotes, angle
// brackets, braces, backslashes, percent signs and the like), leaving the URL
// delimiters as they are. No value when the text holds a character outside
// ASCII, which the ASCII encoding cannot carry.
[[nodiscard]] std::optional<std::string> percent_escape_ascii(const std::string& text);

}  // namespace vynd
