// Building an icon family file from an image file in one step, for scripts.
#pragma once

#include <string>

namespace vynd {

// Reads any image Qt can decode, builds every size of the family and writes it atomically to
// the output path. On failure returns false and, when err is given, says what went wrong.
[[nodiscard]] bool buildIconFile(const std::string& imagePath, const std::string& outputPath,
                                 std::string* err = nullptr);

}  // namespace vynd
