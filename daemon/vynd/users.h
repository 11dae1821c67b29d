// The users logged in at this computer.
#pragma once

#include <string>
#include <vector>

namespace vynd {

// One login record of a user logged in: the user's name and terminal line.
struct Login {
    std::string user;
    std::string line;
};

// The login records of the users logged in now, as the system keeps them:
// the one place that reads them.
[[nodiscard]] std::vector<Login> logged_in_users();

// Writes each login to the system log and gives how many there are.
int check_users_logged_in(const std::vector<Login>& logins);

}  // namespace vynd
