#pragma once

#include "foundation/failure.h"

#include <QString>

#include <QCoro/QCoroTask>

#include <functional>

namespace zapum {

// What a conversation needs of the microphone and recogniser: open them, hear partial
// transcripts as the user speaks, close them for the final transcript. Everything is called and
// calls back on the main thread.
class SpeechCapture {
public:
    virtual ~SpeechCapture() = default;

    virtual bool isListening() const = 0;
    virtual void setOnPartial(std::function<void(const QString &)> callback) = 0;
    // True when both a microphone and a recogniser are usable.
    virtual QCoro::Task<bool> requestPermissions() = 0;
    // On failure nothing is listening and the Failure's message is a sentence for the user.
    virtual Status start() = 0;
    // The final transcript; empty at once when nothing was listening.
    virtual QCoro::Task<QString> stop() = 0;
};

}  // namespace zapum
