#include "foundation/http_client.h"
#include "support/fake_http_server.h"

#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "support/await_task.h"

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

HttpRequest post(const QUrl &url)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"x-first", "1"}, {"X-Second", "two"}, {"Content-Type", "application/json"}};
    request.body = R"({"hello":"world"})";
    return request;
}

// A port with nothing listening on it.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

}  // namespace

class TestHttpClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sendsRequestAsGiven()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(201, R"({"ok":true})"));
        HttpClient client({5s, 10s});
        const HttpResult result = awaitTask(client.send(post(server.baseUrl().resolved(QUrl(QStringLiteral("v1/things?x=1"))))));

        QVERIFY(result.ok());
        QCOMPARE(result.value().status, 201);
        QCOMPARE(result.value().body, QByteArray(R"({"ok":true})"));
        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/things?x=1"));
        QCOMPARE(request.body, QByteArray(R"({"hello":"world"})"));
        const QList<QByteArray> names = request.headerNames();
        const qsizetype first = names.indexOf("x-first");
        QVERIFY(first >= 0);
        QCOMPARE(names.indexOf("X-Second"), first + 1);
        QCOMPARE(names.indexOf("Content-Type"), first + 2);
        QVERIFY(!request.header("Cookie"));
    }

    void errorStatusesAreResponses()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(500, R"({"error":"boom"})"));
        HttpClient client({5s, 10s});
        const HttpResult result = awaitTask(client.send(post(server.baseUrl())));
        QVERIFY(result.ok());
        QCOMPARE(result.value().status, 500);
        QCOMPARE(result.value().body, QByteArray(R"({"error":"boom"})"));
    }

    void cookiesAreNeverKept()
    {
        FakeHttpServer server;
        FakeResponse withCookie = FakeResponse::json(200, "{}");
        withCookie.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=secret; Path=/")));
        server.enqueue(withCookie);
        server.enqueue(FakeResponse::json(200, "{}"));
        HttpClient client({5s, 10s});
        QVERIFY(awaitTask(client.send(post(server.baseUrl()))).ok());
        QVERIFY(awaitTask(client.send(post(server.baseUrl()))).ok());
        QCOMPARE(server.requestCount(), 2);
        QVERIFY(!server.requests().at(1).header("Cookie"));
    }

    void transportFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<int>("expected");

        FakeResponse stall = FakeResponse::json(200, "{}");
        stall.stall = 1500ms;
        QTest::newRow("stall past the idle time-out") << stall << 300 << 5000 << int(TransportError::TimedOut);

        // Every piece arrives well inside the idle time-out, but the whole takes too long.
        FakeResponse trickle = FakeResponse::json(200, QByteArray(40, 'x'));
        trickle.trickleBytes = 2;
        trickle.trickleInterval = 100ms;
        QTest::newRow("trickle past the total time-out") << trickle << 1000 << 600 << int(TransportError::TimedOut);

        FakeResponse drop;
        drop.drop = true;
        QTest::newRow("connection dropped") << drop << 5000 << 5000 << int(TransportError::Other);
    }

    void transportFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(int, expected);

        FakeHttpServer server;
        // Qt resends once on a connection closed before any answer, so every try gets the same.
        server.setHandler([response](const RecordedRequest &) { return response; });
        HttpClient client({std::chrono::milliseconds(idleMs), std::chrono::milliseconds(totalMs)});
        const HttpResult result = awaitTask(client.send(post(server.baseUrl())));
        QVERIFY(!result.ok());
        QCOMPARE(int(transportErrorOf(result.failure()).value_or(TransportError::Other)), expected);
        QVERIFY(!result.failure().message.isEmpty());
    }

    void refusedConnection()
    {
        HttpClient client({5s, 10s});
        const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort()));
        const HttpResult result = awaitTask(client.send(post(url)));
        QVERIFY(!result.ok());
        QCOMPARE(transportErrorOf(result.failure()), TransportError::CannotConnect);
    }

    void perRequestDeadlineIsShorter()
    {
        FakeHttpServer server;
        FakeResponse slow = FakeResponse::json(200, "{}");
        slow.stall = 1500ms;
        server.enqueue(slow);
        HttpClient client({10s, 10s});
        HttpRequest request = post(server.baseUrl());
        request.deadline = 200ms;
        const HttpResult result = awaitTask(client.send(request));
        QVERIFY(!result.ok());
        QCOMPARE(transportErrorOf(result.failure()), TransportError::TimedOut);
    }

    void cancelAllIsNotATimeout()
    {
        FakeHttpServer server;
        FakeResponse slow = FakeResponse::json(200, "{}");
        slow.stall = 3s;
        server.enqueue(slow);
        HttpClient client({10s, 10s});
        QTimer::singleShot(100ms, &client, [&client] { client.cancelAll(); });
        const HttpResult result = awaitTask(client.send(post(server.baseUrl())));
        QVERIFY(!result.ok());
        QCOMPARE(transportErrorOf(result.failure()), TransportError::Cancelled);
    }

    void destroyingTheClientEndsItsRequests()
    {
        FakeHttpServer server;
        FakeResponse slow = FakeResponse::json(200, "{}");
        slow.stall = 3s;
        server.enqueue(slow);
        auto *client = new HttpClient({10s, 10s});
        QTimer::singleShot(100ms, client, [client] { delete client; });
        const HttpResult result = awaitTask(client->send(post(server.baseUrl())));
        QVERIFY(!result.ok());
        QCOMPARE(transportErrorOf(result.failure()), TransportError::Cancelled);
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
