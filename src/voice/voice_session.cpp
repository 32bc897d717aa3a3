#include "voice/voice_session.h"

#include "backend/memory_service.h"
#include "backend/session_controller.h"
#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "foundation/logging.h"
#include "platform/workspace.h"
#include "voice/eleven_labs_tts.h"
#include "voice/speech_capture.h"
#include "voice/voice_keychain.h"
#include "voice/voice_session_text.h"
#include "voice/voice_settings_store.h"

#include <QPointF>
#include <QPointer>
#include <QStringList>

#include <cmath>

namespace zapum {

namespace {

QString coordinatesText(qint64 x, qint64 y)
{
    return u'(' + QString::number(x) + QStringLiteral(", ") + QString::number(y) + u')';
}

}  // namespace

VoiceSession::VoiceSession(VoiceSessionServices services, Timing timing, QObject *parent)
    : QObject(parent), m_services(services), m_timing(timing)
{
    // A coarse timer may fire up to 5 % early, which would cut an error short or end listening
    // before the silence the user was promised.
    m_linger.setSingleShot(true);
    m_linger.setTimerType(Qt::PreciseTimer);
    m_watchdog.setTimerType(Qt::PreciseTimer);
    connect(&m_linger, &QTimer::timeout, this, &VoiceSession::lingerElapsed);
    m_watchdog.setInterval(m_timing.listenPoll);
    connect(&m_watchdog, &QTimer::timeout, this, &VoiceSession::watchdogTick);
}

VoiceSession::~VoiceSession()
{
    // The capture service outlives us; its callback must not reach a dead session.
    m_services.capture.setOnPartial({});
}

QCoro::Task<void> VoiceSession::beginListening()
{
    co_await openMicrophone(true);
}

QCoro::Task<void> VoiceSession::openMicrophone(bool userStarted)
{
    if (!m_services.sessions.session()) {
        flashError(kSignInFirst);
        co_return;
    }
    if (!m_services.settings.isEnabled()) {
        flashError(kVoiceModeOff);
        co_return;
    }
    // Only presence is asked for here: a blank key fails at the model with its own message.
    if (!m_services.keychain.read(kAnthropicAccount)) {
        flashError(kAnthropicKeyNeeded);
        co_return;
    }
    // The user talking over the bee is the one to listen to, at once.
    if (userStarted && m_services.settings.talkKeyInterrupts())
        interruptVoiceRun();

    const quint64 attempt = ++m_listenAttempt;
    m_attemptReleased = false;
    m_attemptCancelled = false;
    QPointer<VoiceSession> self(this);
    const bool granted = co_await m_services.capture.requestPermissions();
    if (!self || attempt != m_listenAttempt)
        co_return;
    // The turn ended (the key came up, or listening was cancelled) while the recogniser was still
    // loading: opening the microphone now would listen to nobody until the watchdog gave up. A
    // release belongs to the user's own hold, never to the follow-up after a reply.
    if (m_attemptCancelled || (userStarted && m_attemptReleased)) {
        endListeningWithoutRun();
        co_return;
    }
    if (!granted) {
        flashError(kPermissionsNeeded);
        co_return;
    }

    m_services.capture.setOnPartial([self](const QString &text) {
        if (self)
            self->receivePartial(text);
    });
    m_linger.stop();
    const Status started = m_services.capture.start();
    if (!started) {
        flashError(started.failure().message);
        co_return;
    }

    m_services.settings.setLastTranscript({});
    m_services.settings.setLastAssistantReply({});
    m_lastPartialText.clear();
    m_lastPartialAtMs.reset();
    m_services.settings.setBeeState(VoiceBeeState::listening());
    m_services.settings.setLastError(std::nullopt);
    startListenWatchdog();
}

void VoiceSession::receivePartial(const QString &text)
{
    m_services.settings.setLastTranscript(text);
    // A recogniser repeats itself while the user pauses; only a change counts as speech.
    if (text != m_lastPartialText) {
        m_lastPartialText = text;
        m_lastPartialAtMs = nowMs();
    }
}

qint64 VoiceSession::nowMs() const
{
    return std::llround(m_timing.clock() * 1000.0);
}

void VoiceSession::startListenWatchdog()
{
    m_watchdog.stop();
    m_listenStartedMs = nowMs();
    m_watchdog.start();
}

void VoiceSession::watchdogTick()
{
    if (!m_services.capture.isListening()) {
        m_watchdog.stop();
        return;
    }
    const qint64 now = nowMs();
    const qint64 elapsed = now - m_listenStartedMs;
    if (elapsed >= m_timing.maxListen.count()
        || (m_lastPartialAtMs && now - *m_lastPartialAtMs >= m_timing.silenceCutoff.count())) {
        m_watchdog.stop();
        (void)finishListeningAndAct();
    } else if (!m_lastPartialAtMs && elapsed >= m_timing.noSpeechCutoff.count()) {
        m_watchdog.stop();
        (void)cancelListening();
    }
}

QCoro::Task<void> VoiceSession::finishListeningAndAct()
{
    m_watchdog.stop();
    // The key release and the watchdog may both end the same turn; the second finds it over. A
    // release before the microphone opened ends that turn before it starts.
    if (!m_services.capture.isListening()) {
        m_attemptReleased = true;
        co_return;
    }
    QPointer<VoiceSession> self(this);
    const QString transcript = co_await m_services.capture.stop();
    if (!self)
        co_return;
    m_services.settings.setLastTranscript(transcript);
    const QString input = transcript.trimmed();
    if (input.isEmpty()) {
        endListeningWithoutRun();
        co_return;
    }
    if (m_running) {
        // Without interrupting, a turn spoken while an earlier answer is still being worked out
        // is dropped: the bee goes back to showing that answer's progress (or rests, when the
        // answer is a typed one it never showed).
        if (!m_services.settings.talkKeyInterrupts()) {
            endListeningWithoutRun();
            co_return;
        }
        if (!m_runIsVoice) {
            m_waitingInput = input;
            m_services.settings.setBeeState(VoiceBeeState::thinking());
            co_return;
        }
        interruptVoiceRun();
    }
    (void)co_await runAgent(input, true);
}

QCoro::Task<void> VoiceSession::cancelListening()
{
    m_watchdog.stop();
    m_attemptCancelled = true;
    if (m_services.capture.isListening()) {
        QPointer<VoiceSession> self(this);
        (void)co_await m_services.capture.stop();
        if (!self)
            co_return;
    }
    m_services.settings.setLastTranscript({});
    endListeningWithoutRun();
}

void VoiceSession::endListeningWithoutRun()
{
    // Only a spoken run shows on the bee; a typed one leaves it at rest.
    if (m_waitingInput)
        m_services.settings.setBeeState(VoiceBeeState::thinking());
    else if (m_running && m_runIsVoice)
        m_services.settings.setBeeState(m_runState);
    else
        m_services.settings.setBeeState(VoiceBeeState::idle());
}

void VoiceSession::interruptVoiceRun()
{
    m_waitingInput.reset();
    if (!m_running || !m_runIsVoice)
        return;
    qCInfo(lcVoice) << "The user talked over the bee; its run is cut off";
    // A reply being said counts as said, as far as the user let it get.
    if (m_runReply)
        m_services.memory.remember(m_runInput, *m_runReply);
    ++m_runId;
    m_running = false;
    m_runReply.reset();
    m_linger.stop();
    m_services.agent.cancel();
    m_services.tts.stop();
    if (m_services.clickConfirm.countdown())
        m_services.clickConfirm.dismiss(false);
}

void VoiceSession::endRun()
{
    m_running = false;
    m_runReply.reset();
    // A spoken turn that waited for this (typed) run goes next, once this run has returned.
    if (m_waitingInput)
        QMetaObject::invokeMethod(this, &VoiceSession::runWaitingTurn, Qt::QueuedConnection);
}

void VoiceSession::runWaitingTurn()
{
    if (m_running || !m_waitingInput)
        return;
    const QString input = *std::exchange(m_waitingInput, std::nullopt);
    (void)runAgent(input, true);
}

void VoiceSession::togglePushToTalk()
{
    if (m_services.capture.isListening())
        (void)finishListeningAndAct();
    else
        (void)beginListening();
}

QCoro::Task<Result<QString>> VoiceSession::runTypedQuery(QString text)
{
    if (!m_services.sessions.session()) {
        m_services.sessions.presentAccountPanel();
        co_return Failure{kDomain, 0, kSignInFirst};
    }
    const QString question = text.trimmed();
    if (question.isEmpty())
        co_return QString();
    const AgentRun run = co_await runAgent(question, false);
    if (run.error)
        co_return Failure{kDomain, 0, *run.error};
    co_return run.reply;
}

void VoiceSession::showRunState(const VoiceBeeState &state)
{
    m_runState = state;
    m_services.settings.setBeeState(state);
}

QCoro::Task<VoiceSession::AgentRun> VoiceSession::runAgent(QString userInput, bool speakReply)
{
    if (m_running)
        co_return AgentRun{};
    m_running = true;
    m_runIsVoice = speakReply;
    m_runInput = userInput;
    m_runReply.reset();
    const quint64 run = ++m_runId;
    QPointer<VoiceSession> self(this);
    // Gone, or cut off by the user while this step waited: nothing more of the run happens.
    const auto over = [&self, this, run] { return !self || run != m_runId; };

    const std::optional<QString> key = m_services.keychain.read(kAnthropicAccount);
    if (!key) {
        if (speakReply)
            flashError(kAnthropicKeyMissing);
        endRun();
        co_return AgentRun{{}, kAnthropicKeyMissingTyped};
    }
    const QString apiKey = key->trimmed();

    m_linger.stop();
    if (speakReply)
        showRunState(VoiceBeeState::thinking());
    m_services.actionMode.refreshWindowsAndApps();

    const QString memories = co_await m_services.memory.recall(userInput, kMemoryRecallLimit);
    if (over())
        co_return AgentRun{};

    // Each run starts afresh; earlier turns reach the model only through the memories.
    m_turnMessages = QJsonArray{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                            {QStringLiteral("content"), userInput}}};

