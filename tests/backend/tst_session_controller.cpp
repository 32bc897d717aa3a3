#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

class TestSessionController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void restore_data()
    {
        QTest::addColumn<QByteArray>("item");  // null: no item
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("polling");
        QTest::newRow("no item") << QByteArray() << false << false;
        QTest::newRow("backend session")  // no raw string: moc reads its "//" as a comment
            << QByteArray("{\"userId\":\"u\",\"email\":\"e\",\"accessToken\":\"t\",\"apiBaseURL\":\"https://a.example\"}") << true << true;
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

    void failedSignInKeepsTheOldSession_data()
    {
        QTest::addColumn<int>("status");  // 0: nothing listens; -1: the server hangs up
        QTest::addColumn<QString>("sentence");
        QTest::newRow("connection refused") << 0 << u"Can\u2019t reach the server. Check your network and API URL."_s;
        QTest::newRow("connection dropped") << -1 << u"Can\u2019t reach the server. Check your network and API URL."_s;
        QTest::newRow("401") << 401 << u"Server returned HTTP 401. Check URL and credentials."_s;
    }

    void failedSignInKeepsTheOldSession()
    {
        QFETCH(int, status);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        FakeResponse response = FakeResponse::json(status, "{}");
        response.drop = status < 0;
        // Qt resends once on a connection closed before any answer, so every try gets the same.
        server.setHandler([response](const RecordedRequest &) { return response; });
        QString base = apiBaseOf(server.baseUrl());
        if (status == 0) {
            QTcpServer probe;  // a port that was free a moment ago, closed again below
            probe.listen(QHostAddress::LocalHost, 0);
            base = u"http://127.0.0.1:%1"_s.arg(probe.serverPort());
        }
        BackendGraph graph;
        const ZaPumUserSession earlier = BackendGraph::userSession(u"https://api.example.com"_s);
        graph.signIn(earlier);

        awaitTask(graph.sessions.signIn(u"a@b.c"_s, u"secret-token"_s, base));
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QCOMPARE(graph.sessions.session(), earlier);
        QCOMPARE(graph.secrets.items.value(kSessionAccount), earlier.toJsonBytes());
        QCOMPARE(graph.panelClosed, 0);
    }

    void signInSavesPublishesAndSignOutForgets()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"u-9","accessToken":"A"})"));
        BackendGraph graph;
        // A blank e-mail is refused before anything is sent, even with a server to send it to.
        awaitTask(graph.sessions.signIn(u" "_s, u"t"_s, apiBaseOf(server.baseUrl())));
        QVERIFY(graph.sessions.signInError());
        QVERIFY(server.requests().isEmpty());
        QSignalSpy changed(&graph.sessions, &SessionController::sessionChanged);

        awaitTask(graph.sessions.signIn(u"a@b.c"_s, u"t"_s, apiBaseOf(server.baseUrl())));
        QVERIFY(!graph.sessions.signInError());  // the earlier error is cleared
        QCOMPARE(graph.sessions.session()->userId, u"u-9"_s);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(graph.secrets.items.value(kSessionAccount)), graph.sessions.session());
        QCOMPARE(graph.panelClosed, 1);
        QVERIFY(graph.remote.isPolling());

        graph.sessions.signOut();
        QVERIFY(!graph.sessions.isSignedIn() && !graph.remote.isPolling());
        QVERIFY(!graph.secrets.items.contains(kSessionAccount));
    }

    void failedSaveSignsNobodyIn()
    {
        BackendGraph graph;
        graph.secrets.failWrites = true;
        awaitTask(graph.sessions.signIn(u"a@b.c"_s, QString(), QString()));
        QVERIFY(!graph.sessions.isSignedIn());
        QCOMPARE(graph.sessions.signInErrorText(), u"The keyring is locked."_s);
    }
};

QTEST_GUILESS_MAIN(TestSessionController)
#include "tst_session_controller.moc"
