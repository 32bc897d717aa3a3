// Guidance documents come from the backend and, as pushed payloads, from any web product.
// Reading one must never crash, a failure must say something, and a document that reads must
// read the same after being written out again.
#include "backend/guidance.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const zapum::Result<zapum::GuidanceSession> decoded = zapum::GuidanceSession::fromJsonBytes(body);
    if (!decoded) {
        if (decoded.failure().message.isEmpty())
            __builtin_trap();
        return 0;
    }
    const auto again = zapum::GuidanceSession::fromJson(decoded.value().toJson());
    if (!again || !(again.value() == decoded.value()))
        __builtin_trap();
    return 0;
}
