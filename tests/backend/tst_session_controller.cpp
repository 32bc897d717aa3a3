#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/fake_http_server.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

BackendGraphTimings shortSignInWaits()
{
    BackendGraphTimings timings;
    timings.auth.http = {300ms, 5s};
    return timings;
}

}  // namespace

class TestSessionController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void restore_data()
    {
        QTest::addColumn<QByteArray>("item");  // null: no item
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("itemKept");
        QTest::addColumn<bool>("polling");

        QTest::newRow("no item") << QByteArray() << false << false << false;
        QTest::newRow("backend session")
            << QByteArray("{\"userId\":\"u\",\"email\":\"e\",\"accessToken\":\"t\",\"apiBaseURL\":\"https://api.example.com\"}") << true
            << true << true;
        QTest::newRow("local identity") << QByteArray(R"({"userId":"u","email":"e","accessToken":""})") << true << true << false;
        QTest::newRow("not JSON") << QByteArray("\x01garbage") << false << false << false;
        QTest::newRow("JSON without token") << QByteArray(R"({"userId":"u","email":"e"})") << false << false << false;
    }

    void restore()
    {
        QFETCH(QByteArray, item);
        QFETCH(bool, signedIn);
        QFETCH(bool, itemKept);
        QFETCH(bool, polling);

        BackendGraph graph;
        if (!item.isNull())
            graph.secrets.items.insert(kSessionAccount, item);
        QSignalSpy established(&graph.sessions, &SessionController::sessionEstablished);
        graph.sessions.restore();
        QCOMPARE(graph.sessions.isSignedIn(), signedIn);
        QCOMPARE(established.count(), signedIn ? 1 : 0);
        QCOMPARE(graph.secrets.items.contains(kSessionAccount), itemKept);
        QCOMPARE(graph.remote.isPolling(), polling);
    }

    void tokenSignInFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("sentence");

        FakeResponse stall = FakeResponse::json(200, "{}");
        stall.stall = 1500ms;
        QTest::newRow("connection refused") << FakeResponse() << true
                                            << QStringLiteral("Can\u2019t reach the server. Check your network and API URL.");
        QTest::newRow("time-out") << stall << false << "The request timed out. Check the API URL and try again.";
        QTest::newRow("401") << FakeResponse::json(401, "{}") << false << "Server returned HTTP 401. Check URL and credentials.";
        QTest::newRow("undecodable") << FakeResponse::json(200, R"({"user":"x"})") << false
                                     << "Could not read the sign-in response.";
    }

    void tokenSignInFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(bool, refused);
        QFETCH(QString, sentence);

        FakeHttpServer server;
        server.setHandler([response](const RecordedRequest &) { return response; });
        BackendGraph graph(shortSignInWaits());
        const ZaPumUserSession earlier = BackendGraph::userSession(QStringLiteral("https://api.example.com"));
        graph.signIn(earlier);
        const QString base = refused ? QStringLiteral("http://127.0.0.1:%1").arg(closedPort()) : apiBaseOf(server.baseUrl());

        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QStringLiteral("secret-token"), base));
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.signInErrorText().contains(QLatin1String("secret-token")));
        QCOMPARE(graph.sessions.session(), earlier);
        QCOMPARE(graph.secrets.items.value(kSessionAccount), earlier.toJsonBytes());
        QCOMPARE(graph.panelClosed, 0);
    }

    void tokenSignInSavesAndPublishes()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"u-9","accessToken":"A"})"));
        BackendGraph graph;
        QSignalSpy changed(&graph.sessions, &SessionController::sessionChanged);

        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QStringLiteral("t"), apiBaseOf(server.baseUrl())));
        QVERIFY(graph.sessions.signInError() == std::nullopt);
        QCOMPARE(graph.sessions.session()->userId, QStringLiteral("u-9"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(graph.secrets.items.value(kSessionAccount)), graph.sessions.session());
        QCOMPARE(graph.panelClosed, 1);
        QVERIFY(graph.remote.isPolling());
    }

    void failedSaveKeepsOldSession()
    {
        BackendGraph graph;
        graph.secrets.failWrites = true;
        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QString(), QString()));
        QVERIFY(!graph.sessions.isSignedIn());
        QCOMPARE(graph.sessions.signInErrorText(), QStringLiteral("The keyring is locked."));
        QCOMPARE(graph.panelClosed, 0);
    }

    void errorClearsOnNextAttempt()
    {
        BackendGraph graph;
        awaitTask(graph.sessions.signIn(QStringLiteral(" "), QString(), QString()));
        QVERIFY(graph.sessions.signInError().has_value());
        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QString(), QString()));
        QVERIFY(!graph.sessions.signInError().has_value());
        QVERIFY(graph.sessions.isSignedIn());
        QVERIFY(!graph.remote.isPolling());  // a local identity has no backend to poll
    }

    void signOut()
    {
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(QStringLiteral("https://api.example.com")));
        QVERIFY(graph.remote.isPolling());
        graph.sessions.signOut();
        QVERIFY(!graph.sessions.isSignedIn());
        QVERIFY(!graph.secrets.items.contains(kSessionAccount));
        QVERIFY(!graph.remote.isPolling());
    }

    void canAcceptSaaSCommand_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("same user") << true << "user-1" << true;
        QTest::newRow("case differs") << true << "User-1" << false;
        QTest::newRow("other user") << true << "user-2" << false;
        QTest::newRow("signed out") << false << "user-1" << false;
    }

    void canAcceptSaaSCommand()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, expected);
        QFETCH(bool, accepted);
        BackendGraph graph;
        if (signedIn)
            graph.signIn(BackendGraph::userSession(std::nullopt, QStringLiteral("user-1")));
        QCOMPARE(graph.sessions.canAcceptSaaSCommand(expected), accepted);
    }

    void transportSentences_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("sentence");
        const QString unreachable = QStringLiteral("Can\u2019t reach the server. Check your network and API URL.");
        QTest::newRow("host not found") << int(TransportError::HostNotFound) << unreachable;
        QTest::newRow("TLS") << int(TransportError::Tls) << unreachable;
        QTest::newRow("cancelled") << int(TransportError::Cancelled) << "Sign-in was cancelled.";
        QTest::newRow("other keeps its own words") << int(TransportError::Other) << "Proxy said no.";
    }

    void transportSentences()
    {
        QFETCH(int, kind);
        QFETCH(QString, sentence);
        QCOMPARE(signInErrorMessage(transportFailure(TransportError(kind), QStringLiteral("Proxy said no."))), sentence);
    }
};

QTEST_GUILESS_MAIN(TestSessionController)
#include "tst_session_controller.moc"
