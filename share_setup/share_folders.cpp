// Folders and files made below a share's root without following a link.
#include "share_setup/share_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/atomic_file.h"

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
    // A leftover: setup stopped midway removes it from the share.
    AtomicFile file(folder.fd(), folderPath, name, mode, true);
    return file.write(bytes) && file.commit();
}

}  // namespace vynd
