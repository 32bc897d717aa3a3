#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::settings_keys;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

// Stands in for the voice session's typed-query path.
QCoro::Task<Result<QString>> cannedAgent(Result<QString> reply, int *calls)
{
    ++*calls;
    co_return reply;
}

}  // namespace

class TestAskService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void blankQuestionOrSignedOut()
    {
        BackendGraph graph;
        QSignalSpy working(&graph.ask, &AskService::isWorkingChanged);
        awaitTask(graph.ask.ask(u" \n\t"_s));
        QCOMPARE(working.count(), 0);
        QVERIFY(!graph.ask.lastResponse());

        awaitTask(graph.ask.ask(u"hello"_s));
        QCOMPARE(graph.ask.lastResponse(), AskResponse::error(u"Sign in to ZaPum first."_s));
        QCOMPARE(graph.panelPresented, 1);
        QVERIFY(!graph.ask.isWorking());
    }

    void backendReplies_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<bool>("isError");
        QTest::addColumn<QString>("text");
        QTest::newRow("answer as received") << FakeResponse::json(200, R"({"answer":"  Use Files.\n","x":1})") << false << "  Use Files.\n";
        QTest::newRow("500") << FakeResponse::json(500, R"({"answer":"no"})") << true << "Server error. Check your API URL.";
        QTest::newRow("200 without answer") << FakeResponse::json(200, R"({"reply":"hi"})") << true << "Could not read response.";
    }

    void backendReplies()
    {
        QFETCH(FakeResponse, response);
        QFETCH(bool, isError);
        QFETCH(QString, text);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, u"user-7"_s, u"tok"_s));
        graph.settings.setValue(kApiBaseUrl, QString(u" "_s + apiBaseOf(server.baseUrl()) + u"/x "_s));
        graph.settings.setValue(kAskModel, u" my-own-model "_s);
        graph.secrets.items.insert(kAnthropicAccount, "sk-ant");  // no agent path supplied: the backend answers

        awaitTask(graph.ask.ask(u" Where are my files? "_s));
        QCOMPARE(graph.ask.lastResponse(), isError ? AskResponse::error(text) : AskResponse::answer(text));
        QVERIFY(!graph.ask.isWorking());
        // An unknown model is sent as stored, while the settings picker shows the first model.
        const QJsonObject body{{u"question"_s, u"Where are my files?"_s}, {u"userId"_s, u"user-7"_s}, {u"model"_s, u"my-own-model"_s}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/x/v1/desktop/ask", "Bearer tok", body}), QString());
        QCOMPARE(askModelForPicker(u"my-own-model"_s), DesktopAskModel::Gpt4oMini);
    }

    void agentPath_data()
    {
        QTest::addColumn<bool>("keyStored");
        QTest::addColumn<bool>("agentFails");
        QTest::addColumn<QString>("agentReply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("reply trimmed") << true << false << "  It is the Files app. " << "It is the Files app.";
        QTest::newRow("agent failure") << true << true << "No API key." << "No API key.";
        QTest::newRow("no key: backend, default model") << false << false << "unused" << "from backend";
    }

    void agentPath()
    {
        QFETCH(bool, keyStored);
        QFETCH(bool, agentFails);
        QFETCH(QString, agentReply);
        QFETCH(QString, shown);
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"answer":"from backend"})"));
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt));
        graph.settings.setValue(kApiBaseUrl, apiBaseOf(server.baseUrl()));
        if (keyStored)
            graph.secrets.items.insert(kAnthropicAccount, "sk-ant");
        int calls = 0;
        const Result<QString> reply = agentFails ? Result<QString>(Failure{u"Anthropic"_s, 401, agentReply}) : Result<QString>(agentReply);
        graph.ask.setTypedQueryRunner([reply, &calls](QString) { return cannedAgent(reply, &calls); });

        awaitTask(graph.ask.ask(u"q"_s));
        QCOMPARE(calls, keyStored ? 1 : 0);
        QCOMPARE(server.requestCount(), keyStored ? 0 : 1);
        QCOMPARE(graph.ask.lastResponse(), agentFails ? AskResponse::error(shown) : AskResponse::answer(shown));
        if (!keyStored)
            QCOMPARE(QJsonDocument::fromJson(server.requests().value(0).body).object().value(u"model"_s), QJsonValue(u"gpt-4o-mini"_s));
    }
};

QTEST_GUILESS_MAIN(TestAskService)
#include "tst_ask_service.moc"
