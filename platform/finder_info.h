// The Finder flags word of a file or folder, where the file system keeps one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vynd {

inline constexpr uint16_t kIsInvisible = 0x4000;
inline constexpr uint16_t kHasCustomIcon = 0x0400;
inline constexpr uint16_t kHasBeenInited = 0x0100;

// The flags; no value where the file system keeps no Finder information.
[[nodiscard]] std::optional<uint16_t> finder_flags(const std::string& path);
// Writes the flags; false where the file system keeps no Finder information.
[[nodiscard]] bool set_finder_flags(const std::string& path, uint16_t flags);

}  // namespace vynd
