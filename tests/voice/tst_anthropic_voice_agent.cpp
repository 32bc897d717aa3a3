#include "support/await_task.h"
#include "support/fake_messages_api.h"
#include "voice/anthropic_voice_agent.h"

#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::test;
using Turn = AnthropicVoiceAgent::Turn;

namespace {

const QString kKey = u"test-key-123"_s;
const QString kModel = u"claude-nope-1"_s;

// JSON compared as text, so that a failure prints something readable.
QByteArray compact(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonArray userSays(const QString &text)
{
    return {QJsonObject{{u"role"_s, u"user"_s}, {u"content"_s, text}}};
}

Result<Turn> runAgainst(const QUrl &baseUrl, QJsonArray messages = userSays(u"hello"_s), VoiceAgentContext context = {})
{
    AnthropicVoiceAgent agent(baseUrl);
    return awaitTask(agent.run(kKey, kModel, std::move(messages), std::move(context)));
}

QStringList g_logLines;

}  // namespace

class TestAnthropicVoiceAgent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestOnTheWire()
    {
        FakeMessagesApi api(u"/proxy/anthropic/"_s);
        api.enqueueText(u"Done."_s);
        QJsonArray conversation = userSays(u"open the browser"_s);
        conversation.append(QJsonObject{
            {u"role"_s, u"assistant"_s},
            {u"content"_s, QJsonArray{messages::toolUseBlock(u"toolu_1"_s, u"list_windows"_s)}}});

        // The prefix without its trailing slash must still keep its last segment.
        QUrl base = api.baseUrl();
        base.setPath(u"/proxy/anthropic"_s);
        QVERIFY(runAgainst(base, conversation).ok());
        QCOMPARE(api.requestCount(), 1);

        const MessagesRequest request = api.lastRequest();
        QCOMPARE(request.raw.method, QByteArray("POST"));
        QCOMPARE(request.raw.target, QByteArray("/proxy/anthropic/v1/messages"));
        QList<QByteArray> ours;  // in their order, among whatever the HTTP stack adds
        for (const auto &[name, value] : request.raw.headers) {
            if (QByteArrayList{"x-api-key", "anthropic-version", "content-type"}.contains(name.toLower()))
                ours.append(name.toLower() + ": " + value);
        }
        QCOMPARE(ours, (QByteArrayList{"x-api-key: test-key-123", "anthropic-version: 2023-06-01",
                                       "content-type: application/json"}));
        QJsonObject body = request.body;
        QVERIFY(body.take(u"system"_s).isString());
        QStringList tools;  // each as name(required inputs), in the order the model is given them
        for (const QJsonValue &tool : body.take(u"tools"_s).toArray()) {
            const QJsonObject schema = tool["input_schema"_L1].toObject();
            QCOMPARE(schema["type"_L1].toString(), u"object"_s);
            tools << tool["name"_L1].toString() + u'(' + schema["required"_L1].toVariant().toStringList().join(u',') + u')';
        }
        QCOMPARE(tools, (QStringList{u"list_windows()"_s, u"activate_app(app_name)"_s, u"capture_screen()"_s,
                                     u"click(x,y)"_s, u"speak(text)"_s}));
        QCOMPARE(compact(body), compact(QJsonObject{{u"max_tokens"_s, 1024}, {u"messages"_s, conversation},
                                                    {u"model"_s, kModel}}));
        // An integer on the wire, not 1024.0.
        QVERIFY(QRegularExpression(uR"("max_tokens"\s*:\s*1024\s*[,}])"_s).match(QString::fromUtf8(request.raw.body)).hasMatch());
    }

    // The instructions come first; the desktop and, only when there are some, the memories follow.
    void systemPrompt()
    {
        const QString desktop = u"\n\nCurrent on-screen windows:\n- Firefox: \"Inbox\"\n\nRunning apps:\n- Files"_s;
        const QString remembered = u"\n\nWhat you remember about this user from past conversations (use only when "
                                   "genuinely relevant; do not announce that you \"remember\"):\nLikes short answers."_s;
        for (const QString &memories : {QString(), u"Likes short answers."_s}) {
            FakeMessagesApi api;
            api.enqueueText(u"ok"_s);
            const VoiceAgentContext context{u"- Firefox: \"Inbox\""_s, u"- Files"_s, memories};
            QVERIFY(runAgainst(api.baseUrl(), userSays(u"hi"_s), context).ok());
            const QString system = api.lastRequest().system();
            QVERIFY(system.startsWith(u"  You are ZaPum, pronounced \"zah-pum\"."_s));
            // The model is told what machine this is, never a Mac on a PC.
            QVERIFY(system.contains(u"a friendly desktop companion on the user's computer."_s));
            QVERIFY(!system.contains(u"Mac"_s));
            QCOMPARE(system.mid(system.indexOf(u"\n\nCurrent on-screen windows:"_s)),
                     memories.isEmpty() ? desktop : desktop + remembered);
        }
    }

    void baseUrlFromEnvironment()
    {
        // Only an http(s) URL overrides the vendor; anything else is ignored rather than half-used.
        const QList<std::pair<QByteArray, QUrl>> cases{
            {"ftp://proxy/", AnthropicVoiceAgent::defaultBaseUrl()},
            {" http://127.0.0.1:9000/anthropic ", QUrl(u"http://127.0.0.1:9000/anthropic"_s)}};
        for (const auto &[value, expected] : cases) {
            qputenv("ZAPUM_ANTHROPIC_BASE_URL", value);
            const QUrl actual = AnthropicVoiceAgent::baseUrlFromEnvironment();
            qunsetenv("ZAPUM_ANTHROPIC_BASE_URL");
            QCOMPARE(actual, expected);
        }
    }

