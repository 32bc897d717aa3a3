// zapum-devserver over real HTTP: what the desktop sends, what it decodes, and what is refused;
// then the app's own backend clients against it, which share only the wire format with it: a
// disagreement about a path, header or field shows up here and nowhere else.
#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/devserver_process.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

namespace {

struct Account {
    QString userId;
    QString accessToken;
};

const QString kState = u"0123456789abcdef0123456789abcdef"_s;

QJsonObject guidanceDocument(const QString &title)
{
    const QJsonObject step{{u"id"_s, u"a"_s}, {u"title"_s, u"A"_s}, {u"isDone"_s, false}};
    return {{u"title"_s, title}, {u"subtitle"_s, u"pushed"_s}, {u"steps"_s, QJsonArray{step}}};
}

QStringList memories(const WireReply &reply)
{
    QStringList list;
    for (const QJsonValue &entry : reply.json().value(u"results"_s).toArray())
        list.append(entry[u"memory"_s].toString());
    return list;
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    DevServerProcess m_server;

    Account signIn(const QString &email, const QString &token)
    {
        const QJsonObject reply =
            sendJson("POST", m_server.api(u"v1/desktop/session"_s), {{u"email"_s, email}, {u"token"_s, token}}).json();
        return {reply.value(u"userId"_s).toString(), reply.value(u"accessToken"_s).toString()};
    }
    Account signInDev() { return signIn(u"dev@zapum.local"_s, m_server.devToken()); }

    Account addUser(const QString &email)
    {
        const WireReply made = sendJson("POST", m_server.web(u"admin/api/users"_s), {{u"email"_s, email}});
        return signIn(email, made.json().value(u"token"_s).toString());
    }

    WireReply exchange(const QString &code, const QString &state)
    {
        return sendJson("POST", m_server.api(u"v1/desktop/exchange"_s), {{u"code"_s, code}, {u"state"_s, state}});
    }

    QJsonArray pendingCommands(const Account &account)
    {
        return sendJson("GET", m_server.api(u"v1/desktop/commands"_s), {}, account.accessToken).json().value(u"commands"_s).toArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_server.start({u"--pairing-ttl"_s, u"1"_s}), qPrintable(m_server.log()));
        QVERIFY2(!m_server.log().contains(m_server.devToken()), "the token went to the file, not the output");
    }

