// Which local accounts people use, from the account database and /etc/login.defs.
#include "platform/account_order.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace vynd {

namespace {

struct IdRange {
    long min;
    long max;
    bool holds(long id) const { return id >= min && id <= max; }
};

// The range useradd gives ordinary accounts: UID_MIN/UID_MAX or
// GID_MIN/GID_MAX in /etc/login.defs, Debian's defaults where it says nothing.
IdRange ordinaryRange(const char* minKey, const char* maxKey) {
    IdRange range{1000, 60000};
    std::ifstream defs("/etc/login.defs");
    std::string line;
    while (std::getline(defs, line)) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (!(words >> key >> value) || key.empty() || key[0] == '#')
            continue;
        char* end = nullptr;
        const long number = std::strtol(value.c_str(), &end, 10);
        if (end == value.c_str() || *end != '\0' || number < 0)
            continue;
        if (key == minKey)
            range.min = number;
        else if (key == maxKey)
            range.max = number;
    }
    return range;
}

PeopleFirst split(const std::vector<std::string>& names,
                  const std::function<int(const std::string&)>& rank) {
    // rank: 0 and up for the common part, in that order; -1 for the others.
    std::vector<std::pair<int, std::string>> ranked;
    for (const std::string& name : names) ranked.emplace_back(rank(name), name);
    auto key = [](const std::pair<int, std::string>& r) {
        return std::make_pair(r.first < 0 ? 1 : 0, r.first < 0 ? 0 : r.first);
    };
    std::stable_sort(ranked.begin(), ranked.end(), [&](const auto& a, const auto& b) {
        return key(a) != key(b) ? key(a) < key(b) : a.second < b.second;
    });
    PeopleFirst out;
    for (const auto& [r, name] : ranked) {
        out.names.push_back(name);
        if (r >= 0)
            ++out.common;
    }
    return out;
}

}  // namespace

PeopleFirst users_people_first(const std::vector<std::string>& names) {
    const IdRange ordinary = ordinaryRange("UID_MIN", "UID_MAX");
    return split(names, [&](const std::string& name) {
        const passwd* pw = getpwnam(name.c_str());
        if (!pw)
            return -1;
        if (ordinary.holds(static_cast<long>(pw->pw_uid)))
            return 0;
        return pw->pw_uid == 0 ? 1 : -1;
    });
}

PeopleFirst groups_people_first(const std::vector<std::string>& names) {
    const IdRange ordinary = ordinaryRange("GID_MIN", "GID_MAX");
    return split(names, [&](const std::string& name) {
        if (name == "wheel")
            return 0;
        const group* gr = getgrnam(name.c_str());
        if (!gr)
            return -1;
        if (gr->gr_gid == 0)
            return 1;
        if (name == "sudo")
            return 2;
        if (ordinary.holds(static_cast<long>(gr->gr_gid)) || name == "users")
            return 3;
        return -1;
    });
}

}  // namespace vynd
