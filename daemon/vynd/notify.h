// Notifications of the daemon's log lines for the users logged in.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "daemon/vynd/users.h"

namespace vynd {

struct NotificationRegistration {
    std::string application_id;
    std::string application_name;
    std::vector<std::string> all_notifications;
    std::vector<std::string> default_notifications;
};
// Which notifications exist and which are shown unless a user chose otherwise.
[[nodiscard]] const NotificationRegistration& registrationDictionaryForGrowl();

// Who is notified, and the host name their notifications are titled with.
class Notifier {
  public:
    // Posts a notification with the title "vynd: <host name>".
    void growl(const std::string& description, const std::string& name) const;

  private:
    friend Notifier growl_init(const std::vector<Login>& logins);
    // None while nobody is logged in: nobody could see a notification.
    std::optional<std::vector<uid_t>> recipients_;
    std::optional<std::string> computer_name_;
};

// Finds those of the logged-in users who can be notified and reads the host name.
[[nodiscard]] Notifier growl_init(const std::vector<Login>& logins);

}  // namespace vynd
