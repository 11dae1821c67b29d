// Reaching installed paths inside an area's destination folder without ever
// following a symbolic link below it, so that a link (placed by a user in
// their folder, or copied from the share) cannot lead the daemon elsewhere.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vynd {

// Removes the item at the relative path below the destination folder. With
// keep_listable_folders a folder that can be listed stays. True when nothing
// is left there: also when the item or one of its parent folders is already
// gone. False when a parent component is a link or not a folder (the item
// is then not inside the area and is left alone).
[[nodiscard]] bool remove_in_area(const std::string& destination, std::string_view relative_path,
                                  bool keep_listable_folders);

// lstat of the item at the relative path below the folder, reached without
// following any link on the way. False when it is not there that way.
[[nodiscard]] bool lstat_in_area(const std::string& folder, std::string_view relative_path,
                                 struct stat* st);

// Opens the folder at `path` below `root` (where `path` begins with `root`)
// without following a link below the root, so that a child given
// "/proc/self/fd/N/" reads that folder even if the path is swapped for a
// link meanwhile. The descriptor is closed on exec until the caller clears
// the flag. -1 when it cannot be opened that way (errno ELOOP for a link).
[[nodiscard]] int open_folder_below(const std::string& root, const std::string& path);

// Visits the items at the relative paths below the destination folder,
// opening each parent folder once from the destination downwards without
// following links. `visit` gets the parent folder's descriptor, the item's
// name in it and its lstat. Items whose parent cannot be reached that way,
// or that are gone, are skipped. For many paths the walk is shared among a
// few threads, each taking a sorted run of the paths in order, so `visit`
// may be called from several threads at once.
void visit_in_area(
    const std::string& destination, std::vector<std::string_view> relative_paths,
    const std::function<void(int parent_fd, const char* name, const struct stat& st)>& visit);

// Changes mode and owner of the item named in the parent folder without
// following it: a link's owner is changed on the link itself and a link
// never gets a mode. What is not given is left as it is. False when a change
// failed.
[[nodiscard]] bool change_item(int parent_fd, const char* name, const struct stat& before,
                               std::optional<mode_t> new_mode, std::optional<uid_t> uid,
                               std::optional<gid_t> gid);

}  // namespace vynd
