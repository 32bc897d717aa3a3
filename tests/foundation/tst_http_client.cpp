#include "foundation/http_client.h"
#include "support/await_task.h"
#include "support/fake_http_server.h"

#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

namespace {

HttpRequest post(const QUrl &url, std::optional<std::chrono::milliseconds> deadline = std::nullopt)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"x-first", "1"}, {"X-Second", "two"}, {"Content-Type", "application/json"}};
    request.body = R"({"hello":"world"})";
    request.deadline = deadline;
    return request;
}

FakeResponse stalled(std::chrono::milliseconds stall)
{
    FakeResponse response = FakeResponse::json(200, "{}");
    response.stall = stall;
    return response;
}

}  // namespace

class TestHttpClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Headers go out in their order and spelling; an error status is a response, not a failure;
    // and a cookie set by one answer is never sent back.
    void sendsRequestAsGiven()
    {
        FakeHttpServer server;
        FakeResponse withCookie = FakeResponse::json(500, R"({"error":"boom"})");
        withCookie.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=secret; Path=/")));
        server.enqueue(withCookie);
        server.enqueue(FakeResponse::json(201, "{}"));
        HttpClient client({5s, 10s});
        const QUrl url = server.baseUrl().resolved(QUrl(QStringLiteral("v1/things?x=1")));
        const HttpResult result = awaitTask(client.send(post(url)));
        QVERIFY(result.ok());
        QCOMPARE(result.value().status, 500);
        QCOMPARE(result.value().body, QByteArray(R"({"error":"boom"})"));
        QCOMPARE(awaitTask(client.send(post(url))).value().status, 201);

        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/things?x=1"));
        QCOMPARE(request.body, QByteArray(R"({"hello":"world"})"));
        const QList<QByteArray> names = request.headerNames();
        const qsizetype first = names.indexOf("x-first");
        QVERIFY(first >= 0);
        QCOMPARE(names.mid(first, 3), (QList<QByteArray>{"x-first", "X-Second", "Content-Type"}));
        QVERIFY(!server.requests().value(1).header("Cookie"));
    }

    void transportFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<int>("deadlineMs");  // of the request itself; 0: none
        QTest::addColumn<TransportError>("expected");
        QTest::newRow("stall past the idle time-out") << stalled(1500ms) << 300 << 5000 << 0 << TransportError::TimedOut;
        // Every piece arrives well inside the idle time-out, but the whole takes too long.
        FakeResponse trickle = FakeResponse::json(200, QByteArray(40, 'x'));
        trickle.trickleBytes = 2;
        trickle.trickleInterval = 100ms;
        QTest::newRow("trickle past the total time-out") << trickle << 1000 << 600 << 0 << TransportError::TimedOut;
        QTest::newRow("request deadline shorter than the client's")
            << stalled(1500ms) << 10000 << 10000 << 200 << TransportError::TimedOut;
        FakeResponse drop;
        drop.drop = true;
        QTest::newRow("connection dropped") << drop << 5000 << 5000 << 0 << TransportError::CannotConnect;
    }
    void transportFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(int, deadlineMs);
        FakeHttpServer server;
        // Qt resends once on a connection closed before any answer, so every try gets the same.
        server.setHandler([response](const RecordedRequest &) { return response; });
        HttpClient client({std::chrono::milliseconds(idleMs), std::chrono::milliseconds(totalMs)});
        const auto deadline = deadlineMs ? std::optional(std::chrono::milliseconds(deadlineMs)) : std::nullopt;
        const HttpResult result = awaitTask(client.send(post(server.baseUrl(), deadline)));
        QVERIFY(!result.ok());
        QTEST(transportErrorOf(result.failure()).value_or(TransportError::Other), "expected");
        QVERIFY(!result.failure().message.isEmpty());
    }

    // Ending requests on purpose is not a time-out, and a destroyed client must still finish the
    // requests it had in flight rather than leave their callers waiting.
    void endedRequestsAreCancelled()
    {
        for (const bool destroyClient : {false, true}) {
            FakeHttpServer server;
            server.enqueue(stalled(3s));
            auto client = std::make_unique<HttpClient>(HttpTimeouts{10s, 10s});
            HttpClient *raw = client.get();
            QTimer::singleShot(100ms, raw, [&client, raw, destroyClient] {
                if (destroyClient)
                    client.reset();
                else
                    raw->cancelAll();
            });
            const HttpResult result = awaitTask(raw->send(post(server.baseUrl())));
            QVERIFY(!result.ok());
            QCOMPARE(transportErrorOf(result.failure()), TransportError::Cancelled);
        }
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
