// Building small Debian packages for tests, with dpkg-deb.
#pragma once

#include <string>

namespace vynd::test {

// Builds a package `name` (version 1.0) that installs `file` with `content`
// under /usr/share, and whose postinst script runs `postinst` when given.
// Writes the .deb to `output`; false when dpkg-deb failed.
[[nodiscard]] bool build_debian_package(const std::string& output, const std::string& name,
                                        const std::string& file, const std::string& content,
                                        const std::string& postinst = "");

}  // namespace vynd::test
