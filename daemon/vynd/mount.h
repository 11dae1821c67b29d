// Making the share reachable as a local folder for the run, and letting go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/share/remote_share.h"
#include "platform/share/share_url.h"
#include "platform/share/share_volume.h"

namespace vynd {

struct Settings;

// The share as a run reached it, from mount_vol to unmount_vol.
struct Share {
    // The URL parsed from the escaped host text.
    std::optional<ShareUrl> mountURL;
    // The local folder that stands for the root of the share (a file URL).
    std::optional<ShareUrl> volURL;
    // What mount_vol mounted (or found mounted), for unmount_vol.
    std::optional<MountedShare> mounted;
    // A share that rsync reaches itself; nothing is mounted for it.
    std::optional<RemoteShare> remote;
    // Its root as listed when it was reached.
    std::vector<RemoteItem> remote_root;
};

// Mounts the share of the settings (network URLs) or takes the folder of a
// file URL; ends the run with a Fatal line when it cannot.
void mount_vol(Share& share, const Settings& settings);
// Unmounts what mount_vol mounted.
void unmount_vol(Share& share);

// True when rsync reaches the share itself (rsync:// and ssh://): volURL's
// path is then the share's root as rsync names it, not a local folder.
[[nodiscard]] bool share_is_remote(const Share& share);
// Opens in `access` what rsync needs to reach such a share (options, with
// an rsync daemon's message of the day left out, and environment); `access`
// keeps the private files for as long as rsync runs. Nothing for other
// shares. False, logged, when the files cannot be made.
[[nodiscard]] bool open_share_access(const Share& share, RemoteAccess& access);
// The names at the top level of a folder of a remote share (and, when
// asked, the type of each: 'd', 'l', '-'...). No value when it cannot be
// listed.
[[nodiscard]] std::optional<std::vector<std::string>> list_share_folder(
    const Share& share, const std::string& folder, std::vector<char>* types = nullptr);
// True when the folder of a remote share is a symbolic link that the
// server's rsync would follow.
[[nodiscard]] bool remote_folder_is_link(const Share& share, const std::string& folder);

// The rsync option that gives what is mirrored from the share, when vynd
// sets no modes of its own, the modes the mount helper would show by
// default: CIFS and WebDAV shares have no modes of their own, the helper
// makes them up, and the share is mounted with modes for root alone. No
// value for other shares, whose modes are their own.
[[nodiscard]] std::optional<std::string> share_modes_option(const Share& share);

}  // namespace vynd
