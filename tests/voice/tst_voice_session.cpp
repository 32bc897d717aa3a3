#include "support/await_task.h"
#include "support/fake_modifier_key_source.h"
#include "voice/global_hotkey_service.h"
#include "voice/voice_session_wiring.h"
#include "support/voice_session_graph.h"
#include "voice/voice_keychain.h"
#include "voice/voice_session_text.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

using Partials = QList<std::pair<int, QString>>;
using Kind = VoiceBeeState::Kind;

QJsonObject toolUse(const QString &id, const QString &name, const QJsonObject &input = {})
{
    return messages::toolUseBlock(id, name, input);
}

RunningApplication app(qint32 pid, const QString &name, bool active = false)
{
    return RunningApplication{pid, ActivationPolicy::Regular, name, std::nullopt, active};
}

WindowServerEntry window(qint64 number, const QString &owner, const QString &title, double width, double height)
{
    WindowServerEntry entry;
    entry.number = number;
    entry.layer = 0;
    entry.ownerPid = qint32(1000 + number);
    entry.ownerName = owner;
    entry.title = title;
    entry.bounds = {0.0, 0.0, width, height};
    return entry;
}

// Every bee state the store went through, with when it arrived.
struct StateLog {
    explicit StateLog(VoiceSettingsStore &store) : m_store(store)
    {
        clock.start();
        QObject::connect(&store, &VoiceSettingsStore::beeStateChanged, &m_context,
                         [this] { entries.append({m_store.beeState(), clock.elapsed()}); });
    }
    // When the state last became `kind`, or -1.
    qint64 lastEntered(Kind kind) const
    {
        for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
            if (it->first.kind() == kind)
                return it->second;
        }
        return -1;
    }
    bool saw(Kind kind) const { return lastEntered(kind) >= 0; }

    QElapsedTimer clock;
    QList<std::pair<VoiceBeeState, qint64>> entries;

private:
    VoiceSettingsStore &m_store;
    QObject m_context;
};

QString toolResultText(const MessagesRequest &request, int messageIndex, int block = 0)
{
    const QJsonArray content = request.messages().at(messageIndex).toObject().value(QLatin1String("content")).toArray();
    return content.at(block).toObject().value(QLatin1String("content")).toString();
}

}  // namespace

class TestVoiceSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void beginListeningChecksInOrder_data()
    {
        QTest::addColumn<int>("passing");  // how many of the checks are met
        QTest::addColumn<QString>("message");
        QTest::newRow("signed out") << 0 << VoiceSession::kSignInFirst;
        QTest::newRow("voice mode off") << 1 << VoiceSession::kVoiceModeOff;
        QTest::newRow("no Anthropic key") << 2 << VoiceSession::kAnthropicKeyNeeded;
        QTest::newRow("permissions refused") << 3 << VoiceSession::kPermissionsNeeded;
        QTest::newRow("capture fails") << 4 << QStringLiteral("The microphone is busy.");
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
            graph.backend.voiceKeychain.save(QStringLiteral("  "), kAnthropicAccount);  // blanks pass
        graph.scripted.permissionsGranted = passing >= 4;
        graph.scripted.startFailure = Failure{VoiceSession::kDomain, 4, QStringLiteral("The microphone is busy.")};
        StateLog log(graph.voiceSettings);

        awaitTask(graph.session->beginListening());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::error(message));
        QCOMPARE(graph.voiceSettings.lastErrorText(), message);
        QCOMPARE(graph.scripted.starts, 0);
        QCOMPARE(graph.scripted.permissionRequests, passing >= 3 ? 1 : 0);

        const qint64 flashedAt = log.lastEntered(Kind::Error);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
        const qint64 shown = log.lastEntered(Kind::Idle) - flashedAt;
        QVERIFY2(shown >= 215 && shown < 400, qPrintable(QString::number(shown)));
        // The message stays for the views until the next successful start.
        QCOMPARE(graph.voiceSettings.lastErrorText(), message);
    }

    void emptyTranscriptEndsWithoutRequest()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.voiceSettings.setLastError(QStringLiteral("old trouble"));
        awaitTask(graph.session->beginListening());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::listening());
        QVERIFY(!graph.voiceSettings.lastError());
        graph.scripted.finalTranscript = QStringLiteral(" \n\t");
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::idle());
        QCOMPARE(graph.voiceSettings.lastTranscript(), QStringLiteral(" \n\t"));
        // A second end of the same turn (the key release after the watchdog) does nothing.
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.scripted.stops, 1);
        QTest::qWait(50);
        QCOMPARE(graph.model.requestCount(), 0);
        QCOMPARE(graph.backendRequests("memory/search"), 0);
    }

    void listeningLimits_data()
    {
        QTest::addColumn<Partials>("partials");  // (ms after start, text)
        QTest::addColumn<int>("earliestEnd");
        QTest::addColumn<int>("latestEnd");
        QTest::addColumn<bool>("acted");
        // Tenfold faster than the product: silence 280 ms, nothing heard 500 ms, cap 1800 ms,
        // checked every 40 ms.
        QTest::newRow("silence after the last change")
            << Partials{{60, QStringLiteral("open")}, {150, QStringLiteral("open the mail")}}
            << 150 + 280 << 150 + 320 << true;
        QTest::newRow("a repeated partial is no speech")
            << Partials{{60, QStringLiteral("hello")},
                                              {200, QStringLiteral("hello")},
                                              {300, QStringLiteral("hello")}}
            << 60 + 280 << 60 + 320 << true;
        Partials talking;
        for (int ms = 50; ms < 2600; ms += 100)
            talking.append({ms, QStringLiteral("word ").repeated(ms / 100 + 1)});
        QTest::newRow("the cap acts on a long turn") << talking << 1800 << 1840 << true;
        QTest::newRow("nothing heard") << Partials{} << 500 << 540 << false;
    }
    void listeningLimits()
    {
        QFETCH(Partials, partials);
        QFETCH(int, earliestEnd);
        QFETCH(int, latestEnd);
        QFETCH(bool, acted);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.voiceSettings.setIsEnabled(true);
        graph.model.enqueueText(QString());  // an empty reply; then the follow-up opens
        StateLog log(graph.voiceSettings);

        awaitTask(graph.session->beginListening());
        const qint64 startedAt = log.lastEntered(Kind::Listening);
        for (const auto &[ms, text] : partials)
            graph.scripted.partialAfter(std::chrono::milliseconds(ms), text);
        QTRY_VERIFY_WITH_TIMEOUT(graph.scripted.stops == 1, 4000);
        const qint64 ended = log.entries.at(1).second - startedAt;
        // Scheduling on a loaded machine may add a little; the rule itself is the lower bound.
        QVERIFY2(ended >= earliestEnd && ended <= latestEnd + 60, qPrintable(QString::number(ended)));
        QCOMPARE(log.entries.at(1).first, acted ? VoiceBeeState::thinking() : VoiceBeeState::idle());
        if (acted) {
            QTRY_COMPARE(graph.model.requestCount(), 1);
            const QString heard = graph.model.lastRequest().lastMessage().value(QLatin1String("content")).toString();
            // What had been said by the cut, trimmed: the cap's turn had about 18 words by then.
            if (partials.size() > 3)
                QVERIFY2(heard.count(u"word"_s) >= 17 && !heard.endsWith(u' '), qPrintable(heard));
            else
                QCOMPARE(heard, partials.last().second);
        } else {
            QTest::qWait(100);
            QCOMPARE(graph.model.requestCount(), 0);
            QCOMPARE(graph.voiceSettings.lastTranscript(), QString());
        }
    }

    void toolsInEveryStepStopAfterFourRequests()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.workspace.apps = {app(41, QStringLiteral("Files"))};
        graph.actionMode.setEnabled(true);
        for (int step = 0; step < 5; ++step) {
            graph.model.enqueueReply(messages::toolUseReply(
                {toolUse(QStringLiteral("a%1").arg(step), QStringLiteral("activate_app"), {{u"app_name"_s, u"files"_s}}),
                 toolUse(QStringLiteral("b%1").arg(step), QStringLiteral("list_windows"))},
                QStringLiteral("Let me look.")));
        }
        StateLog log(graph.voiceSettings);

        awaitTask(graph.session->beginListening());
        graph.scripted.partial(QStringLiteral("tidy my desktop"));
        awaitTask(graph.session->finishListeningAndAct());
        QVERIFY(!graph.session->isRunning());
        QCOMPARE(graph.model.requestCount(), 4);
        QCOMPARE(graph.workspace.activated, QList<qint32>({41, 41, 41, 41}));

        const QList<MessagesRequest> requests = graph.model.requests();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(requests[i].messages().size(), 1 + 2 * i);
        const MessagesRequest &last = requests[3];
        const QJsonObject assistant = last.messages().at(1).toObject();
        QCOMPARE(assistant.value(QLatin1String("role")).toString(), QStringLiteral("assistant"));
        QCOMPARE(QJsonDocument(assistant.value(QLatin1String("content")).toArray()).toJson(QJsonDocument::Compact),
                 QByteArray(R"([{"text":"Let me look.","type":"text"},)"
                            R"({"id":"a0","input":{"app_name":"files"},"name":"activate_app","type":"tool_use"},)"
                            R"({"id":"b0","input":{},"name":"list_windows","type":"tool_use"}])"));
        const QJsonArray results = last.messages().at(4).toObject().value(QLatin1String("content")).toArray();
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].toObject().value(QLatin1String("tool_use_id")).toString(), QStringLiteral("a1"));
        QCOMPARE(results[0].toObject().value(QLatin1String("type")).toString(), QStringLiteral("tool_result"));
        QCOMPARE(toolResultText(last, 4, 0), QStringLiteral("Activated Files."));
        QCOMPARE(toolResultText(last, 4, 1), QStringLiteral("Windows:\n(none)\n\nApps:\n- Files"));

        QCOMPARE(graph.speech.requestCount(), 0);
        QCOMPARE(graph.backendRequests("memory/remember"), 0);
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::thinking());
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 1000);
        QVERIFY(log.lastEntered(Kind::Idle) - log.lastEntered(Kind::Thinking) >= 140);
        QCOMPARE(graph.model.requestCount(), 4);
    }

    void endTurnActsSpeaksAndListensAgain()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.workspace.apps = {app(7, QStringLiteral("Terminal"))};
        graph.actionMode.setEnabled(true);
        graph.model.enqueueReply(messages::reply({messages::textBlock(QStringLiteral("Terminal is in front.")),
                                                  toolUse(QStringLiteral("t1"), QStringLiteral("activate_app"),
                                                          {{u"app_name"_s, u"terminal"_s}})}));
        StateLog log(graph.voiceSettings);
        QStringList replies;
        QObject::connect(&graph.voiceSettings, &VoiceSettingsStore::lastAssistantReplyChanged, &graph.voiceSettings,
                         [&] { replies.append(graph.voiceSettings.lastAssistantReply()); });

        awaitTask(graph.session->beginListening());
        replies.clear();
        graph.scripted.partial(QStringLiteral(" show the terminal "));
        awaitTask(graph.session->finishListeningAndAct());

        QCOMPARE(graph.model.requestCount(), 1);
        QCOMPARE(graph.workspace.activated, QList<qint32>{7});
        const MessagesRequest request = graph.model.lastRequest();
        QCOMPARE(request.lastMessage().value(QLatin1String("content")).toString(), QStringLiteral("show the terminal"));
        QVERIFY(request.system().contains(QStringLiteral("likes short answers")));
        QVERIFY(request.system().contains(QStringLiteral("- Terminal")));
        const QJsonObject search = QJsonDocument::fromJson(graph.backendServer.requests().value(0).body).object();
        QCOMPARE(search.value(QLatin1String("limit")).toInt(), VoiceSession::kMemoryRecallLimit);

        QCOMPARE(graph.speech.requestCount(), 1);
        QCOMPARE(QJsonDocument::fromJson(graph.speech.requests().value(0).body).object().value(QLatin1String("text")).toString(),
                 QStringLiteral("Terminal is in front."));
        QCOMPARE(replies, QStringList({u"Terminal is in front."_s, QString()}));  // cleared by the follow-up
        QVERIFY(log.saw(Kind::Speaking));
        QTRY_COMPARE(graph.backendRequests("memory/remember"), 1);

        // The follow-up: the microphone is open again and, with nothing said, closes.
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::listening());
        QCOMPARE(graph.scripted.starts, 2);
        const qint64 reopened = log.lastEntered(Kind::Listening);
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
        QVERIFY(log.lastEntered(Kind::Idle) - reopened >= 500);
        QCOMPARE(graph.model.requestCount(), 1);
    }

    void replyEndings_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("elevenLabsKey");
        QTest::addColumn<bool>("voiceMode");
        QTest::addColumn<int>("speechRequests");
        QTest::addColumn<bool>("listensAgain");
        QTest::addColumn<QString>("lastError");
        QTest::newRow("empty reply goes straight to the follow-up") << QString() << true << true << 0 << true << QString();
        QTest::newRow("no speech key: not spoken, then idle")
            << QStringLiteral("Hi") << false << true << 0 << false << VoiceSession::kElevenLabsKeyNeeded;
        QTest::newRow("voice mode switched off meanwhile") << QStringLiteral("Hi") << true << false << 1 << false << QString();
    }
    void replyEndings()
    {
        QFETCH(QString, reply);
        QFETCH(bool, elevenLabsKey);
        QFETCH(bool, voiceMode);
        QFETCH(int, speechRequests);
        QFETCH(bool, listensAgain);
        QFETCH(QString, lastError);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        if (!elevenLabsKey)
            graph.backend.voiceKeychain.save(QString(), kElevenLabsAccount);
        graph.model.enqueueText(reply);

        awaitTask(graph.session->beginListening());
        graph.scripted.partial(QStringLiteral("hello"));
        graph.voiceSettings.setIsEnabled(voiceMode);
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.speech.requestCount(), speechRequests);
        QCOMPARE(graph.scripted.starts, listensAgain ? 2 : 1);
        QCOMPARE(graph.voiceSettings.lastErrorText(), lastError);
        // Whatever the way out, the bee ends up idle rather than thinking forever.
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
    }

    void failedRunsFlashTheirMessage_data()
    {
        QTest::addColumn<bool>("keyRemovedMeanwhile");
        QTest::addColumn<QString>("message");
        QTest::newRow("model refuses the key") << false << QStringLiteral("Invalid Anthropic API key. Check Settings \u2192 Voice.");
        QTest::newRow("key removed while listening") << true << VoiceSession::kAnthropicKeyMissing;
    }
    void failedRunsFlashTheirMessage()
    {
        QFETCH(bool, keyRemovedMeanwhile);
        QFETCH(QString, message);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.model.enqueueError(401, QStringLiteral("authentication_error"), QStringLiteral("invalid x-api-key"));
        awaitTask(graph.session->beginListening());
        graph.scripted.partial(QStringLiteral("hello"));
        if (keyRemovedMeanwhile)
            graph.backend.voiceKeychain.save(QString(), kAnthropicAccount);
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.voiceSettings.beeState().kind(), Kind::Error);
        if (!keyRemovedMeanwhile)
            QCOMPARE(graph.voiceSettings.beeState().message(), AnthropicVoiceAgent::humanize(
                         messages::error(QStringLiteral("authentication_error"), QStringLiteral("invalid x-api-key")), 401,
                         graph.voiceSettings.claudeModel()));
        else
            QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::error(message));
        QVERIFY(!graph.session->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(graph.voiceSettings.beeState(), VoiceBeeState::idle(), 2000);
    }

    void secondTurnDuringRunIsDropped()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        FakeResponse slow = FakeResponse::json(200, messages::textReply(QStringLiteral("First answer.")));
        slow.stall = 400ms;
        graph.model.enqueue(slow);

        awaitTask(graph.session->beginListening());
        graph.scripted.partial(QStringLiteral("first question"));
        (void)graph.session->finishListeningAndAct();
        QTRY_COMPARE(graph.model.requestCount(), 1);
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::thinking());

        awaitTask(graph.session->beginListening());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::listening());
        graph.scripted.partial(QStringLiteral("second question"));
        awaitTask(graph.session->finishListeningAndAct());
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::thinking());
        QVERIFY(graph.session->isRunning());

        QTRY_COMPARE(graph.speech.requestCount(), 1);
        QTRY_VERIFY(!graph.session->isRunning());
        QCOMPARE(graph.model.requestCount(), 1);
        QCOMPARE(QJsonDocument::fromJson(graph.speech.requests().value(0).body).object().value(QLatin1String("text")).toString(),
                 QStringLiteral("First answer."));
    }

    void typedQuestions_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("modelRequests");
        QTest::addColumn<int>("panelsOpened");
        QTest::newRow("signed out") << false << QStringLiteral("why?") << false << VoiceSession::kSignInFirst << 0 << 1;
        QTest::newRow("blank") << true << QStringLiteral(" \n ") << true << QString() << 0 << 0;
        QTest::newRow("answered with a muted speak tool") << true << QStringLiteral(" why? ") << true
                                                          << QStringLiteral("Because.") << 2 << 0;
    }
    void typedQuestions()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, question);
        QFETCH(bool, ok);
        QFETCH(QString, answer);
        QFETCH(int, modelRequests);
        QFETCH(int, panelsOpened);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        if (!signedIn)
            graph.backend.sessions.signOut();
        graph.model.enqueueReply(messages::toolUseReply(
            {toolUse(QStringLiteral("s1"), QStringLiteral("speak"), {{u"text"_s, u"Because."_s}})}));
        graph.model.enqueueText(QStringLiteral("Because."));
        StateLog log(graph.voiceSettings);

        const Result<QString> result = awaitTask(graph.session->runTypedQuery(question));
        QCOMPARE(result.ok(), ok);
        QCOMPARE(ok ? result.value() : result.failure().message, answer);
        QCOMPARE(graph.model.requestCount(), modelRequests);
        QCOMPARE(graph.backend.panelPresented, panelsOpened);
        if (modelRequests == 2) {
            QCOMPARE(graph.model.lastRequest().messages().at(0).toObject().value(QLatin1String("content")).toString(),
                     QStringLiteral("why?"));
            QCOMPARE(toolResultText(graph.model.lastRequest(), 2), QStringLiteral("Reply noted (TTS muted for typed ask)."));
            QTRY_COMPARE(graph.backendRequests("memory/remember"), 1);
        }
        QCOMPARE(graph.speech.requestCount(), 0);
        QCOMPARE(graph.audio.clipsOpened, 0);
        QVERIFY(log.entries.isEmpty());
        QCOMPARE(graph.voiceSettings.lastAssistantReply(), QString());
    }

    void typedFailuresAreReturnedNotShown_data()
    {
        QTest::addColumn<bool>("hasKey");
        QTest::addColumn<QString>("message");
        QTest::newRow("no key") << false << VoiceSession::kAnthropicKeyMissingTyped;
        QTest::newRow("model overloaded") << true << AnthropicVoiceAgent::humanize(
            messages::error(QStringLiteral("overloaded_error"), QStringLiteral("Overloaded")), 529, VoiceSettingsStore::kDefaultClaudeModel);
    }
    void typedFailuresAreReturnedNotShown()
    {
        QFETCH(bool, hasKey);
        QFETCH(QString, message);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        if (!hasKey)
            graph.backend.voiceKeychain.save(QString(), kAnthropicAccount);
        graph.model.enqueueError(529, QStringLiteral("overloaded_error"), QStringLiteral("Overloaded"));
        StateLog log(graph.voiceSettings);
        const Result<QString> result = awaitTask(graph.session->runTypedQuery(QStringLiteral("hi")));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().message, message);
        QVERIFY(log.entries.isEmpty());
        QVERIFY(!graph.voiceSettings.lastError());
        QVERIFY(!graph.session->isRunning());
    }

    void typedQuestionCancelsPendingReturnToIdle()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.voiceSettings.setIsEnabled(false);
        awaitTask(graph.session->beginListening());  // flashes "Turn on Voice mode first."
        QVERIFY(graph.session->isLingering());
        graph.model.enqueueText(QStringLiteral("Sure."));
        QCOMPARE(awaitTask(graph.session->runTypedQuery(QStringLiteral("hi"))).value(), QStringLiteral("Sure."));
        QVERIFY(!graph.session->isLingering());
        QTest::qWait(300);
        QCOMPARE(graph.voiceSettings.beeState(), VoiceBeeState::error(VoiceSession::kVoiceModeOff));
    }

    void toolResults_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QJsonObject>("input");
        QTest::addColumn<bool>("actionMode");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("allowSpeak");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QList<qint32>>("activated");
        QTest::addColumn<QList<QPointF>>("clicks");

        const QList<qint32> none;
        const QList<QPointF> noClicks;
        auto row = [&](const char *title, const QString &name, const QJsonObject &input, const QString &expected,
                       QList<qint32> activated = {}, QList<QPointF> clicks = {}, bool actionMode = true,
                       bool trusted = true, bool allowSpeak = true) {
            QTest::newRow(title) << name << input << actionMode << trusted << allowSpeak << expected << activated << clicks;
        };
        // The apps, as the snapshot sorts them: "Files" (1), "Firefox" (2), "Notes Plus" (3), "notes" (4).
        row("list_windows", u"list_windows"_s, {},
            u"Windows:\n- Editor \u00B7 (no title) \u00B7 800x600\n- Firefox \u00B7 Inbox \u00B7 1280x719"
            "\n\nApps:\n- Files\n- Firefox (active)\n- Notes Plus\n- notes"_s);
        row("activate, other letter case", u"activate_app"_s, {{u"app_name"_s, u"FIREFOX"_s}}, u"Activated Firefox."_s, {2});
        row("activate, fragment picks the first", u"activate_app"_s, {{u"app_name"_s, u"fi"_s}}, u"Activated Files."_s, {1});
        row("activate, exact match beats an earlier fragment", u"activate_app"_s, {{u"app_name"_s, u"Notes"_s}},
            u"Activated notes."_s, {4});
        row("activate, not running", u"activate_app"_s, {{u"app_name"_s, u"Mail App"_s}}, u"No running app named \"Mail App\"."_s);
        row("activate, blank name", u"activate_app"_s, {{u"app_name"_s, u""_s}}, u"No running app named \"\"."_s);
        row("activate, name not text", u"activate_app"_s, {{u"app_name"_s, 12}}, u"No running app named \"\"."_s);
        row("activate, action mode off", u"activate_app"_s, {{u"app_name"_s, u"files"_s}}, u"Activated Files."_s, none, noClicks, false);
        row("click, fraction dropped", u"click"_s, {{u"x"_s, 100.7}, {u"y"_s, 200.2}}, u"Clicked at (100, 200)."_s, none,
            {QPointF(100.7, 200.2)});
        row("click, true and false are numbers", u"click"_s, {{u"x"_s, true}, {u"y"_s, false}}, u"Clicked at (1, 0)."_s, none,
            {QPointF(1, 0)});
        row("click, x as text", u"click"_s, {{u"x"_s, u"100"_s}, {u"y"_s, 200}}, u"click needs x and y numbers."_s);
        row("click, no y", u"click"_s, {{u"x"_s, 100}}, u"click needs x and y numbers."_s);
        row("click, negative", u"click"_s, {{u"x"_s, 100}, {u"y"_s, -0.5}}, u"click needs x and y numbers."_s);
        row("click, beyond whole numbers", u"click"_s, {{u"x"_s, 1e19}, {u"y"_s, 5}}, u"click needs x and y numbers."_s);
        row("click, huge", u"click"_s, {{u"x"_s, 5}, {u"y"_s, 1e300}}, u"click needs x and y numbers."_s);
        row("click, no accessibility", u"click"_s, {{u"x"_s, 1}, {u"y"_s, 2}},
            u"Accessibility permission is not granted, so clicks are disabled."_s, none, noClicks, true, false);
        row("click, action mode off", u"click"_s, {{u"x"_s, 1}, {u"y"_s, 2}}, u"Click failed."_s, none, noClicks, false);
        row("speak, typed", u"speak"_s, {{u"text"_s, u"hello"_s}}, u"Reply noted (TTS muted for typed ask)."_s, none, noClicks, true,
            true, false);
        row("speak", u"speak"_s, {{u"text"_s, u"  hello  "_s}}, u"Spoke:   hello  "_s);
        row("speak, long text cut at 120 characters", u"speak"_s, {{u"text"_s, QString(u"👍🏽"_s).repeated(130)}},
            u"Spoke: "_s + QString(u"👍🏽"_s).repeated(120));
        row("speak, no text", u"speak"_s, {{u"text"_s, 3}}, u"Spoke: "_s);
        row("letter case matters", u"List_windows"_s, {}, u"Unknown tool: List_windows"_s);
        row("unknown", u"open_url"_s, {{u"url"_s, u"x"_s}}, u"Unknown tool: open_url"_s);
    }
    void toolResults()
    {
        QFETCH(QString, name);
        QFETCH(QJsonObject, input);
        QFETCH(bool, actionMode);
        QFETCH(bool, trusted);
        QFETCH(bool, allowSpeak);
        QFETCH(QString, expected);
        QFETCH(QList<qint32>, activated);
        QFETCH(QList<QPointF>, clicks);
        VoiceSessionGraph graph;
        graph.readyToTalk();
        graph.voiceSettings.setRequireClickConfirmation(false);
        graph.workspace.apps = {app(3, QStringLiteral("Notes Plus")), app(1, QStringLiteral("Files")),
                                app(4, QStringLiteral("notes")), app(2, QStringLiteral("Firefox"), true)};
        graph.windowServer.entries = {window(1, QStringLiteral("Firefox"), QStringLiteral("Inbox"), 1280.9, 719.99),
                                      window(2, QStringLiteral("Editor"), QString(), 800, 600)};
        graph.input.trusted = trusted;
        graph.actionMode.setEnabled(true);  // reads permissions and snapshots
        graph.actionMode.setEnabled(actionMode);

        const QString result =
            awaitTask(graph.session->handleToolCall(VoiceAgentToolCall{QStringLiteral("id"), name, input}, allowSpeak));
        QCOMPARE(result, expected);
        QCOMPARE(graph.workspace.activated, activated);
        QCOMPARE(graph.input.clicks, clicks);
        QCOMPARE(graph.toast.countdown(), nullptr);
        QCOMPARE(graph.speech.requestCount(), expected.startsWith(u"Spoke: "_s) && expected != u"Spoke: "_s ? 1 : 0);
    }

    void captureScreen_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::addColumn<bool>("earlierSnapshot");
        QTest::addColumn<QString>("expected");
        QTest::newRow("captured") << true << false << QStringLiteral("Captured a snapshot of the main display.");
        QTest::newRow("refused") << false << false << QStringLiteral("Capture failed. Screen Recording permission may be missing.");
        QTest::newRow("refused, earlier image kept") << false << true << QStringLiteral("Captured a snapshot of the main display.");
    }
    void captureScreen()
    {
        QFETCH(bool, granted);
        QFETCH(bool, earlierSnapshot);
        QFETCH(QString, expected);
        VoiceSessionGraph graph;
        graph.actionMode.setEnabled(true);
        graph.screenCapture.image = QImage(4, 4, QImage::Format_RGB32);
        if (earlierSnapshot)
            graph.actionMode.captureMainDisplay();
        graph.screenCapture.access = granted;
        graph.screenCapture.image = granted ? QImage(4, 4, QImage::Format_RGB32) : QImage();
        graph.actionMode.refreshPermissionState();
        QCOMPARE(awaitTask(graph.session->handleToolCall({QStringLiteral("c"), QStringLiteral("capture_screen"), {}}, true)),
                 expected);
    }

    void clickAsksFirst_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<QString>("expected");
        QTest::newRow("allowed") << true << QStringLiteral("Clicked at (100, 200).");
        QTest::newRow("declined") << false << QStringLiteral("User cancelled the click.");
    }
    void clickAsksFirst()
    {
        QFETCH(bool, allow);
        QFETCH(QString, expected);
        VoiceSessionGraph graph;
        graph.actionMode.setEnabled(true);
        QVERIFY(graph.voiceSettings.requireClickConfirmation());
        QString prompt;
        int seconds = 0;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
            if (ToastCountdown *countdown = graph.toast.countdown()) {
                prompt = countdown->action();
                seconds = countdown->seconds();
                graph.toast.dismiss(allow);
                answer.stop();
            }
        });
        answer.start(10);
        const QString result = awaitTask(graph.session->handleToolCall(
            {QStringLiteral("k"), QStringLiteral("click"), {{u"x"_s, 100.7}, {u"y"_s, 200.2}}}, true));
        QCOMPARE(result, expected);
        QCOMPARE(prompt, QStringLiteral("ZaPum will click at (100, 200)"));
        QCOMPARE(seconds, 2);
        QCOMPARE(graph.input.clicks, allow ? QList<QPointF>{QPointF(100.7, 200.2)} : QList<QPointF>{});
    }

    void hotkeyAndTypedQuestionsReachTheSession()
    {
        VoiceSessionGraph graph;
        graph.readyToTalk();
        auto keys = std::make_unique<FakeModifierKeySource>();
        FakeModifierKeySource &source = *keys;
        GlobalHotkeyService hotkey(std::move(keys), HotkeyTiming{20ms});
        wireVoiceSession(*graph.session, hotkey, graph.backend.ask);
        hotkey.registerHotkey();
        graph.model.enqueueText(QStringLiteral("Spoken answer."));
        graph.model.enqueueText(QStringLiteral("Typed answer."));

        source.press(GlobalHotkeyService::kTriggerKeyCode);
        QTRY_COMPARE(graph.voiceSettings.beeState(), VoiceBeeState::listening());
        graph.scripted.partial(QStringLiteral("hello there"));
        source.release(GlobalHotkeyService::kTriggerKeyCode);
        QTRY_COMPARE(graph.speech.requestCount(), 1);
        QCOMPARE(graph.model.requests().value(0).lastMessage().value(QLatin1String("content")).toString(),
                 QStringLiteral("hello there"));

        QTRY_VERIFY(!graph.session->isRunning());
        awaitTask(graph.backend.ask.ask(QStringLiteral("and typed?")));
        QCOMPARE(graph.backend.ask.responseText(), QStringLiteral("Typed answer."));
        QCOMPARE(graph.model.requestCount(), 2);
        QCOMPARE(graph.speech.requestCount(), 1);
    }

    void summaries_data()
    {
        QTest::addColumn<int>("windows");
        QTest::addColumn<int>("apps");
        QTest::addColumn<int>("windowLines");
        QTest::addColumn<int>("appLines");
        QTest::newRow("empty") << 0 << 0 << 0 << 0;
        QTest::newRow("a few") << 3 << 2 << 3 << 2;
        QTest::newRow("more than shown") << 25 << 35 << 20 << 30;
    }
    void summaries()
    {
        QFETCH(int, windows);
        QFETCH(int, apps);
        QFETCH(int, windowLines);
        QFETCH(int, appLines);
        QList<DesktopWindowInfo> windowList;
        for (int i = 0; i < windows; ++i)
            windowList.append({quint32(i), i, QStringLiteral("App%1").arg(i), QStringLiteral("T%1").arg(i),
                               QRectF(0, 0, 99.99 + i, 0.5), 0});
        QList<RunningAppSummary> appList;
        for (int i = 0; i < apps; ++i)
            appList.append({i, QStringLiteral("App%1").arg(i), std::nullopt, i == 1});
        const QString windowText = summarizeWindowList(windowList);
        const QString appText = summarizeAppList(appList);
        QCOMPARE(windowText == QLatin1String("(none)") ? 0 : int(windowText.split(u'\n').size()), windowLines);
        QCOMPARE(appText == QLatin1String("(none)") ? 0 : int(appText.split(u'\n').size()), appLines);
        if (windows > 0)
            QCOMPARE(windowText.section(u'\n', 0, 0), QStringLiteral("- App0 \u00B7 T0 \u00B7 99x0"));
        if (apps > 1)
            QCOMPARE(appText.section(u'\n', 1, 1), QStringLiteral("- App1 (active)"));
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
