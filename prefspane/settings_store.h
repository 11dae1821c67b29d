// The per-user settings store: stored values in QSettings, registered defaults held apart.
#pragma once

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace vynd {

// A read gives the stored value when there is one, otherwise the registered
// default, typed by the settings table.
class SettingsStore : public QObject {
    Q_OBJECT

  public:
    // The store does not own the QSettings; the host chooses its file.
    explicit SettingsStore(QSettings* settings, QObject* parent = nullptr);

    void registerDefaults(const QVariantMap& defaults);
    [[nodiscard]] QVariant value(const QString& key) const;
    [[nodiscard]] QString text(const QString& key) const { return value(key).toString(); }
    [[nodiscard]] bool flag(const QString& key) const { return value(key).toBool(); }
    [[nodiscard]] qlonglong integer(const QString& key) const { return value(key).toLongLong(); }
    // Stores a value; an invalid variant (no value) removes the stored one.
    void setValue(const QString& key, const QVariant& value);
    // Removes the stored value; the registered default shows through again.
    void remove(const QString& key);
    [[nodiscard]] bool hasStoredValue(const QString& key) const;
    // Keys of the stored values and of the registered defaults together.
    [[nodiscard]] QStringList allKeys() const;
    void sync();

  signals:
    void valueChanged(const QString& key);

  private:
    QSettings* settings_;
    QVariantMap defaults_;
};

}  // namespace vynd
