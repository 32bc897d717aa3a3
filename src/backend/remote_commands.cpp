#include "backend/remote_commands.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <limits>

namespace zapum {

AnyCodable decodeAnyCodable(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Double: {
        // toInteger() succeeds for integers and for doubles with a whole value that fits.
        constexpr qint64 kNotWhole = std::numeric_limits<qint64>::min();
        const qint64 whole = value.toInteger(kNotWhole);
        if (whole != kNotWhole || value.toDouble() == double(kNotWhole))
            return QJsonValue(value.toInteger());
        return QJsonValue(value.toDouble());
    }
    case QJsonValue::Array: {
        QJsonArray list;
        for (const QJsonValue &element : value.toArray())
            list.append(decodeAnyCodable(element));
        return list;
    }
    case QJsonValue::Object: return decodeAnyCodableObject(value.toObject());
    case QJsonValue::String:
    case QJsonValue::Bool: return value;
    case QJsonValue::Null:
    case QJsonValue::Undefined: break;
    }
    return QJsonValue(QJsonValue::Null);
}

QJsonObject decodeAnyCodableObject(const QJsonObject &object)
{
    QJsonObject map;
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key(), decodeAnyCodable(it.value()));
    return map;
}

std::optional<Wire> Wire::decode(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    Wire wire;
    const QJsonValue userId = object.value(QStringLiteral("userId"));
    if (userId.isString())
        wire.userId = userId.toString();
    else if (!userId.isNull() && !userId.isUndefined())
        return std::nullopt;

    const QJsonValue commands = object.value(QStringLiteral("commands"));
    if (!commands.isArray())
        return std::nullopt;
    for (const QJsonValue &entry : commands.toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        const QJsonObject command = entry.toObject();
        const QJsonValue type = command.value(QStringLiteral("type"));
        const QJsonValue payload = command.value(QStringLiteral("payload"));
        if (!type.isString())
            return std::nullopt;
        DesktopCommand decoded{type.toString(), std::nullopt};
        if (payload.isObject())
            decoded.payload = decodeAnyCodableObject(payload.toObject());
        else if (!payload.isNull() && !payload.isUndefined())
            return std::nullopt;
        wire.commands.append(std::move(decoded));
    }
    return wire;
}

}  // namespace zapum
