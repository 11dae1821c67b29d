// Asking the system to restart the computer.
#pragma once

namespace vynd {

// Asks the service manager for a clean reboot; true when the request was taken.
[[nodiscard]] bool request_restart();

// The last resort when the request fails: "/sbin/reboot".
void reboot_fallback();

}  // namespace vynd
