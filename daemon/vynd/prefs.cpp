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

Settings read_prefs() {
    struct stat st;
    const bool managed = stat(kManagedPrefsPath, &st) == 0;
    const char* path = managed ? kManagedPrefsPath : kGlobalPrefsPath;
    std::string error;
    auto file =
        read_property_list_dictionary(path, kMaxPropertyListSize, &error, "a settings file");
    Settings settings = apply_prefs(file ? file->get() : nullptr);
    // A managed preference file is used whole, password and all. The
    // companion counts only when root made it.
    if (!managed && lstat(kPasswordPrefsPath, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0) {
        if (auto secret = read_property_list_dictionary(kPasswordPrefsPath, kMaxPropertyListSize,
                                                        &error, "a settings file"))
            apply_password_prefs(settings, secret->get());
    }
    settings.error = std::move(error);
    return settings;
}

void apply_password_prefs(Settings& settings, plist_t d) {
    if (!plist_dict_get_item(d, "vynd_passwd"))
        return;
    auto& passwd = settings.passwd;
    passwd = read_credential(d, "vynd_passwd");
    if (passwd && read_bool(d, "vynd_encrypt_pass"))
        passwd = PasswordValueTransformer::decode(*passwd);
}

Settings apply_prefs(plist_t d) {
    auto get_bool = [d](const char* key) { return d ? read_bool(d, key) : false; };
    auto get_int = [d](const char* key) { return d ? int_value(d, key).value_or(0) : 0; };
    // The keys of one area, spelled out so that each can be found.
    struct AreaKeys {
        const char* path;
        const char* fallback;
        const char* set_perm;
        const char* perms;
        const char* owner;
        const char* group;
        const char* keep_synced;
    };
    auto area = [&](const AreaKeys& k) {
        Area a;
        a.path = read_folder(d, k.path, k.fallback);
        a.setPerm = get_bool(k.set_perm);
        a.perms = perms_to_chmod_string(read_text(d, k.perms));
        a.owner = read_owner(d, k.owner, "root");
        a.group = read_owner(d, k.group, "wheel");
        a.keepSynced = get_bool(k.keep_synced);
        return a;
    };

    Settings s;
    s.run_at_login = get_bool("vynd_run_at_login");
    s.sus_mode = get_int("vynd_sus_mode");
    s.sus_server = read_text(d, "vynd_sus_server");
    s.sus_restart = get_bool("vynd_sus_restart");
    s.sus_repair = get_bool("vynd_sus_repair");
    s.hostname = read_text(d, "vynd_host");
    s.username = read_credential(d, "vynd_username");
    if (s.username && get_bool("vynd_encrypt_pass"))
        s.username = PasswordValueTransformer::decode(*s.username);
    s.passwd = read_credential(d, "vynd_passwd");
    if (s.passwd && get_bool("vynd_encrypt_pass"))
        s.passwd = PasswordValueTransformer::decode(*s.passwd);
    s.app = area({"vynd_app_path", "Applications", "vynd_set_app_perm", "vynd_app_perms",
                  "vynd_app_owner", "vynd_app_group", "vynd_keep_app_synced"});
    s.user = area({"vynd_user_path", "Users", "vynd_set_user_perm", "vynd_user_perms",
                   "vynd_user_owner", "vynd_user_group", "vynd_keep_user_synced"});
    s.lib = area({"vynd_library_path", "Library", "vynd_set_lib_perm", "vynd_lib_perms",
                  "vynd_lib_owner", "vynd_lib_group", "vynd_keep_lib_synced"});
    s.pkg_path = read_folder(d, "vynd_pkg_path", "Packages");
    s.bandwidth = get_int("vynd_bandwidth");
    s.auto_restart = get_bool("vynd_auto_restart");
    s.ssh_key_file = read_text(d, "vynd_ssh_key_file").value_or("");
    s.allow_empty_area = get_bool("vynd_allow_empty_area");
    return s;
}

}  // namespace vynd
