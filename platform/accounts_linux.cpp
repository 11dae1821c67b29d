// User and group names through getpwent and getgrent.
#include "platform/accounts.h"

#include <grp.h>
#include <pwd.h>

namespace vynd {

std::vector<std::string> local_user_names() {
    std::vector<std::string> names;
    setpwent();
    while (passwd* pw = getpwent()) {
        std::string name = pw->pw_name ? pw->pw_name : "";
        if (!name.empty() && name[0] != '_')
            names.push_back(name);
    }
    endpwent();
    return names;
}

namespace {

// The design's administrators' group, which Debian does not have.
constexpr const char* kWheel = "wheel";

}  // namespace

std::vector<std::string> local_group_names() {
    std::vector<std::string> names;
    bool has_wheel = false;
    size_t group_zero_at = 0;
    setgrent();
    while (group* gr = getgrent()) {
        std::string name = gr->gr_name ? gr->gr_name : "";
        has_wheel |= name == kWheel;
        if (!name.empty() && name[0] != '_' && name.find("com.") == std::string::npos) {
            names.push_back(name);
            if (gr->gr_gid == 0)
                group_zero_at = names.size();
        }
    }
    endgrent();
    if (!has_wheel)
        names.insert(names.begin() + static_cast<long>(group_zero_at), kWheel);
    return names;
}

std::optional<gid_t> group_id(const std::string& name) {
    if (const group* gr = getgrnam(name.c_str()))
        return gr->gr_gid;
    if (name == kWheel)
        return 0;
    return std::nullopt;
}

}  // namespace vynd
