// Mode p: a prepared settings file put in place of the global preference file.
#include "global_prefs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "property_list.h"

namespace vynd {

namespace {

bool fail(std::string* err, const std::string& what, int error) {
    if (err)
        *err = what + ": " + std::strerror(error);
    return false;
}

// Reads the whole of a regular file. A link is not followed and anything
// but a regular file is refused, so a caller cannot have a file it may not
// read, or a device, copied into a file everyone may read.
bool read_regular_file(const std::string& path, std::string* bytes, std::string* err) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it is refused.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(err, "cannot open " + path, errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        if (err)
            *err = path + " is not a regular file";
        return false;
    }
    bytes->clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            return fail(err, "cannot read " + path, error);
        }
        if (n == 0)
            break;
        bytes->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

}  // namespace

bool replace_global_preferences(const std::string& source, std::string* err,
                                const std::string& target) {
    std::string bytes;
    if (!read_regular_file(source, &bytes, err))
        return false;
    // A fresh system has no /Library/Preferences until settings are first
    // saved; made here, it must be searchable by the users who read the file.
    std::string folder = std::filesystem::path(target).parent_path().string();
    if (mkdir(folder.c_str(), 0755) == 0)
        chmod(folder.c_str(), 0755);
    else if (errno != EEXIST)
        return fail(err, "cannot create " + folder, errno);
    return write_file_atomically(target, bytes, err, 0644);
}

}  // namespace vynd
