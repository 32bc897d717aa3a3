#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/fake_http_server.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace std::chrono_literals;
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
    QByteArray body = "{";
    if (!userId.isEmpty())
        body += "\"userId\":" + userId + ",";
    return body + "\"commands\":[" + commands.join(',') + "]}";
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
        QTest::newRow("push without userId") << reply({}, {push("Anyone")}) << "Anyone";
        QTest::newRow("null userId") << reply("null", {push("Anyone")}) << "Anyone";
        QTest::newRow("other user's push") << reply("\"user-2\"", {push("Theirs")}) << "";
        QTest::newRow("user id differs in case") << reply("\"USER-1\"", {push("Theirs")}) << "";
        QTest::newRow("two pushes leave the second") << reply({}, {push("First"), push("Second")}) << "Second";
        QTest::newRow("unknown kinds skipped")
            << reply({}, {R"({"type":"open-url","payload":{"url":"x"}})", push("Known"), R"({"type":"Push-Guidance","payload":{}})"})
            << "Known";
        QTest::newRow("payload without steps") << QByteArray(R"({"commands":[{"type":"push-guidance","payload":{"title":"T","subtitle":"S"}}]})") << "";
        QTest::newRow("payload with null steps")
            << QByteArray(R"({"commands":[{"type":"push-guidance","payload":{"title":"T","subtitle":"S","steps":null}}]})") << "";
        QTest::newRow("push without payload") << QByteArray(R"({"commands":[{"type":"push-guidance","payload":null}]})") << "";
        QTest::newRow("empty object") << QByteArray("{}") << "";
        QTest::newRow("empty body") << QByteArray() << "";
        QTest::newRow("a command without type spoils the reply") << reply({}, {push("Lost"), R"({"payload":{}})"}) << "";
        QTest::newRow("a list payload spoils the reply") << reply({}, {push("Lost"), R"({"type":"x","payload":[1]})"}) << "";
        QTest::newRow("numeric userId spoils the reply") << reply("1", {push("Lost")}) << "";
    }

    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(QStringLiteral("https://api.example.com"), QStringLiteral("user-1")));
        graph.remote.stop();

        if (const std::optional<Wire> wire = Wire::decode(body))
            graph.remote.apply(*wire);
        if (title.isEmpty()) {
            QCOMPARE(graph.guidance.session(), MockGuidance::session());
            QCOMPARE(graph.environment.lastSyncLabel(), QStringLiteral("Never synced"));
        } else {
            QCOMPARE(graph.guidance.session().title, title);
            QVERIFY(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")));
        }
    }

    void signedOutMidPollDropsReply()
    {
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(QStringLiteral("https://api.example.com")));
        graph.sessions.signOut();
        QVERIFY(!graph.remote.apply(*Wire::decode(reply({}, {push("Late")}))));
        QCOMPARE(graph.guidance.session(), MockGuidance::session());
    }

    void pollsAndAppliesPush()
    {
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) {
            return FakeResponse::json(200, reply("\"user-1\"", {push("From poll")}));
        });
        BackendGraph graph(quickPolling());
        graph.signIn(BackendGraph::userSession(QStringLiteral(" ") + apiBaseOf(server.baseUrl()) + QStringLiteral("/p "),
                                               QStringLiteral("user-1"), QStringLiteral("tok")));
        // A failed fetch left an error; a pushed document clears it.
        awaitTask(graph.guidance.refreshFromAPI(QStringLiteral("http://127.0.0.1:1")));
        QVERIFY(graph.guidance.lastError());
        QVERIFY(graph.remote.isPolling());
        QTRY_COMPARE(graph.guidance.session().title, QStringLiteral("From poll"));
        QVERIFY(!graph.guidance.lastError());

        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/p/v1/desktop/commands"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        QVERIFY(!request.header("Content-Type"));
        QVERIFY(request.body.isEmpty());
    }

    void localIdentityNeverPolls()
    {
        FakeHttpServer server;
        BackendGraph graph(quickPolling());
        graph.settings.setValue(settings_keys::kApiBaseUrl, apiBaseOf(server.baseUrl()));
        graph.signIn(BackendGraph::userSession(std::nullopt));
        graph.remote.startIfNeeded();
        graph.environment.setIsPaused(false);
        QVERIFY(!graph.remote.isPolling());
        QTest::qWait(400);
        QCOMPARE(server.requestCount(), 0);
    }

    void pauseStopsAndResumeRestarts()
    {
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, R"({"commands":[]})"); });
        BackendGraph graph(quickPolling());
        QElapsedTimer clock;
        clock.start();
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl())));
        QVERIFY(server.waitForRequests(1, 2s));
        QVERIFY(clock.elapsed() >= 140);  // the first poll waits one interval

        graph.environment.setIsPaused(true);
        QVERIFY(!graph.remote.isPolling());
        QTest::qWait(100);
        const int whilePaused = server.requestCount();
        QTest::qWait(400);
        QCOMPARE(server.requestCount(), whilePaused);

        clock.restart();
        graph.environment.setIsPaused(false);
        QVERIFY(graph.remote.isPolling());
        QVERIFY(server.waitForRequests(whilePaused + 1, 2s));
        QVERIFY(clock.elapsed() >= 140);

        graph.sessions.signOut();
        QVERIFY(!graph.remote.isPolling());
    }

    void pausedAtSignInDoesNotPoll()
    {
        BackendGraph graph(quickPolling());
        graph.environment.setIsPaused(true);
        graph.signIn(BackendGraph::userSession(QStringLiteral("https://api.example.com")));
        QVERIFY(!graph.remote.isPolling());
    }

    void anyCodableRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("integer") << QByteArray("[2]") << QByteArray("[2]");
        QTest::newRow("whole double is an integer") << QByteArray("[2.0]") << QByteArray("[2]");
        QTest::newRow("fraction") << QByteArray("[3.5]") << QByteArray("[3.5]");
        QTest::newRow("text stays text") << QByteArray(R"(["2"])") << QByteArray(R"(["2"])");
        QTest::newRow("bool") << QByteArray("[true,false]") << QByteArray("[true,false]");
        QTest::newRow("null") << QByteArray("[null]") << QByteArray("[null]");
        QTest::newRow("largest integer") << QByteArray("[9223372036854775807]") << QByteArray("[9223372036854775807]");
        QTest::newRow("nesting keeps order")
            << QByteArray(R"([{"b":[3,"x",[null,{"c":1.25}]],"a":{}},[]])")
            << QByteArray(R"([{"a":{},"b":[3,"x",[null,{"c":1.25}]]},[]])");
    }

    void anyCodableRoundTrip()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, encoded);
        const AnyCodable value = decodeAnyCodable(QJsonDocument::fromJson(json).array());
        QCOMPARE(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact), encoded);
    }

    void anyCodableKinds()
    {
        const QJsonArray decoded = decodeAnyCodable(QJsonDocument::fromJson("[2, 2.0, 3.5, \"2\", 1e300]").array()).toArray();
        QCOMPARE(decoded.at(0).toVariant().typeId(), QMetaType::LongLong);
        QCOMPARE(decoded.at(1).toVariant().typeId(), QMetaType::LongLong);
        QCOMPARE(decoded.at(2).toVariant().typeId(), QMetaType::Double);
        QCOMPARE(decoded.at(3).toVariant().typeId(), QMetaType::QString);
        QCOMPARE(decoded.at(4).toVariant().typeId(), QMetaType::Double);
    }
};

QTEST_GUILESS_MAIN(TestRemoteAssistant)
#include "tst_remote_assistant.moc"
