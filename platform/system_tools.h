// Where the system tools the daemon runs live on this platform.
#pragma once

namespace vynd {

// The package installer and the software update tool are stand-ins of our
// own with the command lines of the originals.
inline constexpr const char* kInstallerPath = "/Library/Application Support/Quenderlyn/installer";
inline constexpr const char* kSoftwareUpdatePath =
    "/Library/Application Support/Quenderlyn/softwareupdate";
// Permission repair has no counterpart here; the command is run all the same.
inline constexpr const char* kDiskutilPath = "/usr/sbin/diskutil";

}  // namespace vynd