    // One row per rule of what is turned down. In bodies @TOKEN@ stands for the sign-in token and
    // @ME@ for the dev user's id; "Bearer @ACCESS@" is that user's access token.
    void refusals_data()
    {
        QTest::addColumn<QString>("request");  // method and path; "web/" first: on the web server
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorPart");
        const Headers json{{"Content-Type", "application/json"}};
        const Headers signedIn{json.first(), {"Authorization", "Bearer @ACCESS@"}};
        const Headers forged{json.first(), {"Authorization", "Bearer zps_forged"}};
        const auto row = [](const char *name, const char *request, const QByteArray &body, const Headers &headers,
                            int status, const char *errorPart = "") {
            QTest::newRow(name) << QString::fromUtf8(request) << body << headers << status
                                << QString::fromUtf8(errorPart);
        };
        const char *session = "POST v1/desktop/session";
        row("token with a trailing blank", session, R"({"email":"dev@zapum.local","token":"@TOKEN@ "})", json, 401,
            "Unknown");
        row("body past the limit", session, QByteArray(2 * 1024 * 1024, 'x'), json, 413);
        // The GET routes check the bearer each on their own, the POST routes through one wrapper.
        row("guidance without bearer", "GET v1/desktop/guidance", {}, json, 401, "Authorization");
        row("commands with a forged bearer", "GET v1/desktop/commands", {}, forged, 401, "not valid");
        row("ask without bearer", "POST v1/desktop/ask", R"({"question":"x"})", json, 401, "Authorization");
        row("someone else's id", "POST v1/desktop/ask", R"({"question":"hi","userId":"u2","model":"gpt-4o"})", signedIn,
            403, "userId");
        row("system message remembered", "POST v1/desktop/memory/remember",
            R"({"messages":[{"role":"system","content":"x"}]})", {signedIn.last()}, 400, "role");
        // The link page leaves out its button when it refuses.
        row("link to a web redirect", "GET web/desktop/link?state=s1&redirect=https://example.com/cb", {}, {}, 400);
        row("link with markup in state", "GET web/desktop/link?state=%3Cb%3E&redirect=zapum://auth/callback", {}, {},
            400);
        row("link for another host name", "GET web/desktop/link?state=s1&redirect=zapum://auth/callback", {},
            {{"Host", "rebound.example:3100"}}, 403);
        const QByteArray good = R"({"user":"dev@zapum.local","document":)" +
                                QJsonDocument(guidanceDocument(u"T"_s)).toJson(QJsonDocument::Compact) + "}";
        const char *push = "POST web/admin/api/push-guidance";
        row("step without isDone", push,
            R"({"user":"dev@zapum.local","document":{"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]}})",
            json, 400, "steps[0].isDone");
        row("form post from a page", push, "user=dev", {{"Content-Type", "application/x-www-form-urlencoded"}}, 415,
            "JSON");
        row("another site's page", push, good, {json.first(), {"Origin", "https://evil.example"}}, 403, "other sites");
    }
    void refusals()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, body);
        QFETCH(Headers, headers);
        QFETCH(QString, errorPart);
        const Account dev = signInDev();
        body.replace("@TOKEN@", m_server.devToken().toUtf8()).replace("@ME@", dev.userId.toUtf8());
        for (auto &header : headers)
            header.second.replace("@ACCESS@", dev.accessToken.toUtf8());
        const QString path = request.section(u' ', 1);
        const QUrl url = path.startsWith(u"web/"_s) ? m_server.web(path.mid(4)) : m_server.api(path);
        const WireReply reply = sendRequest(request.section(u' ', 0, 0).toLatin1(), url, body, headers);
        QTEST(reply.status, "status");
        if (path.startsWith(u"web/desktop/link"_s))
            QVERIFY(!reply.body.contains(">Link this desktop</button>"));
        else
            QVERIFY2(!reply.error().isEmpty() && reply.error().contains(errorPart), qPrintable(reply.error()));
        QVERIFY(pendingCommands(dev).isEmpty());
    }

    void browserPairing_data()
    {
        QTest::addColumn<QString>("firstState"); // empty: the code is exchanged once
        QTest::addColumn<QString>("sentState");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("fresh code") << QString() << kState << 0 << 200 << QString();
        QTest::newRow("second use") << kState << kState << 0 << 400 << u"already used"_s;
        QTest::newRow("other state") << QString() << u"ffff"_s << 0 << 400 << u"another sign-in"_s;
        QTest::newRow("a wrong guess uses up the code") << u"guess"_s << kState << 0 << 400 << QString();
        QTest::newRow("expired") << QString() << kState << 1300 << 400 << u"expired"_s;
    }
    void browserPairing()
    {
        QFETCH(QString, firstState);
        QFETCH(QString, sentState);
        QFETCH(int, waitMs);
        QFETCH(int, status);
        QFETCH(QString, errorPart);
        const WireReply page =
            sendRequest("GET", m_server.web(u"desktop/link?state=%1&redirect=zapum://auth/callback"_s.arg(kState)));
        QVERIFY(page.status == 200 && page.body.contains(">Link this desktop</button>"));
        // The link page's confirmation: a redirect that keeps the callback's own query.
        QUrlQuery form;
        form.addQueryItem(u"state"_s, kState);
        form.addQueryItem(u"redirect"_s, u"zapum://auth/callback?from=web"_s);
        form.addQueryItem(u"userId"_s, signInDev().userId);
        const WireReply confirmed = sendRequest("POST", m_server.web(u"desktop/link"_s), form.toString(QUrl::FullyEncoded).toUtf8(),
                                                {{"Content-Type", "application/x-www-form-urlencoded"}});
        QCOMPARE(confirmed.status, 303);
        const QUrl location(QString::fromUtf8(confirmed.header("Location")));
        const QUrlQuery query(location);
        QCOMPARE(location.scheme(), u"zapum"_s);
        QCOMPARE(query.queryItemValue(u"from"_s), u"web"_s);
        QCOMPARE(query.queryItemValue(u"state"_s), kState);
        const QString code = query.queryItemValue(u"code"_s);
        QCOMPARE(code.size(), 32);

        QTest::qWait(waitMs);
        if (!firstState.isEmpty())
            exchange(code, firstState);
        const WireReply reply = exchange(code, sentState);
        QCOMPARE(reply.status, status);
        QVERIFY2(errorPart.isEmpty() || reply.error().contains(errorPart), qPrintable(reply.error()));
        if (status == 200)
            QCOMPARE(reply.json().value(u"email"_s).toString(), u"dev@zapum.local"_s);
    }

    void guidanceAndMemoriesArePerUser()
    {
        const Account dev = signInDev();
        const Account other = addUser(u"other@zapum.local"_s);
        const QJsonObject set{{u"user"_s, u"other@zapum.local"_s}, {u"document"_s, guidanceDocument(u"Other's"_s)}};
        QCOMPARE(sendJson("POST", m_server.web(u"admin/api/guidance"_s), set).status, 200);
        const auto guidanceOf = [this](const Account &account) {
            return sendJson("GET", m_server.api(u"v1/desktop/guidance"_s), {}, account.accessToken).json();
        };
        QVERIFY(guidanceOf(dev).value(u"subtitle"_s).toString().contains(u"dev@zapum.local"_s));
        QCOMPARE(guidanceOf(other), guidanceDocument(u"Other's"_s));

        const auto remember = [this](const Account &account, const QString &text) {
            const QJsonArray messages{QJsonObject{{u"role"_s, u"user"_s}, {u"content"_s, text}}};
            return sendJson("POST", m_server.api(u"v1/desktop/memory/remember"_s),
                            {{u"messages"_s, messages}, {u"channel"_s, u"macos-voice"_s}}, account.accessToken)
                .status;
        };
        QCOMPARE(remember(dev, u"The quarterly report is due on Friday"_s), 200);
        QCOMPARE(remember(dev, u"I keep the quarterly report and the annual report in Dropbox"_s), 200);
        QCOMPARE(remember(other, u"Another user's quarterly report secret"_s), 200);
        const auto search = [this](const Account &account, const QString &query, double limit) {
            return sendJson("POST", m_server.api(u"v1/desktop/memory/search"_s),
                            {{u"query"_s, query}, {u"limit"_s, limit}}, account.accessToken);
        };
        // More matching words, and rarer ones, rank higher; other users' memories never show.
        QCOMPARE(memories(search(dev, u"annual report?"_s, 6)),
                 (QStringList{u"I keep the quarterly report and the annual report in Dropbox"_s,
                              u"The quarterly report is due on Friday"_s}));
        QCOMPARE(memories(search(other, u"report"_s, 6)), QStringList{u"Another user's quarterly report secret"_s});

        // Search syntax typed by a person is only ever words.
        for (const QString &query : {u"report AND (NOT"_s, u"   "_s}) {
            const WireReply reply = search(dev, query, 6);
            QVERIFY2(reply.status == 200 && reply.json().value(u"results"_s).isArray(), qPrintable(query));
        }
        // A generous limit is capped instead of refused.
        QCOMPARE(memories(search(dev, u"report"_s, 1e9)).size(), 2);
    }

    void pushedGuidanceIsDeliveredOnce()
    {
        const Account dev = signInDev();
        const QUrl push = m_server.web(u"admin/api/push-guidance"_s);
        QJsonObject first = guidanceDocument(u"First"_s);
        first.insert(u"extra"_s, QJsonObject{{u"n"_s, 2}, {u"t"_s, u"2"_s}, {u"x"_s, 2.5}, {u"b"_s, true}, {u"z"_s, QJsonValue()},
                                             {u"l"_s, QJsonArray{3, u"a"_s}}});
        QCOMPARE(sendJson("POST", push, {{u"user"_s, u"dev@zapum.local"_s}, {u"document"_s, first}}).status, 202);
        QCOMPARE(sendJson("POST", push, {{u"user"_s, dev.userId}, {u"document"_s, guidanceDocument(u"Second"_s)}}).status, 202);

        const QJsonObject wire = sendJson("GET", m_server.api(u"v1/desktop/commands"_s), {}, dev.accessToken).json();
        QCOMPARE(wire.value(u"userId"_s).toString(), dev.userId);
        const QJsonArray list = wire.value(u"commands"_s).toArray();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0)[u"type"_s].toString(), u"push-guidance"_s);
        QCOMPARE(list.at(0)[u"payload"_s].toObject(), first); // every JSON kind passes through unchanged
        QCOMPARE(list.at(1)[u"payload"_s][u"title"_s].toString(), u"Second"_s);
        QVERIFY(pendingCommands(dev).isEmpty());
    }

    // Guidance fetched and pushed through the app's clients is followed end to end in the app
    // shell's browser sign-in test; here, the token sign-in, memory and ask clients.
    void theAppsClientsAgree()
    {
        BackendGraph graph;
        const QString apiBase = m_server.apiBase();
        graph.settings.setValue(settings_keys::kApiBaseUrl, apiBase);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        awaitTask(graph.sessions.signIn(u" DEV@Zapum.local "_s, m_server.devToken(), apiBase));
        QVERIFY2(graph.sessions.isSignedIn(), qPrintable(graph.sessions.signInErrorText()));
        // The full record as the server sent it, with a fresh token, never the sign-in one.
        const ZaPumUserSession session = *graph.sessions.session();
        QVERIFY(session.email == u"dev@zapum.local"_s && session.apiBaseURL == apiBase);
        QVERIFY(session.accessToken.size() >= 32 && session.accessToken != m_server.devToken());
        QVERIFY(session.issuedAt >= before && session.issuedAt <= QDateTime::currentDateTimeUtc());

        graph.memory.remember(u"I drink green tea every morning"_s, u"Noted."_s);
        QTRY_VERIFY(awaitTask(graph.memory.recall(u"tea"_s, 6)).contains(QLatin1String("green tea")));
        // The server's answer quotes the question it read from the app's request.
        awaitTask(graph.ask.ask(u" What do I drink?\n"_s));
        const QString answer = graph.ask.responseText();
        QVERIFY2(answer.contains(u"\u201CWhat do I drink?\u201D"_s), qPrintable(answer));
    }

    void leavesAForeignDataFileAlone()
    {
        QTemporaryDir dir;
        QFile junk(dir.filePath(u"junk.sqlite3"_s));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'j')) == 4096);
        junk.close();
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(devServerBinary(), {u"--data"_s, junk.fileName(), u"--api-port"_s, u"0"_s, u"--web-port"_s, u"0"_s});
        QVERIFY(process.waitForFinished(10000));
        const QString output = QString::fromUtf8(process.readAll());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(output.contains(u"not a usable data file"_s), qPrintable(output));
        QCOMPARE(junk.size(), 4096);
    }

    // Last: restarts the server on the same data file.
    void dataSurvivesARestartAndStaysPrivate()
    {
        const Account dev = signInDev();
        QCOMPARE(m_server.terminate(5s), 0);
        QCOMPARE(QFileInfo(m_server.dataFile()).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QFile file(m_server.dataFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QVERIFY(!stored.isEmpty());
        QVERIFY2(!stored.contains(dev.accessToken.toUtf8()) && !stored.contains(m_server.devToken().toUtf8()),
                 "credentials are kept only as digests");

        QVERIFY2(m_server.start(), qPrintable(m_server.log()));
        QVERIFY2(!m_server.log().contains(QLatin1String("Created the user")), "the first user is made once");
        QCOMPARE(sendJson("GET", m_server.api(u"v1/desktop/guidance"_s), {}, dev.accessToken).status, 200);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
