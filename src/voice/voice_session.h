#pragma once

#include "foundation/failure.h"
#include "foundation/monotonic_clock.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/voice_bee_state.h"

#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace zapum {

class ActionModeStore;
class ClickConfirmToast;
class ElevenLabsTTS;
class MemoryService;
class SessionController;
class SpeechCapture;
class VoiceKeychain;
class VoiceSettingsStore;
class Workspace;

struct VoiceSessionTiming {
    std::chrono::milliseconds listenPoll{400};
    // Listening ends this long after the transcript last changed...
    std::chrono::milliseconds silenceCutoff{2800};
    // ...is given up when nothing at all was heard for this long...
    std::chrono::milliseconds noSpeechCutoff{5000};
    // ...and never lasts longer than this.
    std::chrono::milliseconds maxListen{18000};
    std::chrono::milliseconds replyLinger{1500};
    std::chrono::milliseconds errorLinger{2200};
    // The countdown of the toast that asks before a click, in whole seconds.
    int clickConfirmSeconds = 2;
    // What the listening limits are measured on, in seconds; replaceable so tests control time.
    std::function<double()> clock = &monotonicSeconds;
};

// Everything a conversation talks to, built once by the composition root.
struct VoiceSessionServices {
    VoiceSettingsStore &settings;
    const VoiceKeychain &keychain;
    SpeechCapture &capture;
    AnthropicVoiceAgent &agent;
    ElevenLabsTTS &tts;
    ActionModeStore &actionMode;
    Workspace &workspace;
    ClickConfirmToast &clickConfirm;
    MemoryService &memory;
    SessionController &sessions;
};

// Drives spoken conversations from the talk key to the spoken reply: listens while the user
// speaks, lets the model act on the desktop for a few steps, speaks its answer and opens the
// microphone again for a follow-up. The same agent loop answers typed questions, silently. The
// only writer of the bee state and of the other live fields of the voice settings.
//
// With the talk-key-interrupts setting on (the default), a new turn started by the user cuts off
// a spoken run in progress (its request is aborted, its playback stops, nothing more of it runs),
// and a spoken turn that ends while a typed question is being answered waits for that answer
// and then runs. Off, such a turn is dropped and the run goes on.
class VoiceSession : public QObject {
    Q_OBJECT
public:
    using Timing = VoiceSessionTiming;

    static constexpr int kMaxModelRequests = 4;
    static constexpr int kMemoryRecallLimit = 6;

    static inline const QString kDomain = QStringLiteral("ZaPumVoice");
    static inline const QString kSignInFirst = QStringLiteral("Sign in to ZaPum first.");
    static inline const QString kVoiceModeOff = QStringLiteral("Turn on Voice mode first.");
    static inline const QString kAnthropicKeyNeeded = QStringLiteral("Paste your Anthropic key in Settings \u2192 Voice.");
    static inline const QString kPermissionsNeeded = QStringLiteral("Grant Microphone and Speech Recognition access.");
    static inline const QString kAnthropicKeyMissing = QStringLiteral("Anthropic key missing");
    static inline const QString kAnthropicKeyMissingTyped =
        QStringLiteral("Anthropic key missing. Paste it in Settings \u2192 Voice.");
    static inline const QString kElevenLabsKeyNeeded = QStringLiteral("Paste your ElevenLabs key to hear replies.");

    explicit VoiceSession(VoiceSessionServices services, Timing timing = {}, QObject *parent = nullptr);
    ~VoiceSession() override;

    // Opens the microphone for a turn the user starts, or flashes why it cannot.
    QCoro::Task<void> beginListening();
    // Closes the microphone and acts on what was said; does nothing when not listening.
    QCoro::Task<void> finishListeningAndAct();
    // Closes the microphone and drops what was said.
    QCoro::Task<void> cancelListening();
    // The voice control: ends the turn while listening, else starts one.
    void togglePushToTalk();

    // Answers a typed question with the agent loop, without speech and without touching the bee.
    // The reply may be empty; a failure's message is a sentence for the user.
    QCoro::Task<Result<QString>> runTypedQuery(QString text);

    // Carries out one tool call of the model and words the outcome for it. Never fails.
    QCoro::Task<QString> handleToolCall(VoiceAgentToolCall call, bool allowSpeak);

    QString summarizeWindows() const;
    QString summarizeApps() const;

    // An agent run (voice or typed) is in progress.
    bool isRunning() const { return m_running; }
    // A spoken turn waits for a typed answer to finish.
    bool hasWaitingTurn() const { return m_waitingInput.has_value(); }
    bool isLingering() const { return m_linger.isActive(); }

private:
    struct AgentRun {
        QString reply;
        std::optional<QString> error;
    };
    enum class LingerKind { Reply, Error };

    QCoro::Task<void> openMicrophone(bool userStarted);
    QCoro::Task<AgentRun> runAgent(QString userInput, bool speakReply);
    QCoro::Task<AgentRun> finishRun(quint64 run, QString userInput, QString reply, bool speakReply);
    QCoro::Task<void> speak(QString text);
    QCoro::Task<void> followUpListenOrIdle(quint64 run);
    void interruptVoiceRun();
    void endRun();
    void runWaitingTurn();
    void lingerThenIdle();
    void flashError(const QString &message);
    void lingerElapsed();
    void startListenWatchdog();
    void watchdogTick();
    void receivePartial(const QString &text);
    void showRunState(const VoiceBeeState &state);
    void endListeningWithoutRun();
    qint64 nowMs() const;

    VoiceSessionServices m_services;
    Timing m_timing;

    bool m_running = false;
    bool m_runIsVoice = false;
    // Numbers the runs; a run whose number is no longer current was cut off, and its steps stop
    // where they wake up.
    quint64 m_runId = 0;
    QString m_runInput;
    // The final reply of the spoken run in progress, once it is being said.
    std::optional<QString> m_runReply;
    // What the spoken run in progress last showed, for a listening period that ends during it.
    VoiceBeeState m_runState = VoiceBeeState::thinking();
    QJsonArray m_turnMessages;
    // A spoken turn that ended while a typed question was being answered.
    std::optional<QString> m_waitingInput;

    // Numbers the attempts to open the microphone; the newest wins. A release or a cancel that
    // comes while it waits for the recogniser ends it before the microphone opens.
    quint64 m_listenAttempt = 0;
    bool m_attemptReleased = false;
    bool m_attemptCancelled = false;

    QTimer m_linger;
    LingerKind m_lingerKind = LingerKind::Reply;

    QTimer m_watchdog;
    qint64 m_listenStartedMs = 0;
    std::optional<qint64> m_lastPartialAtMs;
    QString m_lastPartialText;
};

}  // namespace zapum
