// The daemon's settings, read once per run from the preference file.
#include "daemon/vynd/prefs.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <string_view>

#include "platform/property_list.h"
#include "transformers/value_transformers.h"

namespace vynd {

bool run_at_login = false;
int sus_mode = 0;
std::optional<std::string> sus_server;
bool sus_restart = false;
bool sus_repair = false;
std::optional<std::string> hostname;
std::optional<std::string> username;
std::optional<std::string> passwd;
std::string app_path = "Applications";
std::string user_path = "Users";
std::string lib_path = "Library";
std::string pkg_path = "Packages";
int bandwidth = 0;
bool auto_restart = false;
bool set_app_perm = false;
bool set_user_perm = false;
bool set_lib_perm = false;
std::string app_perms;
std::string user_perms;
std::string lib_perms;
std::string app_owner;
std::string user_owner;
std::string lib_owner;
std::string app_group;
std::string user_group;
std::string lib_group;
bool keep_app_synced = false;
bool keep_user_synced = false;
bool keep_lib_synced = false;
std::string ssh_key_file;
bool allow_empty_area = false;
std::string prefs_error;

namespace {

// A text read as a number the way the settings store does: leading blanks,
// an optional sign, then as many digits as there are.
long long leading_integer(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    return negative ? -value : value;
}

int clamp_int(long long v) {
    return static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
}

std::optional<int> int_value(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_UINT: {
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return clamp_int(static_cast<int64_t>(v));
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            if (std::isnan(v))
                return 0;
            return clamp_int(static_cast<long long>(std::fmax(std::fmin(v, 1e18), -1e18)));
        }
        case PLIST_BOOLEAN: {
            uint8_t v = 0;
            plist_get_bool_val(node, &v);
            return v ? 1 : 0;
        }
        case PLIST_STRING: {
            std::optional<std::string> text = plist_dict_string(dict, key);
            if (!text)
                return std::nullopt;
            return clamp_int(leading_integer(*text));
        }
        default:
            return std::nullopt;
    }
}

std::optional<bool> bool_value(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (!node)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN:
            return plist_dict_bool(dict, key);
        case PLIST_STRING: {
            std::optional<std::string> stored = plist_dict_string(dict, key);
            if (!stored)
                return std::nullopt;
            const std::string& text = *stored;
            size_t i = text.find_first_not_of(" \t\n\r\f\v");
            if (i != std::string::npos &&
                std::string_view("YyTt").find(text[i]) != std::string::npos)
                return true;
            return leading_integer(text) != 0;
        }
        case PLIST_UINT: {
            uint64_t v = 0;
            plist_get_uint_val(node, &v);
            return v != 0;
        }
        case PLIST_REAL: {
            double v = 0;
            plist_get_real_val(node, &v);
            return v != 0;
        }
        default:
            return std::nullopt;
    }
}

bool read_bool(plist_t dict, const char* key) {
    return bool_value(dict, key).value_or(false);
}

std::optional<std::string> read_text(plist_t dict, const char* key) {
    return dict ? plist_dict_string(dict, key) : std::nullopt;
}

// The four area folders fall back when absent or empty.
std::string read_folder(plist_t dict, const char* key, const char* fallback) {
    auto v = read_text(dict, key);
    return v && !v->empty() ? *v : fallback;
}

// Owners and groups fall back only when absent: an empty text stays empty.
std::string read_owner(plist_t dict, const char* key, const char* fallback) {
    return read_text(dict, key).value_or(fallback);
}

std::optional<std::string> read_credential(plist_t dict, const char* key) {
    auto v = read_text(dict, key);
    if (!v || v->empty())
        return std::nullopt;
    return v;
}

}  // namespace