    for (int step = 0;; ++step) {
        // The desktop may have changed under the tools of the previous step.
        const VoiceAgentContext context{summarizeWindows(), summarizeApps(), memories};
        const Result<AnthropicVoiceAgent::Turn> turn =
            co_await m_services.agent.run(apiKey, m_services.settings.claudeModel(), m_turnMessages, context);
        if (over())
            co_return AgentRun{};
        if (!turn) {
            const QString message = turn.failure().message;
            if (speakReply)
                flashError(message);
            endRun();
            co_return AgentRun{{}, message};
        }

        if (const std::optional<QJsonObject> message = assistantMessage(turn.value()))
            m_turnMessages.append(*message);

        const QList<VoiceAgentToolCall> &calls = turn.value().toolCalls;
        if (!calls.isEmpty()) {
            QStringList results;
            for (const VoiceAgentToolCall &call : calls) {
                results.append(co_await handleToolCall(call, speakReply));
                if (over())
                    co_return AgentRun{};
            }
            m_turnMessages.append(toolResultsMessage(calls, results));
        }

        if (turn.value().stopReason == QLatin1String("end_turn") || calls.isEmpty())
            co_return co_await finishRun(run, userInput, turn.value().text, speakReply);

        if (step == kMaxModelRequests - 1) {
            qCInfo(lcVoice) << "Model still calling tools after" << kMaxModelRequests << "requests; giving up";
            if (speakReply)
                lingerThenIdle();
            endRun();
            co_return AgentRun{};
        }
    }
}

