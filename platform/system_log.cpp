// The system log: syslog (facility daemon) with the same text on standard error.
#include "system_log.h"

#include <syslog.h>

#include <cstdio>
#include <string>

namespace vynd {

void system_log_open(const char* ident) {
    openlog(ident, LOG_PID, LOG_DAEMON);
}

void system_log(std::string_view message) {
    std::string text(message);
    syslog(LOG_NOTICE, "%s", text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace vynd
