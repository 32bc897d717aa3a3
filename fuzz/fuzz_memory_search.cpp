// The memory search reply goes straight into the voice agent's system prompt. Whatever the
// backend sends, the rendering must not crash, must be bullets, and nothing with a limit of 0.
#include "backend/memory_service.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const int limit : {0, 1, 6}) {
        const QString rendered = zapum::MemoryService::renderSearchReply(body, limit);
        if (rendered.isEmpty())
            continue;
        // A memory may hold line breaks of its own, so lines are not counted against the limit.
        if (limit == 0 || !rendered.startsWith(QLatin1String("- ")) || rendered.endsWith(QLatin1Char('\n')))
            __builtin_trap();
    }
    return 0;
}
