// Notifications of the daemon's log lines for the users logged in.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vynd {

// The host name used in notification titles; absent until growl_init.
extern std::optional<std::string> computer_name;

struct NotificationRegistration {
    std::string application_id;
    std::string application_name;
    std::vector<std::string> all_notifications;
    std::vector<std::string> default_notifications;
};
// Which notifications exist and which are shown unless a user chose otherwise.
[[nodiscard]] const NotificationRegistration& registrationDictionaryForGrowl();

// Finds the logged-in users who can be notified and reads the host name.
void growl_init();
// Posts a notification with the title "vynd: <host name>".
void growl(const std::string& description, const std::string& name);

}  // namespace vynd
