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

QStringList g_logged;
QtMessageHandler g_passOn = nullptr;

// Keeps every log line for the waits below and hands it on to the test's own handler, which
// checks the expected ones.
void keepLogLine(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_logged.append(text);
    g_passOn(type, context, text);
}

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

// Starts one client against `base` and returns what it shows the user. Only the command poll is
// left running, to be stopped once it has gone out.
QString start(BackendGraph &graph, const QString &client, const QString &base)
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
    if (client == QLatin1String("memory remember"))
        graph.memory.remember(u"u"_s, u"a"_s);
    return {};
}

// One row per client: what it shows the user, or the line it logs instead.
void addClientRows(bool plainHttp, const QString &signIn, const QString &guidance, const QString &ask,
                   const QString &failureWords, const QString &commandsLog)
{
    const auto row = [plainHttp](const char *client, const QString &shown, const QString &logLine) {
        QTest::addRow("%s: %s", plainHttp ? "plain http" : "too slow", client)
            << plainHttp << QString::fromLatin1(client) << shown << logLine;
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
    void initTestCase() { g_passOn = qInstallMessageHandler(keepLogLine); }
    void init() { g_logged.clear(); }

    void limits_data()
    {
        QTest::addColumn<bool>("plainHttp");  // else: a server too slow for the client's time-outs
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logLine");
        const QString https = requiresHttpsSentence();
        addClientRows(true, https, https, https, https, u"command poll failed: "_s + https);
        addClientRows(false, u"The request timed out. Check the API URL and try again."_s, u"The request timed out."_s,
                      u"Request timed out."_s, u"The request timed out."_s, u"command poll failed: The request timed out."_s);
    }

    void limits()
    {
        QFETCH(bool, plainHttp);
        QFETCH(QString, client);
        QFETCH(QString, logLine);
        // Well-formed for every endpoint, so only the URL or the timing can make it fail. The
        // request layer's own tests tell a stalled reply from a trickling one; here each client
        // only has to say so.
        FakeResponse reply = FakeResponse::json(200, R"({"userId":"u","email":"e","accessToken":"t","answer":"a","results":[],)"
                                                     R"("commands":[],"title":"T","subtitle":"S","steps":[]})");
        reply.stall = plainHttp ? 0ms : 1500ms;
        FakeHttpServer server;
        server.setHandler([reply](const RecordedRequest &) { return reply; });
        BackendGraph graph(allClients(plainHttp ? HttpTimeouts{2s, 2s} : HttpTimeouts{300ms, 5s}));
        // 127.0.0.2 is not this machine by name, so plain http must not be used for it, whatever
        // answers there.
        const QString base = plainHttp ? u"http://127.0.0.2:%1/api"_s.arg(server.port()) : apiBaseOf(server.baseUrl());
        // Token sign-in turns such a URL down itself, before it reaches the request layer.
        const QRegularExpression refusal(u"^refused to send .* without https$"_s);
        const bool refusedByRequestLayer = plainHttp && client != QLatin1String("token sign-in");
        if (refusedByRequestLayer)
            QTest::ignoreMessage(QtWarningMsg, refusal);
        if (!logLine.isEmpty())
            QTest::ignoreMessage(logLine.startsWith(u'[') ? QtWarningMsg : QtDebugMsg, logLine.toUtf8().constData());

        QTEST(start(graph, client, base), "shown");
        QTRY_VERIFY(plainHttp ? !refusedByRequestLayer || !g_logged.filter(refusal).isEmpty() : server.requestCount() > 0);
        graph.remote.stop();
        QTRY_VERIFY(logLine.isEmpty() || g_logged.contains(logLine));
        QCOMPARE(server.requestCount() > 0, !plainHttp);
    }
};

QTEST_GUILESS_MAIN(TestBackendLimits)
#include "tst_backend_limits.moc"
