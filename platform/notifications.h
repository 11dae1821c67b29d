// Desktop notifications for the users logged in at this computer.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vynd {

// Posts a notification to the session bus of each user who has one
// (/run/user/<uid>/bus), as that user. Skipped silently when the client
// library, the bus or the notification service is missing; returns within
// about a second whatever the services do.
void post_desktop_notification(const std::vector<uid_t>& users, const std::string& title,
                               const std::string& body);

}  // namespace vynd
