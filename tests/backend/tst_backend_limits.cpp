// What every backend client does at its limits: a URL that would send credentials in clear text,
// and a server that stalls or trickles past the client's own time-outs.
#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::settings_keys;
using namespace zapum::test;

namespace {

BackendGraphTimings allClients(HttpTimeouts http)
{
    BackendGraphTimings timings;
    timings.auth.http = http;
    timings.browser.http = http;
    timings.guidance.http = http;
    timings.ask.http = http;
    timings.memory.http = http;
    timings.remote.http = http;
    timings.remote.pollInterval = 100ms;
    return timings;
}

// Runs one client against `base` and returns what the user (or the log) gets to see.
QString run(BackendGraph &graph, const QString &client, const QString &base, FakeHttpServer &server)
{
    if (client == QLatin1String("token sign-in")) {
        awaitTask(graph.sessions.signIn(u"a@b.c"_s, u"tok"_s, base));
        return graph.sessions.signInErrorText();
    }
    if (client == QLatin1String("browser exchange")) {
        graph.signInThroughBrowser(base, u"code=pairing-code&state=@STATE@"_s);
        return graph.sessions.signInErrorText();
    }

    graph.signIn(BackendGraph::userSession(base, u"user-1"_s, u"tok"_s));
    graph.settings.setValue(kApiBaseUrl, base);
    if (client != QLatin1String("commands"))
        graph.remote.stop();
    if (client == QLatin1String("guidance")) {
        awaitTask(graph.guidance.refreshFromAPI(base));
        return graph.guidance.lastErrorText();
    }
    if (client == QLatin1String("ask")) {
        awaitTask(graph.ask.ask(u"q"_s));
        return graph.ask.responseText();
    }
    if (client == QLatin1String("memory recall"))
        return awaitTask(graph.memory.recall(u"q"_s, 6));
    if (client == QLatin1String("memory remember")) {
        graph.memory.remember(u"u"_s, u"a"_s);
        server.waitForRequests(1, 1s);
        QTest::qWait(1200);  // longer than any time-out below
        return {};
    }
    // Commands: exactly one poll, then the guidance shows whether anything was taken.
    QTest::qWait(150);
    graph.remote.stop();
    QTest::qWait(1200);
    return graph.guidance.session() == MockGuidance::session() ? QString() : u"guidance replaced"_s;
}

// One row per client: what it shows the user, or the line it logs instead.
void addClientRows(const QString &signIn, const QString &guidance, const QString &ask, const QString &failureWords,
                   const QString &commandsLog)
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logLine");
    const auto row = [](const char *client, const QString &shown, const QString &logLine) {
        QTest::newRow(client) << QString::fromLatin1(client) << shown << logLine;
    };
    row("token sign-in", signIn, {});
    row("browser exchange", signIn, {});
    row("guidance", guidance, {});
    row("ask", ask, {});
    row("memory recall", {}, u"[MemoryService] recall failed: "_s + failureWords);
    row("memory remember", {}, u"[MemoryService] remember failed: "_s + failureWords);
    row("commands", {}, commandsLog);
}

}  // namespace

class TestBackendLimits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void httpsRule_data()
    {
        const QString sentence = requiresHttpsSentence();
        addClientRows(sentence, sentence, sentence, sentence, QString());
    }

    void httpsRule()
    {
        QFETCH(QString, client);
        QFETCH(QString, shown);
        QFETCH(QString, logLine);
        FakeHttpServer server;
        server.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, "{}"); });
        BackendGraph graph(allClients({2s, 2s}));
        // Not this machine by name, so plain http must not be used for it, whatever answers there.
        const QString remote = u"http://127.0.0.2:%1/api"_s.arg(server.port());
        if (!logLine.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, logLine.toUtf8().constData());
        // Token sign-in turns such a URL down itself, before it reaches the request layer.
        if (client != QLatin1String("token sign-in"))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^refused to send .* without https$"_s));
        QCOMPARE(run(graph, client, remote, server), shown);
        QCOMPARE(server.requestCount(), 0);
    }

    void timeouts_data()
    {
        addClientRows(u"The request timed out. Check the API URL and try again."_s, u"The request timed out."_s,
                      u"Request timed out."_s, u"The request timed out."_s, u"command poll failed: The request timed out."_s);
    }

    void timeouts()
    {
        QFETCH(QString, client);
        QFETCH(QString, shown);
        QFETCH(QString, logLine);
        // Well-formed for every endpoint, so only the timing can make it fail. The request layer's
        // own tests tell a stalled reply from a trickling one; here each client only has to say so.
        FakeResponse slow = FakeResponse::json(200, R"({"userId":"u","email":"e","accessToken":"t","answer":"a","results":[],)"
                                                    R"("commands":[],"title":"T","subtitle":"S","steps":[]})");
        slow.stall = 1500ms;
        FakeHttpServer server;
        server.setHandler([slow](const RecordedRequest &) { return slow; });
        BackendGraph graph(allClients({300ms, 5s}));
        if (!logLine.isEmpty())
            QTest::ignoreMessage(logLine.startsWith(QLatin1Char('[')) ? QtWarningMsg : QtDebugMsg, logLine.toUtf8().constData());
        QCOMPARE(run(graph, client, apiBaseOf(server.baseUrl()), server), shown);
        QVERIFY(server.requestCount() >= 1);
    }
};

QTEST_GUILESS_MAIN(TestBackendLimits)
#include "tst_backend_limits.moc"
