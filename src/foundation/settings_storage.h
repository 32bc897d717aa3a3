#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

namespace zapum {

// The user's persisted settings: one JSON file in the XDG config directory, read through QSettings
// with a JSON format so that a stored bool stays a bool and a stored text stays text. Every
// assignment is written and synced at once; nothing is left to flush at exit.
class SettingsStorage {
public:
    explicit SettingsStorage(const QString &filePath = defaultPath());
    ~SettingsStorage();
    SettingsStorage(const SettingsStorage &) = delete;
    SettingsStorage &operator=(const SettingsStorage &) = delete;

    static QString defaultPath();

    bool contains(const QString &key) const;
    QVariant value(const QString &key) const;

    // Only a value stored with that type counts; anything else reads as absent.
    std::optional<bool> storedBool(const QString &key) const;
    std::optional<QString> storedText(const QString &key) const;
    std::optional<double> storedNumber(const QString &key) const;

    void setValue(const QString &key, const QVariant &value);
    void remove(const QString &key);

private:
    std::unique_ptr<QSettings> m_settings;
};

}  // namespace zapum
