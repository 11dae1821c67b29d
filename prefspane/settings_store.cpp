// The per-user settings store over QSettings.
#include "prefspane/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "prefspane/settings_keys.h"

namespace vynd {

namespace {

// The store is this user's alone: made 0600 before anything is written into
// it, and kept so however the settings library rewrites it.
void keepPrivate(const QSettings& settings) {
    const QString name = settings.fileName();
    if (name.isEmpty() || !QFileInfo(name).isAbsolute())
        return;
    QDir().mkpath(QFileInfo(name).absolutePath());
    const QByteArray path = QFile::encodeName(name);
    int fd = open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0)
        return;
    (void)fchmod(fd, 0600);
    close(fd);
}

}  // namespace

SettingsStore::SettingsStore(QSettings* settings, QObject* parent)
    : QObject(parent), settings_(settings) {
    keepPrivate(*settings_);
}

void SettingsStore::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.begin(); it != defaults.end(); ++it) defaults_.insert(it.key(), *it);
}

QVariant SettingsStore::value(const QString& key) const {
    if (settings_->contains(key))
        return typedSetting(key, settings_->value(key));
    return defaults_.value(key);
}

void SettingsStore::setValue(const QString& key, const QVariant& value) {
    if (!value.isValid())
        settings_->remove(key);
    else
        settings_->setValue(key, value);
    emit valueChanged(key);
}

void SettingsStore::remove(const QString& key) {
    settings_->remove(key);
    emit valueChanged(key);
}

bool SettingsStore::hasStoredValue(const QString& key) const {
    return settings_->contains(key);
}

QStringList SettingsStore::allKeys() const {
    QStringList keys = settings_->allKeys();
    QSet<QString> seen(keys.begin(), keys.end());
    for (auto it = defaults_.begin(); it != defaults_.end(); ++it)
        if (!seen.contains(it.key()))
            keys.append(it.key());
    return keys;
}

void SettingsStore::sync() {
    settings_->sync();
    keepPrivate(*settings_);
}

}  // namespace vynd
