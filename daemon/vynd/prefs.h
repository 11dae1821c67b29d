// The daemon's settings, read once per run from the preference file.
#pragma once

#include <plist/plist.h>

#include <optional>
#include <string>

namespace vynd {

inline constexpr const char* kManagedPrefsPath =
    "/Library/Managed Preferences/com.quenderlyn.vynd.plist";
inline constexpr const char* kGlobalPrefsPath = "/Library/Preferences/com.quenderlyn.vynd.plist";
// Root's own companion of the global preference file: the share password,
// which users who may read the settings must not see.
inline constexpr const char* kPasswordPrefsPath =
    "/Library/Preferences/com.quenderlyn.vynd.passwd.plist";

// One mirrored area's settings: its folder on the share and what vynd does
// with what it installs from there.
struct Area {
    std::string path;
    bool setPerm = false;
    // a chmod mode string such as "u=rw,g=r,o=r,+X"
    std::string perms = "u=rw,g=r,o=r,+X";
    std::string owner = "root";
    std::string group = "wheel";
    bool keepSynced = false;
};

struct Settings {
    bool run_at_login = false;
    int sus_mode = 0;
    std::optional<std::string> sus_server;
    bool sus_restart = false;
    bool sus_repair = false;
    std::optional<std::string> hostname;
    std::optional<std::string> username;
    std::optional<std::string> passwd;
    Area app{.path = "Applications"};
    Area user{.path = "Users"};
    Area lib{.path = "Library"};
    std::string pkg_path = "Packages";
    int bandwidth = 0;
    bool auto_restart = false;
    // The private key for ssh:// shares; empty: root's own keys.
    std::string ssh_key_file;
    // An area kept in step whose folder on the share is empty still deletes.
    bool allow_empty_area = false;
    // Why read_prefs found no settings although a file was there (one larger
    // than kMaxPropertyListSize, which no settings file reaches); empty
    // otherwise. Told once the log is open.
    std::string error;
};

// The settings of the managed preference file when it exists, else of the
// global one. Missing or malformed files give the defaults.
[[nodiscard]] Settings read_prefs();

// The settings a dictionary gives (null: every default).
[[nodiscard]] Settings apply_prefs(plist_t dict);
// Takes the password from the companion file's dictionary, deciphered as its
// own vynd_encrypt_pass says, in place of the one the settings held.
void apply_password_prefs(Settings& settings, plist_t dict);

// "u=%s,g=%s,o=%s,+X" from three permission digits; no value reads as "011".
[[nodiscard]] std::string perms_to_chmod_string(const std::optional<std::string>& perms);

}  // namespace vynd
