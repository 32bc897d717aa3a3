// The backend services against the local backend program, which shares only the wire format with
// them: a disagreement about a path, header or field shows up here and nowhere else.
#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/devserver_process.h"

#include <QJsonArray>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

class TestBackendDevServer : public QObject {
    Q_OBJECT

    DevServerProcess m_server;

    QString apiBase() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.apiPort()); }
    static QJsonObject document(const QString &title)
    {
        const QJsonObject step{{QStringLiteral("id"), QStringLiteral("a")}, {QStringLiteral("title"), QStringLiteral("A")},
                               {QStringLiteral("isDone"), false}};
        return {{QStringLiteral("title"), title}, {QStringLiteral("subtitle"), QStringLiteral("S")},
                {QStringLiteral("steps"), QJsonArray{step}}};
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.output())); }

    void wholeAccountLife()
    {
        BackendGraphTimings timings;
        timings.remote.pollInterval = 200ms;
        BackendGraph graph(timings);
        graph.settings.setValue(settings_keys::kApiBaseUrl, apiBase());

        awaitTask(graph.sessions.signIn(QStringLiteral("dev@zapum.local"), m_server.devToken(), apiBase()));
        QVERIFY2(graph.sessions.isSignedIn(), qPrintable(graph.sessions.signInErrorText()));
        QVERIFY(graph.remote.isPolling());

        const QJsonObject user{{QStringLiteral("user"), QStringLiteral("dev@zapum.local")}};
        QJsonObject set = user;
        set.insert(QStringLiteral("document"), document(QStringLiteral("Fetched")));
        QCOMPARE(sendJson("POST", m_server.web(QStringLiteral("admin/api/guidance")), set).status, 200);
        awaitTask(graph.guidance.refreshFromAPI(apiBase()));
        QCOMPARE(graph.guidance.lastErrorText(), QString());
        QCOMPARE(graph.guidance.session().title, QStringLiteral("Fetched"));

        set.insert(QStringLiteral("document"), document(QStringLiteral("Pushed")));
        QCOMPARE(sendJson("POST", m_server.web(QStringLiteral("admin/api/push-guidance")), set).status, 202);
        QTRY_COMPARE(graph.guidance.session().title, QStringLiteral("Pushed"));

        graph.memory.remember(QStringLiteral("I drink green tea every morning"), QStringLiteral("Noted."));
        QTRY_VERIFY(awaitTask(graph.memory.recall(QStringLiteral("tea"), 6)).contains(QLatin1String("green tea")));

        awaitTask(graph.ask.ask(QStringLiteral("What do I drink?")));
        QVERIFY(graph.ask.lastResponse());
        QCOMPARE(graph.ask.lastResponse()->kind, AskResponse::Kind::Answer);
    }
};

QTEST_GUILESS_MAIN(TestBackendDevServer)
#include "tst_backend_devserver.moc"
