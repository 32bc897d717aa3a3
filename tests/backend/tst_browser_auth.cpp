#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

QString stateOf(const QUrl &link)
{
    return QUrlQuery(link).queryItemValue(u"state"_s);
}

QUrl callback(const QString &query, const QString &scheme = u"zapum"_s)
{
    return QUrl(scheme + u"://auth/callback?"_s + query);
}

// Starts a browser sign-in and answers it with a callback carrying `query` (@STATE@: the real state).
void signInThroughBrowser(BackendGraph &graph, const QString &apiBase, QString query)
{
    auto task = graph.sessions.signInWithBrowser(QString(), apiBase);
    graph.browser.handleCallback(callback(query.replace(u"@STATE@"_s, stateOf(graph.opener.opened.value(0)))));
    awaitTask(std::move(task));
}

}  // namespace

class TestBrowserAuth : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkUrl_data()
    {
        QTest::addColumn<QString>("webBase");
        QTest::addColumn<QString>("expected");
        const QString query = u"/desktop/link?state=S&redirect=zapum://auth/callback"_s;
        QTest::newRow("blank uses the local web app") << " \n" << u"http://localhost:3100"_s + query;
        QTest::newRow("own path, trailing slash") << "https://web.example/app/" << u"https://web.example/app"_s + query;
        QTest::newRow("own query replaced") << "https://web.example/app?x=1&state=old" << u"https://web.example/app"_s + query;
        QTest::newRow("not a URL") << "web example" << "The ZaPum server returned an unexpected response.";
    }

    void linkUrl()
    {
        QFETCH(QString, webBase);
        QFETCH(QString, expected);
        const Result<QUrl> link = BrowserAuthCoordinator::buildLinkURL(webBase, u"S"_s, BrowserAuthCoordinator::kCallbackUrl);
        QCOMPARE(link.ok() ? link.value().toString(QUrl::FullyEncoded) : link.failure().message, expected);
    }

    void randomState()
    {
        const QString a = BrowserAuthCoordinator::makeRandomState();
        QVERIFY(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(a).hasMatch());
        QVERIFY(a != BrowserAuthCoordinator::makeRandomState());
    }

    void fullSignIn()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"web-user","email":"w@x.y","accessToken":"A"})"));
        BackendGraph graph;
        auto task = graph.sessions.signInWithBrowser(u"https://web.example"_s, apiBaseOf(server.baseUrl()) + u"/api"_s);
        QVERIFY(graph.sessions.isBrowserSignInPending());
        const QString state = stateOf(graph.opener.opened.value(0));
        graph.browser.handleCallback(QUrl(u"https://auth/callback?code=c&state="_s + state));
        QVERIFY(graph.browser.isPending());  // only zapum: URLs complete the handoff, in any letter case
        graph.browser.handleCallback(callback(u"code=pair%2B1&state="_s + state, u"ZAPUM"_s));
        awaitTask(std::move(task));

        QVERIFY(!graph.sessions.isBrowserSignInPending() && !graph.sessions.signInError());
        QCOMPARE(graph.sessions.session()->userId, u"web-user"_s);
        QVERIFY(!graph.sessions.session()->apiBaseURL);  // as the server sent it
        QVERIFY(graph.secrets.items.contains(kSessionAccount));
        const QJsonObject body{{u"code"_s, u"pair+1"_s}, {u"state"_s, state}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/api/v1/desktop/exchange", std::nullopt, body}), QString());

        graph.browser.handleCallback(callback(u"code=again&state="_s + state));
        QCOMPARE(server.requestCount(), 1);  // a late second callback finds nothing pending
    }

    void secondHandoffRefused()
    {
        BackendGraph graph;
        auto first = graph.browser.beginHandoff(QString());
        const Result<QUrl> second = awaitTask(graph.browser.beginHandoff(QString()));
        QCOMPARE(second.ok() ? QString() : second.failure().message, u"A sign-in is already in progress. Finish it in your browser."_s);
        QCOMPARE(graph.opener.opened.size(), 1);
        graph.browser.handleCallback(callback(u"code=x"_s));
        QVERIFY(awaitTask(std::move(first)).ok());

        // The controller does not start a second one of its own either.
        auto viaController = graph.sessions.signInWithBrowser(QString(), QString());
        awaitTask(graph.sessions.signInWithBrowser(QString(), QString()));
        QCOMPARE(graph.opener.opened.size(), 2);
        QVERIFY(!graph.sessions.signInError());
        graph.sessions.accountPanelClosed();
        awaitTask(std::move(viaController));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<FakeResponse>("response");  // status 0: no request may be made
        QTest::addColumn<QString>("sentence");
        const FakeResponse none = FakeResponse::json(0, {});
        const QString code = u"code=c&state=@STATE@"_s;
        QTest::newRow("missing code") << "state=@STATE@" << none << "The browser didn't send a pairing code back.";
        QTest::newRow("wrong state") << "code=c&state=other" << none << "The browser response didn't match this ZaPum sign-in attempt.";
        QTest::newRow("no state") << "code=c" << none << "The browser response didn't match this ZaPum sign-in attempt.";
        QTest::newRow("400 with error text") << code << FakeResponse::json(400, R"({"error":"Pairing code expired"})")
                                             << "ZaPum server error 400: Pairing code expired";
        QTest::newRow("409 with numeric error") << code << FakeResponse::json(409, R"({"error":7})") << "ZaPum server error 409.";
        QTest::newRow("200 short form is not enough") << code << FakeResponse::json(200, R"({"userId":"u","accessToken":"t"})")
                                                      << "The ZaPum server returned an unexpected response.";
    }

    void failures()
    {
        QFETCH(QString, query);
        QFETCH(FakeResponse, response);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        signInThroughBrowser(graph, apiBaseOf(server.baseUrl()), query);
        QCOMPARE(server.requestCount(), response.status ? 1 : 0);
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.isBrowserSignInPending() && !graph.sessions.isSignedIn());
        QVERIFY(!graph.secrets.items.contains(kSessionAccount));
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
        QCOMPARE(graph.sessions.signInErrorText(), u"Browser sign-in was cancelled."_s);
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
        graph.browser.handleCallback(callback(u"code=c"_s));
        QVERIFY(awaitTask(std::move(second)).ok());
    }
};

QTEST_GUILESS_MAIN(TestBrowserAuth)
#include "tst_browser_auth.moc"
