// Asking systemd to restart the computer, with /sbin/reboot as the last resort.
#include "platform/restart.h"

#include "platform/process.h"

namespace vynd {

bool request_restart() {
    return run_process({"/bin/systemctl", "reboot"}) == 0;
}

void reboot_fallback() {
    (void)run_process({"/sbin/reboot"});
}

}  // namespace vynd
