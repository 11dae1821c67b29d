// Reading a whole file that someone else may have made as large as they liked.
#include "platform/bounded_read.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vynd {

BoundedRead read_bounded(int fd, uint64_t limit, std::string* bytes) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return BoundedRead::failed;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return BoundedRead::failed;
    }
    if (static_cast<uint64_t>(st.st_size) > limit)
        return BoundedRead::too_large;
    bytes->clear();
    // The size is only a hint: the file may change while it is read.
    bytes->reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        size_t room =
            static_cast<size_t>(std::min<uint64_t>(sizeof buffer, limit + 1 - bytes->size()));
        ssize_t n = read(fd, buffer, room);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return BoundedRead::failed;
        if (n == 0)
            return BoundedRead::ok;
        bytes->append(buffer, static_cast<size_t>(n));
        if (bytes->size() > limit) {
            bytes->clear();
            return BoundedRead::too_large;
        }
    }
}

std::string size_text(uint64_t bytes) {
    if (bytes >= kGiB && bytes % kGiB == 0)
        return std::to_string(bytes / kGiB) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string too_large_message(const std::string& path, uint64_t limit, const std::string& what) {
    return path + " is larger than " + size_text(limit) + ", the most " + what +
           " may be; it was not read";
}

}  // namespace vynd
