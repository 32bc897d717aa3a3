#pragma once

#include "voice/speech_capture.h"

#include <QString>
#include <QTimer>

#include <QCoro/QCoroTimer>

#include <chrono>
#include <optional>
#include <functional>
#include <utility>

namespace zapum::test {

// A microphone and recogniser whose partial transcripts a test scripts, for the timing rules of
// a conversation that the real capture can only approximate through audio.
class ScriptedCapture final : public SpeechCapture {
public:
    bool isListening() const override { return listening; }
    void setOnPartial(std::function<void(const QString &)> callback) override { m_onPartial = std::move(callback); }
    QCoro::Task<bool> requestPermissions() override
    {
        ++permissionRequests;
        if (permissionDelay.count() > 0) {
            QTimer loading;  // the recogniser's model, still loading
            loading.setSingleShot(true);
            loading.start(permissionDelay);
            co_await loading;
        }
        co_return permissionsGranted;
    }
    Status start() override
    {
        if (startFailure)
            return *startFailure;
        if (!listening)
            ++starts;
        listening = true;
        return Done{};
    }
    QCoro::Task<QString> stop() override
    {
        if (!listening)
            co_return QString();
        listening = false;
        ++stops;
        co_return m_lastPartial;
    }

    // One recogniser update, as it would arrive on the main thread.
    void partial(const QString &text)
    {
        m_lastPartial = text;
        if (listening && m_onPartial)
            m_onPartial(text);
    }

    bool listening = false;
    bool permissionsGranted = true;
    std::chrono::milliseconds permissionDelay{0};
    std::optional<Failure> startFailure;
    int starts = 0;
    int stops = 0;
    int permissionRequests = 0;

private:
    std::function<void(const QString &)> m_onPartial;
    QString m_lastPartial;
};

}  // namespace zapum::test
