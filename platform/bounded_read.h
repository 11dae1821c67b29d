// Reading a whole file that someone else may have made as large as they liked.
#pragma once

#include <cstdint>
#include <string>

namespace vynd {

inline constexpr uint64_t kMiB = uint64_t{1} << 20;
inline constexpr uint64_t kGiB = uint64_t{1} << 30;

enum class BoundedRead { ok, failed, too_large };

// Reads the whole regular file open at `fd` into `bytes`. One whose size, as
// the descriptor has it, is above `limit` is refused before anything is read
// or allocated, and so is one that grows past it while it is read. Anything
// but a regular file fails. errno tells why a read failed.
[[nodiscard]] BoundedRead read_bounded(int fd, uint64_t limit, std::string* bytes);

// "1 MiB", "16 MiB", "1 GiB", or a number of bytes.
[[nodiscard]] std::string size_text(uint64_t bytes);

// The refusal as logged: "<path> is larger than <limit>, the most <what> may
// be; it was not read".
[[nodiscard]] std::string too_large_message(const std::string& path, uint64_t limit,
                                            const std::string& what);

}  // namespace vynd
