// Notifications of the daemon's log lines for the users logged in.
#include "daemon/vynd/notify.h"

#include <pwd.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <cstring>

#include "daemon/vynd/run.h"
#include "platform/notifications.h"

namespace vynd {

std::optional<std::string> computer_name;

namespace {

// Null until growl_init finds someone logged in: nobody could see a
// notification otherwise.
std::optional<std::vector<uid_t>> recipients;

std::vector<uid_t> logged_in_uids() {
    std::vector<uid_t> uids;
    setutxent();
    while (struct utmpx* u = getutxent()) {
        if (u->ut_type != USER_PROCESS)
            continue;
        std::string name(u->ut_user, strnlen(u->ut_user, sizeof u->ut_user));
        if (struct passwd* pw = getpwnam(name.c_str())) {
            if (std::find(uids.begin(), uids.end(), pw->pw_uid) == uids.end())
                uids.push_back(pw->pw_uid);
        }
    }
    endutxent();
    return uids;
}

}  // namespace

const NotificationRegistration& registrationDictionaryForGrowl() {
    static const NotificationRegistration reg{
        "com.quenderlyn.vynd",
        "Quenderlyn",
        {"Info", "Debug", "Error", "Packages", "Fatal"},
        {"Fatal", "Packages"},
    };
    return reg;
}

void growl_init() {
    if (users_logged_in == 0)
        return;
    recipients = logged_in_uids();
    char name[256] = {};
    if (gethostname(name, 255) == 0)
        computer_name = std::string(name);
}

void growl(const std::string& description, const std::string& name) {
    if (!recipients)
        return;
    // There is no per-user choice of notifications here: the registered
    // defaults decide what is shown.
    const auto& shown = registrationDictionaryForGrowl().default_notifications;
    if (std::find(shown.begin(), shown.end(), name) == shown.end())
        return;
    std::string title = "vynd: " + computer_name.value_or("(null)");
    post_desktop_notification(*recipients, title, description);
}

}  // namespace vynd
