// The session record arrives from the backend (sign-in and exchange replies) and from the secret
// store, which another program may have written. Whatever it holds, reading it must not crash, and
// a record that reads must survive being written and read back.
#include "backend/auth_client.h"
#include "backend/user_session.h"

#include <QByteArray>
#include <QDateTime>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto session = zapum::ZaPumUserSession::fromJsonBytes(body)) {
        if (zapum::ZaPumUserSession::fromJsonBytes(session->toJsonBytes()) != session)
            __builtin_trap();
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    (void)zapum::AuthClient::readSignInReply(body, QStringLiteral("a@b.c"), QStringLiteral("https://api.example.com"), now);
    return 0;
}
