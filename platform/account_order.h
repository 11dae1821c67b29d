// Which local accounts people use, so the owner and group menus can offer those first.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vynd {

// The names rearranged: the accounts people use first, then a break, then
// every other one, each part sorted. Nothing is added or left out.
struct PeopleFirst {
    std::vector<std::string> names;
    size_t common = 0;  // how many of names come before the break
};

// Ordinary login users (the account database's range for them), then root.
[[nodiscard]] PeopleFirst users_people_first(const std::vector<std::string>& names);
// The administrators' groups ("wheel", group 0, "sudo"), then the groups of
// ordinary users and "users".
[[nodiscard]] PeopleFirst groups_people_first(const std::vector<std::string>& names);

}  // namespace vynd
