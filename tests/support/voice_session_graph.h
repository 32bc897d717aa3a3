#pragma once

#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "platform/audio_output.h"
#include "support/backend_graph.h"
#include "support/fake_desktop.h"
#include "support/fake_messages_api.h"
#include "support/fake_speech_api.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/eleven_labs_tts.h"
#include "voice/speech_capture.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_session.h"
#include "voice/voice_settings_store.h"

#include <QString>
#include <QTimer>

#include <QCoro/QCoroTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace zapum::test {

// Plays nothing, for a clip's length: whatever bytes come in count as a clip of `clipLength`,
// "heard" from the end of the stream on.
class FakeAudioOutput final : public AudioOutput {
public:
    class Player final : public AudioStreamPlayer {
    public:
        explicit Player(FakeAudioOutput &output) : m_output(output)
        {
            m_end.setSingleShot(true);
            connect(&m_end, &QTimer::timeout, this, &AudioStreamPlayer::ended);
        }
        Status append(QByteArrayView mp3) override
        {
            m_output.lastClip += mp3;
            return Done{};
        }
        Status finish() override
        {
            if (m_output.lastClip.isEmpty())
                return Failure{QLatin1String(kAudioDomain), int(AudioFailure::Undecodable), QStringLiteral("No audio.")};
            m_end.start(m_output.clipLength);
            return Done{};
        }
        void stop() override
        {
            ++m_output.stops;
            m_end.stop();
        }
        bool isPlaying() const override { return m_end.isActive(); }
        double averagePowerDb() const override { return isPlaying() ? -12.0 : kSilenceDb; }
        int underruns() const override { return 0; }
        std::optional<Failure> outputFailure() const override { return std::nullopt; }

    private:
        FakeAudioOutput &m_output;
        QTimer m_end;
    };

    std::unique_ptr<AudioStreamPlayer> createPlayer() override
    {
        lastClip.clear();
        return std::make_unique<Player>(*this);
    }

    std::chrono::milliseconds clipLength{20};
    int stops = 0;  // utterances cut off
    QByteArray lastClip;
};

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

// A voice session over the real services: the model and speech clients against their fake
// servers, memory against a fake backend, the desktop over programmable back-ends, the toast in
// whatever window system the process has, and a capture the test scripts. Its waits are the
// product's scaled down tenfold, keeping their proportions.
class VoiceSessionGraph {
public:
    // With a `clock` (seconds), the listening limits run on the test's own time.
    explicit VoiceSessionGraph(std::function<double()> clock = {});

    // Signed in against the fake backend, voice mode on, both keys stored, clicks confirmed.
    void readyToTalk();
    // What the fake backend was asked for under `path`.
    int backendRequests(const QByteArray &path) const;

    FakeMessagesApi model;
    FakeSpeechApi speech{QByteArray("ID3 fake mp3"), "el-test"};
    FakeHttpServer backendServer;
    BackendGraph backend;
    VoiceSettingsStore voiceSettings{backend.settings, backend.voiceKeychain};
    AnthropicVoiceAgent agent;
    VoiceAmplitudePublisher publisher;
    FakeAudioOutput audio;
    ElevenLabsTTS tts;
    FakeWindowServer windowServer;
    FakeWorkspace workspace;
    FakeScreenCapture screenCapture;
    FakeInputSynthesizer input;
    ActionModeStore actionMode;
    ClickConfirmToast toast;
    ScriptedCapture scripted;
    std::unique_ptr<VoiceSession> session;  // last, so that it goes first
};

}  // namespace zapum::test
