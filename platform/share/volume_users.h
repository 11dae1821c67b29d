// Which process keeps a mounted volume busy, and what that process is called.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace vynd {

// A process whose working folder, root, open files or mapped files lie on
// the volume mounted at the path; 0 when none is found (or none may be seen).
[[nodiscard]] pid_t process_using_volume(const std::string& mount_point);

// The name of a running process; no value when it has gone or cannot be read.
[[nodiscard]] std::optional<std::string> process_name(pid_t pid);

}  // namespace vynd
