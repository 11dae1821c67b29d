// The fleet's spread: how long the timer may put off each run, from the settings.
#include "daemon/vyndctl/random_delay.h"

#include <sys/stat.h>

#include "daemon/vyndctl/ctl_log.h"
#include "platform/property_list.h"

namespace vynd {

RandomDelay random_delay_setting(const std::string& managed, const std::string& global) {
    struct stat st;
    // A managed file stands for the settings whole, as the daemon reads them.
    const std::string& path = lstat(managed.c_str(), &st) == 0 ? managed : global;
    auto prefs = read_property_list_dictionary(path);
    if (!prefs || !plist_dict_get_item(prefs->get(), "vynd_random_delay"))
        return std::nullopt;
    auto seconds = plist_dict_int(prefs->get(), "vynd_random_delay");
    if (!seconds || *seconds < 0) {
        ctl_log("vynd_random_delay in " + path +
                " is not a number of seconds; the default is used");
        return std::nullopt;
    }
    return seconds;
}

}  // namespace vynd
