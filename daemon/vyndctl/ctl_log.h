// The tool's notes in the system log, kept off both output streams.
#pragma once

#include <syslog.h>

#include <string>

namespace vynd {

// The caller reads the tool's output as its reply, so a failure worth
// recording goes to the system log alone.
inline void ctl_log(const std::string& message) {
    syslog(LOG_NOTICE, "%s", message.c_str());
}

}  // namespace vynd
