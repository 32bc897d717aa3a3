// The backend clients. Signing in: the URL rules, the token sign-in client, the browser handoff,
// and the session controller that keeps, restores and forgets the result. The services behind a
// session: guidance, memories, typed questions and the command poll. And what every client does at
// its limits: a URL that would send credentials in clear text, and a server that stalls past the
// client's own time-outs.
#include "backend/auth_client.h"
#include "backend/backend_request.h"
#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::settings_keys;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::AskResponse)

namespace {

QUrl callback(const QString &query, const QString &scheme = u"zapum"_s)
{
    return QUrl(scheme + u"://auth/callback?"_s + query);
}

const QDateTime kHalfPastNine(QDate(2025, 3, 1), QTime(9, 30), Qt::UTC);

const QByteArray kServerGuidance = R"({"title": "Acme onboarding", "subtitle": "Three steps", "ignored": [1, 2],
  "steps": [{"id": "a", "title": "First", "isDone": true}, {"id": "b", "title": "Second", "detail": null, "isDone": false}],
  "primaryActionLabel": "Go", "primaryActionURL": "not even a URL"})";

// Stands in for the voice session's typed-query path.
QCoro::Task<Result<QString>> cannedAgent(Result<QString> reply)
{
    co_return reply;
}

QByteArray push(const char *title)
{
    return QByteArray(R"({"type":"push-guidance","payload":{"title":")") + title
           + R"(","subtitle":"S","steps":[{"id":"a","title":"A","isDone":false}]}})";
}

// A reply of the commands endpoint; `userId` is the raw JSON of that member, or empty for none.
QByteArray reply(const QByteArray &userId, const QByteArrayList &commands)
{
    return "{" + (userId.isEmpty() ? QByteArray() : "\"userId\":" + userId + ",") + "\"commands\":[" + commands.join(',') + "]}";
}

QStringList g_logged;
QtMessageHandler g_passOn = nullptr;

// Keeps every log line for the waits below and hands it on to the test's own handler, which
// checks the expected ones.
void keepLogLine(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_logged.append(text);
    g_passOn(type, context, text);
}

BackendGraphTimings clientTimings(HttpTimeouts http, std::chrono::milliseconds poll)
{
    BackendGraphTimings timings;
    for (HttpTimeouts *each : {&timings.auth.http, &timings.browser.http, &timings.guidance.http, &timings.ask.http,
                               &timings.memory.http, &timings.remote.http})
        *each = http;
    timings.remote.pollInterval = poll;
    return timings;
}

}  // namespace

