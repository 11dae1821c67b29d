// Files that must not outlive this process (secrets, half-written files,
// scratch folders), removed when the process is stopped by a signal, and
// what it left running that is no child of its own, ended then too.
#pragma once

#include <string>
#include <vector>

namespace vynd {

// The file at the path is to be removed if the process is stopped.
void leftover_file_made(const std::string& path);
// The file has been removed or put in its final place by its owner.
void leftover_file_gone(const std::string& path);
// The same for a folder of this process's own (a scratch tree), removed
// with everything in it.
void leftover_folder_made(const std::string& path);
void leftover_folder_gone(const std::string& path);
// A command (an absolute path and its arguments) that ends something this
// process started outside its children, such as the connection master ssh
// puts in the background: run when the process is stopped, and forgotten
// once its owner has ended that itself.
void leftover_command_made(const std::vector<std::string>& argv);
void leftover_command_gone(const std::vector<std::string>& argv);
// Runs every command still registered (each given a few seconds), then
// removes every file and folder still registered. Safe to call from any
// thread, also once the process's children are being stopped.
void remove_leftover_files();

}  // namespace vynd
