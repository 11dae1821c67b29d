// The fleet's spread: how long the timer may put off each run, from the settings.
#pragma once

#include <string>

#include "daemon/vyndctl/global_prefs.h"
#include "platform/job_control.h"

namespace vynd {

inline constexpr const char* kManagedPrefsFile =
    "/Library/Managed Preferences/com.quenderlyn.vynd.plist";

// `vynd_random_delay` (seconds, 0 for none) of the managed preference file
// when there is one, otherwise of the global one; no value (the timer's
// default) when it is missing or not a number of seconds.
[[nodiscard]] RandomDelay random_delay_setting(const std::string& managed = kManagedPrefsFile,
                                               const std::string& global = kGlobalPrefsFile);

}  // namespace vynd
