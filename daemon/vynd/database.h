// The daemon's database folder /var/db/vynd and path removal.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vynd {

inline constexpr const char* kDatabasePath = "/var/db/vynd";
// The database and its folders: root's, readable by all, writable by root
// alone, so no user can change a manifest or swap a downloaded package.
inline constexpr mode_t kDatabaseFolderMode = 0755;

// Creates a folder and its missing parents, each with `mode` whatever the
// umask; true when a folder is there after.
[[nodiscard]] bool make_folders(const std::string& path, mode_t mode);

// Creates a folder and its missing parents; Fatal when nothing is there after.
void mkfolder(const std::string& path);
// Creates /var/db/vynd and its four area folders.
void mkdbdir();
// Takes group and other write away from the database folders where root
// owns them and an earlier run left them open, each time with an Error.
void close_database_to_others();
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
