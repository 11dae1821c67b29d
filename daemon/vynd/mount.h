// Making the share reachable as a local folder for the run, and letting go.
#pragma once

#include <optional>
#include <string>

#include "share_url.h"

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

// The rsync option that gives what is mirrored from the share, when vynd
// sets no modes of its own, the modes the mount helper would show by
// default: CIFS and WebDAV shares have no modes of their own, the helper
// makes them up, and the share is mounted with modes for root alone. No
// value for other shares, whose modes are their own.
[[nodiscard]] std::optional<std::string> share_modes_option();

}  // namespace vynd
