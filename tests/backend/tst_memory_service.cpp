#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

class TestMemoryService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rendering_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("rendered");
        QTest::newRow("limit and order, blanks do not count")
            << QByteArray(R"({"results":[{"memory":"one"},{"memory":"  "},{"memory":" two\n"},{"memory":3},{"score":1},
                {"memory":"three"},{"memory":"four"},{"memory":"five"},{"memory":"six"},{"memory":"seven"}]})")
            << "- one\n- two\n- three\n- four\n- five\n- six";
        QTest::newRow("a result that is not an object") << QByteArray(R"({"results":[{"memory":"a"},"b"]})") << "";
        QTest::newRow("not JSON") << QByteArray("- a") << "";
    }

    void rendering()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, rendered);
        QCOMPARE(MemoryService::renderSearchReply(body, 6), rendered);
    }

    void recall()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"results":[{"memory":"likes tea"}]})"));
        server.enqueue(FakeResponse::json(500, R"({"results":[{"memory":"x"}]})"));
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()) + u"/mem"_s, u"u"_s, u"tok"_s));
        QCOMPARE(awaitTask(graph.memory.recall(u"  drinks? "_s, 6)), u"- likes tea"_s);
        const QJsonObject body{{u"query"_s, u"drinks?"_s}, {u"limit"_s, 6}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/mem/v1/desktop/memory/search", "Bearer tok", body}), QString());

        QCOMPARE(awaitTask(graph.memory.recall(u" \n"_s, 6)), QString());
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(awaitTask(graph.memory.recall(u"q"_s, 6)), QString());  // a failure status: nothing, and no log line
    }

    void remember_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("assistant");
        QTest::addColumn<QByteArray>("messages");  // empty: nothing sent
        QTest::newRow("both") << " hi \n" << " hello "
                              << QByteArray(R"([{"role":"user","content":"hi"},{"role":"assistant","content":"hello"}])");
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
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()), u"u"_s, u"tok"_s));
        graph.memory.remember(user, assistant);
        QCOMPARE(server.waitForRequests(1, 300ms), !messages.isEmpty());
        if (messages.isEmpty())
            return;
        const QJsonObject body{{u"messages"_s, QJsonDocument::fromJson(messages).array()}, {u"channel"_s, u"macos-voice"_s}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/v1/desktop/memory/remember", "Bearer tok", body}), QString());
    }

};

QTEST_GUILESS_MAIN(TestMemoryService)
#include "tst_memory_service.moc"
