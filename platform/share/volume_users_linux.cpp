// Which process keeps a mounted volume busy, read from /proc.
#include "platform/share/volume_users.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace vynd {

namespace {

bool below(const std::string& path, const std::string& mount_point) {
    return path == mount_point || (path.size() > mount_point.size() &&
                                   path.compare(0, mount_point.size(), mount_point) == 0 &&
                                   path[mount_point.size()] == '/');
}

// A link under /proc/<pid> that names a file on the volume. The kernel
// writes the names as seen through this mount namespace.
bool links_below(const fs::path& link, const std::string& mount_point) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return !ec && below(target.string(), mount_point);
}

bool maps_below(const fs::path& maps, const std::string& mount_point) {
    std::ifstream in(maps);
    std::string line;
    while (std::getline(in, line)) {
        size_t slash = line.find(" /");
        if (slash != std::string::npos && below(line.substr(slash + 1), mount_point))
            return true;
    }
    return false;
}

}  // namespace

pid_t process_using_volume(const std::string& mount_point) {
    const pid_t self = getpid();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
        if (pid == self)
            continue;
        const fs::path dir = entry.path();
        if (links_below(dir / "cwd", mount_point) || links_below(dir / "root", mount_point) ||
            links_below(dir / "exe", mount_point))
            return pid;
        std::error_code fd_ec;
        for (const auto& fd : fs::directory_iterator(dir / "fd", fd_ec)) {
            if (links_below(fd.path(), mount_point))
                return pid;
        }
        if (maps_below(dir / "maps", mount_point))
            return pid;
    }
    return 0;
}

std::optional<std::string> process_name(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(in, name) || name.empty())
        return std::nullopt;
    return name;
}

}  // namespace vynd
