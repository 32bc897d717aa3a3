#include "support/await_task.h"
#include "support/voice_session_graph.h"
#include "voice/global_hotkey_service.h"
#include "voice/voice_keychain.h"
#include "voice/voice_session_wiring.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

using Partials = QList<std::pair<int, QString>>;
using Kind = VoiceBeeState::Kind;

using messages::toolUseBlock;

RunningApplication app(qint32 pid, const QString &name, bool active = false)
{
    return RunningApplication{pid, ActivationPolicy::Regular, name, std::nullopt, active};
}

// Every bee state the store went through, with when it arrived.
struct StateLog : QObject {
    explicit StateLog(VoiceSettingsStore &store)
    {
        clock.start();
        connect(&store, &VoiceSettingsStore::beeStateChanged, this,
                [this, &store] { entries.append({store.beeState(), clock.elapsed()}); });
    }
    // When the state last became `kind`, or -1.
    qint64 lastEntered(Kind kind) const
    {
        const auto it = std::find_if(entries.crbegin(), entries.crend(),
                                     [kind](auto &entry) { return entry.first.kind() == kind; });
        return it == entries.crend() ? -1 : it->second;
    }

    QElapsedTimer clock;
    QList<std::pair<VoiceBeeState, qint64>> entries;
};

struct ReadyGraph : VoiceSessionGraph {
    explicit ReadyGraph(std::function<double()> clock = {}) : VoiceSessionGraph(std::move(clock)) { readyToTalk(); }
};

// One spoken turn: the key goes down, `text` is heard, the key comes up.
void say(VoiceSessionGraph &graph, const QString &text, const std::function<void()> &meanwhile = {})
{
    awaitTask(graph.session->beginListening());
    graph.scripted.partial(text);
    if (meanwhile)
        meanwhile();
    awaitTask(graph.session->finishListeningAndAct());
}

QString userText(const MessagesRequest &request, int index = -1)
{
    const QJsonArray list = request.messages();
    return list.at(index < 0 ? list.size() - 1 : index).toObject().value("content"_L1).toString();
}

QStringList spokenTexts(const VoiceSessionGraph &graph)
{
    QStringList said;
    for (const RecordedRequest &request : graph.speech.requests())
        said << QJsonDocument::fromJson(request.body).object().value("text"_L1).toString();
    return said;
}

// A modifier-key source the test drives. It remembers which modifiers are held and reports each
// change with the flags a real source would give: both Alt keys share the option flag.
class FakeModifierKeySource : public ModifierKeySource {
public:
    Status start() override { return Done{}; }
    void stop() override {}
    void press(quint16 keyCode) { change(keyCode, true); }
    void release(quint16 keyCode) { change(keyCode, false); }
    // The last change once more, as injected or repeated keys sometimes arrive.
    void repeatLast() { Q_EMIT modifierChanged(m_lastKey, m_lastFlags); }

private:
    void change(quint16 keyCode, bool down)
    {
        m_held.insert(keyCode, down);
        m_lastKey = keyCode;
        m_lastFlags = 0;
        for (auto held = m_held.cbegin(); held != m_held.cend(); ++held)
            m_lastFlags |= held.value() ? flagForModifierKey(held.key()) : 0;
        Q_EMIT modifierChanged(m_lastKey, m_lastFlags);
    }

    QHash<quint16, bool> m_held;
    quint16 m_lastKey = 0;
    quint64 m_lastFlags = 0;
};

quint16 keyNamed(const QString &name)
{
    static const QHash<QString, quint16> keys{
        {u"ralt"_s, modifier_keys::kRightOption}, {u"lalt"_s, modifier_keys::kLeftOption},
        {u"shift"_s, modifier_keys::kLeftShift}, {u"rctl"_s, modifier_keys::kRightControl}};
    return keys.value(name);
}

}  // namespace

class TestVoiceSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The talk key's holds, which start and end turns, on a key source the test drives. Each row
    // is a script: "+key" presses, "-key" releases, "again" repeats the last change, "hold" lets
    // the hold threshold pass, "unregister" calls the service, "talk=key" chooses another talk
    // key. Changes between two "hold"s come within the threshold.
    void holds_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("calls");  // "press" is announced as the talk key goes down
        QTest::addColumn<bool>("down");
        QTest::newRow("tap, and the other Alt held alone") << "+lalt hold -lalt +ralt -ralt hold" << "press" << false;
        QTest::newRow("hold through repeats and other modifiers")
            << "+ralt again +shift -shift +lalt -lalt hold -ralt again" << "press start end" << false;
        // The release of Right Alt still carries the option flag of the Left Alt held meanwhile, so
        // the hold only ends at the talk key's next change.
        QTest::newRow("left option held through the release ends at the next change")
            << "+lalt +ralt hold -ralt -lalt +ralt -ralt" << "press start end" << false;
        QTest::newRow("a release cancels the wait, a re-press starts its own")
            << "+ralt -ralt hold +ralt hold" << "press press start" << true;
        QTest::newRow("unregister while waiting") << "+ralt unregister hold" << "press" << false;
        QTest::newRow("unregister during a started hold") << "+ralt hold unregister -ralt" << "press start" << false;
        QTest::newRow("another talk key: Right Alt does nothing")
            << "talk=rctl +ralt hold -ralt +rctl hold -rctl" << "press start end" << false;
        QTest::newRow("talk key changed during a started hold ends it")
            << "+ralt hold talk=rctl -ralt" << "press start end" << false;
    }
    void holds()
    {
        QFETCH(QString, script);
        QFETCH(QString, calls);
        QFETCH(bool, down);
        auto owned = std::make_unique<FakeModifierKeySource>();
        FakeModifierKeySource &keyboard = *owned;
        GlobalHotkeyService service(std::move(owned), HotkeyTiming{std::chrono::hours(1)});
        QStringList called;
        service.setOnPress([&] { called << u"press"_s; });
        service.setOnStart([&] { called << u"start"_s; });
        service.setOnEnd([&] { called << u"end"_s; });
        service.registerHotkey();

        // The threshold is an hour, so that it only passes when a step says so: the hold timer
        // then fires as the event loop would fire it, however loaded the machine.
        QTimer *holdTimer = service.findChild<QTimer *>();
        for (const QString &step : script.split(u' ')) {
            if (step == "hold"_L1) {
                QTimerEvent due(holdTimer->timerId());
                if (holdTimer->isActive())
                    QCoreApplication::sendEvent(holdTimer, &due);
            } else if (step.startsWith(u'+'))
                keyboard.press(keyNamed(step.mid(1)));
            else if (step.startsWith(u'-'))
                keyboard.release(keyNamed(step.mid(1)));
            else if (step == "again"_L1)
                keyboard.repeatLast();
            else if (step == "unregister"_L1)
                service.unregisterHotkey();
            else if (step.startsWith("talk="_L1))
                service.setTriggerKeyCode(keyNamed(step.mid(5)));
            else
                QFAIL(qPrintable(u"unknown step "_s + step));
            QCoreApplication::processEvents();  // the service takes key changes from the event loop
        }
        QCOMPARE(called.join(u' '), calls);
        QCOMPARE(service.isDown(), down);
    }

    void beginListeningChecksInOrder_data()
    {
        QTest::addColumn<int>("passing");  // how many of the checks are met
        QTest::addColumn<QString>("message");
        QTest::newRow("signed out") << 0 << VoiceSession::kSignInFirst;
        QTest::newRow("voice mode off") << 1 << VoiceSession::kVoiceModeOff;
        QTest::newRow("no Anthropic key") << 2 << VoiceSession::kAnthropicKeyNeeded;
        QTest::newRow("permissions refused") << 3 << VoiceSession::kPermissionsNeeded;
        QTest::newRow("capture fails") << 4 << u"The microphone is busy."_s;
    }
    void beginListeningChecksInOrder()
    {
        QFETCH(int, passing);
        QFETCH(QString, message);
        VoiceSessionGraph graph;
        graph.voiceSettings.setIsEnabled(passing >= 2);
        if (passing >= 1)
            graph.backend.signIn(BackendGraph::userSession(std::nullopt));
        if (passing >= 3)
            graph.backend.voiceKeychain.save(u"  "_s, kAnthropicAccount);  // blanks pass
        graph.scripted.permissionsGranted = passing >= 4;
        graph.scripted.startFailure = Failure{VoiceSession::kDomain, 4, u"The microphone is busy."_s};
        StateLog log(graph.voiceSettings);

        awaitTask(graph.session->beginListening());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::error(message));
        QCOMPARE(graph.scripted.starts, 0);
        QCOMPARE(graph.scripted.permissionRequests, passing >= 3 ? 1 : 0);

        const qint64 flashedAt = log.lastEntered(Kind::Error);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
        const qint64 shown = log.lastEntered(Kind::Idle) - flashedAt;
        QVERIFY2(shown >= 215 && shown < 1000, qPrintable(QString::number(shown)));
        // The message stays for the views until the next successful start.
        QCOMPARE(graph.voiceSettings.lastErrorText(), message);
    }

    void listeningLimits_data()
    {
        QTest::addColumn<Partials>("partials");  // (ms after start, text)
        QTest::addColumn<int>("end");            // ms after start
        QTest::addColumn<bool>("acted");
        // Tenfold faster than the product: silence 280 ms, nothing heard 500 ms, cap 1800 ms.
        QTest::newRow("silence after the last change") << Partials{{60, u"open"_s}, {150, u"open the mail"_s}} << 430 << true;
        QTest::newRow("a repeated partial is no speech")
            << Partials{{60, u"hello"_s}, {200, u"hello"_s}, {300, u"hello"_s}} << 340 << true;
        Partials talking;
        for (int ms = 50; ms < 2600; ms += 100)
            talking.append({ms, u"word "_s.repeated(ms / 100 + 1)});
        QTest::newRow("the cap acts on a long turn") << talking << 1800 << true;
        QTest::newRow("nothing heard") << Partials{} << 500 << false;
    }
    void listeningLimits()
    {
        QFETCH(Partials, partials);
        QFETCH(int, end);
        QFETCH(bool, acted);
        int now = 0;  // ms, moved by the test alone
        int clockReads = 0;
        ReadyGraph graph([&] {
            ++clockReads;
            return now / 1000.0;
        });
        graph.model.enqueueText(QString());  // an empty reply; then the follow-up opens
        StateLog log(graph.voiceSettings);
        awaitTask(graph.session->beginListening());

        // Time moves in 10 ms steps, each looked at by the watchdog before the next.
        auto next = partials.cbegin();
        QString heard;
        while (graph.scripted.stops == 0 && now < 3000) {
            now += 10;
            for (; next != partials.cend() && next->first == now; ++next) {
                heard = next->second;
                graph.scripted.partial(heard);
            }
            const int reads = clockReads;
            QVERIFY(QTest::qWaitFor([&] { return clockReads > reads || graph.scripted.stops > 0; }));
        }
        QCOMPARE(now, end);
        QCOMPARE(log.entries.at(1).first, acted ? VoiceBeeState::thinking() : VoiceBeeState::idle());
        if (acted) {  // with what had been said by then, trimmed
            QTRY_COMPARE(graph.model.requestCount(), 1);
            QCOMPARE(userText(graph.model.lastRequest()), heard.trimmed());
        } else {  // a run would have shown as thinking above
            QCOMPARE(graph.model.requestCount(), 0);
        }
    }

    void toolsInEveryStepStopAfterFourRequests()
    {
        ReadyGraph graph;
        graph.workspace.apps = {app(41, u"Files"_s)};
        graph.actionMode.setEnabled(true);
        for (int step = 0; step < 5; ++step) {
            graph.model.enqueueReply(messages::toolUseReply(
                {toolUseBlock(u"a%1"_s.arg(step), u"activate_app"_s, {{u"app_name"_s, u"files"_s}}),
                 toolUseBlock(u"b%1"_s.arg(step), u"list_windows"_s)},
                u"Let me look."_s));
        }
        StateLog log(graph.voiceSettings);

        say(graph, u"tidy my desktop"_s);
        QVERIFY(!graph.session->isRunning());
        QCOMPARE(graph.model.requestCount(), 4);
        QCOMPARE(graph.workspace.activated, QList<qint32>({41, 41, 41, 41}));

        // The model's turn goes back as it came, and each result answers its own call.
        const MessagesRequest last = graph.model.lastRequest();
        QCOMPARE(QJsonDocument(last.messages().at(1).toObject().value("content"_L1).toArray()).toJson(QJsonDocument::Compact),
                 QByteArray(R"([{"text":"Let me look.","type":"text"},)"
                            R"({"id":"a0","input":{"app_name":"files"},"name":"activate_app","type":"tool_use"},)"
                            R"({"id":"b0","input":{},"name":"list_windows","type":"tool_use"}])"));
        QCOMPARE(QJsonDocument(last.messages().at(4).toObject().value("content"_L1).toArray()).toJson(QJsonDocument::Compact),
                 QByteArray(R"([{"content":"Activated Files.","tool_use_id":"a1","type":"tool_result"},)"
                            R"({"content":"Windows:\n(none)\n\nApps:\n- Files","tool_use_id":"b1","type":"tool_result"}])"));

        // Cut off without a reply: nothing is spoken or remembered, and the bee lingers, then rests.
        QCOMPARE(graph.speech.requestCount(), 0);
        QCOMPARE(graph.backendRequests("memory/remember"), 0);
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::thinking());
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 1000);
        QVERIFY(log.lastEntered(Kind::Idle) - log.lastEntered(Kind::Thinking) >= 140);
    }

    // The bee's way through a turn (thinking, speaking, the follow-up) is followed end to end with
    // real audio; here, what the turn sends and keeps.
    void endTurnActsSpeaksAndListensAgain()
    {
        ReadyGraph graph;
        graph.workspace.apps = {app(7, u"Terminal"_s)};
        graph.actionMode.setEnabled(true);
        graph.model.enqueueReply(messages::reply({messages::textBlock(u"Terminal is in front."_s),
                                                  toolUseBlock(u"t1"_s, u"activate_app"_s, {{u"app_name"_s, u"terminal"_s}})}));

        say(graph, u" show the terminal "_s);
        QCOMPARE(graph.workspace.activated, QList<qint32>{7});
        const MessagesRequest request = graph.model.lastRequest();
        QCOMPARE(userText(request), u"show the terminal"_s);
        QVERIFY(request.system().contains(u"likes short answers"_s));  // recalled from memory
        QCOMPARE(spokenTexts(graph), QStringList{u"Terminal is in front."_s});
        QTRY_COMPARE(graph.backendRequests("memory/remember"), 1);
        QCOMPARE(graph.scripted.starts, 2);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
        QCOMPARE(graph.model.requestCount(), 1);
    }

    // However a turn ends, the run is over and the bee comes back to rest rather than thinking forever.
    void turnEndings_data()
    {
        QTest::addColumn<QString>("change");  // from a user ready to talk
        QTest::addColumn<int>("speechRequests");
        QTest::addColumn<bool>("listensAgain");
        QTest::addColumn<QString>("lastError");
        QTest::addColumn<bool>("flashed");  // the bee shows the error right away
        QTest::newRow("blank transcript asks nothing") << u"blank transcript"_s << 0 << false << QString() << false;
        QTest::newRow("empty reply goes straight to the follow-up") << u"empty reply"_s << 0 << true << QString() << false;
        QTest::newRow("no speech key")
            << u"no speech key"_s << 0 << false << VoiceSession::kElevenLabsKeyNeeded << false;
        QTest::newRow("voice mode switched off meanwhile") << u"voice mode off"_s << 1 << false << QString() << false;
        QTest::newRow("model refuses the key") << u"model refuses the key"_s << 0 << false
                                               << u"Anthropic key rejected. Re-paste it in Settings \u2192 Voice."_s << true;
        QTest::newRow("key removed while listening")
            << u"key removed"_s << 0 << false << VoiceSession::kAnthropicKeyMissing << true;
    }
    void turnEndings()
    {
        QFETCH(QString, change);
        QFETCH(int, speechRequests);
        QFETCH(bool, listensAgain);
        QFETCH(QString, lastError);
        QFETCH(bool, flashed);
        ReadyGraph graph;
        graph.voiceSettings.setLastError(u"old trouble"_s);  // cleared by the start
        if (change == "no speech key"_L1)
            graph.backend.voiceKeychain.save(QString(), kElevenLabsAccount);
        if (change == "model refuses the key"_L1)
            graph.model.enqueueError(401, u"authentication_error"_s, u"invalid x-api-key"_s);
        else
            graph.model.enqueueText(change == "empty reply"_L1 ? QString() : u"Hi"_s);

        say(graph, change == "blank transcript"_L1 ? u" \n\t"_s : u"hello"_s, [&] {
            if (change == "voice mode off"_L1)
                graph.voiceSettings.setIsEnabled(false);
            if (change == "key removed"_L1)
                graph.backend.voiceKeychain.save(QString(), kAnthropicAccount);
        });
        QVERIFY(!graph.session->isRunning());
        if (change == "blank transcript"_L1) {
            // A second end of the same turn (the key release after the watchdog) does nothing.
            awaitTask(graph.session->finishListeningAndAct());
            QCOMPARE(graph.scripted.stops, 1);
            QCOMPARE(graph.model.requestCount(), 0);
            QCOMPARE(graph.backendRequests("memory/search"), 0);
        }
        QCOMPARE(graph.speech.requestCount(), speechRequests);
        QCOMPARE(graph.scripted.starts, listensAgain ? 2 : 1);
        QCOMPARE(graph.voiceSettings.lastErrorText(), lastError);
        if (flashed)
            QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::error(lastError));
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
    }

    // The talk key held while a spoken run is busy: with the setting on, the run is cut off (its
    // model request aborted, its playback stopped at once, nothing more of it said or, unless it
    // was being said, remembered) and the new words are acted on; off, the new words are dropped.
    void talkKeyCutsTheBeeOff_data()
    {
        QTest::addColumn<QString>("busy");
        QTest::addColumn<bool>("interrupts");
        QTest::addColumn<QStringList>("spoken");
        QTest::addColumn<QStringList>("remembered");  // whose questions
        QTest::newRow("while speaking") << u"speaking"_s << true << QStringList{u"First answer."_s, u"Second answer."_s}
                                        << QStringList{u"first question"_s, u"second question"_s};
        QTest::newRow("while thinking") << u"thinking"_s << true << QStringList{u"Second answer."_s}
                                        << QStringList{u"second question"_s};
        QTest::newRow("setting off: the new turn is dropped")
            << u"thinking"_s << false << QStringList{u"First answer."_s} << QStringList{u"first question"_s};
    }
    void talkKeyCutsTheBeeOff()
    {
        QFETCH(QString, busy);
        QFETCH(bool, interrupts);
        QFETCH(QStringList, spoken);
        QFETCH(QStringList, remembered);
        ReadyGraph graph;
        graph.voiceSettings.setTalkKeyInterrupts(interrupts);
        FakeResponse first = FakeResponse::json(200, messages::textReply(u"First answer."_s));
        if (busy == "thinking"_L1)
            first.stall = 600ms;
        graph.model.enqueue(first);
        graph.model.enqueueText(u"Second answer."_s);
        graph.audio.clipLength = 2s;

        awaitTask(graph.session->beginListening());
        graph.scripted.partial(u"first question"_s);
        (void)graph.session->finishListeningAndAct();
        if (busy == "speaking"_L1)
            QTRY_VERIFY(graph.tts.player() && graph.tts.player()->isPlaying());
        else
            QTRY_COMPARE(graph.model.requestCount(), 1);
        graph.audio.clipLength = 20ms;

        QElapsedTimer clock;
        clock.start();
        awaitTask(graph.session->beginListening());
        if (interrupts) {  // at once, not once the 2 s answer has been said
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::listening());
            QVERIFY(!graph.session->isRunning());
            const auto replies = graph.agent.findChildren<QNetworkReply *>();
            QVERIFY(std::none_of(replies.begin(), replies.end(), [](QNetworkReply *reply) { return reply->isRunning(); }));
            QCOMPARE(graph.audio.stops, busy == "speaking"_L1 ? 1 : 0);
            QCOMPARE(graph.tts.player(), nullptr);
            QCOMPARE(graph.publisher.levels(), QList<float>(VoiceAmplitudePublisher::kBandCount, 0.0f));
        }
        graph.scripted.partial(u"second question"_s);
        awaitTask(graph.session->finishListeningAndAct());
        if (!interrupts)
            QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::thinking());  // the first run's, again

        QTRY_COMPARE_WITH_TIMEOUT(graph.backendRequests("memory/remember"), remembered.size(), 4000);
        QTRY_VERIFY(!graph.session->isRunning());
        QCOMPARE(spokenTexts(graph), spoken);
        QStringList kept;
        for (const RecordedRequest &request : graph.backendServer.requests()) {
            if (request.path().endsWith("memory/remember"))
                kept << QJsonDocument::fromJson(request.body)["messages"_L1][0]["content"_L1].toString();
        }
        QCOMPARE(kept, remembered);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
    }

    // A listening period that ends while a typed question is answered: spoken words are not lost
    // (they wait, then run); otherwise the bee returns to rest, as the typed run never showed on it.
    void listeningDuringATypedAnswer_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("words spoken wait, then run") << u"spoken"_s;
        QTest::newRow("a silent hold") << u"silent"_s;
        QTest::newRow("words dropped with the setting off") << u"dropped"_s;
    }
    void listeningDuringATypedAnswer()
    {
        QFETCH(QString, ending);
        const bool runs = ending == "spoken"_L1;
        ReadyGraph graph;
        graph.voiceSettings.setTalkKeyInterrupts(ending != "dropped"_L1);
        FakeResponse typed = FakeResponse::json(200, messages::textReply(u"Typed answer."_s));
        typed.stall = 300ms;
        graph.model.enqueue(typed);
        QCoro::Task<Result<QString>> answer = graph.session->runTypedQuery(u"typed question"_s);
        graph.model.waitForRequests(1);
        graph.model.enqueueText(u"Spoken answer."_s);
        awaitTask(graph.session->beginListening());
        graph.scripted.partial(ending == "silent"_L1 ? u" "_s : u"spoken question"_s);
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.voiceSettings.beeState(), runs ? VoiceBeeState::thinking() : VoiceBeeState::idle());
        QCOMPARE(graph.session->hasWaitingTurn(), runs);
        QCOMPARE(awaitTask(std::move(answer)).value(), u"Typed answer."_s);
        QCOMPARE(graph.speech.requestCount(), 0);
        if (!runs) {
            QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::idle());
            QCOMPARE(graph.model.requestCount(), 1);
            return;
        }
        QTRY_COMPARE(spokenTexts(graph), QStringList{u"Spoken answer."_s});
        QCOMPARE(userText(graph.model.lastRequest()), u"spoken question"_s);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
    }

    // The talk key let go while the recogniser is still loading (just after launch): the turn is
    // over, and the microphone must not open afterwards with nobody holding the key.
    void releaseBeforeTheMicrophoneOpensEndsTheTurn()
    {
        ReadyGraph graph;
        graph.scripted.permissionDelay = 150ms;
        StateLog log(graph.voiceSettings);
        QCoro::Task<void> begin = graph.session->beginListening();
        QTRY_COMPARE(graph.scripted.permissionRequests, 1);
        awaitTask(graph.session->finishListeningAndAct());
        awaitTask(std::move(begin));
        QCOMPARE(graph.scripted.starts, 0);
        QVERIFY(!graph.scripted.listening);
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::idle());
        QVERIFY(log.lastEntered(Kind::Listening) < 0);
        QCOMPARE(graph.model.requestCount(), 0);
    }

    // Typed questions answer or fail through their result only: no speech, no bee, no error text.
    void typedQuestions_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("modelRequests");
        const QString overloaded = AnthropicVoiceAgent::humanize(messages::error(u"overloaded_error"_s, u"Overloaded"_s),
                                                                 529, VoiceSettingsStore::kDefaultClaudeModel);
        QTest::newRow("signed out") << u"signed out"_s << u"why?"_s << false << VoiceSession::kSignInFirst << 0;
        QTest::newRow("model overloaded") << u"overloaded"_s << u"hi"_s << false << overloaded << 1;
        QTest::newRow("answered with a muted speak tool") << QString() << u" why? "_s << true << u"Because."_s << 2;
        QTest::newRow("an error on the bee stays") << u"lingering"_s << u"why?"_s << true << u"Because."_s << 2;
    }
    void typedQuestions()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, question);
        QFETCH(bool, ok);
        QFETCH(QString, answer);
        QFETCH(int, modelRequests);
        ReadyGraph graph;
        if (trouble == "signed out"_L1)
            graph.backend.sessions.signOut();
        if (trouble == "overloaded"_L1)
            graph.model.enqueueError(529, u"overloaded_error"_s, u"Overloaded"_s);
        if (trouble == "lingering"_L1) {
            graph.voiceSettings.setIsEnabled(false);
            awaitTask(graph.session->beginListening());  // flashes, and would rest after the linger
            QVERIFY(graph.session->isLingering());
        }
        graph.model.enqueueReply(messages::toolUseReply({toolUseBlock(u"s1"_s, u"speak"_s, {{u"text"_s, u"Because."_s}})}));
        graph.model.enqueueText(u"Because."_s);
        StateLog log(graph.voiceSettings);

        const Result<QString> result = awaitTask(graph.session->runTypedQuery(question));
        QCOMPARE(result.ok(), ok);
        QCOMPARE(ok ? result.value() : result.failure().message, answer);
        QCOMPARE(graph.model.requestCount(), modelRequests);
        QCOMPARE(graph.backend.panelPresented, trouble == "signed out"_L1 ? 1 : 0);
        if (modelRequests == 2) {
            QCOMPARE(userText(graph.model.lastRequest(), 0), u"why?"_s);
            const QJsonArray results = graph.model.lastRequest().messages().at(2)["content"_L1].toArray();
            QCOMPARE(results.at(0)["content"_L1].toString(), u"Reply noted (TTS muted for typed ask)."_s);
            QTRY_COMPARE(graph.backendRequests("memory/remember"), 1);
        }
        QCOMPARE(graph.speech.requestCount(), 0);
        QVERIFY(log.entries.isEmpty());
        QVERIFY(!graph.session->isLingering());
        QCOMPARE(graph.voiceSettings.lastErrorText(), trouble == "lingering"_L1 ? VoiceSession::kVoiceModeOff : QString());
        QCOMPARE(graph.voiceSettings.lastAssistantReply(), QString());
    }

    void toolResults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QJsonObject>("input");
        // "off": action mode off; "untrusted": no accessibility; "unseen": no screen recording;
        // "allow"/"decline": clicks ask first, and the user answers so
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("effects");  // what reached the desktop
        auto row = [](const char *title, const QString &name, const QJsonObject &input, const QString &expected,
                      const QString &effects = {}, const QString &mode = {}) {
            QTest::newRow(title) << name << input << mode << expected << effects;
        };
        // The apps, as the snapshot sorts them: "Files" (1), "Firefox" (2), "Notes Plus" (3), "notes" (4).
        row("list_windows", u"list_windows"_s, {},
            u"Windows:\n- Editor \u00B7 (no title) \u00B7 800x600\n- Firefox \u00B7 Inbox \u00B7 1280x719"
            "\n\nApps:\n- Files\n- Firefox (active)\n- Notes Plus\n- notes"_s);
        row("activate, exact match beats an earlier fragment", u"activate_app"_s, {{u"app_name"_s, u"Notes"_s}},
            u"Activated notes."_s, u"activate 4"_s);
        row("activate, action mode off: same answer, nothing moves", u"activate_app"_s, {{u"app_name"_s, u"Files"_s}},
            u"Activated Files."_s, {}, u"off"_s);
        const QString asked = u"asked ZaPum will click at (100, 200) for 2 s; "_s;
        row("click, asked first and allowed, fraction dropped", u"click"_s, {{u"x"_s, 100.7}, {u"y"_s, 200.2}},
            u"Clicked at (100, 200)."_s, asked + u"click 100.7,200.2"_s, u"allow"_s);
        row("click, asked first and declined", u"click"_s, {{u"x"_s, 100.7}, {u"y"_s, 200.2}},
            u"User cancelled the click."_s, asked.chopped(2), u"decline"_s);
        row("click, negative", u"click"_s, {{u"x"_s, 100}, {u"y"_s, -0.5}}, u"click needs x and y numbers."_s);
        row("click, no accessibility", u"click"_s, {{u"x"_s, 1}, {u"y"_s, 2}},
            u"Accessibility permission is not granted, so clicks are disabled."_s, {}, u"untrusted"_s);
        row("click, action mode off", u"click"_s, {{u"x"_s, 1}, {u"y"_s, 2}}, u"Click failed."_s, {}, u"off"_s);
        row("speak, long text cut at 120 characters", u"speak"_s, {{u"text"_s, QString(u"👍🏽"_s).repeated(130)}},
            u"Spoke: "_s + QString(u"👍🏽"_s).repeated(120), u"speak"_s);
        row("capture, not allowed", u"capture_screen"_s, {}, u"Capture failed. Screen Recording permission may be missing."_s,
            {}, u"unseen"_s);
        row("letter case matters", u"List_windows"_s, {}, u"Unknown tool: List_windows"_s);
    }
    void toolResults()
    {
        QFETCH(QString, name);
        QFETCH(QJsonObject, input);
        QFETCH(QString, mode);
        QFETCH(QString, expected);
        QFETCH(QString, effects);
        ReadyGraph graph;
        graph.voiceSettings.setRequireClickConfirmation(mode == "allow"_L1 || mode == "decline"_L1);
        QStringList seen;
        QTimer user;  // answers the toast once it shows
        QObject::connect(&user, &QTimer::timeout, &user, [&] {
            if (ToastCountdown *countdown = graph.toast.countdown()) {
                seen << u"asked %1 for %2 s"_s.arg(countdown->action()).arg(countdown->seconds());
                graph.toast.dismiss(mode == "allow"_L1);
            }
        });
        user.start(10);
        graph.workspace.apps = {app(3, u"Notes Plus"_s), app(1, u"Files"_s), app(4, u"notes"_s), app(2, u"Firefox"_s, true)};
        graph.windowServer.entries = {{1, 0, 1001, u"Firefox"_s, u"Inbox"_s, {0.0, 0.0, 1280.9, 719.99}},
                                      {2, 0, 1002, u"Editor"_s, QString(), {0.0, 0.0, 800.0, 600.0}}};
        graph.input.trusted = mode != "untrusted"_L1;
        graph.screenCapture.access = mode != "unseen"_L1;
        graph.actionMode.setEnabled(true);  // reads permissions and snapshots
        graph.actionMode.setEnabled(mode != "off"_L1);

        const VoiceAgentToolCall call{u"id"_s, name, input};
        QCOMPARE(awaitTask(graph.session->handleToolCall(call, true)), expected);
        for (qint32 pid : std::as_const(graph.workspace.activated))
            seen << u"activate %1"_s.arg(pid);
        for (const QPointF &point : std::as_const(graph.input.clicks))
            seen << u"click %1,%2"_s.arg(point.x()).arg(point.y());
        if (graph.speech.requestCount() > 0)
            seen << u"speak"_s;
        QCOMPARE(seen.join(u"; "_s), effects);
    }

    // The talk key's own wire is exercised end to end with a real keyboard; typed questions get here through Ask.
    void typedQuestionsReachTheSession()
    {
        ReadyGraph graph;
        GlobalHotkeyService hotkey(std::make_unique<FakeModifierKeySource>());
        wireVoiceSession(*graph.session, hotkey, graph.backend.ask);
        graph.model.enqueueText(u"Typed answer."_s);
        awaitTask(graph.backend.ask.ask(u"and typed?"_s));
        QCOMPARE(graph.backend.ask.responseText(), u"Typed answer."_s);
        QCOMPARE(userText(graph.model.lastRequest()), u"and typed?"_s);
        QCOMPARE(graph.speech.requestCount(), 0);
    }
};

int main(int argc, char **argv)
{
    // The confirmation toast needs a window system but no screen: nothing here is looked at.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestVoiceSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_voice_session.moc"
