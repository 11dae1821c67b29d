// User and group names through getpwent and getgrent.
#include "accounts.h"

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

std::vector<std::string> local_group_names() {
    std::vector<std::string> names;
    setgrent();
    while (group* gr = getgrent()) {
        std::string name = gr->gr_name ? gr->gr_name : "";
        if (!name.empty() && name[0] != '_' && name.find("com.") == std::string::npos)
            names.push_back(name);
    }
    endgrent();
    return names;
}

}  // namespace vynd
