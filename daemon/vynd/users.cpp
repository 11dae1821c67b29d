// Counting the users logged in at this computer.
#include "daemon/vynd/users.h"

#include <utmpx.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "daemon/vynd/run.h"
#include "platform/system_log.h"

namespace vynd {

void check_users_logged_in() {
    system_log("Checking users logged in");
    while (struct utmpx* u = getutxent()) {
        if (u->ut_type != USER_PROCESS)
            continue;
        std::string user(u->ut_user, strnlen(u->ut_user, sizeof u->ut_user));
        std::string line(u->ut_line, strnlen(u->ut_line, sizeof u->ut_line));
        system_log("user " + user + " " + line);
        ++users_logged_in;
    }
    system_log("number of users logged in " + std::to_string(users_logged_in));
}

}  // namespace vynd
