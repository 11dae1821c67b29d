// Which apt sources a site's catalog may name: nothing that loosens apt's
// checks of what it installs, and keyrings that only root can change.
#pragma once

#include <string>

namespace vynd::softwareupdate {

// Checks a sources file in either of apt's formats ("deb ..." lines, or
// deb822 stanzas). Options that weaken apt's checks of what it installs
// (trusted, allow-insecure, check-valid-until, ...) and keys embedded in
// the file are refused: the file says where updates come from, the keys
// installed on this computer say whom to believe. True when it may be used;
// `deb822` tells which format it is. `err` names the first fault.
[[nodiscard]] bool check_sources(const std::string& text, bool* deb822, std::string* err);

}  // namespace vynd::softwareupdate
