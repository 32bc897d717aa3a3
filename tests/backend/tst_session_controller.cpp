#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

class TestSessionController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void restore_data()
    {
        QTest::addColumn<QByteArray>("item");  // null: no item
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("polling");
        QTest::newRow("no item") << QByteArray() << false << false;
        QTest::newRow("backend session")
            << QByteArray("{\"userId\":\"u\",\"email\":\"e\",\"accessToken\":\"t\",\"apiBaseURL\":\"https://api.example.com\"}")
            << true << true;
        QTest::newRow("local identity") << QByteArray(R"({"userId":"u","email":"e","accessToken":""})") << true << false;
        QTest::newRow("not JSON: deleted") << QByteArray("\x01garbage") << false << false;
    }

    void restore()
    {
        QFETCH(QByteArray, item);
        QFETCH(bool, signedIn);
        QFETCH(bool, polling);
        BackendGraph graph;
        if (!item.isNull())
            graph.secrets.items.insert(kSessionAccount, item);
        graph.sessions.restore();
        QCOMPARE(graph.sessions.isSignedIn(), signedIn);
        QCOMPARE(graph.secrets.items.contains(kSessionAccount), signedIn);
        QCOMPARE(graph.remote.isPolling(), polling);
    }

    void tokenSignInFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("sentence");
        FakeResponse stall = FakeResponse::json(200, "{}");
        stall.stall = 1500ms;
        FakeResponse refuse;
        refuse.status = 0;  // marks the row that talks to a closed port
        QTest::newRow("connection refused") << refuse << QStringLiteral("Can\u2019t reach the server. Check your network and API URL.");
        QTest::newRow("time-out") << stall << "The request timed out. Check the API URL and try again.";
        QTest::newRow("401") << FakeResponse::json(401, "{}") << "Server returned HTTP 401. Check URL and credentials.";
        QTest::newRow("undecodable") << FakeResponse::json(200, R"({"user":"x"})") << "Could not read the sign-in response.";
    }

    void tokenSignInFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        server.setHandler([response](const RecordedRequest &) { return response; });
        BackendGraphTimings timings;
        timings.auth.http = {300ms, 5s};
        BackendGraph graph(timings);
        const ZaPumUserSession earlier = BackendGraph::userSession(QStringLiteral("https://api.example.com"));
        graph.signIn(earlier);
        QString base = apiBaseOf(server.baseUrl());
        if (response.status == 0) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            base = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        }

        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QStringLiteral("secret-token"), base));
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QCOMPARE(graph.sessions.session(), earlier);  // a failed sign-in leaves the old session
        QCOMPARE(graph.secrets.items.value(kSessionAccount), earlier.toJsonBytes());
        QCOMPARE(graph.panelClosed, 0);
    }

    void tokenSignInSavesAndPublishes()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"u-9","accessToken":"A"})"));
        BackendGraph graph;
        awaitTask(graph.sessions.signIn(QStringLiteral(" "), QString(), QString()));
        QVERIFY(graph.sessions.signInError());
        QSignalSpy changed(&graph.sessions, &SessionController::sessionChanged);

        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QStringLiteral("t"), apiBaseOf(server.baseUrl())));
        QVERIFY(!graph.sessions.signInError());
        QCOMPARE(graph.sessions.session()->userId, QStringLiteral("u-9"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(graph.secrets.items.value(kSessionAccount)), graph.sessions.session());
        QCOMPARE(graph.panelClosed, 1);
        QVERIFY(graph.remote.isPolling());

        graph.sessions.signOut();
        QVERIFY(!graph.sessions.isSignedIn());
        QVERIFY(!graph.secrets.items.contains(kSessionAccount));
        QVERIFY(!graph.remote.isPolling());
    }

    void failedSaveSignsNobodyIn()
    {
        BackendGraph graph;
        graph.secrets.failWrites = true;
        awaitTask(graph.sessions.signIn(QStringLiteral("a@b.c"), QString(), QString()));
        QVERIFY(!graph.sessions.isSignedIn());
        QCOMPARE(graph.sessions.signInErrorText(), QStringLiteral("The keyring is locked."));
    }

    void canAcceptSaaSCommand()
    {
        BackendGraph graph;
        QVERIFY(!graph.sessions.canAcceptSaaSCommand(QStringLiteral("user-1")));
        graph.signIn(BackendGraph::userSession(std::nullopt, QStringLiteral("user-1")));
        QVERIFY(graph.sessions.canAcceptSaaSCommand(QStringLiteral("user-1")));
        QVERIFY(!graph.sessions.canAcceptSaaSCommand(QStringLiteral("User-1")));
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
