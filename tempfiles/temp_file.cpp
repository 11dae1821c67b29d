// Private temporary files for handing a file to a privileged program.
#include "tempfiles/temp_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vynd {

namespace {

// Creates the folder's parents normally and the folder itself as 0700, then
// checks what is there: a real folder (not a link) of ours that nobody else
// can write.
bool makePrivateFolder(const std::string& folder) {
    std::filesystem::path p(folder);
    std::error_code ec;
    if (p.has_parent_path() && p.parent_path() != p)
        std::filesystem::create_directories(p.parent_path(), ec);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return false;
    // Ours and writable only by us, so nothing can have been planted; close
    // it to reading by others too.
    if ((st.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string processName() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string name = ec ? std::string() : exe.filename().string();
    return name.empty() ? std::string("vynd") : name;
}

}  // namespace

std::string systemTemporaryFolder() {
    return "/tmp";
}

std::optional<std::string> tempFileInFolder(const std::string& folder) {
    if (folder.empty() || !makePrivateFolder(folder))
        return std::nullopt;
    std::string path = folder + "/XXXXXXXXXXXX";
    int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    close(fd);
    return path;
}

std::optional<std::string> handOverFolder() {
    // Found from the user id, never from the environment.
    uid_t uid = geteuid();
    std::string runtime = "/run/user/" + std::to_string(uid);
    struct stat st;
    if (lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return runtime + "/" + processName();
    // No login session made one: the home folder is just as much the user's.
    struct passwd* pw = getpwuid(uid);
    if (pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return std::string(pw->pw_dir) + "/.cache/" + processName();
    return std::nullopt;
}

std::optional<std::string> tempFilePath() {
    std::optional<std::string> folder = handOverFolder();
    return folder ? tempFileInFolder(*folder) : std::nullopt;
}

std::optional<std::string> tempFileUnderSubfolder(const std::string& name) {
    return tempFileInFolder(systemTemporaryFolder() + "/" + name);
}

}  // namespace vynd
