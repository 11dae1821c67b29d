// Emptying the daemon's log, the one thing the settings pane's log button asks of root.
#pragma once

#include <string>

namespace vynd {

inline constexpr const char* kLogFilePath = "/var/log/vynd.log";

// Truncates the log file to nothing. A missing log is already empty; a link
// or anything but a regular file is refused.
[[nodiscard]] bool empty_log_file(std::string* err, const std::string& path = kLogFilePath);

// The program: takes no arguments, needs root. Returns its exit status.
int emptylog_main(int argc, char** argv);

}  // namespace vynd