QCoro::Task<VoiceSession::AgentRun> VoiceSession::finishRun(quint64 run, QString userInput, QString reply,
                                                            bool speakReply)
{
    if (speakReply) {
        QPointer<VoiceSession> self(this);
        m_services.settings.setLastAssistantReply(reply);
        m_runReply = reply;
        co_await speak(reply);
        if (!self || run != m_runId)
            co_return AgentRun{reply, std::nullopt};
        co_await followUpListenOrIdle(run);
        if (!self || run != m_runId)
            co_return AgentRun{reply, std::nullopt};
    }
    m_services.memory.remember(userInput, reply);
    endRun();
    co_return AgentRun{reply, std::nullopt};
}

QCoro::Task<void> VoiceSession::speak(QString text)
{
    const QString spoken = text.trimmed();
    if (spoken.isEmpty())
        co_return;
    const std::optional<QString> key = m_services.keychain.read(kElevenLabsAccount);
    if (!key) {
        m_services.settings.setLastError(kElevenLabsKeyNeeded);
        co_return;
    }
    showRunState(VoiceBeeState::speaking());
    QPointer<VoiceSession> self(this);
    const quint64 run = m_runId;
    const Status played = co_await m_services.tts.speak(spoken, m_services.settings.elevenLabsVoiceId(), key->trimmed());
    // Cut off by the user: the silence was asked for, not a failure.
    if (!self || run != m_runId)
        co_return;
    if (!played)
        m_services.settings.setLastError(played.failure().message);
}

QCoro::Task<void> VoiceSession::followUpListenOrIdle(quint64 run)
{
    if (m_services.settings.lastError() || !m_services.settings.isEnabled() || !m_services.sessions.session()) {
        lingerThenIdle();
        co_return;
    }
    QPointer<VoiceSession> self(this);
    const bool granted = co_await m_services.capture.requestPermissions();
    if (!self || run != m_runId)
        co_return;
    if (!granted) {
        lingerThenIdle();
        co_return;
    }
    m_linger.stop();
    co_await openMicrophone(false);
}

void VoiceSession::lingerThenIdle()
{
    m_linger.stop();
    m_lingerKind = LingerKind::Reply;
    m_linger.start(m_timing.replyLinger);
}

