// Notifications of the daemon's log lines for the users logged in.
#include "daemon/vynd/notify.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/notifications.h"

namespace vynd {

const NotificationRegistration& registrationDictionaryForGrowl() {
    static const NotificationRegistration reg{
        "com.quenderlyn.vynd",
        "Quenderlyn",
        {"Info", "Debug", "Error", "Packages", "Fatal"},
        {"Fatal", "Packages"},
    };
    return reg;
}

Notifier growl_init(const std::vector<Login>& logins) {
    Notifier notifier;
    if (logins.empty())
        return notifier;
    std::vector<uid_t> uids;
    for (const Login& login : logins) {
        if (struct passwd* pw = getpwnam(login.user.c_str())) {
            if (std::find(uids.begin(), uids.end(), pw->pw_uid) == uids.end())
                uids.push_back(pw->pw_uid);
        }
    }
    notifier.recipients_ = std::move(uids);
    char name[256] = {};
    if (gethostname(name, 255) == 0)
        notifier.computer_name_ = std::string(name);
    return notifier;
}

void Notifier::growl(const std::string& description, const std::string& name) const {
    if (!recipients_)
        return;
    // There is no per-user choice of notifications here: the registered
    // defaults decide what is shown.
    const auto& shown = registrationDictionaryForGrowl().default_notifications;
    if (std::find(shown.begin(), shown.end(), name) == shown.end())
        return;
    std::string title = "vynd: " + computer_name_.value_or("(null)");
    post_desktop_notification(*recipients_, title, description);
}

}  // namespace vynd
