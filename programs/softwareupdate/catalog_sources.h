// A site's private catalog: an apt sources file that replaces this
// computer's own sources, so that updates come only from what the site approved.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vynd::softwareupdate {

// Where the catalog is kept between the check and the install, with apt's
// package lists for it (never the computer's own).
inline constexpr const char* kCatalogState = "/var/lib/vynd/softwareupdate";

// The Software Update preference files, in the order their "CatalogURL" counts.
[[nodiscard]] std::vector<std::string> software_update_preference_files();
// The first non-empty "CatalogURL" of those files.
[[nodiscard]] std::optional<std::string> configured_catalog_url();

// Checks a sources file in either of apt's formats ("deb ..." lines, or
// deb822 stanzas). Options that weaken apt's checks of what it installs
// (trusted, allow-insecure, check-valid-until, ...) and keys embedded in
// the file are refused: the file says where updates come from, the keys
// installed on this computer say whom to believe. True when it may be used;
// `deb822` tells which format it is. `err` names the first fault.
[[nodiscard]] bool check_sources(const std::string& text, bool* deb822, std::string* err);

// Fetches the catalog (an absolute path, a file:// URL, or an http(s) URL
// fetched with apt's own downloader), checks it, and keeps it in `state`.
// Returns the apt-get options that use it and lists of its own, or no value
// with the reason in `err`.
[[nodiscard]] std::optional<std::vector<std::string>> prepare_catalog(const std::string& url,
                                                                      const std::string& state,
                                                                      std::string* err);

}  // namespace vynd::softwareupdate
