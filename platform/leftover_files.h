// Files that must not outlive this process (secrets, half-written files),
// removed when the process is stopped by a signal.
#pragma once

#include <string>

namespace vynd {

// The file at the path is to be removed if the process is stopped.
void leftover_file_made(const std::string& path);
// The file has been removed or put in its final place by its owner.
void leftover_file_gone(const std::string& path);
// Removes every file still registered. Safe to call from any thread.
void remove_leftover_files();

}  // namespace vynd
