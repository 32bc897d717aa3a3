#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QRegularExpression>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

QByteArray push(const char *title)
{
    return QByteArray(R"({"type":"push-guidance","payload":{"title":")") + title
           + R"(","subtitle":"S","steps":[{"id":"a","title":"A","isDone":false}]}})";
}

// A reply of the commands endpoint; `userId` is the raw JSON of that member, or empty for none.
QByteArray reply(const QByteArray &userId, const QByteArrayList &commands)
{
    return "{" + (userId.isEmpty() ? QByteArray() : "\"userId\":" + userId + ",") + "\"commands\":[" + commands.join(',') + "]}";
}

BackendGraphTimings quickPolling()
{
    BackendGraphTimings timings;
    timings.remote.pollInterval = 150ms;
    return timings;
}

}  // namespace

class TestRemoteAssistant : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");  // empty: guidance untouched
        QTest::newRow("push for this user") << reply("\"user-1\"", {push("Pushed")}) << "Pushed";
        QTest::newRow("other user's push") << reply("\"user-2\"", {push("Theirs")}) << "";
        QTest::newRow("no userId: two pushes leave the second") << reply({}, {push("First"), push("Second")}) << "Second";
        QTest::newRow("unknown kinds skipped")
            << reply({}, {R"({"type":"open-url","payload":{"url":"x"}})", push("Known"), R"({"type":"Push-Guidance","payload":{}})"})
            << "Known";
        QTest::newRow("payload with null steps")
            << reply({}, {R"({"type":"push-guidance","payload":{"title":"T","subtitle":"S","steps":null}})"}) << "";
        QTest::newRow("a command without type spoils the reply") << reply({}, {push("Lost"), R"({"payload":{}})"}) << "";
        QTest::newRow("numeric userId spoils the reply") << reply("1", {push("Lost")}) << "";
    }

    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(u"https://api.example.com"_s, u"user-1"_s));
        graph.remote.stop();
        if (const std::optional<Wire> wire = Wire::decode(body))
            graph.remote.apply(*wire);
        QCOMPARE(graph.guidance.session().title, title.isEmpty() ? u"ZaPum assistant"_s : title);
        QCOMPARE(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")), !title.isEmpty());
    }

    void signedOutMidPollDropsReply()
    {
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(u"https://api.example.com"_s));
        graph.sessions.signOut();
        QVERIFY(!graph.remote.apply(*Wire::decode(reply({}, {push("Late")}))));
        QCOMPARE(graph.guidance.session(), MockGuidance::session());
    }

    void pollsAndAppliesPush()
    {
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, reply("\"user-1\"", {push("From poll")})); });
        BackendGraph graph(quickPolling());
        graph.signIn(BackendGraph::userSession(u" "_s + apiBaseOf(server.baseUrl()) + u"/p "_s, u"user-1"_s, u"tok"_s));
        // A failed fetch left an error; a pushed document clears it.
        awaitTask(graph.guidance.refreshFromAPI(u"http://127.0.0.1:1"_s));
        QVERIFY(graph.guidance.lastError());
        QTRY_COMPARE(graph.guidance.session().title, u"From poll"_s);
        QVERIFY(!graph.guidance.lastError());
        QCOMPARE(requestMismatch(server.requests().value(0), {"GET", "/p/v1/desktop/commands", "Bearer tok", std::nullopt}), QString());
    }

    void pauseStopsAndResumeRestarts()
    {
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, R"({"commands":[]})"); });
        BackendGraph graph(quickPolling());
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl())));
        QVERIFY(server.waitForRequests(1, 2s));
        graph.environment.setIsPaused(true);
        QTest::qWait(100);
        const int whilePaused = server.requestCount();
        QTest::qWait(400);
        QCOMPARE(server.requestCount(), whilePaused);
        graph.environment.setIsPaused(false);
        QVERIFY(server.waitForRequests(whilePaused + 1, 2s));
    }

    void pollIntervalFromEnvironment_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("milliseconds");
        QTest::newRow("unset") << QByteArray() << 60000;
        QTest::newRow("whole seconds") << QByteArray(" 2 ") << 2000;
        QTest::newRow("fraction") << QByteArray("0.25") << 250;
        QTest::newRow("zero would spin") << QByteArray("0") << 60000;
        QTest::newRow("negative") << QByteArray("-5") << 60000;
        QTest::newRow("not a number") << QByteArray("fast") << 60000;
        QTest::newRow("infinite") << QByteArray("inf") << 60000;
        QTest::newRow("past a day") << QByteArray("1e9") << 60000;
    }

    void pollIntervalFromEnvironment()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, milliseconds);
        if (value.isNull())
            qunsetenv("ZAPUM_COMMAND_POLL_SECONDS");
        else
            qputenv("ZAPUM_COMMAND_POLL_SECONDS", value);
        if (!value.isNull() && milliseconds == 60000)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ignoring ZAPUM_COMMAND_POLL_SECONDS"_s));
        const RemoteAssistantTimings timings = remoteAssistantTimingsFromEnvironment();
        qunsetenv("ZAPUM_COMMAND_POLL_SECONDS");
        QCOMPARE(timings.pollInterval.count(), milliseconds);
    }
};

QTEST_GUILESS_MAIN(TestRemoteAssistant)
#include "tst_remote_assistant.moc"
