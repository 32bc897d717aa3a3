#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/fake_http_server.h"

#include <QJsonDocument>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::settings_keys;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

class TestMemoryService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rendering_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("rendered");
        QTest::newRow("limit and order, blanks do not count")
            << QByteArray(R"({"results":[{"memory":"one"},{"memory":"  "},{"memory":" two\n"},{"memory":3},{"score":1},
                {"memory":"three"},{"memory":"four"},{"memory":"five"},{"memory":"six"},{"memory":"seven"}]})")
            << 6 << "- one\n- two\n- three\n- four\n- five\n- six";
        QTest::newRow("fewer than the limit") << QByteArray(R"({"results":[{"memory":"only"}]})") << 6 << "- only";
        QTest::newRow("no results") << QByteArray(R"({"results":[]})") << 6 << "";
        QTest::newRow("nothing usable") << QByteArray(R"({"results":[{"memory":""},{"memory":null}]})") << 6 << "";
        QTest::newRow("a result that is not an object") << QByteArray(R"({"results":[{"memory":"a"},"b"]})") << 6 << "";
        QTest::newRow("results not a list") << QByteArray(R"({"results":{"memory":"a"}})") << 6 << "";
        QTest::newRow("not JSON") << QByteArray("- a") << 6 << "";
        QTest::newRow("zero limit") << QByteArray(R"({"results":[{"memory":"a"}]})") << 0 << "";
    }

    void rendering()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, limit);
        QFETCH(QString, rendered);
        QCOMPARE(MemoryService::renderSearchReply(body, limit), rendered);
    }

    void recallRequest()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"results":[{"memory":"likes tea"}]})"));
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()) + QStringLiteral("/mem"), QStringLiteral("u"),
                                               QStringLiteral("tok")));
        QCOMPARE(awaitTask(graph.memory.recall(QStringLiteral("  drinks? "), 6)), QStringLiteral("- likes tea"));
        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/mem/v1/desktop/memory/search"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 QJsonObject({{QStringLiteral("query"), QStringLiteral("drinks?")}, {QStringLiteral("limit"), 6}}));

        QCOMPARE(awaitTask(graph.memory.recall(QStringLiteral(" \n"), 6)), QString());
        QCOMPARE(server.requestCount(), 1);
    }

    void recallFailuresAreEmpty_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("logLine");
        FakeResponse stall = FakeResponse::json(200, R"({"results":[{"memory":"late"}]})");
        stall.stall = 1500ms;
        QTest::newRow("time-out is logged") << stall << "[MemoryService] recall failed: The request timed out.";
        QTest::newRow("500 is not logged") << FakeResponse::json(500, R"({"results":[{"memory":"x"}]})") << "";
    }

    void recallFailuresAreEmpty()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, logLine);
        FakeHttpServer server;
        server.setHandler([response](const RecordedRequest &) { return response; });
        BackendGraphTimings timings;
        timings.memory.http = {300ms, 5s};
        BackendGraph graph(timings);
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl())));
        if (!logLine.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, logLine.toUtf8().constData());
        QCOMPARE(awaitTask(graph.memory.recall(QStringLiteral("q"), 6)), QString());
    }

    void remember_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("assistant");
        QTest::addColumn<QByteArray>("messages");  // empty: nothing sent
        QTest::newRow("both") << " hi \n" << " hello " << QByteArray(R"([{"role":"user","content":"hi"},{"role":"assistant","content":"hello"}])");
        QTest::newRow("empty reply") << "hi" << " " << QByteArray(R"([{"role":"user","content":"hi"}])");
        QTest::newRow("blank user text") << "  " << "hello" << QByteArray();
    }

    void remember()
    {
        QFETCH(QString, user);
        QFETCH(QString, assistant);
        QFETCH(QByteArray, messages);
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, "{}"); });
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()), QStringLiteral("u"), QStringLiteral("tok")));
        graph.memory.remember(user, assistant);
        if (messages.isEmpty()) {
            QTest::qWait(200);
            QCOMPARE(server.requestCount(), 0);
            return;
        }
        QVERIFY(server.waitForRequests(1));
        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.target, QByteArray("/v1/desktop/memory/remember"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.value(QStringLiteral("channel")), QJsonValue(QStringLiteral("macos-voice")));
        QCOMPARE(body.value(QStringLiteral("messages")).toArray(), QJsonDocument::fromJson(messages).array());
    }

    void rememberNon2xxIsLogged()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(503, "{}"));
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl())));
        QTest::ignoreMessage(QtWarningMsg, "[MemoryService] remember non-2xx: 503");
        graph.memory.remember(QStringLiteral("u"), QStringLiteral("a"));
        QVERIFY(server.waitForRequests(1));
        QTest::qWait(100);  // the log line follows the reply
    }

    void signedOutSendsNothing()
    {
        FakeHttpServer server;
        BackendGraph graph;
        graph.settings.setValue(kApiBaseUrl, apiBaseOf(server.baseUrl()));
        QCOMPARE(awaitTask(graph.memory.recall(QStringLiteral("q"), 6)), QString());
        graph.memory.remember(QStringLiteral("u"), QStringLiteral("a"));
        QTest::qWait(200);
        QCOMPARE(server.requestCount(), 0);
    }

    void sessionBaseWinsOverSetting_data()
    {
        QTest::addColumn<bool>("sessionHasBase");
        QTest::newRow("session base") << true;
        QTest::newRow("setting when the session has none") << false;
    }

    void sessionBaseWinsOverSetting()
    {
        QFETCH(bool, sessionHasBase);
        FakeHttpServer sessionServer;
        FakeHttpServer settingServer;
        for (FakeHttpServer *server : {&sessionServer, &settingServer})
            server->setHandler([](const RecordedRequest &) { return FakeResponse::json(200, R"({"results":[]})"); });
        BackendGraph graph;
        graph.settings.setValue(kApiBaseUrl, apiBaseOf(settingServer.baseUrl()));
        graph.signIn(BackendGraph::userSession(sessionHasBase ? std::optional(apiBaseOf(sessionServer.baseUrl())) : std::nullopt));
        awaitTask(graph.memory.recall(QStringLiteral("q"), 6));
        QCOMPARE(sessionServer.requestCount(), sessionHasBase ? 1 : 0);
        QCOMPARE(settingServer.requestCount(), sessionHasBase ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestMemoryService)
#include "tst_memory_service.moc"