std::string perms_to_chmod_string(const std::optional<std::string>& perms) {
    static const char kDefault[] = "011";
    std::string digits = perms.value_or(kDefault);
    std::string letters[3];
    for (size_t i = 0; i < 3; ++i) {
        // A missing digit reads as 0; anything but 0, 1 and 2 as the default.
        char d = i < digits.size() ? digits[i] : '0';
        if (d != '0' && d != '1' && d != '2')
            d = kDefault[i];
        letters[i] = d == '0' ? "rw" : d == '1' ? "r" : "";
    }
    return "u=" + letters[0] + ",g=" + letters[1] + ",o=" + letters[2] + ",+X";
}

void read_prefs() {
    struct stat st;
    const bool managed = stat(kManagedPrefsPath, &st) == 0;
    const char* path = managed ? kManagedPrefsPath : kGlobalPrefsPath;
    prefs_error.clear();
    auto file =
        read_property_list_dictionary(path, kMaxPropertyListSize, &prefs_error, "a settings file");
    apply_prefs(file ? file->get() : nullptr);
    // A managed preference file is used whole, password and all. The
    // companion counts only when root made it.
    if (!managed && lstat(kPasswordPrefsPath, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0) {
        if (auto secret = read_property_list_dictionary(kPasswordPrefsPath, kMaxPropertyListSize,
                                                        &prefs_error, "a settings file"))
            apply_password_prefs(secret->get());
    }
}

void apply_password_prefs(plist_t d) {
    if (!plist_dict_get_item(d, "vynd_passwd"))
        return;
    passwd = read_credential(d, "vynd_passwd");
    if (passwd && read_bool(d, "vynd_encrypt_pass"))
        passwd = PasswordValueTransformer::decode(*passwd);
}

void apply_prefs(plist_t d) {
    auto get_bool = [d](const char* key) { return d ? read_bool(d, key) : false; };
    auto get_int = [d](const char* key) { return d ? int_value(d, key).value_or(0) : 0; };

    run_at_login = get_bool("vynd_run_at_login");
    sus_mode = get_int("vynd_sus_mode");
    sus_server = read_text(d, "vynd_sus_server");
    sus_restart = get_bool("vynd_sus_restart");
    sus_repair = get_bool("vynd_sus_repair");
    hostname = read_text(d, "vynd_host");
    username = read_credential(d, "vynd_username");
    if (username && get_bool("vynd_encrypt_pass"))
        username = PasswordValueTransformer::decode(*username);
    passwd = read_credential(d, "vynd_passwd");
    if (passwd && get_bool("vynd_encrypt_pass"))
        passwd = PasswordValueTransformer::decode(*passwd);
    app_path = read_folder(d, "vynd_app_path", "Applications");
    user_path = read_folder(d, "vynd_user_path", "Users");
    lib_path = read_folder(d, "vynd_library_path", "Library");
    pkg_path = read_folder(d, "vynd_pkg_path", "Packages");
    bandwidth = get_int("vynd_bandwidth");
    auto_restart = get_bool("vynd_auto_restart");
    set_app_perm = get_bool("vynd_set_app_perm");
    set_user_perm = get_bool("vynd_set_user_perm");
    set_lib_perm = get_bool("vynd_set_lib_perm");
    app_perms = perms_to_chmod_string(read_text(d, "vynd_app_perms"));
    user_perms = perms_to_chmod_string(read_text(d, "vynd_user_perms"));
    lib_perms = perms_to_chmod_string(read_text(d, "vynd_lib_perms"));
    app_owner = read_owner(d, "vynd_app_owner", "root");
    user_owner = read_owner(d, "vynd_user_owner", "root");
    lib_owner = read_owner(d, "vynd_lib_owner", "root");
    app_group = read_owner(d, "vynd_app_group", "wheel");
    user_group = read_owner(d, "vynd_user_group", "wheel");
    lib_group = read_owner(d, "vynd_lib_group", "wheel");
    keep_app_synced = get_bool("vynd_keep_app_synced");
    keep_user_synced = get_bool("vynd_keep_user_synced");
    keep_lib_synced = get_bool("vynd_keep_lib_synced");
    ssh_key_file = read_text(d, "vynd_ssh_key_file").value_or("");
    allow_empty_area = get_bool("vynd_allow_empty_area");
}

}  // namespace vynd
