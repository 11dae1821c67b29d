// Mode p: a prepared settings file put in place of the global preference file.
#pragma once

#include <string>

namespace vynd {

inline constexpr const char* kGlobalPrefsFile = "/Library/Preferences/com.quenderlyn.vynd.plist";

// Copies the regular file at `source` (not followed when it is a link) over
// the global preference file in one step: a failure leaves the old file as
// it was. The new file is owned by root and readable by everyone.
[[nodiscard]] bool replace_global_preferences(const std::string& source, std::string* err,
                                              const std::string& target = kGlobalPrefsFile);

}  // namespace vynd
