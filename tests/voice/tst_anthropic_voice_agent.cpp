#include "foundation/http_client.h"
#include "support/await_task.h"
#include "support/fake_messages_api.h"
#include "voice/anthropic_voice_agent.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <optional>

using namespace zapum;
using namespace zapum::test;
using Turn = AnthropicVoiceAgent::Turn;

namespace {

const QString kKey = QStringLiteral("test-key-123");
const QString kModel = QStringLiteral("claude-nope-1");

// JSON compared as text, so that a failure prints something readable.
QByteArray compact(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonArray jsonArray(const char *text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isArray())
        qFatal("bad JSON array literal in the test: %s", text);
    return document.array();
}

QJsonArray userSays(const QString &text)
{
    return {QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), text}}};
}

Result<Turn> runAgainst(const QUrl &baseUrl, HttpTimeouts timeouts = AnthropicVoiceAgent::defaultTimeouts(),
                        QJsonArray messages = userSays(QStringLiteral("hello")), VoiceAgentContext context = {})
{
    AnthropicVoiceAgent agent(baseUrl, timeouts);
    return awaitTask(agent.run(kKey, kModel, std::move(messages), std::move(context)));
}

quint16 portWithNothingListening()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot find a free port");
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

const char *const kExpectedTools = R"([
  {"name": "list_windows",
   "description": "List on-screen windows and currently running regular apps.",
   "input_schema": {"type": "object", "properties": {}, "required": []}},
  {"name": "activate_app",
   "description": "Bring an app to the front by exact name as reported by list_windows.",
   "input_schema": {"type": "object",
                    "properties": {"app_name": {"type": "string", "description": "Human-readable app name."}},
                    "required": ["app_name"]}},
  {"name": "capture_screen",
   "description": "Take a snapshot of the main display.",
   "input_schema": {"type": "object", "properties": {}, "required": []}},
  {"name": "click",
   "description": "Perform a single left click at screen coordinates.",
   "input_schema": {"type": "object", "properties": {"x": {"type": "number"}, "y": {"type": "number"}},
                    "required": ["x", "y"]}},
  {"name": "speak",
   "description": "Say something to the user as plain text.",
   "input_schema": {"type": "object", "properties": {"text": {"type": "string"}}, "required": ["text"]}}
])";

const QString kInstructions = QStringLiteral(
    "  You are ZaPum, pronounced \"zah-pum\".   Whenever you introduce yourself or refer to yourself, always "
    "write your name as ZaPum, never as \"Zapum\", \"ZAPUM\" or \"Za Pum\", nor any other variant.   You are a "
    "friendly desktop companion on the user's Mac.   You help them switch between open apps, capture their "
    "screen, and occasionally click   at a coordinate when they ask. Keep spoken replies to one or two short "
    "sentences.   Always tell the user what you just did. If a tool is not available or fails, say so briefly."
    "   Never click without being asked; never loop more than a couple of tool calls without speaking.");

// Every log message, gathered while a test looks for the key in them.
QStringList g_logLines;
void gatherLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_logLines.append(message);
}

}  // namespace

