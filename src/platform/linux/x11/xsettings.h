#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace zapum {

// Reads one setting from the XSETTINGS property (_XSETTINGS_SETTINGS) another client publishes.
// Integers come back as int, strings as QString, colours are skipped. Anything malformed,
// truncated or absent reads as nothing.
std::optional<QVariant> readXSetting(const QByteArray &property, const QByteArray &name);

// gtk-enable-animations from a GTK settings.ini text; nothing when it is not there.
std::optional<bool> gtkIniEnablesAnimations(const QString &iniText);

}  // namespace zapum
