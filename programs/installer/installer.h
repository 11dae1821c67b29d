// The package installer of this platform: Debian packages through dpkg.
#pragma once

#include <string>
#include <vector>

namespace vynd::installer {

// Whether the file is a Debian binary package (an ar archive whose first
// member is debian-binary); a link is not followed.
[[nodiscard]] bool is_debian_package(const std::string& path);

// The answer to "-query RestartAction": "RequireRestart" while the system
// asks for a restart, else "None".
[[nodiscard]] std::string restart_action();

// The installer's command line:
//   installer -pkg PATH -target /
//   installer -query RestartAction -pkg PATH
// PATH must be a regular file itself, never a link: it is opened once and
// installed from that descriptor. Returns the exit status.
int installer_main(const std::vector<std::string>& args);

}  // namespace vynd::installer