class TestAnthropicVoiceAgent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestOnTheWire()
    {
        FakeMessagesApi api(QStringLiteral("/proxy/anthropic/"));
        api.enqueueText(QStringLiteral("Done."));
        QJsonArray conversation = userSays(QStringLiteral("open the browser"));
        conversation.append(QJsonObject{
            {QStringLiteral("role"), QStringLiteral("assistant")},
            {QStringLiteral("content"), QJsonArray{messages::toolUseBlock(QStringLiteral("toolu_1"),
                                                                          QStringLiteral("list_windows"))}}});

        // The prefix without its trailing slash must still keep its last segment.
        QUrl base = api.baseUrl();
        base.setPath(QStringLiteral("/proxy/anthropic"));
        const Result<Turn> result = runAgainst(base, AnthropicVoiceAgent::defaultTimeouts(), conversation);
        QVERIFY(result.ok());
        QCOMPARE(api.requestCount(), 1);

        const MessagesRequest request = api.lastRequest();
        QCOMPARE(request.raw.method, QByteArray("POST"));
        QCOMPARE(request.raw.target, QByteArray("/proxy/anthropic/v1/messages"));

        QList<QByteArray> ours;
        for (const QByteArray &name : request.raw.headerNames()) {
            const QByteArray lower = name.toLower();
            if (lower == "x-api-key" || lower == "anthropic-version" || lower == "content-type")
                ours.append(lower);
        }
        QCOMPARE(ours, (QList<QByteArray>{"x-api-key", "anthropic-version", "content-type"}));
        QCOMPARE(request.raw.header("x-api-key"), kKey.toUtf8());
        QCOMPARE(request.raw.header("anthropic-version"), QByteArray("2023-06-01"));
        QCOMPARE(request.raw.header("content-type"), QByteArray("application/json"));

        QStringList members = request.body.keys();
        members.sort();
        QCOMPARE(members, (QStringList{QStringLiteral("max_tokens"), QStringLiteral("messages"),
                                       QStringLiteral("model"), QStringLiteral("system"), QStringLiteral("tools")}));
        QCOMPARE(request.model(), kModel);
        QCOMPARE(compact(request.messages()), compact(conversation));
        QCOMPARE(compact(request.tools()), compact(jsonArray(kExpectedTools)));
        QCOMPARE(compact(AnthropicVoiceAgent::tools()), compact(jsonArray(kExpectedTools)));
        // An integer on the wire, not 1024.0.
        QVERIFY(QRegularExpression(QStringLiteral(R"("max_tokens"\s*:\s*1024\s*[,}])"))
                    .match(QString::fromUtf8(request.raw.body))
                    .hasMatch());
    }

    void systemPrompt_data()
    {
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("apps");
        QTest::addColumn<QString>("memories");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no memories")
            << QStringLiteral("- Firefox: \"Inbox\"") << QStringLiteral("- Firefox (active)") << QString()
            << kInstructions
                   + QStringLiteral("\n\nCurrent on-screen windows:\n- Firefox: \"Inbox\"\n\nRunning apps:\n"
                                    "- Firefox (active)");
        QTest::newRow("with memories")
            << QStringLiteral("(none)") << QStringLiteral("- Files") << QStringLiteral("Likes short answers.")
            << kInstructions
                   + QStringLiteral("\n\nCurrent on-screen windows:\n(none)\n\nRunning apps:\n- Files\n\n"
                                    "What you remember about this user from past conversations (use only when "
                                    "genuinely relevant; do not announce that you \"remember\"):\n"
                                    "Likes short answers.");
        QTest::newRow("empty desktop")
            << QString() << QString() << QString()
            << kInstructions + QStringLiteral("\n\nCurrent on-screen windows:\n\n\nRunning apps:\n");
    }

    void systemPrompt()
    {
        QFETCH(QString, windows);
        QFETCH(QString, apps);
        QFETCH(QString, memories);
        QFETCH(QString, expected);

        FakeMessagesApi api;
        api.enqueueText(QStringLiteral("ok"));
        QVERIFY(runAgainst(api.baseUrl(), AnthropicVoiceAgent::defaultTimeouts(), userSays(QStringLiteral("hi")),
                           VoiceAgentContext{windows, apps, memories})
                    .ok());
        QCOMPARE(api.lastRequest().system(), expected);
    }

    void endpoint_data()
    {
        QTest::addColumn<QUrl>("base");
        QTest::addColumn<QUrl>("expected");

        const QUrl vendor(QStringLiteral("https://api.anthropic.com/v1/messages"));
        QTest::newRow("vendor default") << AnthropicVoiceAgent::defaultBaseUrl() << vendor;
        QTest::newRow("host without slash") << QUrl(QStringLiteral("https://api.anthropic.com")) << vendor;
        QTest::newRow("prefix with slash") << QUrl(QStringLiteral("http://proxy:8080/llm/"))
                                           << QUrl(QStringLiteral("http://proxy:8080/llm/v1/messages"));
        QTest::newRow("prefix without slash") << QUrl(QStringLiteral("http://proxy:8080/a/llm"))
                                              << QUrl(QStringLiteral("http://proxy:8080/a/llm/v1/messages"));
    }

    void endpoint()
    {
        QFETCH(QUrl, base);
        QFETCH(QUrl, expected);
        QCOMPARE(AnthropicVoiceAgent::messagesEndpoint(base), expected);
    }

    void baseUrlFromEnvironment_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QUrl>("expected");

        const QUrl vendor = AnthropicVoiceAgent::defaultBaseUrl();
        QTest::newRow("unset") << false << QByteArray() << vendor;
        QTest::newRow("blank") << true << QByteArray("   ") << vendor;
        QTest::newRow("not a URL") << true << QByteArray("proxy here") << vendor;
        QTest::newRow("not http") << true << QByteArray("ftp://proxy/") << vendor;
        QTest::newRow("proxy with prefix") << true << QByteArray(" http://127.0.0.1:9000/anthropic ")
                                           << QUrl(QStringLiteral("http://127.0.0.1:9000/anthropic"));
    }

    void baseUrlFromEnvironment()
    {
        QFETCH(bool, set);
        QFETCH(QByteArray, value);
        QFETCH(QUrl, expected);

        const bool wasSet = qEnvironmentVariableIsSet("ZAPUM_ANTHROPIC_BASE_URL");
        const QByteArray saved = qgetenv("ZAPUM_ANTHROPIC_BASE_URL");
        if (set)
            qputenv("ZAPUM_ANTHROPIC_BASE_URL", value);
        else
            qunsetenv("ZAPUM_ANTHROPIC_BASE_URL");
        const QUrl actual = AnthropicVoiceAgent::baseUrlFromEnvironment();
        if (wasSet)
            qputenv("ZAPUM_ANTHROPIC_BASE_URL", saved);
        else
            qunsetenv("ZAPUM_ANTHROPIC_BASE_URL");
        QCOMPARE(actual, expected);
    }

    void replyWalk_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        // Each call as {"id", "name", "input"}; an id of "<uuid>" stands for a fresh random one.
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<QString>("stopReason");

        QTest::newRow("texts joined as they are")
            << QByteArray(R"({"content":[{"type":"text","text":"I opened"},{"type":"text","text":" Firefox."}],)"
                          R"("stop_reason":"stop_sequence"})")
            << QStringLiteral("I opened Firefox.") << QByteArray("[]") << QStringLiteral("stop_sequence");
        QTest::newRow("texts run together")
            << QByteArray(R"({"content":[{"type":"text","text":"Opened"},{"type":"text","text":"Firefox"}],)"
                          R"("stop_reason":"end_turn"})")
            << QStringLiteral("OpenedFirefox") << QByteArray("[]") << QStringLiteral("end_turn");
        QTest::newRow("text block without text")
            << QByteArray(R"({"content":[{"type":"text"},{"type":"text","text":7},{"type":"text","text":"ok"}],)"
                          R"("stop_reason":"end_turn"})")
            << QStringLiteral("ok") << QByteArray("[]") << QStringLiteral("end_turn");
        QTest::newRow("text and tool calls in order")
            << QByteArray(R"({"content":[{"type":"text","text":"Sure."},)"
                          R"({"type":"tool_use","id":"toolu_1","name":"click","input":{"x":10,"y":20.5}},)"
                          R"({"type":"tool_use","id":"toolu_2","name":"speak","input":{"text":"hi"}}],)"
                          R"("stop_reason":"tool_use"})")
            << QStringLiteral("Sure.")
            << QByteArray(R"([{"id":"toolu_1","name":"click","input":{"x":10,"y":20.5}},)"
                          R"({"id":"toolu_2","name":"speak","input":{"text":"hi"}}])")
            << QStringLiteral("tool_use");
        QTest::newRow("missing id, name and input")
            << QByteArray(R"({"content":[{"type":"tool_use"},{"type":"tool_use","id":3,"name":false}],)"
                          R"("stop_reason":"tool_use"})")
            << QString() << QByteArray(R"([{"id":"<uuid>","name":"","input":{}},{"id":"<uuid>","name":"","input":{}}])")
            << QStringLiteral("tool_use");
        QTest::newRow("input not an object")
            << QByteArray(R"({"content":[{"type":"tool_use","id":"a","name":"speak","input":["hi"]},)"
                          R"({"type":"tool_use","id":"b","name":"speak","input":"hi"}],"stop_reason":"tool_use"})")
            << QString() << QByteArray(R"([{"id":"a","name":"speak","input":{}},{"id":"b","name":"speak","input":{}}])")
            << QStringLiteral("tool_use");
        QTest::newRow("other blocks skipped")
            << QByteArray(R"({"content":[{"type":"thinking","thinking":"hmm","text":"no"},{"text":"untyped"},)"
                          R"({"type":7,"text":"no"},{"type":"text","text":"yes"}],"stop_reason":"end_turn"})")
            << QStringLiteral("yes") << QByteArray("[]") << QStringLiteral("end_turn");
        QTest::newRow("no stop reason")
            << QByteArray(R"({"content":[{"type":"text","text":"hi"}]})") << QStringLiteral("hi") << QByteArray("[]")
            << QStringLiteral("end_turn");
        QTest::newRow("stop reason not text")
            << QByteArray(R"({"content":[],"stop_reason":null})") << QString() << QByteArray("[]")
            << QStringLiteral("end_turn");
        QTest::newRow("no content")
            << QByteArray(R"({"stop_reason":"max_tokens"})") << QString() << QByteArray("[]")
            << QStringLiteral("max_tokens");
        QTest::newRow("content not a list")
            << QByteArray(R"({"content":{"type":"text","text":"hi"},"stop_reason":"end_turn"})") << QString()
            << QByteArray("[]") << QStringLiteral("end_turn");
        QTest::newRow("content not all objects")
            << QByteArray(R"({"content":[{"type":"text","text":"hi"},"stray"],"stop_reason":"end_turn"})")
            << QString() << QByteArray("[]") << QStringLiteral("end_turn");
    }

    void replyWalk()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QByteArray, calls);
        QFETCH(QString, stopReason);

        FakeMessagesApi api;
        api.enqueueReply(body, 201);  // any 2xx is a reply
        const Result<Turn> result = runAgainst(api.baseUrl());
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.failure().message));
        const Turn &turn = result.value();
        QCOMPARE(turn.text, text);
        QCOMPARE(turn.stopReason, stopReason);

        const QJsonArray expected = QJsonDocument::fromJson(calls).array();
        QCOMPARE(turn.toolCalls.size(), expected.size());
        static const QRegularExpression uuid(
            QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
        QStringList ids;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QJsonObject want = expected[i].toObject();
            const VoiceAgentToolCall &call = turn.toolCalls[i];
            if (want.value(QLatin1String("id")).toString() == QLatin1String("<uuid>"))
                QVERIFY2(uuid.match(call.id).hasMatch(), qPrintable(call.id));
            else
                QCOMPARE(call.id, want.value(QLatin1String("id")).toString());
            QCOMPARE(call.name, want.value(QLatin1String("name")).toString());
            QCOMPARE(compact(call.input), compact(want.value(QLatin1String("input"))));
            ids.append(call.id);
        }
        ids.removeDuplicates();
        QCOMPARE(ids.size(), turn.toolCalls.size());
    }

    void humanize_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        const QString generic429 = QStringLiteral("Anthropic HTTP 429 — check key and model in Settings → Voice.");
        const QString modelGone = QStringLiteral("Claude model “claude-nope-1” isn't available. Update it in Settings → Voice.");
        const QString keyRejected = QStringLiteral("Anthropic key rejected. Re-paste it in Settings → Voice.");
        const QString rateLimit = QStringLiteral("Anthropic rate limit hit — try again in a few seconds.");

        QTest::newRow("429 body not JSON") << 429 << QByteArray("Too Many Requests") << generic429;
        QTest::newRow("429 rate_limit_error")
            << 429 << messages::error(QStringLiteral("rate_limit_error"), QStringLiteral("Slow down")) << rateLimit;
        QTest::newRow("429 without the word")
            << 429 << messages::error(QStringLiteral("error"), QStringLiteral("Slow down")) << rateLimit;
        QTest::newRow("503 mentions rate")
            << 503 << messages::error(QStringLiteral("rate_limit_error"), QStringLiteral("Slow down")) << rateLimit;
        QTest::newRow("400 model, type says invalid")
            << 400 << messages::error(QStringLiteral("invalid_request_error"), QStringLiteral("model: claude-nope-1"))
            << modelGone;
        QTest::newRow("404 model does not exist, any case")
            << 404 << messages::error(QStringLiteral("not_found_error"), QStringLiteral("The MODEL does NOT EXIST"))
            << modelGone;
        QTest::newRow("404 not_found_error is not 'not found'")
            << 404 << messages::error(QStringLiteral("not_found_error"), QStringLiteral("model: claude-nope-1"))
            << QStringLiteral("model: claude-nope-1");
        QTest::newRow("401 invalid x-api-key")
            << 401 << messages::error(QStringLiteral("authentication_error"), QStringLiteral("invalid x-api-key"))
            << keyRejected;
        QTest::newRow("401 naming the model")
            << 401 << messages::error(QStringLiteral("authentication_error"), QStringLiteral("invalid model for key"))
            << modelGone;
        QTest::newRow("401 plain") << 401 << messages::error(QStringLiteral("error"), QStringLiteral("Denied"))
                                   << keyRejected;
        QTest::newRow("403 api key") << 403
                                     << messages::error(QStringLiteral("permission_error"),
                                                        QStringLiteral("Your API key cannot do that"))
                                     << keyRejected;
        QTest::newRow("500 empty message")
            << 500 << messages::error(QStringLiteral("api_error"), QString())
            << QStringLiteral("Anthropic api_error (HTTP 500).");
        QTest::newRow("500 error without type or message")
            << 500 << QByteArray(R"({"type":"error","error":{"type":5}})")
            << QStringLiteral("Anthropic error (HTTP 500).");
        QTest::newRow("529 message as is")
            << 529 << messages::error(QStringLiteral("overloaded_error"), QStringLiteral("Overloaded  right now"))
            << QStringLiteral("Overloaded  right now");
        QTest::newRow("error not an object")
            << 502 << QByteArray(R"({"type":"error","error":"bad gateway"})")
            << QStringLiteral("Anthropic HTTP 502 — check key and model in Settings → Voice.");
        QTest::newRow("empty body") << 404 << QByteArray()
                                    << QStringLiteral("Anthropic HTTP 404 — check key and model in Settings → Voice.");
    }

    void humanize()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);

        FakeMessagesApi api;
        api.enqueueReply(body, status);
        const Result<Turn> result = runAgainst(api.baseUrl());
        QVERIFY(!result.ok());
        QCOMPARE(result.failure(), (Failure{QStringLiteral("Anthropic"), status, expected}));
    }

    void malformedSuccess_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("code");  // -1: any

        QTest::newRow("not JSON") << QByteArray("<html>ok</html>") << QStringLiteral("JSON") << -1;
        QTest::newRow("empty") << QByteArray() << QStringLiteral("JSON") << -1;
        QTest::newRow("truncated") << QByteArray(R"({"content":[)") << QStringLiteral("JSON") << -1;
        QTest::newRow("a list") << QByteArray(R"([{"content":[]}])") << QStringLiteral("Anthropic") << 0;
    }

    void malformedSuccess()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, domain);
        QFETCH(int, code);

        FakeMessagesApi api;
        api.enqueueReply(body);
        const Result<Turn> result = runAgainst(api.baseUrl());
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().domain, domain);
        QVERIFY(!result.failure().message.isEmpty());
        if (code != -1)
            QCOMPARE(result.failure(), (Failure{domain, code, QStringLiteral("Bad JSON")}));
    }

    void transportFailures_data()
    {
        QTest::addColumn<bool>("nothingListening");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<int>("stallMs");
        QTest::addColumn<int>("trickleIntervalMs");  // 10 bytes each time, 0: all at once
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("minElapsedMs");
        QTest::addColumn<int>("maxElapsedMs");

        QTest::newRow("connection refused") << true << 45000 << 90000 << 0 << 0 << int(TransportError::CannotConnect)
                                            << 0 << 5000;
        QTest::newRow("stalled past idle")
            << false << 300 << 20000 << 4000 << 0 << int(TransportError::TimedOut) << 250 << 3000;
        QTest::newRow("trickling past total")
            << false << 1000 << 800 << 0 << 100 << int(TransportError::TimedOut) << 700 << 3000;
    }

    void transportFailures()
    {
        QFETCH(bool, nothingListening);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(int, stallMs);
        QFETCH(int, trickleIntervalMs);
        QFETCH(int, kind);
        QFETCH(int, minElapsedMs);
        QFETCH(int, maxElapsedMs);

        FakeMessagesApi api;
        FakeResponse response = FakeResponse::json(200, messages::textReply(QString(400, QLatin1Char('z'))));
        response.stall = std::chrono::milliseconds(stallMs);
        if (trickleIntervalMs > 0) {
            response.trickleBytes = 10;
            response.trickleInterval = std::chrono::milliseconds(trickleIntervalMs);
        }
        api.enqueue(response);
        QUrl base = api.baseUrl();
        if (nothingListening)
            base.setPort(portWithNothingListening());

        QElapsedTimer clock;
        clock.start();
        const Result<Turn> result = runAgainst(
            base, HttpTimeouts{std::chrono::milliseconds(idleMs), std::chrono::milliseconds(totalMs)});
        const qint64 elapsed = clock.elapsed();
        QVERIFY(!result.ok());
        QCOMPARE(transportErrorOf(result.failure()), std::optional(TransportError(kind)));
        QVERIFY2(elapsed >= minElapsedMs && elapsed < maxElapsedMs, qPrintable(QString::number(elapsed)));
    }

    void keyNeverLogged()
    {
        FakeMessagesApi api;
        api.enqueueError(401, QStringLiteral("authentication_error"), QStringLiteral("invalid x-api-key"));
        api.enqueueReply(messages::toolUseReply({messages::toolUseBlock(QStringLiteral("t"), QStringLiteral("speak"))}));
        api.enqueueReply(QByteArray("not json"));
        QUrl refused = api.baseUrl();
        refused.setPort(portWithNothingListening());

        QLoggingCategory::setFilterRules(QStringLiteral("zapum.*=true"));
        g_logLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(gatherLog);
        for (int i = 0; i < 3; ++i)
            runAgainst(api.baseUrl());
        runAgainst(refused);
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());

        QVERIFY(!g_logLines.isEmpty());
        for (const QString &line : std::as_const(g_logLines))
            QVERIFY2(!line.contains(kKey), "a log line carried the API key");
    }
};

QTEST_GUILESS_MAIN(TestAnthropicVoiceAgent)
#include "tst_anthropic_voice_agent.moc"
