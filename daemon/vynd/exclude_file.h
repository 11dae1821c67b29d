// The exclude file that keeps installed paths of a job out of rsync's way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/vynd/file_map.h"

namespace vynd {

// The rsync exclude pattern that matches exactly the item at the relative
// path (and, for a folder, its content): anchored at the transfer root, with
// the wildcard characters escaped. Line breaks, which cannot stand in an
// exclude file, match as control characters.
[[nodiscard]] std::string exclude_pattern(std::string_view relative_path);

// The patterns for the keys of a files map, leaving out every path whose
// parent folder is itself a key (rsync never looks inside an excluded folder).
[[nodiscard]] std::vector<std::string> exclude_lines(const FileMap& files);

// Writes the lines, one a line, to the path (created or cut to length 0).
[[nodiscard]] bool write_exclude_file(const std::string& path, const FileMap& files,
                                      std::string* err);

// A site exclude file is placed by the administrator, and may also come with
// the share's Library area: whoever writes the share can make it anything.
// rsync reads it whole, as root, so it is bounded like a settings file.
inline constexpr uint64_t kMaxSiteExcludeSize = uint64_t{1} << 20;

enum class SiteExclude { none, usable, refused };

// What stands at a site exclude file's path: nothing, a regular file of at
// most kMaxSiteExcludeSize (a link to one counts), or anything else (a FIFO
// rsync would wait on, a device, a larger file), refused with the reason in `err`.
[[nodiscard]] SiteExclude check_site_exclude_file(const std::string& path, std::string* err);

}  // namespace vynd
