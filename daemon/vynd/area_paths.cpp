// Reaching installed paths inside an area's destination folder without ever
// following a symbolic link below it.
#include "daemon/vynd/area_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

#include "daemon/vynd/path_components.h"
#include "platform/unique_fd.h"

namespace vynd {

namespace {

struct Split {
    std::string parent;  // "" for an item directly in the destination
    std::string name;
};

Split split(std::string_view rel) {
    while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
    size_t slash = rel.rfind('/');
    if (slash == std::string_view::npos)
        return {"", std::string(rel)};
    return {std::string(rel.substr(0, slash)), std::string(rel.substr(slash + 1))};
}

int open_dir_beneath(int root, const std::string& rel) {
    if (rel.empty())
        return fcntl(root, F_DUPFD_CLOEXEC, 0);
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, root, rel.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return static_cast<int>(fd);
    // Older kernels: one component at a time, never following a link.
    int cur = fcntl(root, F_DUPFD_CLOEXEC, 0);
    if (cur < 0)
        return -1;
    for_each_component(rel, [&](std::string_view part) {
        if (part.empty() || part == "." || part == "..") {
            close(cur);
            errno = EINVAL;
            cur = -1;
            return false;
        }
        std::string name(part);
        int next = openat(cur, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int saved = errno;
        close(cur);
        errno = saved;
        cur = next;
        return cur >= 0;
    });
    return cur;
}

int open_root(const std::string& destination) {
    return open(destination.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

bool listable(int parent_fd, const char* name) {
    UniqueFd fd(openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
    if (!dir)
        return false;
    (void)fd.release();  // the listing closes it
    errno = 0;
    readdir(dir);
    bool ok = errno == 0;
    closedir(dir);
    return ok;
}

}  // namespace

bool remove_in_area(const std::string& destination, std::string_view relative_path,
                    bool keep_listable_folders) {
    Split s = split(relative_path);
    if (s.name.empty() || s.name == "." || s.name == "..")
        return false;
    UniqueFd root(open_root(destination));
    if (!root)
        return false;
    UniqueFd parent_fd(open_dir_beneath(root.get(), s.parent));
    int open_errno = errno;
    root.reset();
    if (!parent_fd)
        return open_errno == ENOENT;  // the whole folder is gone
    const int parent = parent_fd.get();
    struct stat st;
    bool gone = false;
    if (fstatat(parent, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        gone = errno == ENOENT;
    } else if (S_ISDIR(st.st_mode)) {
        if (!(keep_listable_folders && listable(parent, s.name.c_str()))) {
            unlinkat(parent, s.name.c_str(), AT_REMOVEDIR);
            gone =
                fstatat(parent, s.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
        }
    } else {
        // A file, or a link itself (never what it points to).
        gone = unlinkat(parent, s.name.c_str(), 0) == 0 || errno == ENOENT;
    }
    return gone;
}

bool lstat_in_area(const std::string& folder, std::string_view relative_path, struct stat* st) {
    Split s = split(relative_path);
    if (s.name.empty() || s.name == "." || s.name == "..")
        return false;
    UniqueFd root(open_root(folder));
    if (!root)
        return false;
    UniqueFd parent(open_dir_beneath(root.get(), s.parent));
    root.reset();
    return parent && fstatat(parent.get(), s.name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

int open_folder_below(const std::string& root, const std::string& path) {
    if (path.compare(0, root.size(), root) != 0) {
        errno = EXDEV;
        return -1;
    }
    std::string rel = path.substr(root.size());
    size_t start = rel.find_first_not_of('/');
    rel = start == std::string::npos ? "" : rel.substr(start);
    while (!rel.empty() && rel.back() == '/') rel.pop_back();
    int root_fd = open_root(root);
    if (root_fd < 0)
        return -1;
    int fd = open_dir_beneath(root_fd, rel);
    int saved = errno;
    close(root_fd);
    errno = saved;
    return fd;
}

namespace {

// The open folders from the destination down to the last item's parent, so
// that a sorted run of paths opens each folder once.
class OpenFolders {
  public:
    explicit OpenFolders(int root) : root_(root) {}
    ~OpenFolders() { close_below(0); }
    OpenFolders(const OpenFolders&) = delete;
    OpenFolders& operator=(const OpenFolders&) = delete;

    // The folder at the components below the destination, opened from the
    // deepest one still open that they share; -1 when one of them is not a
    // folder reached without following a link.
    int reach(const std::vector<std::string_view>& parts) {
        size_t common = 0;
        while (common < open_.size() && common < parts.size() &&
               open_[common].first == parts[common])
            ++common;
        close_below(common);
        for (size_t i = common; i < parts.size(); ++i) {
            std::string part(parts[i]);
            if (part.empty() || part == "." || part == "..")
                return -1;
            int fd = openat(deepest(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                return -1;
            open_.emplace_back(std::move(part), fd);
        }
        return deepest();
    }

  private:
    int deepest() const { return open_.empty() ? root_ : open_.back().second; }
    void close_below(size_t depth) {
        while (open_.size() > depth) {
            close(open_.back().second);
            open_.pop_back();
        }
    }

    int root_;
    std::vector<std::pair<std::string, int>> open_;
};

// Visits a sorted run of relative paths.
void visit_sorted(int root, const std::string_view* first, const std::string_view* last,
                  const std::function<void(int, const char*, const struct stat&)>& visit) {
    OpenFolders folders(root);
    std::vector<std::string_view> parts;
    std::string item;
    for (const std::string_view* it = first; it != last; ++it) {
        std::string_view rel = *it;
        while (!rel.empty() && rel.back() == '/') rel.remove_suffix(1);
        parts.clear();
        for_each_component(rel, [&](std::string_view part) {
            parts.push_back(part);
            return true;
        });
        std::string_view name = parts.back();
        parts.pop_back();
        int parent = folders.reach(parts);
        if (parent < 0 || name.empty() || name == "." || name == "..")
            continue;
        item.assign(name);
        struct stat st;
        if (fstatat(parent, item.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        visit(parent, item.c_str(), st);
    }
}

// Below this many items one walker is as quick as several.
constexpr size_t kItemsPerWalker = 8192;

}  // namespace

void visit_in_area(const std::string& destination, std::vector<std::string_view> relative_paths,
                   const std::function<void(int, const char*, const struct stat&)>& visit) {
    int root = open_root(destination);
    if (root < 0)
        return;
    if (!std::is_sorted(relative_paths.begin(), relative_paths.end()))
        std::sort(relative_paths.begin(), relative_paths.end());
    // The walk waits on one lookup per item, so large areas are shared out
    // in contiguous runs among a few threads.
    size_t walkers = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 4,
                                       relative_paths.size() / kItemsPerWalker + 1});
    const std::string_view* begin = relative_paths.data();
    size_t n = relative_paths.size();
    std::vector<std::thread> threads;
    size_t w = 1;
    try {
        for (; w < walkers; ++w) {
            threads.emplace_back(visit_sorted, root, begin + n * w / walkers,
                                 begin + n * (w + 1) / walkers, std::cref(visit));
        }
    } catch (const std::system_error&) {
        // No thread to be had: this thread walks the runs left over too.
    }
    visit_sorted(root, begin, begin + n / walkers, visit);
    for (; w < walkers; ++w)
        visit_sorted(root, begin + n * w / walkers, begin + n * (w + 1) / walkers, visit);
    for (auto& t : threads) t.join();
    close(root);
}

bool change_item(int parent_fd, const char* name, const struct stat& before,
                 std::optional<mode_t> new_mode, std::optional<uid_t> uid,
                 std::optional<gid_t> gid) {
    // chown's own way of saying "leave it".
    uid_t chown_uid = uid.value_or(static_cast<uid_t>(-1));
    gid_t chown_gid = gid.value_or(static_cast<gid_t>(-1));
    if (S_ISLNK(before.st_mode)) {
        if (!uid && !gid)
            return true;
        return fchownat(parent_fd, name, chown_uid, chown_gid, AT_SYMLINK_NOFOLLOW) == 0;
    }
    // Pin the item itself, so that a swap for a link between the look and
    // the change cannot redirect the change.
    UniqueFd pinned(openat(parent_fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!pinned)
        return false;
    const int fd = pinned.get();
    struct stat now;
    // A file with a second link may be someone else's file linked in here.
    bool ok = fstat(fd, &now) == 0 && !S_ISLNK(now.st_mode) && now.st_ino == before.st_ino &&
              now.st_dev == before.st_dev && !(S_ISREG(now.st_mode) && now.st_nlink > 1);
    if (ok && (uid || gid))
        ok = fchownat(fd, "", chown_uid, chown_gid, AT_EMPTY_PATH) == 0;
    if (ok && new_mode) {
        long rc = -1;
        errno = ENOSYS;
#ifdef SYS_fchmodat2
        rc = syscall(SYS_fchmodat2, fd, "", *new_mode, AT_EMPTY_PATH);
#endif
        if (rc != 0 && (errno == ENOSYS || errno == EINVAL)) {
            // The descriptor's own entry in /proc names the pinned item.
            char proc_path[64];
            snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd);
            rc = chmod(proc_path, *new_mode);
        }
        ok = rc == 0;
    }
    return ok;
}

}  // namespace vynd
