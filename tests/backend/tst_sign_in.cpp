// Signing in: the URL rules, the token sign-in client, the browser handoff, and the session
// controller that keeps, restores and forgets the result.
#include "backend/auth_client.h"
#include "backend/backend_request.h"
#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

QUrl callback(const QString &query, const QString &scheme = u"zapum"_s)
{
    return QUrl(scheme + u"://auth/callback?"_s + query);
}

const QDateTime kHalfPastNine(QDate(2025, 3, 1), QTime(9, 30), Qt::UTC);

}  // namespace

class TestSignIn : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The same rule in both places: plain http only to this machine by name, never to a network.
    void httpsRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");  // what sign-in says; empty: accepted, and requests may go there
        const QString badUrl = authErrorMessage(AuthError::BadUrl);
        const QString https = authErrorMessage(AuthError::RequiresHttps);
        QTest::newRow("upper-case https with path") << "HTTPS://API.example.com/base" << "";
        QTest::newRow("http localhost") << "http://localhost:4001/x" << "";
        QTest::newRow("http 127.0.0.1 any port") << "http://127.0.0.1:65000" << "";
        QTest::newRow("http [::1]") << "http://[::1]:8080" << "";
        QTest::newRow("http other loopback address") << "http://127.0.0.2/x" << https;
        QTest::newRow("http localhost as subdomain") << "http://localhost.example.com/x" << https;
        QTest::newRow("http private network") << "http://192.168.1.20:4001" << https;
        QTest::newRow("ftp") << "ftp://files.example.com" << badUrl;
        QTest::newRow("no scheme") << "api.example.com/x" << badUrl;
    }

    void httpsRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const Result<QUrl> root = AuthClient::validatedAPIRoot(text);
        QCOMPARE(root.ok() ? QString() : root.failure().message, error);
        QCOMPARE(isSecureBackendUrl(QUrl(text)), error.isEmpty());
    }

    void joining_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("joined");
        QTest::newRow("own path kept") << "https://h.example/zapum/api" << "https://h.example/zapum/api/v1/desktop/ask";
        QTest::newRow("own path with slash, escaped") << "https://h.example/a%20b/" << "https://h.example/a%20b/v1/desktop/ask";
    }

    void joining()
    {
        QFETCH(QString, root);
        QTEST(joinEndpoint(QUrl(root), backend_paths::kAsk).toString(QUrl::FullyEncoded), "joined");
    }

    void sessionDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QDateTime>("issuedAt");  // invalid: absent
        const QByteArray head = R"({"userId":"u","email":"e","accessToken":"t")";
        QTest::newRow("reference seconds") << head + R"(,"issuedAt":762514200.5})" << true << kHalfPastNine.addMSecs(500);
        QTest::newRow("date text with offset") << head + R"(,"issuedAt":"2025-03-01T11:30:00+02:00"})" << true << kHalfPastNine;
        QTest::newRow("fractional seconds are not accepted") << head + R"(,"issuedAt":"2025-03-01T09:30:00.5Z"})" << true
                                                             << QDateTime();
        QTest::newRow("null apiBaseURL") << head + R"(,"apiBaseURL":null})" << true << QDateTime();
        QTest::newRow("numeric apiBaseURL") << head + R"(,"apiBaseURL":1})" << false << QDateTime();
        QTest::newRow("missing token") << QByteArray(R"({"userId":"u","email":"e"})") << false << QDateTime();
        QTest::newRow("not JSON") << QByteArray("userId=u") << false << QDateTime();
    }

    void sessionDecoding()
    {
        QFETCH(QByteArray, json);
        const std::optional<ZaPumUserSession> session = ZaPumUserSession::fromJsonBytes(json);
        QTEST(session.has_value(), "decodes");
        if (session)
            QTEST(session->issuedAt.value_or(QDateTime()), "issuedAt");
    }

    void encodingRoundTrips()
    {
        ZaPumUserSession session{u"id"_s, u"a@b.c"_s, QString(), std::nullopt,
                                 QDateTime(QDate(2001, 1, 1), QTime(0, 1), Qt::UTC)};
        QCOMPARE(session.toJsonBytes(), QByteArray(R"({"accessToken":"","email":"a@b.c","issuedAt":60,"userId":"id"})"));
        session.apiBaseURL = u"https://api.example.com"_s;
        // The latest date a date text can name still reads back the same from the stored record.
        session.issuedAt = parseInternetDateTime(u"9999-12-31T23:59:59-14:00"_s);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(session.toJsonBytes()), session);
    }

    void localIdentityWithoutRequest()
    {
        AuthClient client;
        const Result<ZaPumUserSession> result = awaitTask(client.signIn(u" \n"_s, u"  Ada@Example.com "_s, u" tok "_s));
        QVERIFY(result.ok() && result.value().issuedAt);
        // The first half of SHA-256 over the address in lower case, so the id survives a reinstall.
        const QString id = QString::fromLatin1(QCryptographicHash::hash("ada@example.com", QCryptographicHash::Sha256).toHex().left(32));
        QCOMPARE(result.value(), (ZaPumUserSession{id, u"Ada@Example.com"_s, u" tok "_s, std::nullopt, result.value().issuedAt}));
    }

    void tokenSignInReplies_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("outcome");  // the user id, or the failure
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("apiBaseURL");  // "-": absent, "@": as typed
        QTest::newRow("full session as sent")  // no raw string: moc reads its "//" as a comment
            << FakeResponse::json(200, "{\"userId\":\"srv\",\"email\":\"s@x.y\",\"accessToken\":\"A\",\"apiBaseURL\":\"https://elsewhere\"}")
            << "srv" << "s@x.y" << "https://elsewhere";
        QTest::newRow("short reply completed from the form")
            << FakeResponse::json(201, R"({"userId":"short","accessToken":"A"})") << "short" << "ada@example.com" << "@";
        QTest::newRow("only userId") << FakeResponse::json(200, R"({"userId":"x"})") << "Could not read the sign-in response."
                                     << "" << "";
    }

    void tokenSignInReplies()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, email);
        QFETCH(QString, apiBaseURL);
        FakeHttpServer server;
        server.enqueue(response);
        AuthClient client;
        const QString base = apiBaseOf(server.baseUrl()) + u"/root"_s;
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(u" "_s + base + u" "_s, u" ada@example.com "_s, u" token as typed "_s));
        const QJsonObject body{{u"email"_s, u"ada@example.com"_s}, {u"token"_s, u" token as typed "_s}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/root/v1/desktop/session", std::nullopt, body}), QString());
        QTEST(result.ok() ? result.value().userId : result.failure().message, "outcome");
        if (!result.ok())
            return;
        QCOMPARE(result.value().email, email);
        QCOMPARE(result.value().apiBaseURL.value_or(u"-"_s), apiBaseURL == QLatin1String("@") ? base : apiBaseURL);
    }

    void browserLinkUrl_data()
    {
        QTest::addColumn<QString>("webBase");
        QTest::addColumn<QString>("expected");
        const QString query = u"/desktop/link?state=S&redirect=zapum://auth/callback"_s;
        QTest::newRow("blank uses the local web app") << " \n" << u"http://localhost:3100"_s + query;
        QTest::newRow("own path, trailing slash") << "https://web.example/app/" << u"https://web.example/app"_s + query;
        QTest::newRow("own query replaced") << "https://web.example/app?x=1&state=old" << u"https://web.example/app"_s + query;
        QTest::newRow("not a URL") << "web example" << "The ZaPum server returned an unexpected response.";
    }

    void browserLinkUrl()
    {
        QFETCH(QString, webBase);
        const Result<QUrl> link = BrowserAuthCoordinator::buildLinkURL(webBase, u"S"_s, BrowserAuthCoordinator::kCallbackUrl);
        QTEST(link.ok() ? link.value().toString(QUrl::FullyEncoded) : link.failure().message, "expected");
    }

    void fullSignIn()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, R"({"userId":"web-user","email":"w@x.y","accessToken":"A"})"));
        BackendGraph graph;
        auto task = graph.sessions.signInWithBrowser(u"https://web.example"_s, apiBaseOf(server.baseUrl()) + u"/api"_s);
        QVERIFY(graph.sessions.isBrowserSignInPending());
        const QString state = QUrlQuery(graph.opener.opened.value(0)).queryItemValue(u"state"_s);
        QVERIFY2(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(state).hasMatch(), qPrintable(state));
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

    void browserSignInFailures_data()
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

    void browserSignInFailures()
    {
        QFETCH(QString, query);
        QFETCH(FakeResponse, response);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        graph.signInThroughBrowser(apiBaseOf(server.baseUrl()), query);
        QCOMPARE(server.requestCount(), response.status ? 1 : 0);
        QTEST(graph.sessions.signInErrorText(), "sentence");
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
        timings.browser.handoffTimeout = 600ms;
        BackendGraph graph(timings);
        const QDeadlineTimer firstWatchdog(650ms);  // with a margin for the watchdog to have run
        auto first = graph.browser.beginHandoff(QString());
        graph.browser.cancelPendingSignIn();
        QVERIFY(!awaitTask(std::move(first)).ok());
        QTRY_VERIFY(firstWatchdog.remainingTime() < 350);
        auto second = graph.browser.beginHandoff(QString());
        QTRY_VERIFY(firstWatchdog.hasExpired());
        QVERIFY(graph.browser.isPending());
        graph.browser.handleCallback(callback(u"code=c"_s));
        QVERIFY(awaitTask(std::move(second)).ok());
    }

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
        BackendGraph graph;
        if (!item.isNull())
            graph.secrets.items.insert(kSessionAccount, item);
        graph.sessions.restore();
        QCOMPARE(graph.sessions.isSignedIn(), signedIn);
        QCOMPARE(graph.secrets.items.contains(kSessionAccount), signedIn);
        QTEST(graph.remote.isPolling(), "polling");
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
        QTEST(graph.sessions.signInErrorText(), "sentence");
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

QTEST_GUILESS_MAIN(TestSignIn)
#include "tst_sign_in.moc"
