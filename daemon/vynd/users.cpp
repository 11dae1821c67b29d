// The users logged in at this computer.
#include "daemon/vynd/users.h"

#include <utmpx.h>

#include <cstring>

#include "platform/system_log.h"

namespace vynd {

std::vector<Login> logged_in_users() {
    std::vector<Login> logins;
    setutxent();
    while (struct utmpx* u = getutxent()) {
        if (u->ut_type != USER_PROCESS)
            continue;
        logins.push_back({std::string(u->ut_user, strnlen(u->ut_user, sizeof u->ut_user)),
                          std::string(u->ut_line, strnlen(u->ut_line, sizeof u->ut_line))});
    }
    endutxent();
    return logins;
}

int check_users_logged_in(const std::vector<Login>& logins) {
    system_log("Checking users logged in");
    for (const Login& login : logins) system_log("user " + login.user + " " + login.line);
    system_log("number of users logged in " + std::to_string(logins.size()));
    return static_cast<int>(logins.size());
}

}  // namespace vynd
