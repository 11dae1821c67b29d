// Mode p: a prepared settings file put in place of the global preference file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace vynd {

inline constexpr const char* kGlobalPrefsFile = "/Library/Preferences/com.quenderlyn.vynd.plist";
// Root's own companion of the global preference file, holding the share
// password (key vynd_passwd, with the vynd_encrypt_pass it was stored under).
inline constexpr const char* kPasswordPrefsFile =
    "/Library/Preferences/com.quenderlyn.vynd.passwd.plist";

// No settings file comes near this; a larger one is refused before it is read.
inline constexpr uint64_t kMaxSettingsFileSize = uint64_t{1} << 20;

struct PrefsTargets {
    std::string prefs = kGlobalPrefsFile;
    std::string password = kPasswordPrefsFile;
};

// Puts the property-list dictionary at `source` in place of the global
// preference file in one step; anything else is refused and the old file
// kept. The source is opened with the rights of `requester` (the user who
// asked), so no one can have a file they may not read published. A link is
// not followed. The new file is owned by root and readable by everyone,
// less its vynd_passwd: a non-empty one goes to the root-only companion, an
// empty one removes the companion, and without the key the companion stays.
[[nodiscard]] bool replace_global_preferences(const std::string& source, uid_t requester,
                                              std::string* err,
                                              const PrefsTargets& targets = {});

}  // namespace vynd
