// The daemon's database folder /var/db/vynd and path removal.
#pragma once

#include <string>
#include <vector>

namespace vynd {

inline constexpr const char* kDatabasePath = "/var/db/vynd";

// Creates a folder and its missing parents; Fatal when nothing is there after.
void mkfolder(const std::string& path);
// Creates /var/db/vynd and its four area folders.
void mkdbdir();
// Removes and recreates the database.
void clean_database();
// Removes the temporary files of manifest saves that never ended (the
// daemon was killed while saving) and gives their paths.
std::vector<std::string> remove_half_written_manifests();

// Removes the path (a folder with everything below it). With
// keep_listable_folders a folder that can be listed is left alone. Never
// follows a symbolic link: a link is itself removed. True when nothing is
// left at the path.
[[nodiscard]] bool rmpath(const std::string& path, bool keep_listable_folders);

}  // namespace vynd

namespace vynd {

// Removes the entry `name` of the open folder `parent_fd` and, for a folder,
// everything below it, never following a symbolic link. Errors are ignored:
// callers look at what is left.
void remove_tree_at(int parent_fd, const std::string& name);

}  // namespace vynd
