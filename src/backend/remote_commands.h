#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace zapum {

// A JSON value of any kind, as a command payload carries it. Held as a QJsonValue whose numbers
// follow one rule: a number that is a whole signed 64-bit value is an integer, any other a double.
using AnyCodable = QJsonValue;

// Applies the number rule at every depth; null and undefined both become null. Never fails.
AnyCodable decodeAnyCodable(const QJsonValue &value);
QJsonObject decodeAnyCodableObject(const QJsonObject &object);

// One command a web product sent to this desktop.
struct DesktopCommand {
    QString type;
    std::optional<QJsonObject> payload;  // absent when missing or null
};

// The reply of the commands endpoint.
struct Wire {
    QList<DesktopCommand> commands;
    std::optional<QString> userId;

    // Absent when the body is not an object with a `commands` list of objects that each have a
    // text `type` and an object-or-null `payload`, or when `userId` is there but not text.
    static std::optional<Wire> decode(const QByteArray &body);
};

}  // namespace zapum
