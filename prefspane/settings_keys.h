// Every settings key the pane knows, with its type and registered default, in one table.
#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <span>

namespace vynd {

// The prefix that makes a settings key one of the system's.
inline constexpr char kSettingsPrefix[] = "vynd_";

// True when "vynd_" stands at position 0 of the key.
[[nodiscard]] bool isVyndKey(const QString& key);

enum class SettingType { Bool, Int, Text };

struct SettingKey {
    const char* key;
    SettingType type;
    // The pane's registered default, or an invalid variant when the pane
    // registers none (the daemon's software-update and login-window keys).
    QVariant registeredDefault;
};

// The table: every key the pane binds a control to.
[[nodiscard]] std::span<const SettingKey> settingKeys();
// The entry for a key, or null for a key the table does not hold.
[[nodiscard]] const SettingKey* findSettingKey(const QString& key);
// The defaults registered before every load.
[[nodiscard]] QVariantMap registeredDefaults();
// A value as the key's type in the table (stores that keep text only, such
// as INI files, give back "true" or "60"); unknown keys pass unchanged.
[[nodiscard]] QVariant typedSetting(const QString& key, const QVariant& value);

}  // namespace vynd
