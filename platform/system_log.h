// The system log: syslog (facility daemon) with the same text on standard error.
#pragma once

#include <string_view>

namespace vynd {

// Names the program in the system log ("vynd", "vyndctl"); call once, early.
void system_log_open(const char* ident);
// Writes one message to the system log and echoes it on standard error.
void system_log(std::string_view message);

}  // namespace vynd
