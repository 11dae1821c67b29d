// Folders and files made below a share's root without following a link.
#include "share_setup/share_folders.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/leftover_files.h"

namespace vynd {

OpenFolder::OpenFolder(OpenFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

OpenFolder::~OpenFolder() {
    if (fd_ >= 0)
        close(fd_);
}

namespace {

OpenFolder openBelow(const OpenFolder& parent, const char* name) {
    return OpenFolder(openat(parent.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool failed(BelowFailure* failure, const OpenFolder& parent, const std::string& path,
            const char* name) {
    const int error = errno;
    struct stat st;
    failure->path = path;
    failure->link =
        fstatat(parent.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    failure->error = error;
    return false;
}

}  // namespace

OpenFolder openShareRoot(const std::string& root) {
    return OpenFolder(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool makeFoldersBelow(const OpenFolder& root, const std::string& rootPath,
                      const std::filesystem::path& relative, BelowFailure* failure) {
    OpenFolder folder(root.isOpen() ? fcntl(root.fd(), F_DUPFD_CLOEXEC, 0) : -1);
    std::string path = rootPath;
    if (!folder.isOpen()) {
        failure->path = path;
        failure->error = errno;
        return false;
    }
    for (const std::filesystem::path& part : relative) {
        const std::string name = part.string();
        if (name.empty() || name == ".")
            continue;
        path += "/" + name;
        OpenFolder next = openBelow(folder, name.c_str());
        if (!next.isOpen() && errno == ENOENT) {
            // A folder made here is opened again by name without following
            // a link, so one swapped in meanwhile is refused like any other.
            if (mkdirat(folder.fd(), name.c_str(), 0755) != 0 && errno != EEXIST)
                return failed(failure, folder, path, name.c_str());
            next = openBelow(folder, name.c_str());
            // Every computer's daemon reads the share, its administrators
            // write it: rwxr-xr-x, whatever the umask. A file system that
            // keeps no modes refuses this, and its folder is as it makes them.
            if (next.isOpen())
                (void)fchmod(next.fd(), 0755);
        }
        if (!next.isOpen())
            return failed(failure, folder, path, name.c_str());
        folder = std::move(next);
    }
    return true;
}

bool replaceFileBelow(const OpenFolder& folder, const std::string& folderPath,
                      const std::string& name, const std::string& bytes, mode_t mode) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        unsigned char random[6] = {};
        if (getrandom(random, sizeof random, 0) != sizeof random)
            for (auto& r : random) r = static_cast<unsigned char>(rand());
        tmp = name + ".";
        for (unsigned char r : random) tmp += kChars[r % (sizeof kChars - 1)];
        fd = openat(folder.fd(), tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return false;
    const std::string tmpPath = folderPath + "/" + tmp;
    leftover_file_made(tmpPath);
    bool ok = fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(folder.fd(), tmp.c_str(), folder.fd(), name.c_str()) == 0;
    if (!ok)
        unlinkat(folder.fd(), tmp.c_str(), 0);
    leftover_file_gone(tmpPath);
    return ok;
}

}  // namespace vynd
