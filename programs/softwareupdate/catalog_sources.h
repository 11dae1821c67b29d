// A site's private catalog: an apt sources file that replaces this
// computer's own sources, so that updates come only from what the site approved.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "programs/softwareupdate/sources_check.h"  // what a catalog must pass

namespace vynd::softwareupdate {

// Where the catalog is kept between the check and the install, with apt's
// package lists for it (never the computer's own).
inline constexpr const char* kCatalogState = "/var/lib/vynd/softwareupdate";

// The Software Update preference files, in the order their "CatalogURL" counts.
[[nodiscard]] std::vector<std::string> software_update_preference_files();
// The first non-empty "CatalogURL" of those files.
[[nodiscard]] std::optional<std::string> configured_catalog_url();

// Fetches the catalog (an absolute path, a file:// URL, or an http(s) URL
// fetched with apt's own downloader), checks it with check_sources, and
// keeps it in `state`.
// Returns the apt-get options that use it and lists of its own, or no value
// with the reason in `err`.
[[nodiscard]] std::optional<std::vector<std::string>> prepare_catalog(const std::string& url,
                                                                      const std::string& state,
                                                                      std::string* err);

}  // namespace vynd::softwareupdate
