// Files that must not outlive this process (secrets, half-written files,
// scratch folders), removed when the process is stopped by a signal.
#pragma once

#include <string>

namespace vynd {

// The file at the path is to be removed if the process is stopped.
void leftover_file_made(const std::string& path);
// The file has been removed or put in its final place by its owner.
void leftover_file_gone(const std::string& path);
// The same for a folder of this process's own (a scratch tree), removed
// with everything in it.
void leftover_folder_made(const std::string& path);
void leftover_folder_gone(const std::string& path);
// Removes every file and folder still registered. Safe to call from any thread.
void remove_leftover_files();

}  // namespace vynd
