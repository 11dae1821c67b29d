// System-log output of the crypto library.
#include "crypto_log.h"

#include <syslog.h>

#include <cstdio>

namespace vynd {

void crypto_log(const std::string& line) {
    // The programs set their own syslog ident; this only picks facility and level.
    syslog(LOG_DAEMON | LOG_ERR, "%s", line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace vynd
