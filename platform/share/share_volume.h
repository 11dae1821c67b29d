// A network share mounted at its place under /Volumes for as long as it is needed.
#pragma once

#include <optional>
#include <string>

#include "platform/share/share_url.h"

namespace vynd {

struct MountedShare {
    std::string mount_point;
    bool made_folder = false;  // the mount folder was created for this mount
    bool reused = false;       // something was mounted there already
};

// Mounts the share of a network URL at share_mount_point(url), or reuses what
// is mounted there already, so a share is never mounted twice. A mount folder
// made for a mount that fails is removed again. No value when the mount
// fails, with the reason and the helper's error code.
[[nodiscard]] std::optional<MountedShare> mount_share_volume(
    const ShareUrl& url, const std::optional<std::string>& user,
    const std::optional<std::string>& password, std::string* err, int* error_code);

// Unmounts the share and removes the folder made for it; false when it stays
// mounted (a process keeps it busy), with umount's error code.
[[nodiscard]] bool unmount_share_volume(const MountedShare& share, int* error_code);

}  // namespace vynd
