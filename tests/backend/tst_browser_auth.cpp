#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/fake_http_server.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

const QByteArray kSessionReply = R"({"userId":"web-user","email":"w@x.y","accessToken":"A"})";

QString stateOf(const QUrl &link)
{
    return QUrlQuery(link).queryItemValue(QStringLiteral("state"));
}

QUrl callback(const QString &query, const QString &scheme = QStringLiteral("zapum"))
{
    return QUrl(scheme + QStringLiteral("://auth/callback?") + query);
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
        QTest::newRow("bare host") << "https://web.example" << QStringLiteral("https://web.example/desktop/link") + query;
        QTest::newRow("one trailing slash removed") << "https://web.example/" << QStringLiteral("https://web.example/desktop/link") + query;
        QTest::newRow("own path kept") << "https://web.example/app" << QStringLiteral("https://web.example/app/desktop/link") + query;
        QTest::newRow("own path with slash") << "https://web.example/app/" << QStringLiteral("https://web.example/app/desktop/link") + query;
        QTest::newRow("own query replaced") << "https://web.example/app?x=1&state=old"
                                            << QStringLiteral("https://web.example/app/desktop/link") + query;
        QTest::newRow("port kept") << " http://localhost:3100 " << QStringLiteral("http://localhost:3100/desktop/link") + query;
        QTest::newRow("not a URL") << "web example" << "";
    }

    void linkUrl()
    {
        QFETCH(QString, webBase);
        QFETCH(QString, expected);
        const Result<QUrl> link =
            BrowserAuthCoordinator::buildLinkURL(webBase, QStringLiteral("S"), BrowserAuthCoordinator::kCallbackUrl);
        if (expected.isEmpty()) {
            QVERIFY(!link.ok());
            QCOMPARE(link.failure().message, QStringLiteral("The ZaPum server returned an unexpected response."));
            return;
        }
        QVERIFY(link.ok());
        QCOMPARE(link.value().toString(QUrl::FullyEncoded), expected);
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
        server.enqueue(FakeResponse::json(200, kSessionReply));
        BackendGraph graph;
        const QString apiBase = apiBaseOf(server.baseUrl()) + QStringLiteral("/api");

        auto task = graph.sessions.signInWithBrowser(QStringLiteral("https://web.example"), apiBase);
        QVERIFY(graph.sessions.isBrowserSignInPending());
        QCOMPARE(graph.opener.opened.size(), 1);
        const QString state = stateOf(graph.opener.opened.at(0));

        graph.browser.handleCallback(QUrl(QStringLiteral("https://auth/callback?code=c&state=") + state));
        QVERIFY(graph.browser.isPending());  // only zapum: URLs complete the handoff
        // The scheme is compared without regard to case.
        graph.browser.handleCallback(callback(QStringLiteral("code=pair%2B1&state=") + state, QStringLiteral("ZAPUM")));
        awaitTask(std::move(task));

        QVERIFY(!graph.sessions.isBrowserSignInPending());
        QVERIFY(!graph.sessions.signInError());
        QCOMPARE(graph.sessions.session()->userId, QStringLiteral("web-user"));
        QVERIFY(!graph.sessions.session()->apiBaseURL);  // as the server sent it
        QVERIFY(graph.secrets.items.contains(kSessionAccount));
        QCOMPARE(graph.panelClosed, 1);

        const RecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/v1/desktop/exchange"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!request.header("Authorization"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 QJsonObject({{QStringLiteral("code"), QStringLiteral("pair+1")}, {QStringLiteral("state"), state}}));

        // A late second callback finds nothing pending.
        graph.browser.handleCallback(callback(QStringLiteral("code=again&state=") + state));
        QCOMPARE(server.requestCount(), 1);
    }

    void secondHandoffRefused()
    {
        BackendGraph graph;
        auto first = graph.browser.beginHandoff(QString());
        const Result<QUrl> second = awaitTask(graph.browser.beginHandoff(QString()));
        QVERIFY(!second.ok());
        QCOMPARE(second.failure().message, QStringLiteral("A sign-in is already in progress. Finish it in your browser."));
        QCOMPARE(graph.opener.opened.size(), 1);
        QVERIFY(graph.browser.isPending());

        graph.browser.handleCallback(callback(QStringLiteral("code=x")));
        const Result<QUrl> url = awaitTask(std::move(first));
        QVERIFY(url.ok());
        QCOMPARE(url.value().scheme(), QStringLiteral("zapum"));
    }

    void controllerIgnoresSecondStart()
    {
        BackendGraph graph;
        auto first = graph.sessions.signInWithBrowser(QString(), QString());
        auto second = graph.sessions.signInWithBrowser(QString(), QString());
        QCOMPARE(graph.opener.opened.size(), 1);
        QVERIFY(!graph.sessions.signInError());
        graph.sessions.accountPanelClosed();
        awaitTask(std::move(first));
    }

    void callbackFailures_data()
    {
        QTest::addColumn<QString>("query");  // @STATE@ is replaced by the pending state
        QTest::addColumn<QString>("sentence");
        QTest::newRow("missing code") << "state=@STATE@" << "The browser didn't send a pairing code back.";
        QTest::newRow("empty code") << "code=&state=@STATE@" << "The browser didn't send a pairing code back.";
        QTest::newRow("wrong state") << "code=c&state=other" << "The browser response didn't match this ZaPum sign-in attempt.";
        QTest::newRow("no state") << "code=c" << "The browser response didn't match this ZaPum sign-in attempt.";
    }

    void callbackFailures()
    {
        QFETCH(QString, query);
        QFETCH(QString, sentence);
        FakeHttpServer server;
        BackendGraph graph;
        auto task = graph.sessions.signInWithBrowser(QString(), apiBaseOf(server.baseUrl()));
        const QString state = stateOf(graph.opener.opened.value(0));
        graph.browser.handleCallback(callback(QString(query).replace(QStringLiteral("@STATE@"), state)));
        awaitTask(std::move(task));
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.isBrowserSignInPending());
        QVERIFY(!graph.sessions.isSignedIn());
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
        QVERIFY(clock.elapsed() < 5000);
        if (!closePanel)
            QVERIFY(clock.elapsed() >= 190);
        QCOMPARE(graph.sessions.signInErrorText(), QStringLiteral("Browser sign-in was cancelled."));
        QVERIFY(!graph.sessions.isBrowserSignInPending());
        QVERIFY(!graph.browser.isPending());

        // A callback after the end is ignored, and a new handoff can start.
        graph.browser.handleCallback(callback(QStringLiteral("code=late")));
        auto again = graph.browser.beginHandoff(QString());
        QVERIFY(graph.browser.isPending());
        graph.browser.cancelPendingSignIn();
        QVERIFY(!awaitTask(std::move(again)).ok());
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
        QTest::newRow("400 with empty error text") << FakeResponse::json(400, R"({"error":""})") << "ZaPum server error 400.";
        QTest::newRow("409 with numeric error") << FakeResponse::json(409, R"({"error":7})") << "ZaPum server error 409.";
        QTest::newRow("500 without body") << FakeResponse::json(500, "") << "ZaPum server error 500.";
        QTest::newRow("502 with HTML") << FakeResponse::json(502, "<h1>Bad gateway</h1>") << "ZaPum server error 502.";
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
        auto task = graph.sessions.signInWithBrowser(QString(), apiBaseOf(server.baseUrl()));
        graph.browser.handleCallback(callback(QStringLiteral("code=c&state=") + stateOf(graph.opener.opened.value(0))));
        awaitTask(std::move(task));
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(graph.sessions.signInErrorText(), sentence);
        QVERIFY(!graph.sessions.isSignedIn());
        QVERIFY(!graph.secrets.items.contains(kSessionAccount));
    }

    void blankApiBaseUsesEnvironmentPreset()
    {
        // Local (dev) points at localhost:4001, where nothing listens in the test: the request
        // went there, so the failure is the unreachable-server sentence.
        BackendGraph graph;
        graph.environment.setCurrent(ZaPumEnvironment::Local);
        auto task = graph.sessions.signInWithBrowser(QString(), QStringLiteral("   "));
        graph.browser.handleCallback(callback(QStringLiteral("code=c&state=") + stateOf(graph.opener.opened.value(0))));
        awaitTask(std::move(task));
        QCOMPARE(graph.sessions.signInErrorText(), QStringLiteral("Can\u2019t reach the server. Check your network and API URL."));
    }
};

QTEST_GUILESS_MAIN(TestBrowserAuth)
#include "tst_browser_auth.moc"
