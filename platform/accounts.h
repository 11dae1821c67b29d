// The local computer's user and group names from the account database.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vynd {

// User names in the database's order, without those beginning with "_".
[[nodiscard]] std::vector<std::string> local_user_names();
// Group names in the database's order, without those beginning with "_" and
// those containing "com." anywhere. Where no group is named "wheel", the
// name follows the name of group 0, which it stands for.
[[nodiscard]] std::vector<std::string> local_group_names();

// The group's ID by name; "wheel" is group 0 where no group has that name.
[[nodiscard]] std::optional<gid_t> group_id(const std::string& name);

}  // namespace vynd
