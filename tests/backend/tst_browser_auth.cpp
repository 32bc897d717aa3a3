#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

QString stateOf(const QUrl &link)
{
    return QUrlQuery(link).queryItemValue(QStringLiteral("state"));
}

QUrl callback(const QString &query, const QString &scheme = QStringLiteral("zapum"))
{
    return QUrl(scheme + QStringLiteral("://auth/callback?") + query);
}

// Starts a browser sign-in and answers it with a callback carrying `query` (@STATE@: the real state).
void signInThroughBrowser(BackendGraph &graph, const QString &apiBase, QString query)
{
    auto task = graph.sessions.signInWithBrowser(QString(), apiBase);
    graph.browser.handleCallback(callback(query.replace(QStringLiteral("@STATE@"), stateOf(graph.opener.opened.value(0)))));
    awaitTask(std::move(task));
}

}  // namespace

class TestBrowserAuth : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkUrl_data()
    {
        QTest::addColumn<QString>("webBase");
        QTest::addColumn<QString>("expected");  // empty: InvalidResponse
        const QString query = QStringLiteral("?state=S&redirect=zapum://auth/callback");
        QTest::newRow("blank uses the local web app") << " \n" << QStringLiteral("http://localhost:3100/desktop/link") + query;
        QTest::newRow("one trailing slash removed") << "https://web.example/" << QStringLiteral("https://web.example/desktop/link") + query;
        QTest::newRow("own path kept") << "https://web.example/app/" << QStringLiteral("https://web.example/app/desktop/link") + query;
        QTest::newRow("own query replaced") << "https://web.example/app?x=1&state=old"
                                            << QStringLiteral("https://web.example/app/desktop/link") + query;
        QTest::newRow("not a URL") << "web example" << "";
    }

    void linkUrl()
    {
        QFETCH(QString, webBase);
        QFETCH(QString, expected);
        const Result<QUrl> link =
            BrowserAuthCoordinator::buildLinkURL(webBase, QStringLiteral("S"), BrowserAuthCoordinator::kCallbackUrl);
        QCOMPARE(link.ok() ? link.value().toString(QUrl::FullyEncoded) : QString(), expected);
        if (!link.ok())
            QCOMPARE(link.failure().message, QStringLiteral("The ZaPum server returned an unexpected response."));
    }

    void randomState()
    {
        const QString a = BrowserAuthCoordinator::makeRandomState();
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(a).hasMatch());
        QVERIFY(a != BrowserAuthCoordinator::makeRandomState());
    }

    void fullSignIn()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"web-user","email":"w@x.y","accessToken":"A"})"));
        BackendGraph graph;
        auto task = graph.sessions.signInWithBrowser(QStringLiteral("https://web.example"),
                                                     apiBaseOf(server.baseUrl()) + QStringLiteral("/api"));
        QVERIFY(graph.sessions.isBrowserSignInPending());
        const QString state = stateOf(graph.opener.opened.value(0));
        graph.browser.handleCallback(QUrl(QStringLiteral("https://auth/callback?code=c&state=") + state));
        QVERIFY(graph.browser.isPending());  // only zapum: URLs complete the handoff, in any letter case
        graph.browser.handleCallback(callback(QStringLiteral("code=pair%2B1&state=") + state, QStringLiteral("ZAPUM")));
        awaitTask(std::move(task));

        QVERIFY(!graph.sessions.isBrowserSignInPending());
        QVERIFY(!graph.sessions.signInError());
        QCOMPARE(graph.sessions.session()->userId, QStringLiteral("web-user"));
        QVERIFY(!graph.sessions.session()->apiBaseURL);  // as the server sent it
        QVERIFY(graph.secrets.items.contains(kSessionAccount));
        const QJsonObject body{{QStringLiteral("code"), QStringLiteral("pair+1")}, {QStringLiteral("state"), state}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/api/v1/desktop/exchange", std::nullopt, body}), QString());

        graph.browser.handleCallback(callback(QStringLiteral("code=again&state=") + state));
        QCOMPARE(server.requestCount(), 1);  // a late second callback finds nothing pending
    }

    void secondHandoffRefused()
    {
        BackendGraph graph;
        auto first = graph.browser.beginHandoff(QString());
        const Result<QUrl> second = awaitTask(graph.browser.beginHandoff(QString()));
        QCOMPARE(second.ok() ? QString() : second.failure().message,
                 QStringLiteral("A sign-in is already in progress. Finish it in your browser."));
        QCOMPARE(graph.opener.opened.size(), 1);
        graph.browser.handleCallback(callback(QStringLiteral("code=x")));
        QVERIFY(awaitTask(std::move(first)).ok());

        // The controller does not start a second one of its own either.
        auto viaController = graph.sessions.signInWithBrowser(QString(), QString());
        awaitTask(graph.sessions.signInWithBrowser(QString(), QString()));
        QCOMPARE(graph.opener.opened.size(), 2);
        QVERIFY(!graph.sessions.signInError());
        graph.sessions.accountPanelClosed();
        awaitTask(std::move(viaController));
    }

    void callbackFailures_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("missing code") << "state=@STATE@" << "The browser didn't send a pairing code back.";
        QTest::newRow("wrong state") << "code=c&state=other" << "The browser response didn't match this ZaPum sign-in attempt.";
        QTest::newRow("no state") << "code=c" << "The browser response didn't match this ZaPum sign-in attempt.";
    }

    void callbackFailures()
    {
        QFETCH(QString, query);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        BackendGraph graph;
        signInThroughBrowser(graph, apiBaseOf(server.baseUrl()), query);
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.isBrowserSignInPending() && !graph.sessions.isSignedIn());
        QCOMPARE(server.requestCount(), 0);
    }

    void endsWithoutCallback_data()
    {
        QTest::addColumn<bool>("closePanel");
        QTest::newRow("watchdog") << false;
        QTest::newRow("panel closed") << true;
    }

    void endsWithoutCallback()
    {
        QFETCH(bool, closePanel);
        BackendGraphTimings timings;
        timings.browser.handoffTimeout = closePanel ? 60s : 200ms;
        BackendGraph graph(timings);
        QElapsedTimer clock;
        clock.start();
        auto task = graph.sessions.signInWithBrowser(QString(), QString());
        if (closePanel)
            graph.sessions.accountPanelClosed();
        awaitTask(std::move(task));
        QVERIFY(clock.elapsed() < 5000 && (closePanel || clock.elapsed() >= 190));
        QCOMPARE(graph.sessions.signInErrorText(), QStringLiteral("Browser sign-in was cancelled."));
        QVERIFY(!graph.sessions.isBrowserSignInPending() && !graph.browser.isPending());
    }

    void watchdogOfEarlierHandoffLeavesLaterOneAlone()
    {
        BackendGraphTimings timings;
        timings.browser.handoffTimeout = 300ms;
        BackendGraph graph(timings);
        auto first = graph.browser.beginHandoff(QString());
        graph.browser.cancelPendingSignIn();
        QVERIFY(!awaitTask(std::move(first)).ok());
        QTest::qWait(150);
        auto second = graph.browser.beginHandoff(QString());
        QTest::qWait(200);  // past the first handoff's deadline, inside the second's
        QVERIFY(graph.browser.isPending());
        graph.browser.handleCallback(callback(QStringLiteral("code=c")));
        QVERIFY(awaitTask(std::move(second)).ok());
    }

    void exchangeFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("400 with error text") << FakeResponse::json(400, R"({"error":"Pairing code expired"})")
                                             << "ZaPum server error 400: Pairing code expired";
        QTest::newRow("409 with numeric error") << FakeResponse::json(409, R"({"error":7})") << "ZaPum server error 409.";
        QTest::newRow("500 without body") << FakeResponse::json(500, "") << "ZaPum server error 500.";
        QTest::newRow("200 short form is not enough") << FakeResponse::json(200, R"({"userId":"u","accessToken":"t"})")
                                                      << "The ZaPum server returned an unexpected response.";
    }

    void exchangeFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        signInThroughBrowser(graph, apiBaseOf(server.baseUrl()), QStringLiteral("code=c&state=@STATE@"));
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.isSignedIn() && !graph.secrets.items.contains(kSessionAccount));
    }
};

QTEST_GUILESS_MAIN(TestBrowserAuth)
#include "tst_browser_auth.moc"
