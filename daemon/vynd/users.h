// Counting the users logged in at this computer.
#pragma once

namespace vynd {

// Counts the login records of logged-in users into users_logged_in and
// writes each to the system log.
void check_users_logged_in();

}  // namespace vynd
