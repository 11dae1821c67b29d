// Making the share reachable as a local folder for the run, and letting go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/share/remote_share.h"
#include "platform/share/share_url.h"

namespace vynd {

// The URL parsed from the escaped host text; no value before mount_vol.
extern std::optional<ShareUrl> mountURL;
// The local folder that stands for the root of the share (a file URL).
extern std::optional<ShareUrl> volURL;

// Mounts the share of the settings (network URLs) or takes the folder of a
// file URL; ends the run with a Fatal line when it cannot.
void mount_vol();
// Unmounts what mount_vol mounted.
void unmount_vol();

// True when rsync reaches the share itself (rsync:// and ssh://): volURL's
// path is then the share's root as rsync names it, not a local folder.
[[nodiscard]] bool share_is_remote();
// Gives an rsync argument vector (after its program) and environment what
// they need to reach such a share; `access` keeps the private files for as
// long as rsync runs; an rsync daemon's message of the day is left out.
// Nothing for other shares. False, logged, when the files cannot be made.
[[nodiscard]] bool add_share_access(RemoteAccess& access, std::vector<std::string>& argv,
                                    std::vector<std::string>& env);
// The names at the top level of a folder of a remote share (and, when
// asked, the type of each: 'd', 'l', '-'...). No value when it cannot be
// listed.
[[nodiscard]] std::optional<std::vector<std::string>> list_share_folder(
    const std::string& folder, std::vector<char>* types = nullptr);
// True when the folder of a remote share is a symbolic link that the
// server's rsync would follow.
[[nodiscard]] bool remote_folder_is_link(const std::string& folder);

// The rsync option that gives what is mirrored from the share, when vynd
// sets no modes of its own, the modes the mount helper would show by
// default: CIFS and WebDAV shares have no modes of their own, the helper
// makes them up, and the share is mounted with modes for root alone. No
// value for other shares, whose modes are their own.
[[nodiscard]] std::optional<std::string> share_modes_option();

}  // namespace vynd
