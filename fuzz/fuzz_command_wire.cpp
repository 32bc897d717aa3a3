// The commands endpoint's reply, with free-form payloads. Decoding must never crash, and a payload
// taken apart by the number rule must come out the same when taken apart again.
#include "backend/guidance.h"
#include "backend/remote_commands.h"

#include <QByteArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<zapum::Wire> wire = zapum::Wire::decode(body);
    if (!wire)
        return 0;
    for (const zapum::DesktopCommand &command : wire->commands) {
        if (!command.payload)
            continue;
        const QByteArray encoded = QJsonDocument(*command.payload).toJson(QJsonDocument::Compact);
        const QJsonObject reread = zapum::decodeAnyCodableObject(QJsonDocument::fromJson(encoded).object());
        if (reread != *command.payload)
            __builtin_trap();
        (void)zapum::GuidanceSession::fromJson(*command.payload);
    }
    return 0;
}
