// Folders and files made below a share's root (a mounted share, or a folder
// a file URL names) one component at a time from an open descriptor, never
// through a link: anyone who writes the share can put one where an area
// folder or the volume icon goes, and setup runs as root.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace vynd {

// An open folder, closed when it goes.
class OpenFolder {
  public:
    OpenFolder() = default;
    explicit OpenFolder(int fd) : fd_(fd) {}
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder();

    [[nodiscard]] int fd() const { return fd_; }
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// The share's root itself. Its path is the administrator's (or the mount
// folder setup made), so a link in it is followed as given.
[[nodiscard]] OpenFolder openShareRoot(const std::string& root);

// Why a folder or file could not be made below the root.
struct BelowFailure {
    std::string path;   // the full path of the component that stopped it
    bool link = false;  // it is a link, which setup does not follow
    int error = 0;
};

// Makes the folder at `relative` (no "..") below the open root and its
// missing parents rwxr-xr-x, whatever the umask. An existing folder is left
// as it is. False when a component cannot be made or is anything but a
// folder; `rootPath` names the root in the failure.
[[nodiscard]] bool makeFoldersBelow(const OpenFolder& root, const std::string& rootPath,
                                    const std::filesystem::path& relative, BelowFailure* failure);

// Writes the bytes to a fresh file under a temporary name in the open
// folder and renames it over `name`: whatever was at `name` (a link, a hard
// link to a file elsewhere) is replaced, never written through.
[[nodiscard]] bool replaceFileBelow(const OpenFolder& folder, const std::string& folderPath,
                                    const std::string& name, const std::string& bytes, mode_t mode);

}  // namespace vynd
