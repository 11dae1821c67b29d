// The daemon's database folder /var/db/vynd and path removal.
#include "daemon/vynd/database.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "daemon/vynd/log.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

bool something_at(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void empty_folder(int dir_fd) {
    DIR* dir = fdopendir(dir_fd);
    if (!dir) {
        close(dir_fd);
        return;
    }
    std::vector<std::string> names;
    while (struct dirent* e = readdir(dir)) {
        std::string_view n = e->d_name;
        if (n != "." && n != "..")
            names.emplace_back(n);
    }
    // Removing while listing may skip entries; list first, then remove.
    for (const auto& n : names) remove_tree_at(dirfd(dir), n);
    closedir(dir);
}

}  // namespace

void remove_tree_at(int parent_fd, const std::string& name) {
    if (unlinkat(parent_fd, name.c_str(), 0) == 0)
        return;
    // Not a plain entry (or already gone): descend only into a real folder.
    int fd = openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    empty_folder(fd);  // which closes it
    unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR);
}

bool rmpath(const std::string& path, bool keep_listable_folders) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return true;
    if (keep_listable_folders && S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            closedir(dir);
            return false;
        }
    }
    std::filesystem::path p(path);
    std::string parent = p.parent_path().empty() ? "." : p.parent_path().string();
    std::string name = p.filename().string();
    if (name.empty()) {  // "dir/" names the folder itself
        p = p.parent_path();
        parent = p.parent_path().empty() ? "." : p.parent_path().string();
        name = p.filename().string();
    }
    if (UniqueFd parent_fd{open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)})
        remove_tree_at(parent_fd.get(), name);
    return !something_at(path);
}

bool make_folders(const std::string& path, mode_t mode) {
    std::filesystem::path made;
    for (const auto& part : std::filesystem::path(path)) {
        made /= part;
        // The mode is set, not left to the umask a library call or the
        // caller's shell may have.
        if (mkdir(made.c_str(), mode) == 0)
            chmod(made.c_str(), mode);
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void mkfolder(const std::string& path) {
    (void)make_folders(path, kDatabaseFolderMode);
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        vynd_log("Fatal", "Problem creating directory %s", path.c_str());
}

void mkdbdir() {
    for (const char* area : {"", "/Applications", "/Users", "/Library", "/Packages"})
        mkfolder(std::string(kDatabasePath) + area);
    close_database_to_others();
}

void close_database_to_others() {
    for (const char* area : {"", "/Applications", "/Users", "/Library", "/Packages"}) {
        std::string path = std::string(kDatabasePath) + area;
        UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd)
            continue;
        struct stat st;
        // Only a folder of root's own is this program's to mend.
        if (fstat(fd.get(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 022) != 0) {
            mode_t was = st.st_mode & 07777;
            if (fchmod(fd.get(), was & ~mode_t{022}) == 0)
                vynd_log("Error",
                         "%s could be written by others (mode %04o); it is now writable by root "
                         "alone. What it holds may have been changed: vynd -ci starts afresh",
                         path.c_str(), static_cast<unsigned>(was));
            else
                vynd_log("Error", "%s can be written by others (mode %04o) and cannot be closed",
                         path.c_str(), static_cast<unsigned>(was));
        }
    }
}

std::vector<std::string> remove_half_written_manifests() {
    std::vector<std::string> removed;
    DIR* dir = opendir(kDatabasePath);
    if (!dir)
        return removed;
    while (struct dirent* e = readdir(dir)) {
        std::string_view n = e->d_name;
        for (const char* id : {"Applications", "Users", "Library", "Packages"}) {
            // <id>.plist.XXXXXX, as the manifest writer names them.
            std::string stem = std::string(id) + ".plist.";
            if (n.size() == stem.size() + 6 && n.substr(0, stem.size()) == stem &&
                unlinkat(dirfd(dir), e->d_name, 0) == 0)
                removed.push_back(std::string(kDatabasePath) + "/" + e->d_name);
        }
    }
    closedir(dir);
    return removed;
}

void clean_database() {
    vynd_log("Debug", "Clearing database...");
    if (!rmpath(kDatabasePath, false))
        vynd_log("Fatal", "Problem removing file %s", kDatabasePath);
    mkdbdir();
    vynd_log("Info", "Database cleared");
}

}  // namespace vynd
