// The local computer's user and group names from the account database.
#pragma once

#include <string>
#include <vector>

namespace vynd {

// User names in the database's order, without those beginning with "_".
[[nodiscard]] std::vector<std::string> local_user_names();
// Group names in the database's order, without those beginning with "_" and
// those containing "com." anywhere.
[[nodiscard]] std::vector<std::string> local_group_names();

}  // namespace vynd
