// Feeds arbitrary bytes to both readers of Anthropic replies: the 2xx reply walk and the error
// sentence builder. Neither needs an application object or an event loop.
#include "voice/anthropic_voice_agent.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)zapum::AnthropicVoiceAgent::parseReply(body);

    // 401 and 429 have branches of their own; 500 stands for every other status.
    for (const int status : {401, 429, 500}) {
        // Whatever the body, the user must be told something.
        if (zapum::AnthropicVoiceAgent::humanize(body, status, QStringLiteral("claude-fuzz")).isEmpty())
            __builtin_trap();
    }
    return 0;
}
