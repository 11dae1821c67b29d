// The software update tool of this platform: Debian package upgrades through apt.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vynd::softwareupdate {

// One upgradable package as apt's simulation lists it.
struct Upgrade {
    std::string name;
    std::string version;
};

// Reads an "Inst name [old] (new ...)" line of apt-get's simulated upgrade;
// false for any other line.
[[nodiscard]] bool parse_apt_install_line(std::string_view line, Upgrade* out);

// The tool's command line:
//   softwareupdate -l          lists the upgradable packages
//   softwareupdate -d -i -a    installs every upgrade
// Returns the exit status.
int softwareupdate_main(const std::vector<std::string>& args);

}  // namespace vynd::softwareupdate
