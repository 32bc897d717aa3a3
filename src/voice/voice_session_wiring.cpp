#include "voice/voice_session_wiring.h"

#include "backend/ask_service.h"
#include "voice/global_hotkey_service.h"
#include "voice/voice_session.h"

#include <QPointer>

namespace zapum {

namespace {

QCoro::Task<Result<QString>> sessionGone()
{
    co_return Failure{VoiceSession::kDomain, 0, QStringLiteral("Voice is not available right now.")};
}

}  // namespace

void wireVoiceSession(VoiceSession &session, GlobalHotkeyService &hotkey, AskService &ask)
{
    // The services may be torn down in any order at exit; a late key or question then finds
    // nothing to call instead of a dangling session.
    const QPointer<VoiceSession> target(&session);
    hotkey.setOnStart([target] {
        if (target)
            (void)target->beginListening();
    });
    hotkey.setOnEnd([target] {
        if (target)
            (void)target->finishListeningAndAct();
    });
    ask.setTypedQueryRunner([target](QString question) {
        return target ? target->runTypedQuery(std::move(question)) : sessionGone();
    });
}

}  // namespace zapum
