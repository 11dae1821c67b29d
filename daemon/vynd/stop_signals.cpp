// A run stopped by SIGTERM (systemctl stop), SIGINT or SIGHUP.
#include "daemon/vynd/stop_signals.h"

#include <cstring>

#include "daemon/vynd/log.h"
#include "platform/process_stop.h"

namespace vynd {

void catch_stop_signals() {
    end_on_stop_signals([](int signal) {
        const char* name = sigabbrev_np(signal);
        vynd_log("Fatal", "vynd stopped by SIG%s", name ? name : "?");
    });
}

}  // namespace vynd