void VoiceSession::flashError(const QString &message)
{
    m_linger.stop();
    m_services.settings.setLastError(message);
    m_services.settings.setBeeState(VoiceBeeState::error(message));
    m_lingerKind = LingerKind::Error;
    m_linger.start(m_timing.errorLinger);
}

void VoiceSession::lingerElapsed()
{
    const VoiceBeeState state = m_services.settings.beeState();
    if (m_lingerKind == LingerKind::Error) {
        if (state.isError())
            m_services.settings.setBeeState(VoiceBeeState::idle());
        return;
    }
    // Listening, and thinking while a spoken run is under way or waiting, belong to a newer turn.
    // Thinking with none left over is a run that ended without speaking (the step cap, or no
    // speech key).
    const bool spokenTurnPending = (m_running && m_runIsVoice) || m_waitingInput;
    if (state.kind() == VoiceBeeState::Kind::Listening
        || (state.kind() == VoiceBeeState::Kind::Thinking && spokenTurnPending))
        return;
    m_services.settings.setBeeState(VoiceBeeState::idle());
}

QString VoiceSession::summarizeWindows() const
{
    return summarizeWindowList(m_services.actionMode.windows());
}

QString VoiceSession::summarizeApps() const
{
    return summarizeAppList(m_services.actionMode.runningApps());
}

QCoro::Task<QString> VoiceSession::handleToolCall(VoiceAgentToolCall call, bool allowSpeak)
{
    const QString &name = call.name;
    if (name == QLatin1String("list_windows")) {
        m_services.actionMode.refreshWindowsAndApps();
        co_return QStringLiteral("Windows:\n") + summarizeWindows() + QStringLiteral("\n\nApps:\n") + summarizeApps();
    }

    if (name == QLatin1String("activate_app")) {
        const QString requested = toolTextArgument(call.input, QStringLiteral("app_name"));
        const std::optional<RunningAppSummary> app = findRunningApp(m_services.actionMode.runningApps(), requested);
        if (!app)
            co_return QStringLiteral("No running app named \"") + requested + QStringLiteral("\".");
        // The model hears the same either way: whether the app came forward is not its business.
        if (m_services.actionMode.isEnabled() && !m_services.workspace.activateApp(app->pid))
            qCInfo(lcVoice) << "Could not bring app forward, pid" << app->pid;
        co_return QStringLiteral("Activated ") + app->name + u'.';
    }

    if (name == QLatin1String("capture_screen")) {
        m_services.actionMode.captureMainDisplay();
        co_return m_services.actionMode.lastSnapshot()
            ? QStringLiteral("Captured a snapshot of the main display.")
            : QStringLiteral("Capture failed. Screen Recording permission may be missing.");
    }

    if (name == QLatin1String("click")) {
        const double x = toolNumberArgument(call.input, QStringLiteral("x")).value_or(-1.0);
        const double y = toolNumberArgument(call.input, QStringLiteral("y")).value_or(-1.0);
        // A coordinate that cannot be said as a whole number cannot be a place on any screen.
        const std::optional<qint64> wholeX = wholeNumber(x);
        const std::optional<qint64> wholeY = wholeNumber(y);
        if (!wholeX || !wholeY || x < 0 || y < 0)
            co_return QStringLiteral("click needs x and y numbers.");
        if (!m_services.actionMode.accessibilityGranted())
            co_return QStringLiteral("Accessibility permission is not granted, so clicks are disabled.");
        if (m_services.settings.requireClickConfirmation()) {
            QPointer<VoiceSession> self(this);
            const quint64 run = m_runId;
            const bool confirmed = co_await m_services.clickConfirm.confirm(
                QStringLiteral("ZaPum will click at ") + coordinatesText(*wholeX, *wholeY), m_timing.clickConfirmSeconds);
            // A run cut off while the toast counted down must not click after all.
            if (!self || run != m_runId)
                co_return QString();
            if (!confirmed)
                co_return QStringLiteral("User cancelled the click.");
        }
        if (!m_services.actionMode.performLeftClick(QPointF(x, y)))
            co_return QStringLiteral("Click failed.");
        co_return QStringLiteral("Clicked at ") + coordinatesText(*wholeX, *wholeY) + u'.';
    }

    if (name == QLatin1String("speak")) {
        const QString text = toolTextArgument(call.input, QStringLiteral("text"));
        if (!allowSpeak)
            co_return QStringLiteral("Reply noted (TTS muted for typed ask).");
        QPointer<VoiceSession> self(this);
        co_await speak(text);
        if (!self)
            co_return QString();
        co_return QStringLiteral("Spoke: ") + leadingGraphemes(text, 120);
    }

    co_return QStringLiteral("Unknown tool: ") + name;
}

}  // namespace zapum
