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

extern bool run_at_login;
extern int sus_mode;
extern std::optional<std::string> sus_server;
extern bool sus_restart;
extern bool sus_repair;
extern std::optional<std::string> hostname;
extern std::optional<std::string> username;
extern std::optional<std::string> passwd;
extern std::string app_path;
extern std::string user_path;
extern std::string lib_path;
extern std::string pkg_path;
extern int bandwidth;
extern bool auto_restart;
extern bool set_app_perm;
extern bool set_user_perm;
extern bool set_lib_perm;
// chmod mode strings such as "u=rw,g=r,o=r,+X"
extern std::string app_perms;
extern std::string user_perms;
extern std::string lib_perms;
extern std::string app_owner;
extern std::string user_owner;
extern std::string lib_owner;
extern std::string app_group;
extern std::string user_group;
extern std::string lib_group;
extern bool keep_app_synced;
extern bool keep_user_synced;
extern bool keep_lib_synced;
// The private key for ssh:// shares; empty: root's own keys.
extern std::string ssh_key_file;
// An area kept in step whose folder on the share is empty still deletes.
extern bool allow_empty_area;

// Why read_prefs found no settings although a file was there (one larger than
// kMaxPropertyListSize, which no settings file reaches); empty otherwise.
// Told once the log is open.
extern std::string prefs_error;

// Fills the globals above from the managed preference file when it exists,
// else from the global one. Missing or malformed files give the defaults.
void read_prefs();

// Sets the globals from a settings dictionary (null: every default).
void apply_prefs(plist_t dict);
// Takes the password from the companion file's dictionary, deciphered as its
// own vynd_encrypt_pass says, in place of the one the settings held.
void apply_password_prefs(plist_t dict);

// "u=%s,g=%s,o=%s,+X" from three permission digits; no value reads as "011".
[[nodiscard]] std::string perms_to_chmod_string(const std::optional<std::string>& perms);

}  // namespace vynd
