// Mounting network shares with the helper program for their URL scheme.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vynd {

struct MountRequest {
    std::string scheme;  // "smb", "cifs", "nfs", "sftp", "ssh", "dav", "davs", "http", "https"
    std::string host;    // as in the URL, brackets of an IPv6 address kept
    std::optional<int> port;
    std::string path;          // the share path, decoded, beginning with "/" (or empty)
    std::string escaped_path;  // the same as it stands in the URL
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::string mount_point;  // an existing empty folder
};

// Mounts the share at the mount point. The user name and password reach the
// helper only through a 0600 file that is removed afterwards or through its
// standard input, never on a command line or in an environment. False with
// a reason when the scheme has no helper or the helper fails.
[[nodiscard]] bool mount_share(const MountRequest& request, std::string* err);
// The same, also giving the helper's exit status as the error code (-1 when
// no helper could be run, 0 when it reported success but mounted nothing).
[[nodiscard]] bool mount_share(const MountRequest& request, std::string* err, int* error_code);

// Removes the credentials files that a stopped process left in /run and
// gives their paths.
std::vector<std::string> remove_leftover_credentials();

// True when something is mounted at exactly this path.
[[nodiscard]] bool is_mount_point(const std::string& path);

// What the kernel shows of a mount (/proc/self/mountinfo).
struct MountEntry {
    std::string type;     // "cifs", "fuse.sshfs", ...
    std::string source;   // the device or share the helper was given
    std::string options;  // the file system's own options ("rw,vers=4.2,sec=sys,...")
};
// The mount seen at exactly this path (the topmost one), or no value.
[[nodiscard]] std::optional<MountEntry> mount_entry(const std::string& path);
// Whether a mount is this share: the same source as mount_share gives it.
[[nodiscard]] bool mount_is_share(const MountEntry& entry, const MountRequest& request);

// Unmounts what is mounted at the path; false when it stays mounted.
[[nodiscard]] bool unmount_share(const std::string& mount_point);
// The same, giving umount's exit status as the error code when it stays mounted.
[[nodiscard]] bool unmount_share(const std::string& mount_point, int* error_code);

}  // namespace vynd
