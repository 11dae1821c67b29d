// The exclude file that keeps installed paths of a job out of rsync's way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sync_job.h"

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

}  // namespace vynd
