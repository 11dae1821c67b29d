// The table of settings keys, their types and the pane's registered defaults.
#include "prefspane/settings_keys.h"

#include <array>

namespace vynd {

namespace {

const std::array<SettingKey, 32>& table() {
    static const std::array<SettingKey, 32> keys = {{
        {"vynd_host", SettingType::Text, QString("")},
        {"vynd_username", SettingType::Text, QString("")},
        {"vynd_passwd", SettingType::Text, QString("")},
        {"vynd_app_path", SettingType::Text, QString("Applications")},
        {"vynd_user_path", SettingType::Text, QString("Users")},
        {"vynd_library_path", SettingType::Text, QString("Library")},
        {"vynd_pkg_path", SettingType::Text, QString("Packages")},
        {"vynd_auto_restart", SettingType::Bool, true},
        {"vynd_bandwidth", SettingType::Int, 0},
        {"vynd_volume_hidden", SettingType::Bool, false},
        {"vynd_set_app_perm", SettingType::Bool, false},
        {"vynd_set_user_perm", SettingType::Bool, false},
        {"vynd_set_lib_perm", SettingType::Bool, false},
        {"vynd_encrypt_pass", SettingType::Bool, false},
        {"vynd_keep_app_synced", SettingType::Bool, true},
        {"vynd_keep_user_synced", SettingType::Bool, true},
        {"vynd_keep_lib_synced", SettingType::Bool, true},
        {"vynd_off", SettingType::Int, 1},
        {"vynd_app_perms", SettingType::Text, QString("011")},
        {"vynd_user_perms", SettingType::Text, QString("011")},
        {"vynd_lib_perms", SettingType::Text, QString("011")},
        {"vynd_app_owner", SettingType::Text, QString("root")},
        {"vynd_user_owner", SettingType::Text, QString("root")},
        {"vynd_lib_owner", SettingType::Text, QString("root")},
        {"vynd_app_group", SettingType::Text, QString("wheel")},
        {"vynd_user_group", SettingType::Text, QString("wheel")},
        {"vynd_lib_group", SettingType::Text, QString("wheel")},
        // The daemon's own keys; the pane registers no default for them.
        {"vynd_run_at_login", SettingType::Bool, QVariant()},
        {"vynd_sus_mode", SettingType::Int, QVariant()},
        {"vynd_sus_server", SettingType::Text, QVariant()},
        {"vynd_sus_restart", SettingType::Bool, QVariant()},
        {"vynd_sus_repair", SettingType::Bool, QVariant()},
    }};
    return keys;
}

}  // namespace

bool isVyndKey(const QString& key) {
    return key.startsWith(QLatin1String(kSettingsPrefix));
}

std::span<const SettingKey> settingKeys() {
    return table();
}

const SettingKey* findSettingKey(const QString& key) {
    for (const auto& entry : table())
        if (key == QLatin1String(entry.key))
            return &entry;
    return nullptr;
}

QVariantMap registeredDefaults() {
    QVariantMap defaults;
    for (const auto& entry : table())
        if (entry.registeredDefault.isValid())
            defaults.insert(entry.key, entry.registeredDefault);
    return defaults;
}

QVariant typedSetting(const QString& key, const QVariant& value) {
    const SettingKey* entry = findSettingKey(key);
    if (!entry || !value.isValid())
        return value;
    switch (entry->type) {
        case SettingType::Bool:
            return value.toBool();
        case SettingType::Int:
            return value.toLongLong();
        case SettingType::Text:
            return value.toString();
    }
    return value;
}

}  // namespace vynd