    void replyWalk_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        // Each call as {"id", "name", "input"}; an id of "<uuid>" stands for a fresh random one.
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<QString>("stopReason");
        QTest::newRow("texts joined as they are, calls in order")
            << QByteArray(R"({"content":[{"type":"text","text":"I opened"},{"type":"text","text":" Firefox."},)"
                          R"({"type":"tool_use","id":"toolu_1","name":"click","input":{"x":10,"y":20.5}},)"
                          R"({"type":"tool_use","id":"toolu_2","name":"speak","input":{"text":"hi"}}],)"
                          R"("stop_reason":"stop_sequence"})")
            << u"I opened Firefox."_s
            << QByteArray(R"([{"id":"toolu_1","name":"click","input":{"x":10,"y":20.5}},)"
                          R"({"id":"toolu_2","name":"speak","input":{"text":"hi"}}])")
            << u"stop_sequence"_s;
        QTest::newRow("missing id and name, input not an object")
            << QByteArray(R"({"content":[{"type":"tool_use"},{"type":"tool_use","id":3,"name":false,"input":["hi"]}],)"
                          R"("stop_reason":"tool_use"})")
            << QString() << QByteArray(R"([{"id":"<uuid>","name":"","input":{}},{"id":"<uuid>","name":"","input":{}}])")
            << u"tool_use"_s;
        QTest::newRow("other blocks skipped, no stop reason")
            << QByteArray(R"({"content":[{"type":"thinking","thinking":"hmm","text":"no"},{"text":"untyped"},)"
                          R"({"type":7,"text":"no"},{"type":"text","text":7},{"type":"text","text":"yes"}]})")
            << u"yes"_s << QByteArray("[]") << u"end_turn"_s;
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

        static const QRegularExpression uuid(u"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"_s);
        QJsonArray actual;
        for (const VoiceAgentToolCall &call : turn.toolCalls) {
            const QString id = uuid.match(call.id).hasMatch() ? u"<uuid>"_s : call.id;
            actual.append(QJsonObject{{u"id"_s, id}, {u"name"_s, call.name}, {u"input"_s, call.input}});
        }
        QCOMPARE(compact(actual), compact(QJsonDocument::fromJson(calls).array()));
    }

    // Failed replies become a sentence for the user; a 2xx that is not a reply fails as bad JSON.
    void failures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Failure>("expected");  // without a message: only the domain is checked
        const auto row = [](const char *tag, int status, const QByteArray &body, const QString &message) {
            QTest::newRow(tag) << status << body << Failure{u"Anthropic"_s, status, message};
        };
        const auto error = [](const char *type, const char *message) {
            return messages::error(QString::fromLatin1(type), QString::fromLatin1(message));
        };
        const QString modelGone = u"Claude model “claude-nope-1” isn't available. Update it in Settings → Voice."_s;
        const QString keyRejected = u"Anthropic key rejected. Re-paste it in Settings → Voice."_s;
        const QString rateLimit = u"Anthropic rate limit hit — try again in a few seconds."_s;
        row("429 body not JSON", 429, "Too Many Requests", u"Anthropic HTTP 429 — check key and model in Settings → Voice."_s);
        row("429 without the word", 429, error("error", "Slow down"), rateLimit);
        row("503 mentions rate", 503, error("rate_limit_error", "Slow down"), rateLimit);
        row("404 not_found_error is not 'not found'", 404, error("not_found_error", "model: claude-nope-1"),
            u"model: claude-nope-1"_s);
        row("401 invalid x-api-key", 401, error("authentication_error", "invalid x-api-key"), keyRejected);
        row("401 naming the model", 401, error("authentication_error", "invalid model for key"), modelGone);
        row("500 empty message", 500, error("api_error", ""), u"Anthropic api_error (HTTP 500)."_s);
        QTest::newRow("200 not JSON") << 200 << QByteArray("<html>ok</html>") << Failure{u"JSON"_s, 0, {}};
        QTest::newRow("200 a list") << 200 << QByteArray(R"([{"content":[]}])") << Failure{u"Anthropic"_s, 0, u"Bad JSON"_s};
    }
    void failures()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(Failure, expected);
        FakeMessagesApi api;
        api.enqueueReply(body, status);
        const Result<Turn> result = runAgainst(api.baseUrl());
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().domain, expected.domain);
        if (!expected.message.isEmpty())
            QCOMPARE(result.failure(), expected);
    }

    void keyNeverLogged()
    {
        FakeMessagesApi api;
        api.enqueueError(401, u"authentication_error"_s, u"invalid x-api-key"_s);
        api.enqueueReply(messages::toolUseReply({messages::toolUseBlock(u"t"_s, u"speak"_s)}));
        api.enqueueReply(QByteArray("not json"));
        QUrl refused = api.baseUrl();
        QTcpServer probe;  // a port nothing listens on once it is closed
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        refused.setPort(probe.serverPort());
        probe.close();

        QLoggingCategory::setFilterRules(u"zapum.*=true"_s);
        g_logLines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { g_logLines.append(message); });
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