class TestBackend : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_passOn = qInstallMessageHandler(keepLogLine); }
    void init() { g_logged.clear(); }

    void guidanceFetch_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");  // empty: the server's document is shown
        const QString unread = u"The guidance could not be read: "_s;
        QTest::newRow("200") << 200 << kServerGuidance << "";
        QTest::newRow("404") << 404 << kServerGuidance << "Server error fetching guidance";
        QTest::newRow("step without isDone")
            << 200 << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})")
            << unread + u"\u201Csteps[0].isDone\u201D is missing."_s;
        QTest::newRow("null steps") << 200 << QByteArray(R"({"title":"T","subtitle":"S","steps":null})")
                                    << unread + u"\u201Csteps\u201D has the wrong type."_s;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>") << unread + u"it is not valid JSON."_s;
    }

    void guidanceFetch()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        FakeHttpServer server;
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, u"u"_s, u"tok"_s));
        // A failure first, so that a success must also clear the old error.
        server.enqueue(FakeResponse::json(500, ""));
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl())));
        QVERIFY(graph.guidance.lastError());

        server.enqueue(FakeResponse::json(status, body));
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl()) + u"/t/"_s));
        QCOMPARE(requestMismatch(server.requests().value(1), {"GET", "/t/v1/desktop/guidance", "Bearer tok", std::nullopt}), QString());
        QCOMPARE(graph.guidance.lastErrorText(), error);
        QCOMPARE(graph.guidance.session().title, error.isEmpty() ? u"Acme onboarding"_s : u"ZaPum assistant"_s);
        QCOMPARE(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")), error.isEmpty());
    }

    void memoryRecall_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("rendered");
        QTest::newRow("limit and order, blanks do not count")
            << FakeResponse::json(200, R"({"results":[{"memory":"one"},{"memory":"  "},{"memory":" two\n"},)"
                                       R"({"memory":3},{"score":1},{"memory":"three"},{"memory":"four"},)"
                                       R"({"memory":"five"},{"memory":"six"},{"memory":"seven"}]})")
            << "- one\n- two\n- three\n- four\n- five\n- six";
        QTest::newRow("a result that is not an object")
            << FakeResponse::json(200, R"({"results":[{"memory":"a"},"b"]})") << "";
        QTest::newRow("not JSON") << FakeResponse::json(200, "- a") << "";
        QTest::newRow("failure status") << FakeResponse::json(500, R"({"results":[{"memory":"x"}]})") << "";
    }

    void memoryRecall()
    {
        QFETCH(FakeResponse, response);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        // The base's own path is kept, escaped as it came.
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()) + u"/my%20mem"_s, u"u"_s, u"tok"_s));
        QCOMPARE(awaitTask(graph.memory.recall(u" \n"_s, 6)), QString());
        QTEST(awaitTask(graph.memory.recall(u"  drinks? "_s, 6)), "rendered");
        QCOMPARE(server.requestCount(), 1);  // none for the blank query
        const QJsonObject body{{u"query"_s, u"drinks?"_s}, {u"limit"_s, 6}};
        QCOMPARE(requestMismatch(server.requests().value(0),
                                 {"POST", "/my%20mem/v1/desktop/memory/search", "Bearer tok", body}),
                 QString());
    }

    void memoryRemember_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("assistant");
        QTest::addColumn<QByteArray>("messages");  // empty: nothing sent
        QTest::newRow("both") << " hi \n" << " hello "
                              << QByteArray(R"([{"role":"user","content":"hi"},{"role":"assistant","content":"hello"}])");
        QTest::newRow("empty reply") << "hi" << " " << QByteArray(R"([{"role":"user","content":"hi"}])");
        QTest::newRow("blank user text") << "  " << "hello" << QByteArray();
    }

    void memoryRemember()
    {
        QFETCH(QString, user);
        QFETCH(QString, assistant);
        QFETCH(QByteArray, messages);
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, "{}"); });
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(apiBaseOf(server.baseUrl()), u"u"_s, u"tok"_s));
        graph.memory.remember(user, assistant);
        QCOMPARE(server.waitForRequests(1, 300ms), !messages.isEmpty());
        if (messages.isEmpty())
            return;
        const QJsonObject body{{u"messages"_s, QJsonDocument::fromJson(messages).array()}, {u"channel"_s, u"macos-voice"_s}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/v1/desktop/memory/remember", "Bearer tok", body}), QString());
    }

    void blankQuestionOrSignedOut()
    {
        BackendGraph graph;
        awaitTask(graph.ask.ask(u" \n\t"_s));
        QVERIFY(!graph.ask.lastResponse());

        awaitTask(graph.ask.ask(u"hello"_s));
        QCOMPARE(graph.ask.lastResponse(), AskResponse::error(u"Sign in to ZaPum first."_s));
        QCOMPARE(graph.panelPresented, 1);
        QVERIFY(!graph.ask.isWorking());
    }

    void ask_data()
    {
        QTest::addColumn<bool>("keyStored");
        QTest::addColumn<QString>("agentReply");  // null: no agent path supplied; "fail:" before a failure's text
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("model");  // as stored; null: none
        QTest::addColumn<AskResponse>("shown");
        const FakeResponse backend = FakeResponse::json(200, R"({"answer":"from backend"})");
        const QString own = u" my-own-model "_s;  // unknown, so sent as stored
        QTest::newRow("answer as received")
            << true << QString() << FakeResponse::json(200, R"({"answer":"  Use Files.\n","x":1})") << own
            << AskResponse::answer(u"  Use Files.\n"_s);
        QTest::newRow("500") << true << QString() << FakeResponse::json(500, R"({"answer":"no"})") << own
                             << AskResponse::error(u"Server error. Check your API URL."_s);
        QTest::newRow("200 without answer") << true << QString() << FakeResponse::json(200, R"({"reply":"hi"})") << own
                                            << AskResponse::error(u"Could not read response."_s);
        QTest::newRow("agent reply trimmed") << true << u"  It is the Files app. "_s << backend << own
                                             << AskResponse::answer(u"It is the Files app."_s);
        QTest::newRow("agent failure") << true << u"fail:No API key."_s << backend << own
                                       << AskResponse::error(u"No API key."_s);
        QTest::newRow("no key: backend, default model") << false << u"unused"_s << backend << QString()
                                                        << AskResponse::answer(u"from backend"_s);
    }

    void ask()
    {
        QFETCH(bool, keyStored);
        QFETCH(QString, agentReply);
        QFETCH(FakeResponse, response);
        QFETCH(QString, model);
        FakeHttpServer server;
        server.enqueue(response);
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, u"user-7"_s, u"tok"_s));
        graph.settings.setValue(kApiBaseUrl, QString(u" "_s + apiBaseOf(server.baseUrl()) + u"/x "_s));
        if (!model.isNull())
            graph.settings.setValue(kAskModel, model);
        if (keyStored)
            graph.secrets.items.insert(kAnthropicAccount, "sk-ant");
        if (!agentReply.isNull()) {
            const Result<QString> reply = agentReply.startsWith(u"fail:"_s)
                                              ? Result<QString>(Failure{u"Anthropic"_s, 401, agentReply.mid(5)})
                                              : Result<QString>(agentReply);
            graph.ask.setTypedQueryRunner([reply](QString) { return cannedAgent(reply); });
        }

        awaitTask(graph.ask.ask(u" Where are my files? "_s));
        QTEST(*graph.ask.lastResponse(), "shown");
        QVERIFY(!graph.ask.isWorking());
        const bool agentAnswers = keyStored && !agentReply.isNull();
        QCOMPARE(server.requestCount(), agentAnswers ? 0 : 1);
        const QJsonObject body{{u"question"_s, u"Where are my files?"_s}, {u"userId"_s, u"user-7"_s},
                               {u"model"_s, model.isNull() ? u"gpt-4o-mini"_s : model.trimmed()}};
        if (!agentAnswers)
            QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/x/v1/desktop/ask", "Bearer tok", body}), QString());
    }

    void commandReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");  // empty: guidance untouched
        QTest::newRow("other user's push") << reply("\"user-2\"", {push("Theirs")}) << "";
        QTest::newRow("no userId: two pushes leave the second") << reply({}, {push("First"), push("Second")}) << "Second";
        QTest::newRow("unknown kinds skipped")
            << reply({}, {R"({"type":"open-url","payload":{"url":"x"}})", push("Known"), R"({"type":"Push-Guidance","payload":{}})"})
            << "Known";
        QTest::newRow("a command without type spoils the reply") << reply({}, {push("Lost"), R"({"payload":{}})"}) << "";
        QTest::newRow("numeric userId spoils the reply") << reply("1", {push("Lost")}) << "";
    }

    void commandReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(u"https://api.example.com"_s, u"user-1"_s));
        graph.remote.stop();
        if (const std::optional<Wire> wire = Wire::decode(body))
            graph.remote.apply(*wire);
        QCOMPARE(graph.guidance.session().title, title.isEmpty() ? u"ZaPum assistant"_s : title);
        QCOMPARE(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")), !title.isEmpty());
    }

    void signedOutMidPollDropsReply()
    {
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(u"https://api.example.com"_s));
        graph.sessions.signOut();
        QVERIFY(!graph.remote.apply(*Wire::decode(reply({}, {push("Late")}))));
        QCOMPARE(graph.guidance.session(), MockGuidance::session());
    }

    void pollsAppliesAPushAndPauses()
    {
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, reply("\"user-1\"", {push("From poll")})); });
        BackendGraph graph(clientTimings({3s, 5s}, 150ms));
        graph.signIn(BackendGraph::userSession(u" "_s + apiBaseOf(server.baseUrl()) + u"/p "_s, u"user-1"_s, u"tok"_s));
        // A failed fetch left an error; a pushed document clears it.
        awaitTask(graph.guidance.refreshFromAPI(u"http://127.0.0.1:1"_s));
        QVERIFY(graph.guidance.lastError());
        QTRY_COMPARE(graph.guidance.session().title, u"From poll"_s);
        QVERIFY(!graph.guidance.lastError());
        QCOMPARE(requestMismatch(server.requests().value(0), {"GET", "/p/v1/desktop/commands", "Bearer tok", std::nullopt}), QString());

        graph.environment.setIsPaused(true);
        QVERIFY(!graph.remote.isPolling());
        SettingsStorage reread(graph.dir.filePath(u"settings.json"_s));
        QVERIFY(EnvironmentStore(reread).isPaused());
        const int whilePaused = server.requestCount();
        graph.environment.setIsPaused(false);
        QVERIFY(server.waitForRequests(whilePaused + 1, 2s));
    }

    // A developer's override of the poll period; nonsense falls back to the minute.
    void pollIntervalFromEnvironment()
    {
        qputenv("ZAPUM_COMMAND_POLL_SECONDS", "0.25");
        QCOMPARE(remoteAssistantTimingsFromEnvironment().pollInterval, 250ms);
        qputenv("ZAPUM_COMMAND_POLL_SECONDS", "0");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ignoring ZAPUM_COMMAND_POLL_SECONDS"_s));
        QCOMPARE(remoteAssistantTimingsFromEnvironment().pollInterval, 60s);
        qunsetenv("ZAPUM_COMMAND_POLL_SECONDS");
    }

    // 127.0.0.2 is not this machine by name, so no client may use plain http for it; each one says
    // why where it reports. Token sign-in turns such a URL down itself, the others meet the request
    // layer's refusal (a client that went round it would report the refused connection instead).
    void noClientSpeaksPlainHttpToANetwork()
    {
        const QString base = u"http://127.0.0.2:9/api"_s;
        const QString https = requiresHttpsSentence();
        BackendGraph graph(clientTimings({2s, 2s}, 100ms));
        awaitTask(graph.sessions.signIn(u"a@b.c"_s, u"tok"_s, base));
        QCOMPARE(graph.sessions.signInErrorText(), https);
        graph.signInThroughBrowser(base, u"code=pairing-code&state=@STATE@"_s);
        QCOMPARE(graph.sessions.signInErrorText(), https);

        graph.signIn(BackendGraph::userSession(base, u"user-1"_s, u"tok"_s));
        graph.settings.setValue(kApiBaseUrl, base);
        awaitTask(graph.guidance.refreshFromAPI(base));
        QCOMPARE(graph.guidance.lastErrorText(), https);
        awaitTask(graph.ask.ask(u"q"_s));
        QCOMPARE(graph.ask.responseText(), https);
        QCOMPARE(awaitTask(graph.memory.recall(u"q"_s, 6)), QString());
        graph.memory.remember(u"u"_s, u"a"_s);
        for (const QString &line : {u"[MemoryService] recall failed: "_s, u"[MemoryService] remember failed: "_s,
                                    u"command poll failed: "_s})
            QTRY_VERIFY2(g_logged.contains(line + https), qPrintable(line));
    }

    // Each client gives up on its own time-outs. Sign-in and ask word it their own way, the others
    // hand on the request layer's words; its own tests tell a stalled reply from a trickling one.
    void tooSlowServer()
    {
        // Well-formed for every endpoint, so only the timing can make it fail.
        FakeResponse slow = FakeResponse::json(
            200, R"({"userId":"u","email":"e","accessToken":"t","answer":"a","title":"T","subtitle":"S","steps":[]})");
        slow.stall = 1500ms;
        FakeHttpServer server;
        server.setHandler([slow](const RecordedRequest &) { return slow; });
        const QString base = apiBaseOf(server.baseUrl());
        BackendGraph graph(clientTimings({300ms, 5s}, 1h));
        awaitTask(graph.sessions.signIn(u"a@b.c"_s, u"tok"_s, base));
        QCOMPARE(graph.sessions.signInErrorText(), u"The request timed out. Check the API URL and try again."_s);

        graph.signIn(BackendGraph::userSession(base, u"user-1"_s, u"tok"_s));
        graph.settings.setValue(kApiBaseUrl, base);
        awaitTask(graph.ask.ask(u"q"_s));
        QCOMPARE(graph.ask.responseText(), u"Request timed out."_s);
        awaitTask(graph.guidance.refreshFromAPI(base));
        QCOMPARE(graph.guidance.lastErrorText(), u"The request timed out."_s);
        QCOMPARE(server.requestCount(), 3);
    }

    // The same rule in both places: plain http only to this machine by name, never to a network.
    void httpsRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");  // what sign-in says; empty: accepted, and requests may go there
        const QString badUrl = authErrorMessage(AuthError::BadUrl);
        const QString https = authErrorMessage(AuthError::RequiresHttps);
        QTest::newRow("upper-case https with path") << "HTTPS://API.example.com/base" << "";
        QTest::newRow("http localhost") << "http://localhost:4001/x" << "";
        QTest::newRow("http [::1]") << "http://[::1]:8080" << "";
        QTest::newRow("http other loopback address") << "http://127.0.0.2/x" << https;
        QTest::newRow("http localhost as subdomain") << "http://localhost.example.com/x" << https;
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
        // A second handoff while this one waits is refused, and the controller does not try one.
        const Result<QUrl> second = awaitTask(graph.browser.beginHandoff(QString()));
        QCOMPARE(second.ok() ? QString() : second.failure().message,
                 u"A sign-in is already in progress. Finish it in your browser."_s);
        awaitTask(graph.sessions.signInWithBrowser(QString(), QString()));
        QVERIFY(graph.opener.opened.size() == 1 && !graph.sessions.signInError());
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

    void browserSignInFailures_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<FakeResponse>("response");  // status 0: no request may be made
        QTest::addColumn<QString>("sentence");
        const FakeResponse none = FakeResponse::json(0, {});
        const QString code = u"code=c&state=@STATE@"_s;
        QTest::newRow("missing code") << "state=@STATE@" << none << "The browser didn't send a pairing code back.";
        QTest::newRow("wrong state") << "code=c&state=other" << none << "The browser response didn't match this ZaPum sign-in attempt.";
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

    // A handoff nobody answers ends on its watchdog; an earlier handoff's watchdog, still running
    // after that one was cancelled, leaves a later one alone.
    void watchdogEndsOnlyItsOwnHandoff()
    {
        BackendGraphTimings timings;
        timings.browser.handoffTimeout = 900ms;
        BackendGraph graph(timings);
        const QDeadlineTimer firstWatchdog(950ms);  // with a margin for the watchdog to have run
        auto first = graph.browser.beginHandoff(QString());
        graph.browser.cancelPendingSignIn();
        QVERIFY(!awaitTask(std::move(first)).ok());
        QTRY_VERIFY(firstWatchdog.remainingTime() < 500);
        QElapsedTimer clock;
        clock.start();
        auto second = graph.sessions.signInWithBrowser(QString(), QString());
        QTRY_VERIFY(firstWatchdog.hasExpired());
        QVERIFY(graph.browser.isPending());
        awaitTask(std::move(second));
        QVERIFY(clock.elapsed() >= 850 && clock.elapsed() < 5000);  // a coarse timer may end 5 % early
        QCOMPARE(graph.sessions.signInErrorText(), u"Browser sign-in was cancelled."_s);
        QVERIFY(!graph.sessions.isBrowserSignInPending() && !graph.browser.isPending());
    }

    // Every sign-in of the other tests restores a backend session; here the other kinds of item and
    // what a stored record may hold. None names a backend, so none has anything to poll.
    void restore_data()
    {
        QTest::addColumn<QByteArray>("item");     // null: no item
        QTest::addColumn<bool>("signedIn");       // else: an item there is deleted
        QTest::addColumn<QDateTime>("issuedAt");  // invalid: absent
        const QByteArray head = R"({"userId":"u","email":"e","accessToken":"t")";
        QTest::newRow("no item") << QByteArray() << false << QDateTime();
        QTest::newRow("not JSON") << QByteArray("\x01garbage") << false << QDateTime();
        QTest::newRow("missing token") << QByteArray(R"({"userId":"u","email":"e"})") << false << QDateTime();
        QTest::newRow("numeric apiBaseURL") << head + R"(,"apiBaseURL":1})" << false << QDateTime();
        QTest::newRow("null apiBaseURL") << head + R"(,"apiBaseURL":null})" << true << QDateTime();
        QTest::newRow("local identity")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":""})") << true << QDateTime();
        QTest::newRow("reference seconds")
            << head + R"(,"issuedAt":762514200.5})" << true << kHalfPastNine.addMSecs(500);
        QTest::newRow("date text with offset")
            << head + R"(,"issuedAt":"2025-03-01T11:30:00+02:00"})" << true << kHalfPastNine;
        QTest::newRow("fractional seconds are not accepted")
            << head + R"(,"issuedAt":"2025-03-01T09:30:00.5Z"})" << true << QDateTime();
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
        QVERIFY(!graph.remote.isPolling());
        if (signedIn)
            QTEST(graph.sessions.session()->issuedAt.value_or(QDateTime()), "issuedAt");
    }

    void failedSignInKeepsTheOldSession_data()
    {
        QTest::addColumn<int>("status");  // 0: nothing listens
        QTest::addColumn<QString>("sentence");
        QTest::newRow("connection refused") << 0 << u"Can\u2019t reach the server. Check your network and API URL."_s;
        QTest::newRow("401") << 401 << u"Server returned HTTP 401. Check URL and credentials."_s;
    }

    void failedSignInKeepsTheOldSession()
    {
        QFETCH(int, status);
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(status, "{}"));
        const QString base = status == 0 ? u"http://127.0.0.1:1"_s : apiBaseOf(server.baseUrl());
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

QTEST_GUILESS_MAIN(TestBackend)
#include "tst_backend.moc"
